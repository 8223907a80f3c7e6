// The concrete stack over the BSD socket calls of the same names (closesocket is close). Every
// failure is reported in the Winsock numbering, so error codes and texts are the same on every
// platform: an errno maps to the code whose Winsock name is the errno's name with the prefix WSA
// (ETIMEDOUT is 10060), a failed name lookup to 11001..11004.
#pragma once

#include "net/IdStack.h"

#include <cstdint>
#include <string>

// The reply of the socket service's start-up.
struct TIdStartupReply {
    uint16_t Version = 0;     // agreed for use
    uint16_t HighVersion = 0; // highest supported
    std::string Description;
    std::string SystemStatus;
    uint32_t MaxSockets = 0;
    uint32_t MaxUdpDg = 0;
};

class TIdStackVersionWinsock : public TIdStackVersion {
public:
    explicit TIdStackVersionWinsock(const TIdStartupReply& reply);
};

// Loading, starting, stopping and releasing the socket library. BSD sockets need none of it, so
// the default service only reports success; tests replace it to reach the failure paths of the
// stack's construction.
class TIdSocketLibraryService {
public:
    virtual ~TIdSocketLibraryService() = default;
    // False when the library cannot be loaded.
    virtual bool Load(const std::string& libraryName) = 0;
    // 0 on success, the platform's error code otherwise.
    virtual int32_t Startup(uint16_t version, TIdStartupReply& reply) = 0;
    virtual int32_t CancelBlockingCall() = 0;
    virtual int32_t Cleanup() = 0;
    virtual void Unload() = 0;
};

// The service new stacks use; never null.
TIdSocketLibraryService& SocketLibraryService();
// Replaces the service for stacks built from now on; null restores the default. The service must
// outlive every stack built with it.
void SetSocketLibraryService(TIdSocketLibraryService* service);

// The Winsock code of an errno value; values without a Winsock counterpart pass unchanged.
int32_t WinsockErrorOfErrno(int errnoValue);
// The Winsock code of a getaddrinfo/getnameinfo result (EAI_SYSTEM reads errno).
int32_t WinsockErrorOfLookup(int lookupResult);

class TIdStackWinsock : public TIdStack {
public:
    // Loads and starts the socket library through SocketLibraryService(): EIdStackCanNotLoadWinsock
    // or EIdStackInitializationFailed when that fails, with nothing left loaded.
    TIdStackWinsock();
    explicit TIdStackWinsock(TIdSocketLibraryService& service);
    ~TIdStackWinsock() override;

    void RefreshLocalAddresses() override;
    std::string FirstLocalAddress() override;
    TIdStrings* LocalAddressList() override;
    TSocketId SockAccept(TSocketId socket, std::string& ip, int32_t& port) override;
    int32_t SockBind(TSocketId socket, uint16_t family, const std::string& ip,
                     int32_t port) override;
    int32_t SockClose(TSocketId socket) override;
    int32_t SockConnect(TSocketId socket, uint16_t family, const std::string& ip,
                        int32_t port) override;
    std::string LookupHostAddress(const std::string& host) override;
    std::string LocalHostName() override;
    std::string LookupHostName(const std::string& address) override;
    int32_t LookupServicePort(const std::string& service) override;
    std::unique_ptr<TIdStrings> LookupServiceNames(int32_t port) override;
    uint16_t HostToNetShort(uint16_t value) override;
    int32_t SockListen(TSocketId socket, int32_t backlog) override;
    uint16_t NetToHostShort(uint16_t value) override;
    uint32_t HostToNetLong(uint32_t value) override;
    uint32_t NetToHostLong(uint32_t value) override;
    // A datagram longer than length fills the buffer and reports -1 with 10040, as Winsock does.
    int32_t SockRecv(TSocketId socket, void* buffer, int32_t length, int32_t flags) override;
    int32_t SockRecvFrom(TSocketId socket, void* buffer, int32_t length, int32_t flags,
                         std::string& ip, int32_t& port) override;
    // At most 64 handles per list (EIdStackSetSizeExceeded before any system call); built on
    // poll(), so descriptors of any value are served.
    int32_t SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                       int32_t timeout) override;
    int32_t SockSend(TSocketId socket, const void* buffer, int32_t length, int32_t flags) override;
    int32_t SockSendTo(TSocketId socket, const void* buffer, int32_t length, int32_t flags,
                       const std::string& ip, int32_t port) override;
    // Socket-level options (level 65535) take their Winsock numbers, as the callers pass them.
    int32_t SockSetOption(TSocketId socket, int32_t level, int32_t name, const void* value,
                          int32_t length) override;
    TSocketId SockCreate(int32_t family, int32_t type, int32_t protocol) override;
    int32_t SockShutdown(TSocketId socket, int32_t how) override;
    int32_t LastSocketError() override;
    void PeerAddressOf(TSocketId socket, int32_t& family, std::string& ip, int32_t& port) override;
    void LocalAddressOf(TSocketId socket, int32_t& family, std::string& ip, int32_t& port) override;
    std::string InAddrToText(const TIdInAddrBytes& bytes) override;
    void TextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) override;

private:
    void LoadSocketLibrary();
    // Stops and releases what construction reached; raises nothing.
    void TearDown() noexcept;

    TIdSocketLibraryService& FService;
    bool FLibraryLoaded = false;
    bool FServiceStarted = false;
};
