// The stack over BSD sockets: the calls of the same names (closesocket is close), every failure
// mapped to the Winsock numbering. No library is loaded and no service started: the library
// service only reports success.
#include "net/IdStackWinsock.h"

#include "net/IdStackWinsockRules.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

using namespace WinsockRules;

namespace {

// The socket-level (SOL_SOCKET) option numbers of Winsock and their BSD counterparts. Options
// whose value has another layout on BSD (linger, time-outs) are not offered.
constexpr int32_t WinsockSocketLevel = 0xFFFF;

struct TOptionRow {
    int32_t Winsock;
    int Native;
};

constexpr TOptionRow SocketOptions[] = {
    {0x0001, SO_DEBUG},     {0x0004, SO_REUSEADDR}, {0x0008, SO_KEEPALIVE}, {0x0010, SO_DONTROUTE},
    {0x0020, SO_BROADCAST}, {0x0100, SO_OOBINLINE}, {0x1001, SO_SNDBUF},    {0x1002, SO_RCVBUF},
    {0x1003, SO_SNDLOWAT},  {0x1004, SO_RCVLOWAT},
};

struct TErrnoRow {
    int Errno;
    int32_t Winsock;
};

// Each errno with a Winsock namesake (WSA + the errno's name), then a few without one, mapped to
// the code Winsock reports for the same situation.
constexpr TErrnoRow ErrnoRows[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {ENOTSUP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
    // No Winsock namesake: a send after the sending direction was shut down, lack of memory,
    // the system-wide descriptor table full, and a refusal by policy.
    {EPIPE, 10058},
    {ENOMEM, 10055},
    {ENFILE, 10024},
    {EPERM, 10013},
};

void RecordErrno() {
    RecordSocketError(WinsockErrorOfErrno(errno));
}

// A system call's result as the stack returns it: below 0 a failure, recorded.
int32_t Result(ssize_t result) {
    if (result < 0) {
        RecordErrno();
        return SocketFailure;
    }
    return static_cast<int32_t>(result);
}

int Descriptor(TSocketId socket) {
    // InvalidSocketId and anything beyond the descriptor range become -1, which fails with EBADF.
    return socket > static_cast<TSocketId>(std::numeric_limits<int>::max())
               ? -1
               : static_cast<int>(socket);
}

sockaddr_in MakeAddress(uint16_t family, uint32_t address, int32_t port) {
    sockaddr_in result;
    std::memset(&result, 0, sizeof result);
    result.sin_family = family;
    result.sin_port = htons(static_cast<uint16_t>(port));
    result.sin_addr.s_addr = address;
    return result;
}

TIdInAddrBytes BytesOf(const in_addr& address) {
    TIdInAddrBytes bytes{};
    std::memcpy(bytes.data(), &address.s_addr, bytes.size());
    return bytes;
}

struct TAddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using TAddrInfoList = std::unique_ptr<addrinfo, TAddrInfoFree>;

// The IPv4 addresses of a name; on failure null with the lookup's code as the last error.
TAddrInfoList ResolveIPv4(const std::string& name) {
    if (RefuseUnusableHostName(name)) {
        return nullptr;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM; // one entry per address
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (result != 0) {
        RecordSocketError(WinsockErrorOfLookup(result));
        return nullptr;
    }
    if (list == nullptr) {
        RecordSocketError(Id_WSANO_DATA);
    }
    return TAddrInfoList(list);
}

in_addr AddressOf(const addrinfo& entry) {
    sockaddr_in address;
    std::memcpy(&address, entry.ai_addr, sizeof address);
    return address.sin_addr;
}

// The reentrant service look-ups want a scratch buffer; grow it while it is too small.
template <typename Lookup>
bool ServiceLookup(Lookup lookup, servent& entry, std::vector<char>& scratch) {
    scratch.resize(1024);
    for (;;) {
        servent* found = nullptr;
        const int result = lookup(&entry, scratch.data(), scratch.size(), &found);
        if (result == ERANGE && scratch.size() < size_t{1024} * 1024) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        return result == 0 && found != nullptr;
    }
}

int32_t ReceiveMessage(TSocketId socket, void* buffer, int32_t length, int32_t flags,
                       sockaddr_in* from) {
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    iovec part;
    part.iov_base = buffer;
    part.iov_len = static_cast<size_t>(length);
    msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (from != nullptr) {
        message.msg_name = from;
        message.msg_namelen = sizeof *from;
    }
    const ssize_t count = ::recvmsg(Descriptor(socket), &message, flags);
    if (count < 0) {
        RecordErrno();
        return SocketFailure;
    }
    // The system cuts a datagram longer than the buffer without an error; Winsock fails such a
    // receive with WSAEMSGSIZE, and the callers must not take the cut datagram for a whole one.
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        RecordSocketError(Id_WSAEMSGSIZE);
        return SocketFailure;
    }
    return static_cast<int32_t>(count);
}

class TPosixSocketLibraryService final : public TIdSocketLibraryService {
public:
    bool Load(const std::string&) override { return true; }

    int32_t Startup(uint16_t version, TIdStartupReply& reply) override {
        reply.Version = version;
        reply.HighVersion = 0x0101;
        reply.Description = "BSD sockets";
        reply.SystemStatus = "Running";
        reply.MaxUdpDg = 65507; // 65535 less the IPv4 and UDP headers
        rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            reply.MaxSockets = limit.rlim_cur >= std::numeric_limits<uint32_t>::max()
                                   ? std::numeric_limits<uint32_t>::max()
                                   : static_cast<uint32_t>(limit.rlim_cur);
        }
        return 0;
    }

    int32_t CancelBlockingCall() override { return 0; }
    int32_t Cleanup() override { return 0; }
    void Unload() override {}
};

} // namespace

TIdSocketLibraryService& WinsockRules::PlatformLibraryService() {
    static TPosixSocketLibraryService service;
    return service;
}

TIdFileTransmitter FileTransmitHook = nullptr;

int32_t WinsockErrorOfErrno(int errnoValue) {
    for (const TErrnoRow& row : ErrnoRows) {
        if (row.Errno == errnoValue) {
            return row.Winsock;
        }
    }
    return errnoValue;
}

int32_t WinsockErrorOfLookup(int lookupResult) {
    switch (lookupResult) {
    case EAI_NONAME:
        return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return Id_WSATRY_AGAIN;
    case EAI_FAIL:
        return Id_WSANO_RECOVERY;
#ifdef EAI_NODATA
    // Two codes of one meaning, each only where the platform has it.
    // NOLINTNEXTLINE(bugprone-branch-clone)
    case EAI_NODATA:
        return Id_WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return Id_WSANO_DATA;
#endif
    case EAI_MEMORY:
        return Id_WSAENOBUFS;
    case EAI_SYSTEM:
        return WinsockErrorOfErrno(errno);
    default:
        return Id_WSANO_RECOVERY;
    }
}

void TIdStackWinsock::RefreshLocalAddresses() {
    if (!FLocalAddressCache) {
        FLocalAddressCache = std::make_unique<TIdStrings>();
    }
    FLocalAddressCache->clear();
    const TAddrInfoList list = ResolveIPv4(LocalHostName());
    if (!list) {
        CheckSocketResult(SocketFailure);
        return;
    }
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        FLocalAddressCache->push_back(InAddrToText(BytesOf(AddressOf(*entry))));
    }
}

TSocketId TIdStackWinsock::SockAccept(TSocketId socket, std::string& ip, int32_t& port) {
    sockaddr_in peer = MakeAddress(0, 0, 0);
    socklen_t length = sizeof peer;
    const int result =
        ::accept4(Descriptor(socket), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (result < 0) {
        RecordErrno();
    }
    ip = InAddrToText(BytesOf(peer.sin_addr));
    port = ntohs(peer.sin_port);
    return result < 0 ? InvalidSocketId : static_cast<TSocketId>(result);
}

int32_t TIdStackWinsock::SockBind(TSocketId socket, uint16_t family, const std::string& ip,
                                  int32_t port) {
    const uint32_t address = ip.empty() ? htonl(INADDR_ANY) : TextToInAddr(ip).S_addr;
    const sockaddr_in local = MakeAddress(family, address, port);
    return Result(
        ::bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local));
}

int32_t TIdStackWinsock::SockClose(TSocketId socket) {
    return Result(::close(Descriptor(socket)));
}

int32_t TIdStackWinsock::SockConnect(TSocketId socket, uint16_t family, const std::string& ip,
                                     int32_t port) {
    const sockaddr_in remote = MakeAddress(family, TextToInAddr(ip).S_addr, port);
    return Result(
        ::connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote));
}

std::string TIdStackWinsock::LookupHostAddress(const std::string& host) {
    const TAddrInfoList list = ResolveIPv4(host);
    if (!list) {
        CheckSocketResult(SocketFailure);
        return std::string();
    }
    return InAddrToText(BytesOf(AddressOf(*list)));
}

std::string TIdStackWinsock::LocalHostName() {
    char name[251] = {};
    ::gethostname(name, 250); // a failure leaves the text empty
    return std::string(name);
}

std::string TIdStackWinsock::LookupHostName(const std::string& address) {
    const sockaddr_in remote = MakeAddress(AF_INET, ::inet_addr(address.c_str()), 0);
    char name[NI_MAXHOST] = {};
    const int result = ::getnameinfo(reinterpret_cast<const sockaddr*>(&remote), sizeof remote,
                                     name, sizeof name, nullptr, 0, NI_NAMEREQD);
    if (result != 0) {
        RecordSocketError(WinsockErrorOfLookup(result));
        CheckSocketResult(SocketFailure);
        return std::string();
    }
    return std::string(name);
}

int32_t TIdStackWinsock::LookupServicePort(const std::string& service) {
    servent entry;
    std::vector<char> scratch;
    const bool found = IsUsableServiceName(service) &&
                       ServiceLookup(
                           [&service](servent* e, char* b, size_t n, servent** r) {
                               return ::getservbyname_r(service.c_str(), nullptr, e, b, n, r);
                           },
                           entry, scratch);
    if (found) {
        return ntohs(static_cast<uint16_t>(entry.s_port));
    }
    return PortOfUnlistedService(service);
}

std::unique_ptr<TIdStrings> TIdStackWinsock::LookupServiceNames(int32_t port) {
    auto names = std::make_unique<TIdStrings>();
    servent entry;
    std::vector<char> scratch;
    const int networkPort = htons(static_cast<uint16_t>(port));
    const bool found = ServiceLookup(
        [networkPort](servent* e, char* b, size_t n, servent** r) {
            return ::getservbyport_r(networkPort, nullptr, e, b, n, r);
        },
        entry, scratch);
    if (found) {
        AddServiceNames(*names, entry.s_name, entry.s_aliases);
    }
    return names;
}

uint16_t TIdStackWinsock::HostToNetShort(uint16_t value) {
    return htons(value);
}

int32_t TIdStackWinsock::SockListen(TSocketId socket, int32_t backlog) {
    return Result(::listen(Descriptor(socket), backlog));
}

uint16_t TIdStackWinsock::NetToHostShort(uint16_t value) {
    return ntohs(value);
}

uint32_t TIdStackWinsock::HostToNetLong(uint32_t value) {
    return htonl(value);
}

uint32_t TIdStackWinsock::NetToHostLong(uint32_t value) {
    return ntohl(value);
}

int32_t TIdStackWinsock::SockRecv(TSocketId socket, void* buffer, int32_t length, int32_t flags) {
    return ReceiveMessage(socket, buffer, length, flags, nullptr);
}

int32_t TIdStackWinsock::SockRecvFromEndpoint(TSocketId socket, void* buffer, int32_t length,
                                              int32_t flags, TIdEndpoint& from) {
    sockaddr_in peer = MakeAddress(0, 0, 0);
    const int32_t result = ReceiveMessage(socket, buffer, length, flags, &peer);
    from = TIdEndpoint::IPv4(BytesOf(peer.sin_addr), ntohs(peer.sin_port));
    return result;
}

namespace {

// poll() for at most timeout milliseconds (NoTimeLimit: without limit). A signal handler that
// interrupts the wait does not end it: it goes on for the rest of the time, rather than report
// an early time-out or a failure the caller would take for one. Returns poll's result; below 0,
// errno tells the failure.
int PollFor(pollfd* entries, std::size_t count, int32_t timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
    int wait = timeout == NoTimeLimit ? -1 : timeout;
    for (;;) {
        const int result = ::poll(entries, count, wait);
        if (result >= 0 || errno != EINTR) {
            return result;
        }
        if (timeout != NoTimeLimit) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = static_cast<int>(std::max<decltype(left)>(left, 0));
        }
    }
}

} // namespace

int32_t TIdStackWinsock::SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                                    TIdSocketList* errorList, int32_t timeout) {
    const TSelectLists lists = {readList, writeList, errorList};
    // poll() has no bound on the handles, but callers rely on the refusal.
    CheckSelectListSizes(lists);
    // What select reports in each set: readable also at end of file and on a pending error,
    // writable also on a pending error, and urgent data in the error set.
    constexpr short Requested[3] = {POLLIN, POLLOUT, POLLPRI};
    constexpr short Ready[3] = {POLLIN | POLLERR | POLLHUP, POLLOUT | POLLERR, POLLPRI};

    auto fail = [&lists](int32_t code) { return FailSelect(lists, code); };

    // The wait of every receive: one socket in the read list and no other list. The same rules
    // as below, without the bookkeeping for many sockets.
    if (readList != nullptr && readList->size() == 1 && writeList == nullptr &&
        errorList == nullptr) {
        pollfd entry{Descriptor(readList->front()), Requested[0], 0};
        if (entry.fd < 0) {
            return fail(Id_WSAENOTSOCK);
        }
        if (IsInvalidSelectTimeout(timeout)) {
            return fail(Id_WSAEINVAL);
        }
        if (PollFor(&entry, 1, timeout) < 0) {
            return fail(WinsockErrorOfErrno(errno));
        }
        if ((entry.revents & POLLNVAL) != 0) {
            return fail(Id_WSAENOTSOCK);
        }
        if ((entry.revents & Ready[0]) != 0) {
            return 1;
        }
        readList->clear();
        return 0;
    }

    // At most 3 x 64 entries, kept on the stack and not cleared: every receive of a transfer
    // waits here.
    std::array<pollfd, 3 * SelectSetSize> polledEntries; // filled up to polledCount only
    size_t polledCount = 0;
    const auto polledEnd = [&]() { return polledEntries.begin() + polledCount; };
    for (int set = 0; set < 3; ++set) {
        if (lists[set] == nullptr) {
            continue;
        }
        for (const TSocketId socket : *lists[set]) {
            const int fd = Descriptor(socket);
            if (fd < 0) {
                return fail(Id_WSAENOTSOCK);
            }
            auto entry = std::find_if(polledEntries.begin(), polledEnd(),
                                      [fd](const pollfd& p) { return p.fd == fd; });
            if (entry == polledEnd()) {
                polledEntries[polledCount++] = pollfd{fd, Requested[set], 0};
            } else {
                entry->events = static_cast<short>(entry->events | Requested[set]);
            }
        }
    }
    if (IsInvalidSelectTimeout(timeout)) {
        return fail(Id_WSAEINVAL); // select refuses a negative time value
    }

    if (PollFor(polledEntries.data(), polledCount, timeout) < 0) {
        return fail(WinsockErrorOfErrno(errno));
    }
    for (auto p = polledEntries.begin(); p != polledEnd(); ++p) {
        if ((p->revents & POLLNVAL) != 0) {
            return fail(Id_WSAENOTSOCK);
        }
    }

    int32_t count = 0;
    for (int set = 0; set < 3; ++set) {
        TIdSocketList* list = lists[set];
        if (list == nullptr) {
            continue;
        }
        // Rewritten in place to its ready handles, in list order.
        size_t kept = 0;
        for (size_t i = 0; i < list->size(); ++i) {
            const TSocketId socket = (*list)[i];
            const int fd = Descriptor(socket);
            const auto entry = std::find_if(polledEntries.begin(), polledEnd(),
                                            [fd](const pollfd& p) { return p.fd == fd; });
            const auto keptEnd = list->begin() + static_cast<std::ptrdiff_t>(kept);
            // A set holds a handle once, however often the list names it.
            if ((entry->revents & Ready[set]) != 0 &&
                std::find(list->begin(), keptEnd, socket) == keptEnd) {
                (*list)[kept++] = socket;
            }
        }
        list->resize(kept);
        count += static_cast<int32_t>(kept);
    }
    return count;
}

int32_t TIdStackWinsock::SockSend(TSocketId socket, const void* buffer, int32_t length,
                                  int32_t flags) {
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    // MSG_NOSIGNAL: a send on a broken connection fails instead of raising SIGPIPE.
    return Result(
        ::send(Descriptor(socket), buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL));
}

int32_t TIdStackWinsock::SockSendToEndpoint(TSocketId socket, const void* buffer, int32_t length,
                                            int32_t flags, const TIdEndpoint& to) {
    in_addr address{};
    const TIdInAddrBytes bytes = to.InAddr();
    std::memcpy(&address.s_addr, bytes.data(), bytes.size());
    const sockaddr_in remote = MakeAddress(AF_INET, address.s_addr, to.Port);
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    return Result(::sendto(Descriptor(socket), buffer, static_cast<size_t>(length),
                           flags | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&remote),
                           sizeof remote));
}

int32_t TIdStackWinsock::SockSetOption(TSocketId socket, int32_t level, int32_t name,
                                       const void* value, int32_t length) {
    int nativeLevel = level;
    int nativeName = name;
    if (level == WinsockSocketLevel) {
        nativeLevel = SOL_SOCKET;
        const auto row = std::find_if(std::begin(SocketOptions), std::end(SocketOptions),
                                      [name](const TOptionRow& r) { return r.Winsock == name; });
        if (row == std::end(SocketOptions)) {
            RecordSocketError(Id_WSAENOPROTOOPT);
            return SocketFailure;
        }
        nativeName = row->Native;
    }
    if (RefuseNegativeLength(length)) {
        return SocketFailure;
    }
    return Result(::setsockopt(Descriptor(socket), nativeLevel, nativeName, value,
                               static_cast<socklen_t>(length)));
}

TSocketId TIdStackWinsock::SockCreate(int32_t family, int32_t type, int32_t protocol) {
    // Close-on-exec: the shell commands the tool starts must not inherit its sockets.
    const int result = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (result < 0) {
        RecordErrno();
        return InvalidSocketId;
    }
    return static_cast<TSocketId>(result);
}

int32_t TIdStackWinsock::SockShutdown(TSocketId socket, int32_t how) {
    return Result(::shutdown(Descriptor(socket), how));
}

namespace {

using TAddressCall = int (*)(int, sockaddr*, socklen_t*);

// getpeername or getsockname: the family, address and port, or EIdSocketError.
void AddressOf(TIdStack& stack, TAddressCall call, TSocketId socket, int32_t& family,
               std::string& ip, int32_t& port) {
    sockaddr_in address = MakeAddress(0, 0, 0);
    socklen_t length = sizeof address;
    stack.CheckSocketResult(
        Result(call(Descriptor(socket), reinterpret_cast<sockaddr*>(&address), &length)));
    family = address.sin_family;
    ip = stack.InAddrToText(BytesOf(address.sin_addr));
    port = ntohs(address.sin_port);
}

} // namespace

void TIdStackWinsock::PeerAddressOf(TSocketId socket, int32_t& family, std::string& ip,
                                    int32_t& port) {
    AddressOf(*this, ::getpeername, socket, family, ip, port);
}

void TIdStackWinsock::LocalAddressOf(TSocketId socket, int32_t& family, std::string& ip,
                                     int32_t& port) {
    AddressOf(*this, ::getsockname, socket, family, ip, port);
}
