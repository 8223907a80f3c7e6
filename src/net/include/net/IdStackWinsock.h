// The concrete stack. On Windows it is bound to the socket library wsock32.dll, loaded by name
// when the stack is built and released when it is destroyed; nothing links the library. On other
// systems it is bound to the BSD socket calls of the same names (closesocket is close), with
// every failure reported in the Winsock numbering, so error codes and texts are the same on every
// platform: an errno maps to the code whose Winsock name is the errno's name with the prefix WSA
// (ETIMEDOUT is 10060), a failed name lookup to 11001..11004.
#pragma once

#include "base/Seam.h"
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

// Loading, starting, stopping and releasing the socket library. On Windows the default service
// loads wsock32.dll (TIdWinsockLibraryService); BSD sockets need none of it, so there the default
// service only reports success. Tests replace it to reach the failure paths of the stack's
// construction.
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

// The service new stacks use: the platform's, or a test's in its scope. A stack keeps the service
// it was built with until it is destroyed, so a replacement must outlive the stacks built with it.
extern TSeam<TIdSocketLibraryService> SocketLibraryService;

#if defined(_WIN32)

// The kernel's module calls through which the Winsock library service loads the library and
// finds its entry points: LoadLibraryA, GetProcAddress and FreeLibrary. Tests replace them to
// make the library or one of its entry points go missing, or its start-up fail.
class TIdModuleCalls {
public:
    virtual ~TIdModuleCalls() = default;
    // The loaded library, or null when it cannot be loaded.
    virtual void* Load(const char* libraryName) = 0;
    // The entry point of that name, or null when the library has none.
    virtual void* EntryPoint(void* library, const char* name) = 0;
    virtual void Release(void* library) = 0;
};

// The system's own module calls. Load takes a library from the system folder only, never one of
// the same name in the program's folder or the current one, where the normal search looks first.
TIdModuleCalls& SystemModuleCalls();
// The module calls the Winsock library service loads with: the system's, or a test's in its scope.
extern TSeam<TIdModuleCalls> ModuleCalls;

// The socket library of Windows, loaded at run time through ModuleCalls. Load looks up every entry
// point of the library by name and refuses a library that lacks one of those the stack calls
// (releasing it again), so that no call is ever made through a missing entry; the library is
// released through the calls that loaded it; Startup is WSAStartup, Cleanup
// WSACleanup, CancelBlockingCall WSACancelBlockingCall. Every stack calls the entry points of the
// last library loaded; while none is loaded, each entry point is a stand-in that fails as Winsock
// fails before its start-up (10093, WSANOTINITIALISED).
class TIdWinsockLibraryService : public TIdSocketLibraryService {
public:
    bool Load(const std::string& libraryName) override;
    int32_t Startup(uint16_t version, TIdStartupReply& reply) override;
    int32_t CancelBlockingCall() override;
    int32_t Cleanup() override;
    void Unload() override;

private:
    TIdModuleCalls* FCalls = nullptr;
    void* FLibrary = nullptr;
    // Loads not yet released; each stack loads once.
    int FLoads = 0;
};

#else

// The Winsock code of an errno value; values without a Winsock counterpart pass unchanged.
int32_t WinsockErrorOfErrno(int errnoValue);
// The Winsock code of a getaddrinfo/getnameinfo result (EAI_SYSTEM reads errno).
int32_t WinsockErrorOfLookup(int lookupResult);

#endif

// Sends a whole file over a connected socket and returns the number of bytes sent (the low 32
// bits of the file's size), 0 on failure. Only Windows has such a call (TransmitFile); elsewhere
// the hook is null. Nothing in the program calls it.
using TIdFileTransmitter = uint32_t (*)(TSocketId socket, const std::string& fileName);
extern TIdFileTransmitter FileTransmitHook;

class TIdStackWinsock : public TIdStack {
public:
    // Loads and starts the socket library through SocketLibraryService(): EIdStackCanNotLoadWinsock
    // or EIdStackInitializationFailed when that fails, with nothing left loaded.
    TIdStackWinsock();
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
    // At most 64 handles per list (EIdStackSetSizeExceeded before any system call); a handle
    // named twice in a list is one handle of its set. On BSD sockets built on poll(), so
    // descriptors of any value are served; on Windows a real fd_set for select.
    int32_t SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                       int32_t timeout) override;
    int32_t SockSend(TSocketId socket, const void* buffer, int32_t length, int32_t flags) override;
    // Socket-level options (level 65535) take their Winsock numbers, as the callers pass them
    // (on BSD sockets they are translated).
    int32_t SockSetOption(TSocketId socket, int32_t level, int32_t name, const void* value,
                          int32_t length) override;
    TSocketId SockCreate(int32_t family, int32_t type, int32_t protocol) override;
    int32_t SockShutdown(TSocketId socket, int32_t how) override;
    int32_t LastSocketError() override;
    void PeerAddressOf(TSocketId socket, int32_t& family, std::string& ip, int32_t& port) override;
    void LocalAddressOf(TSocketId socket, int32_t& family, std::string& ip, int32_t& port) override;
    std::string InAddrToText(const TIdInAddrBytes& bytes) override;
    void TextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) override;
    int32_t SockSendToEndpoint(TSocketId socket, const void* buffer, int32_t length, int32_t flags,
                               const TIdEndpoint& to) override;
    // A datagram longer than length fills the buffer and reports -1 with 10040, as Winsock does;
    // the sender is reported all the same.
    int32_t SockRecvFromEndpoint(TSocketId socket, void* buffer, int32_t length, int32_t flags,
                                 TIdEndpoint& from) override;

private:
    void LoadSocketLibrary();
    // Stops and releases what construction reached; raises nothing.
    void TearDown() noexcept;

    TIdSocketLibraryService& FService;
    bool FLibraryLoaded = false;
    bool FServiceStarted = false;
};
