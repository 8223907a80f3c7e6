// The stack over wsock32.dll, the socket library of Windows, used as version 1.1 of its socket
// service. Nothing links the library: TIdWinsockLibraryService loads it by name and looks up its
// entry points, and each stack operation is one call through them plus the conversions between
// the stack's values (address text, host-order ports, handle lists, millisecond time-outs) and
// the library's structures, which are all this file takes from the library's header.
#include "net/IdStackWinsock.h"

#include "net/IdStackWinsockRules.h"

#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

using namespace WinsockRules;

namespace {

constexpr int32_t Id_WSAEMFILE = 10024;
constexpr int32_t Id_WSANOTINITIALISED = 10093;

// While no library is loaded, every entry point is one of these stand-ins, so that a call never
// goes through a missing entry: each fails as Winsock fails before its start-up
// (WSANOTINITIALISED), and the byte order conversions, which need no library, still convert.
template <typename F>
struct TStandIn;

template <typename R, typename... A>
struct TStandIn<R(WINAPI*)(A...)> {
    static R WINAPI Call(A...) {
        if constexpr (std::is_pointer_v<R>) {
            return nullptr;
        } else if constexpr (std::is_same_v<R, SOCKET>) {
            return INVALID_SOCKET;
        } else {
            return static_cast<R>(SOCKET_ERROR);
        }
    }
};

// WSAGetLastError, WSACleanup and WSACancelBlockingCall.
template <>
struct TStandIn<int(WINAPI*)()> {
    static int WINAPI Call() { return Id_WSANOTINITIALISED; }
};

// htons and ntohs.
template <>
struct TStandIn<u_short(WINAPI*)(u_short)> {
    static u_short WINAPI Call(u_short value) {
        return static_cast<u_short>((value >> 8) | (value << 8));
    }
};

// htonl and ntohl.
template <>
struct TStandIn<u_long(WINAPI*)(u_long)> {
    static u_long WINAPI Call(u_long value) {
        return ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) |
               ((value >> 24) & 0xFFu);
    }
};

// TransmitFile, whose failure is FALSE.
template <>
struct TStandIn<decltype(&::TransmitFile)> {
    static BOOL WINAPI Call(SOCKET, HANDLE, DWORD, DWORD, LPOVERLAPPED, LPTRANSMIT_FILE_BUFFERS,
                            DWORD) {
        return FALSE;
    }
};

// The library's entry points, in the order in which they are looked up: those the stack calls
// (CALLED), and the others, which are looked up and kept but never called (KEPT).
// clang-format off
#define ZEB40_WINSOCK_ENTRY_POINTS(CALLED, KEPT)                                                  \
    CALLED(accept) CALLED(bind) CALLED(closesocket) CALLED(connect) CALLED(getpeername)          \
    CALLED(getsockname) KEPT(getsockopt) CALLED(htonl) CALLED(htons) CALLED(inet_addr)           \
    KEPT(inet_ntoa) KEPT(ioctlsocket) CALLED(listen) CALLED(ntohl) CALLED(ntohs) CALLED(recv)    \
    CALLED(recvfrom) CALLED(select) CALLED(send) CALLED(sendto) CALLED(setsockopt)               \
    CALLED(shutdown) CALLED(socket) CALLED(gethostbyaddr) CALLED(gethostbyname)                  \
    KEPT(getprotobyname) KEPT(getprotobynumber) CALLED(getservbyname) CALLED(getservbyport)      \
    CALLED(gethostname) KEPT(WSAAsyncSelect) KEPT(WSARecvEx) KEPT(WSAAsyncGetHostByAddr)         \
    KEPT(WSAAsyncGetHostByName) KEPT(WSAAsyncGetProtoByNumber) KEPT(WSAAsyncGetProtoByName)      \
    KEPT(WSAAsyncGetServByPort) KEPT(WSAAsyncGetServByName) KEPT(WSACancelAsyncRequest)          \
    KEPT(WSASetBlockingHook) KEPT(WSAUnhookBlockingHook) CALLED(WSAGetLastError)                 \
    KEPT(WSASetLastError) CALLED(WSACancelBlockingCall) KEPT(WSAIsBlocking) CALLED(WSAStartup)   \
    CALLED(WSACleanup) KEPT(__WSAFDIsSet) CALLED(TransmitFile) KEPT(AcceptEx)                    \
    KEPT(GetAcceptExSockaddrs)
// clang-format on

// Each expands to a declaration or a term, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZEB40_ENTRY_MEMBER(name) decltype(&::name) name = &TStandIn<decltype(&::name)>::Call;
#define ZEB40_NO_MEMBER(name)
#define ZEB40_COUNT_ONE(name) +1
#define ZEB40_COUNT_NONE(name)
// NOLINTEND(bugprone-macro-parentheses)

struct TWinsockEntries {
    ZEB40_WINSOCK_ENTRY_POINTS(ZEB40_ENTRY_MEMBER, ZEB40_NO_MEMBER)
    std::array<void*, 0 ZEB40_WINSOCK_ENTRY_POINTS(ZEB40_COUNT_NONE, ZEB40_COUNT_ONE)> Kept{};
};

#undef ZEB40_ENTRY_MEMBER
#undef ZEB40_NO_MEMBER
#undef ZEB40_COUNT_ONE
#undef ZEB40_COUNT_NONE

// The entry points every stack calls: those of the last library loaded, or the stand-ins.
TWinsockEntries Winsock;
// Libraries loaded and not yet released, by every service.
int LoadedLibraries = 0;

class TSystemModuleCalls final : public TIdModuleCalls {
public:
    // From the system folder only: a library of the same name in the program's folder or the
    // current one, where the normal search looks first, is never taken for the system's.
    void* Load(const char* libraryName) override {
        char folder[MAX_PATH];
        const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return nullptr;
        }
        const std::string path = std::string(folder, length) + "\\" + libraryName;
        return ::LoadLibraryA(path.c_str());
    }
    void* EntryPoint(void* library, const char* name) override {
        return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
    }
    void Release(void* library) override { ::FreeLibrary(static_cast<HMODULE>(library)); }
};

template <typename F>
bool FindEntry(TIdModuleCalls& calls, void* library, const char* name, F& entry) {
    void* const found = calls.EntryPoint(library, name);
    if (found == nullptr) {
        return false;
    }
    entry = reinterpret_cast<F>(found);
    return true;
}

// Socket handles are kernel handles, of which only the low 32 bits are significant; widened with
// their sign, InvalidSocketId becomes INVALID_SOCKET again.
SOCKET Handle(TSocketId socket) {
    return static_cast<SOCKET>(static_cast<intptr_t>(static_cast<int32_t>(socket)));
}

TSocketId IdOf(SOCKET socket) {
    return static_cast<TSocketId>(socket);
}

int32_t Failed() {
    RecordSocketError(Winsock.WSAGetLastError());
    return SocketFailure;
}

// A socket the system has just made, as the stack hands it out.
TSocketId Adopt(SOCKET socket) {
    if (socket == INVALID_SOCKET) {
        Failed();
        return InvalidSocketId;
    }
    if (Handle(IdOf(socket)) != socket) {
        // Never seen: a handle that 32 bits cannot carry would be a different socket later.
        Winsock.closesocket(socket);
        RecordSocketError(Id_WSAEMFILE);
        return InvalidSocketId;
    }
    // Sockets are inherited by the programs the tool starts unless told otherwise. A socket of a
    // layered provider may be no kernel handle; it is then left as it is.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a socket is a handle held as an integer
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return IdOf(socket);
}

sockaddr_in MakeAddress(uint16_t family, u_long address, int32_t port) {
    sockaddr_in result;
    std::memset(&result, 0, sizeof result);
    result.sin_family = static_cast<short>(family);
    result.sin_port = Winsock.htons(static_cast<u_short>(port));
    result.sin_addr.s_addr = address;
    return result;
}

TIdInAddrBytes BytesOf(const void* address) {
    TIdInAddrBytes bytes{};
    std::memcpy(bytes.data(), address, bytes.size());
    return bytes;
}

// A host entry of the name, or null with the lookup's code recorded.
const hostent* LookUpHost(const std::string& name) {
    if (RefuseUnusableHostName(name)) {
        return nullptr;
    }
    const hostent* host = Winsock.gethostbyname(name.c_str());
    if (host == nullptr) {
        Failed();
    } else if (host->h_addrtype != AF_INET || host->h_length != 4) {
        RecordSocketError(Id_WSANO_DATA);
        return nullptr;
    }
    return host;
}

// The sets of a select: at most 64 handles each (the lists were checked), each handle once, as
// the platform's FD_SET keeps them.
void ListToFdSet(const TIdSocketList* list, fd_set& set) {
    set.fd_count = 0;
    if (list == nullptr) {
        return;
    }
    for (const TSocketId socket : *list) {
        const SOCKET handle = Handle(socket);
        const SOCKET* const begin = set.fd_array;
        const SOCKET* const end = begin + set.fd_count;
        if (std::find(begin, end, handle) == end) {
            set.fd_array[set.fd_count++] = handle;
        }
    }
}

void FdSetToList(TIdSocketList* list, const fd_set& set) {
    if (list == nullptr) {
        return;
    }
    list->clear();
    for (u_int i = 0; i < set.fd_count; ++i) {
        list->push_back(IdOf(set.fd_array[i]));
    }
}

// Every Windows that runs this 64-bit program is of the NT family, where TransmitFile serves.
uint32_t TransmitWholeFile(TSocketId socket, const std::string& fileName) {
    HANDLE file =
        ::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    uint32_t sent = 0;
    if (Winsock.TransmitFile(Handle(socket), file, 0, 0, nullptr, nullptr, 0)) {
        sent = ::GetFileSize(file, nullptr);
    } else {
        Failed();
    }
    ::CloseHandle(file);
    return sent;
}

} // namespace

TIdFileTransmitter FileTransmitHook = TransmitWholeFile;

TIdModuleCalls& SystemModuleCalls() {
    static TSystemModuleCalls calls;
    return calls;
}

TSeam<TIdModuleCalls> ModuleCalls(&SystemModuleCalls);

TIdSocketLibraryService& WinsockRules::PlatformLibraryService() {
    static TIdWinsockLibraryService service;
    return service;
}

bool TIdWinsockLibraryService::Load(const std::string& libraryName) {
    TIdModuleCalls& calls = ModuleCalls();
    void* const library = calls.Load(libraryName.c_str());
    if (library == nullptr) {
        return false;
    }
    TWinsockEntries found;
    bool complete = true;
    std::size_t kept = 0;
#define ZEB40_FIND_CALLED(name) complete = FindEntry(calls, library, #name, found.name) && complete;
#define ZEB40_FIND_KEPT(name) found.Kept[kept++] = calls.EntryPoint(library, #name);
    ZEB40_WINSOCK_ENTRY_POINTS(ZEB40_FIND_CALLED, ZEB40_FIND_KEPT)
#undef ZEB40_FIND_CALLED
#undef ZEB40_FIND_KEPT
    if (!complete) {
        calls.Release(library);
        return false;
    }
    Winsock = found;
    FCalls = &calls;
    FLibrary = library;
    ++FLoads;
    ++LoadedLibraries;
    return true;
}

int32_t TIdWinsockLibraryService::Startup(uint16_t version, TIdStartupReply& reply) {
    WSADATA data;
    std::memset(&data, 0, sizeof data);
    const int result = Winsock.WSAStartup(version, &data);
    if (result == 0) {
        reply.Version = data.wVersion;
        reply.HighVersion = data.wHighVersion;
        reply.Description.assign(data.szDescription,
                                 ::strnlen(data.szDescription, sizeof data.szDescription));
        reply.SystemStatus.assign(data.szSystemStatus,
                                  ::strnlen(data.szSystemStatus, sizeof data.szSystemStatus));
        reply.MaxSockets = data.iMaxSockets;
        reply.MaxUdpDg = data.iMaxUdpDg;
    }
    return result;
}

int32_t TIdWinsockLibraryService::CancelBlockingCall() {
    return Winsock.WSACancelBlockingCall();
}

int32_t TIdWinsockLibraryService::Cleanup() {
    return Winsock.WSACleanup();
}

void TIdWinsockLibraryService::Unload() {
    if (FLoads == 0) {
        return;
    }
    // The stand-ins come back before the last library goes, so that no entry outlives it.
    if (--LoadedLibraries == 0) {
        Winsock = TWinsockEntries();
    }
    FCalls->Release(FLibrary);
    if (--FLoads == 0) {
        FLibrary = nullptr;
    }
}

void TIdStackWinsock::RefreshLocalAddresses() {
    if (!FLocalAddressCache) {
        FLocalAddressCache = std::make_unique<TIdStrings>();
    }
    FLocalAddressCache->clear();
    const hostent* host = LookUpHost(LocalHostName());
    if (host == nullptr) {
        CheckSocketResult(SocketFailure);
        return;
    }
    for (char** address = host->h_addr_list; *address != nullptr; ++address) {
        FLocalAddressCache->push_back(InAddrToText(BytesOf(*address)));
    }
}

TSocketId TIdStackWinsock::SockAccept(TSocketId socket, std::string& ip, int32_t& port) {
    sockaddr_in peer = MakeAddress(0, 0, 0);
    int length = sizeof peer;
    const TSocketId result =
        Adopt(Winsock.accept(Handle(socket), reinterpret_cast<sockaddr*>(&peer), &length));
    ip = InAddrToText(BytesOf(&peer.sin_addr));
    port = Winsock.ntohs(peer.sin_port);
    return result;
}

int32_t TIdStackWinsock::SockBind(TSocketId socket, uint16_t family, const std::string& ip,
                                  int32_t port) {
    const u_long address = ip.empty() ? Winsock.htonl(INADDR_ANY) : TextToInAddr(ip).S_addr;
    const sockaddr_in local = MakeAddress(family, address, port);
    const int result =
        Winsock.bind(Handle(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    return result == SOCKET_ERROR ? Failed() : result;
}

int32_t TIdStackWinsock::SockClose(TSocketId socket) {
    const int result = Winsock.closesocket(Handle(socket));
    return result == SOCKET_ERROR ? Failed() : result;
}

int32_t TIdStackWinsock::SockConnect(TSocketId socket, uint16_t family, const std::string& ip,
                                     int32_t port) {
    const sockaddr_in remote = MakeAddress(family, TextToInAddr(ip).S_addr, port);
    const int result =
        Winsock.connect(Handle(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    return result == SOCKET_ERROR ? Failed() : result;
}

std::string TIdStackWinsock::LookupHostAddress(const std::string& host) {
    const hostent* entry = LookUpHost(host);
    if (entry != nullptr && entry->h_addr_list[0] == nullptr) {
        RecordSocketError(Id_WSANO_DATA);
        entry = nullptr;
    }
    if (entry == nullptr) {
        CheckSocketResult(SocketFailure);
        return std::string();
    }
    return InAddrToText(BytesOf(entry->h_addr_list[0]));
}

std::string TIdStackWinsock::LocalHostName() {
    char name[251] = {};
    Winsock.gethostname(name, 250); // a failure leaves the text empty
    return std::string(name);
}

std::string TIdStackWinsock::LookupHostName(const std::string& address) {
    const u_long numeric = Winsock.inet_addr(address.c_str());
    const hostent* host =
        Winsock.gethostbyaddr(reinterpret_cast<const char*>(&numeric), 4, AF_INET);
    if (host == nullptr) {
        CheckSocketResult(Failed());
        return std::string();
    }
    return std::string(host->h_name);
}

int32_t TIdStackWinsock::LookupServicePort(const std::string& service) {
    const servent* entry =
        IsUsableServiceName(service) ? Winsock.getservbyname(service.c_str(), nullptr) : nullptr;
    if (entry != nullptr) {
        return Winsock.ntohs(static_cast<u_short>(entry->s_port));
    }
    return PortOfUnlistedService(service);
}

std::unique_ptr<TIdStrings> TIdStackWinsock::LookupServiceNames(int32_t port) {
    auto names = std::make_unique<TIdStrings>();
    const servent* entry =
        Winsock.getservbyport(Winsock.htons(static_cast<u_short>(port)), nullptr);
    if (entry != nullptr) {
        AddServiceNames(*names, entry->s_name, entry->s_aliases);
    }
    return names;
}

uint16_t TIdStackWinsock::HostToNetShort(uint16_t value) {
    return Winsock.htons(value);
}

int32_t TIdStackWinsock::SockListen(TSocketId socket, int32_t backlog) {
    const int result = Winsock.listen(Handle(socket), backlog);
    return result == SOCKET_ERROR ? Failed() : result;
}

uint16_t TIdStackWinsock::NetToHostShort(uint16_t value) {
    return Winsock.ntohs(value);
}

uint32_t TIdStackWinsock::HostToNetLong(uint32_t value) {
    return Winsock.htonl(value);
}

uint32_t TIdStackWinsock::NetToHostLong(uint32_t value) {
    return Winsock.ntohl(value);
}

int32_t TIdStackWinsock::SockRecv(TSocketId socket, void* buffer, int32_t length, int32_t flags) {
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    const int result = Winsock.recv(Handle(socket), static_cast<char*>(buffer), length, flags);
    return result == SOCKET_ERROR ? Failed() : result;
}

int32_t TIdStackWinsock::SockRecvFromEndpoint(TSocketId socket, void* buffer, int32_t length,
                                              int32_t flags, TIdEndpoint& from) {
    sockaddr_in peer = MakeAddress(0, 0, 0);
    int32_t result = SocketFailure;
    if (!RefuseNegativeLength(length)) {
        int peerLength = sizeof peer;
        // A datagram longer than the buffer fills it and fails with WSAEMSGSIZE (10040).
        result = Winsock.recvfrom(Handle(socket), static_cast<char*>(buffer), length, flags,
                                  reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (result == SOCKET_ERROR) {
            result = Failed();
        }
    }
    from = TIdEndpoint::IPv4(BytesOf(&peer.sin_addr), Winsock.ntohs(peer.sin_port));
    return result;
}

int32_t TIdStackWinsock::SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                                    TIdSocketList* errorList, int32_t timeout) {
    const TSelectLists lists = {readList, writeList, errorList};
    CheckSelectListSizes(lists);
    if (IsInvalidSelectTimeout(timeout)) {
        return FailSelect(lists, Id_WSAEINVAL);
    }
    fd_set sets[3];
    for (std::size_t i = 0; i < 3; ++i) {
        ListToFdSet(lists[i], sets[i]);
    }
    // The first argument is ignored by Winsock. With all three sets empty, select fails with
    // WSAEINVAL (10022).
    timeval time{timeout / 1000, (timeout % 1000) * 1000};
    const int result =
        Winsock.select(0, &sets[0], &sets[1], &sets[2], timeout == NoTimeLimit ? nullptr : &time);
    if (result == SOCKET_ERROR) {
        return FailSelect(lists, Winsock.WSAGetLastError());
    }
    for (std::size_t i = 0; i < 3; ++i) {
        FdSetToList(lists[i], sets[i]);
    }
    return result;
}

int32_t TIdStackWinsock::SockSend(TSocketId socket, const void* buffer, int32_t length,
                                  int32_t flags) {
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    const int result =
        Winsock.send(Handle(socket), static_cast<const char*>(buffer), length, flags);
    return result == SOCKET_ERROR ? Failed() : result;
}

int32_t TIdStackWinsock::SockSendToEndpoint(TSocketId socket, const void* buffer, int32_t length,
                                            int32_t flags, const TIdEndpoint& to) {
    u_long address = 0;
    const TIdInAddrBytes bytes = to.InAddr();
    std::memcpy(&address, bytes.data(), bytes.size());
    const sockaddr_in remote = MakeAddress(AF_INET, address, to.Port);
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    const int result =
        Winsock.sendto(Handle(socket), static_cast<const char*>(buffer), length, flags,
                       reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    return result == SOCKET_ERROR ? Failed() : result;
}

int32_t TIdStackWinsock::SockSetOption(TSocketId socket, int32_t level, int32_t name,
                                       const void* value, int32_t length) {
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    const int result =
        Winsock.setsockopt(Handle(socket), level, name, static_cast<const char*>(value), length);
    return result == SOCKET_ERROR ? Failed() : result;
}

TSocketId TIdStackWinsock::SockCreate(int32_t family, int32_t type, int32_t protocol) {
    return Adopt(Winsock.socket(family, type, protocol));
}

int32_t TIdStackWinsock::SockShutdown(TSocketId socket, int32_t how) {
    const int result = Winsock.shutdown(Handle(socket), how);
    return result == SOCKET_ERROR ? Failed() : result;
}

namespace {

using TAddressCall = decltype(&::getpeername);

// getpeername or getsockname: the family, address and port, or EIdSocketError.
void AddressOf(TIdStack& stack, TAddressCall call, TSocketId socket, int32_t& family,
               std::string& ip, int32_t& port) {
    sockaddr_in address = MakeAddress(0, 0, 0);
    int length = sizeof address;
    int result = call(Handle(socket), reinterpret_cast<sockaddr*>(&address), &length);
    if (result == SOCKET_ERROR) {
        result = Failed();
    }
    stack.CheckSocketResult(result);
    family = address.sin_family;
    ip = stack.InAddrToText(BytesOf(&address.sin_addr));
    port = Winsock.ntohs(address.sin_port);
}

} // namespace

void TIdStackWinsock::PeerAddressOf(TSocketId socket, int32_t& family, std::string& ip,
                                    int32_t& port) {
    AddressOf(*this, Winsock.getpeername, socket, family, ip, port);
}

void TIdStackWinsock::LocalAddressOf(TSocketId socket, int32_t& family, std::string& ip,
                                     int32_t& port) {
    AddressOf(*this, Winsock.getsockname, socket, family, ip, port);
}
