#include "tftp/ScriptedPeer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <winsock2.h>

#include <windows.h>
#else
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tftptest {

namespace {

using Clock = std::chrono::steady_clock;

// The system's datagram calls, one small set per platform. Receives never wait: the peer reads
// only what a wait reported, and at its end drains what is still queued.
#if defined(_WIN32)

// The calls of ws2_32.dll from the system folder, looked up and started once for the process
// (WSAStartup counts its starts, so the stack under test starts and stops its own service on
// top of this one). Nothing links the library: every Windows program here imports no socket
// library. Byte order and address texts are converted here, as the library's own conversions
// would be imports too.
class TSocketCalls {
public:
    decltype(&::socket) Socket = nullptr;
    decltype(&::bind) Bind = nullptr;
    decltype(&::getsockname) GetSockName = nullptr;
    decltype(&::sendto) SendTo = nullptr;
    decltype(&::recvfrom) RecvFrom = nullptr;
    decltype(&::select) Select = nullptr;
    decltype(&::ioctlsocket) IoctlSocket = nullptr;
    decltype(&::closesocket) CloseSocket = nullptr;
    decltype(&::WSAGetLastError) LastError = nullptr;

    TSocketCalls() {
        char folder[MAX_PATH];
        const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            FLibrary = ::LoadLibraryA((std::string(folder, length) + "\\ws2_32.dll").c_str());
        }
        if (FLibrary == nullptr) {
            throw std::runtime_error("scripted peer: ws2_32.dll does not load");
        }
        decltype(&::WSAStartup) startup = nullptr;
        WSADATA data{};
        if (!Find(Socket, "socket") || !Find(Bind, "bind") || !Find(GetSockName, "getsockname") ||
            !Find(SendTo, "sendto") || !Find(RecvFrom, "recvfrom") || !Find(Select, "select") ||
            !Find(IoctlSocket, "ioctlsocket") || !Find(CloseSocket, "closesocket") ||
            !Find(LastError, "WSAGetLastError") || !Find(FCleanup, "WSACleanup") ||
            !Find(startup, "WSAStartup") || startup(MAKEWORD(2, 2), &data) != 0) {
            ::FreeLibrary(FLibrary);
            throw std::runtime_error("scripted peer: ws2_32.dll does not start");
        }
    }
    ~TSocketCalls() {
        FCleanup();
        ::FreeLibrary(FLibrary);
    }
    TSocketCalls(const TSocketCalls&) = delete;
    TSocketCalls& operator=(const TSocketCalls&) = delete;

private:
    template <typename F>
    bool Find(F& entry, const char* name) {
        entry = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(FLibrary, name)));
        return entry != nullptr;
    }

    HMODULE FLibrary = nullptr;
    decltype(&::WSACleanup) FCleanup = nullptr;
};

const TSocketCalls& Calls() {
    static const TSocketCalls calls;
    return calls;
}

SOCKET Native(intptr_t socket) {
    return static_cast<SOCKET>(socket);
}

intptr_t NewDatagramSocket() {
    const SOCKET socket = Calls().Socket(AF_INET, SOCK_DGRAM, 0);
    if (socket == INVALID_SOCKET) {
        return -1;
    }
    u_long nonBlocking = 1;
    Calls().IoctlSocket(socket, static_cast<long>(FIONBIO), &nonBlocking);
    return static_cast<intptr_t>(socket);
}

bool BindAndName(intptr_t socket, sockaddr_in& local) {
    int length = sizeof local;
    return Calls().Bind(Native(socket), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
           Calls().GetSockName(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) == 0;
}

void CloseSocket(intptr_t socket) {
    Calls().CloseSocket(Native(socket));
}

void SendDatagram(intptr_t socket, const sockaddr_in& to, const std::string& bytes) {
    (void)Calls().SendTo(Native(socket), bytes.data(), static_cast<int>(bytes.size()), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Windows reports an ICMP "port unreachable" for an earlier datagram of the socket as
// WSAECONNRESET on a later receive: nobody's datagram, so it is passed over.
int ReceiveNow(intptr_t socket, char* buffer, size_t size, sockaddr_in& from) {
    for (;;) {
        int length = sizeof from;
        const int got = Calls().RecvFrom(Native(socket), buffer, static_cast<int>(size), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
        if (got != SOCKET_ERROR || Calls().LastError() != WSAECONNRESET) {
            return got;
        }
    }
}

// Marks in ready the sockets that have a datagram waiting, within timeoutMs.
void WaitForDatagrams(const intptr_t* sockets, size_t count, int timeoutMs, bool* ready) {
    fd_set readable;
    readable.fd_count = 0;
    for (size_t i = 0; i < count; ++i) {
        ready[i] = false;
        readable.fd_array[readable.fd_count++] = Native(sockets[i]);
    }
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (Calls().Select(0, &readable, nullptr, nullptr, &wait) <= 0) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const SOCKET* const begin = readable.fd_array;
        const SOCKET* const end = begin + readable.fd_count;
        ready[i] = std::find(begin, end, Native(sockets[i])) != end;
    }
}

#else

intptr_t NewDatagramSocket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

bool BindAndName(intptr_t socket, sockaddr_in& local) {
    const int fd = static_cast<int>(socket);
    socklen_t length = sizeof local;
    return ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
           ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
}

void CloseSocket(intptr_t socket) {
    ::close(static_cast<int>(socket));
}

void SendDatagram(intptr_t socket, const sockaddr_in& to, const std::string& bytes) {
    (void)::sendto(static_cast<int>(socket), bytes.data(), bytes.size(), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

ssize_t ReceiveNow(intptr_t socket, char* buffer, size_t size, sockaddr_in& from) {
    socklen_t length = sizeof from;
    return ::recvfrom(static_cast<int>(socket), buffer, size, MSG_DONTWAIT,
                      reinterpret_cast<sockaddr*>(&from), &length);
}

void WaitForDatagrams(const intptr_t* sockets, size_t count, int timeoutMs, bool* ready) {
    pollfd fds[4];
    for (size_t i = 0; i < count; ++i) {
        fds[i] = {static_cast<int>(sockets[i]), POLLIN, 0};
        ready[i] = false;
    }
    if (::poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        ready[i] = (fds[i].revents & POLLIN) != 0;
    }
}

#endif

// An IPv4 address and port as the system takes them, in network byte order.
sockaddr_in AddressOf(const std::string& ip, uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    const uint8_t portBytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    std::memcpy(&address.sin_port, portBytes, 2);
    unsigned parts[4] = {};
    if (std::sscanf(ip.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                                  static_cast<uint8_t>(parts[2]), static_cast<uint8_t>(parts[3])};
        std::memcpy(&address.sin_addr, bytes, 4);
    }
    return address;
}

std::string TextOf(const sockaddr_in& address) {
    uint8_t bytes[4];
    std::memcpy(bytes, &address.sin_addr, 4);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

uint16_t PortOfAddress(const sockaddr_in& address) {
    uint8_t bytes[2];
    std::memcpy(bytes, &address.sin_port, 2);
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Opens a datagram socket on address:0; -1 when the address cannot be bound.
intptr_t OpenBound(const char* address, uint16_t& port) {
    const intptr_t socket = NewDatagramSocket();
    if (socket < 0) {
        return -1;
    }
    sockaddr_in local = AddressOf(address, 0);
    if (!BindAndName(socket, local)) {
        CloseSocket(socket);
        return -1;
    }
    port = PortOfAddress(local);
    return socket;
}

void SendFrom(intptr_t socket, const std::string& ip, uint16_t port, const std::string& bytes) {
    SendDatagram(socket, AddressOf(ip, port), bytes);
}

// Whether what the socket sends leaves from address, as a socket of its own sees it. Wine binds
// a socket of a loopback address other than the first to the loopback device instead, so that it
// sends from 127.0.0.1: no stranger of another address then.
bool SendsFrom(intptr_t socket, const std::string& address) {
    uint16_t port = 0;
    const intptr_t witness = OpenBound("127.0.0.1", port);
    if (witness < 0) {
        return false;
    }
    SendFrom(socket, "127.0.0.1", port, "?");
    bool ready = false;
    WaitForDatagrams(&witness, 1, 2000, &ready);
    char buffer[8];
    sockaddr_in from{};
    const bool same =
        ready && ReceiveNow(witness, buffer, sizeof buffer, from) >= 0 && TextOf(from) == address;
    CloseSocket(witness);
    return same;
}

} // namespace

ScriptedPeer::ScriptedPeer(PeerScript script) : FScript(std::move(script)) {
    const char* addresses[4] = {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.2"};
    for (int i = 0; i < 4; ++i) {
        FSockets[i] = OpenBound(addresses[i], FPorts[i]);
        if (FSockets[i] < 0 && i < 3) {
            for (const intptr_t socket : FSockets) {
                if (socket >= 0) {
                    CloseSocket(socket);
                }
            }
            throw std::runtime_error("scripted peer: cannot open a loopback socket");
        }
    }
    const int other = static_cast<int>(PeerSocket::StrangerAddress);
    if (FSockets[other] >= 0 && !SendsFrom(FSockets[other], addresses[other])) {
        CloseSocket(FSockets[other]);
        FSockets[other] = -1;
        FPorts[other] = 0;
    }
    FThread = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    Stop();
    for (const intptr_t socket : FSockets) {
        if (socket >= 0) {
            CloseSocket(socket);
        }
    }
}

uint16_t ScriptedPeer::PortOf(PeerSocket socket) const {
    return FPorts[static_cast<int>(socket)];
}

void ScriptedPeer::Stop() {
    FStop = true;
    if (FThread.joinable()) {
        FThread.join();
    }
}

std::vector<PeerDatagram> ScriptedPeer::Received() const {
    const std::lock_guard lock(FMutex);
    return FReceived;
}

std::vector<PeerDatagram> ScriptedPeer::ReceivedOn(PeerSocket socket) const {
    std::vector<PeerDatagram> result;
    for (PeerDatagram& d : Received()) {
        if (d.Socket == socket) {
            result.push_back(std::move(d));
        }
    }
    return result;
}

bool ScriptedPeer::ReadOne(int index, bool answer) {
    static thread_local std::string buffer(70000, '\0');
    sockaddr_in from{};
    const auto got = ReceiveNow(FSockets[index], buffer.data(), buffer.size(), from);
    if (got < 0) {
        return false;
    }
    PeerDatagram datagram;
    datagram.Socket = static_cast<PeerSocket>(index);
    datagram.FromIP = TextOf(from);
    datagram.FromPort = PortOfAddress(from);
    datagram.Bytes.assign(buffer.data(), static_cast<size_t>(got));
    datagram.At = Clock::now();
    {
        const std::lock_guard lock(FMutex);
        FReceived.push_back(datagram);
    }
    if (!answer || !FScript) {
        return true;
    }
    for (PeerSend& send : FScript(datagram)) {
        const intptr_t via = FSockets[static_cast<int>(send.Via)];
        if (via < 0) {
            continue;
        }
        if (send.DelayMs <= 0) {
            SendFrom(via, datagram.FromIP, datagram.FromPort, send.Bytes);
        } else {
            FScheduled.push_back({Clock::now() + std::chrono::milliseconds(send.DelayMs), via,
                                  datagram.FromIP, datagram.FromPort, std::move(send.Bytes)});
        }
    }
    return true;
}

void ScriptedPeer::Run() {
    intptr_t open[4];
    size_t count = 0;
    int indexOf[4];
    for (int i = 0; i < 4; ++i) {
        if (FSockets[i] >= 0) {
            open[count] = FSockets[i];
            indexOf[count++] = i;
        }
    }
    while (!FStop) {
        int wait = 10;
        const auto now = Clock::now();
        for (const Scheduled& s : FScheduled) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(s.At - now).count();
            wait = std::clamp(static_cast<int>(left), 0, wait);
        }
        bool ready[4];
        WaitForDatagrams(open, count, wait, ready);
        for (size_t i = 0; i < count; ++i) {
            if (ready[i]) {
                ReadOne(indexOf[i], true);
            }
        }
        // Sends that are due, in the order they were scheduled.
        const auto due = Clock::now();
        for (auto it = FScheduled.begin(); it != FScheduled.end();) {
            if (it->At <= due) {
                SendFrom(it->Socket, it->ToIP, it->ToPort, it->Bytes);
                it = FScheduled.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (size_t i = 0; i < count; ++i) {
        while (ReadOne(indexOf[i], false)) {
        }
    }
}

std::string Word(uint16_t value) {
    return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string AckPacket(uint16_t block) {
    return Word(4) + Word(block);
}

std::string ErrorPacket(uint16_t code, const std::string& text) {
    return Word(5) + Word(code) + text + std::string(1, '\0');
}

std::string OptionAckPacket(const std::vector<std::pair<std::string, std::string>>& options) {
    std::string packet = Word(6);
    for (const auto& [name, value] : options) {
        packet += name;
        packet += '\0';
        packet += value;
        packet += '\0';
    }
    return packet;
}

PeerScript WriteServer::Script() {
    return [this](const PeerDatagram& datagram) {
        std::vector<PeerSend> sends;
        for (const PeerSend& send : Answer(datagram)) {
            sends.insert(sends.end(), static_cast<size_t>(std::max(Copies, 1)), send);
        }
        return sends;
    };
}

std::vector<PeerSend> WriteServer::Answer(const PeerDatagram& datagram) {
    const std::string& bytes = datagram.Bytes;
    const uint16_t opcode = bytes.size() >= 2
                                ? static_cast<uint16_t>(static_cast<uint8_t>(bytes[0]) << 8 |
                                                        static_cast<uint8_t>(bytes[1]))
                                : 0;
    if (datagram.Socket == PeerSocket::Listen) {
        if (++FRequests <= SilentRequests) {
            return {};
        }
        std::string packet = OpeningPacket;
        switch (Open) {
        case Opening::Ack0:
            FBlockSize = 512;
            if (packet.empty()) {
                packet = AckPacket(0);
            }
            break;
        case Opening::OptionAck:
            FBlockSize = static_cast<size_t>(OfferedBlockSize);
            if (packet.empty()) {
                packet = OptionAckPacket({{"blksize", std::to_string(OfferedBlockSize)}});
            }
            break;
        case Opening::Error:
            if (packet.empty()) {
                packet = ErrorPacket(2, "Access violation");
            }
            break;
        case Opening::Silent:
            return {};
        }
        return {{OpenVia, packet, 0}};
    }
    if (datagram.Socket != PeerSocket::Transfer || opcode != 3 || bytes.size() < 4) {
        return {};
    }
    DataEvent event;
    event.Index = static_cast<int>(FData.size()) + 1;
    event.Block =
        static_cast<uint16_t>(static_cast<uint8_t>(bytes[2]) << 8 | static_cast<uint8_t>(bytes[3]));
    event.Length = bytes.size() - 4;
    event.Final = event.Length < FBlockSize;
    event.Repeat = FHaveLast && event.Block == FLastBlock;
    if (!event.Repeat) {
        FFile.append(bytes, 4);
    }
    FHaveLast = true;
    FLastBlock = event.Block;
    FData.push_back(event);
    if (OnData) {
        if (std::optional<std::vector<PeerSend>> custom = OnData(event)) {
            return *custom;
        }
    }
    if (event.Final && !AnswerFinal) {
        return {};
    }
    return {{PeerSocket::Transfer, AckPacket(event.Block), 0}};
}

LoopbackSocket::LoopbackSocket() {
    FSocket = OpenBound("127.0.0.1", FPort);
    if (FSocket < 0) {
        throw std::runtime_error("cannot open a loopback socket");
    }
}

LoopbackSocket::~LoopbackSocket() {
    CloseSocket(FSocket);
}

void LoopbackSocket::SendTo(uint16_t port, const std::string& bytes) const {
    SendFrom(FSocket, "127.0.0.1", port, bytes);
}

std::optional<std::string> LoopbackSocket::Receive(int timeoutMs, uint16_t* fromPort) const {
    bool ready = false;
    WaitForDatagrams(&FSocket, 1, timeoutMs, &ready);
    if (!ready) {
        return std::nullopt;
    }
    std::string buffer(70000, '\0');
    sockaddr_in from{};
    const auto got = ReceiveNow(FSocket, buffer.data(), buffer.size(), from);
    if (got < 0) {
        return std::nullopt;
    }
    if (fromPort != nullptr) {
        *fromPort = PortOfAddress(from);
    }
    buffer.resize(static_cast<size_t>(got));
    return buffer;
}

} // namespace tftptest
