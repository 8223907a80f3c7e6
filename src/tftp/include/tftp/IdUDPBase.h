// A UDP endpoint: one datagram socket (through one socket handle) that sends and receives whole
// datagrams to and from hosts named by address or by name.
#pragma once

#include "net/IdSocketHandle.h"
#include "tftp/IdComponent.h"

#include <cstdint>
#include <memory>
#include <string>

class TIdUDPBase : public TIdComponent {
public:
    explicit TIdUDPBase(TComponent* owner);
    ~TIdUDPBase() override;

    // Active: the socket is open (or, while loading or designing, the wish for it).
    virtual bool Active();
    void SetActive(bool value);
    int32_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(int32_t value) { FBufferSize = value; }
    bool BroadcastEnabled() const { return FBroadcastEnabled; }
    void SetBroadcastEnabled(bool value);
    int32_t ReceiveTimeout() const { return FReceiveTimeout; }
    void SetReceiveTimeout(int32_t value) { FReceiveTimeout = value; }

    // The handle, created and given an open socket when it has none.
    virtual TIdSocketHandle* SocketHandle();
    virtual void ReleaseSocketHandle();

    // Waits at most timeout ms (-1: ReceiveTimeout; NoTimeLimit: no limit) and receives one
    // datagram; 0 and an empty peer on a time-out.
    int32_t ReceiveBytes(void* buffer, int32_t length, std::string& peerIP, int32_t& peerPort,
                         int32_t timeout = -1);
    // As ReceiveBytes into a buffer of BufferSize bytes; the empty string on a time-out.
    std::string ReceiveText(std::string& peerIP, int32_t& peerPort, int32_t timeout = -1);
    // The wait and receive under ReceiveBytes, with no judgement of the result: false on a
    // time-out (peer cleared), otherwise true with the receive's result in count (the datagram's
    // length, which may be 0, or -1 for a failed receive, for the caller to check) and the
    // sender as the system reports it. Lets a caller look at the sender first, and receive into
    // a buffer it keeps.
    bool ReceiveDatagram(void* buffer, int32_t length, TIdEndpoint& peer, int32_t timeout,
                         int32_t& count);
    bool ReceiveDatagram(void* buffer, int32_t length, std::string& peerIP, int32_t& peerPort,
                         int32_t timeout, int32_t& count);
    // The host is resolved for each datagram: nothing is kept between them.
    void SendTextTo(const std::string& host, int32_t port, const std::string& data);
    void SendBytesTo(const std::string& host, int32_t port, const void* buffer, int32_t count);
    // To an address already resolved.
    void SendBytesTo(const TIdEndpoint& to, const void* buffer, int32_t count);

protected:
    void Loaded() override;
    virtual void ApplyBroadcastOption();
    void WriteBroadcastOption(bool enabled, TIdSocketHandle* handle);
    // The handle object if there is one, without creating it or opening a socket.
    TIdSocketHandle* ExistingSocketHandle() const { return FSocketHandle.get(); }

    std::string FHost;
    int32_t FPort = 0;

private:
    std::unique_ptr<TIdSocketHandle> FSocketHandle;
    int32_t FBufferSize = 8192;
    bool FPendingActive = false;
    int32_t FReceiveTimeout = NoTimeLimit;
    bool FBroadcastEnabled = false;
};
