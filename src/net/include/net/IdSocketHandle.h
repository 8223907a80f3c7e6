// One operating-system socket with the local and remote address it is bound to; every call goes
// through GlobalStack.
#pragma once

#include "base/Collection.h"
#include "net/IdStack.h"

#include <cstdint>
#include <string>

class TIdSocketHandle : public TCollectionItem {
public:
    explicit TIdSocketHandle(TCollection* collection = nullptr);
    ~TIdSocketHandle() override; // closes the socket first

    // Closes any socket held, then opens a new one of the IPv4 family.
    void AcquireSocket(int32_t socketType, int32_t protocol);
    // Shuts the sending direction down and closes; nothing at all when no socket is held.
    virtual void Close(bool localReset);
    virtual int32_t ConnectRemote(int32_t family);
    // One recvfrom; the result (byte count or -1) is returned unchecked.
    virtual int32_t ReceiveDatagram(void* buffer, int32_t capacity, int32_t flags,
                                    TIdEndpoint& from);
    // The same with the sender as text.
    int32_t ReceiveDatagram(void* buffer, int32_t capacity, int32_t flags, std::string& ip,
                            int32_t& port);
    // Raises EIdPackageSizeTooBig, EIdSocketError or EIdNotAllBytesSent.
    void SendDatagram(const TIdEndpoint& to, const void* buffer, int32_t size);
    // The same to an address given as text (TextToInAddrBytes).
    void SendDatagram(const std::string& ip, int32_t port, const void* buffer, int32_t size);
    // True when data can be read within timeout milliseconds (NoTimeLimit: no limit); a closed
    // handle raises EIdConnClosedGracefully.
    bool WaitReadable(int32_t timeout);
    void SetOption(int32_t level, int32_t name, const void* value, int32_t length);
    void RefreshLocalBinding();
    void RefreshRemoteBinding();
    void ClearState(bool localReset);
    void Assign(const TObject& source) override;

    TSocketId Socket() const { return FSocket; }
    bool SocketAllocated() const { return FSocketAllocated; }
    const std::string& IP() const { return FIP; }
    void SetIP(std::string ip) { FIP = std::move(ip); }
    int32_t Port() const { return FPort; }
    void SetPort(int32_t port) { FPort = port; }
    const std::string& RemoteIP() const { return FRemoteIP; }
    int32_t RemotePort() const { return FRemotePort; }

private:
    TSocketId FSocket = InvalidSocketId;
    bool FSocketAllocated = false;
    std::string FIP;
    std::string FRemoteIP;
    int32_t FPort = 0;
    int32_t FRemotePort = 0;
    // The one-entry list each wait hands to the select, kept so that a wait allocates nothing
    // after the first.
    TIdSocketList FReadList;
};
