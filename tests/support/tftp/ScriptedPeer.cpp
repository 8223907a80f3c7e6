#include "tftp/ScriptedPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tftptest {

namespace {

using Clock = std::chrono::steady_clock;

// Opens a datagram socket on address:0; -1 when the address cannot be bound.
int OpenBound(const char* address, uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = 0;
    ::inet_pton(AF_INET, address, &local.sin_addr);
    socklen_t length = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(local.sin_port);
    return fd;
}

void SendFrom(int fd, const std::string& ip, uint16_t port, const std::string& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    (void)::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

} // namespace

ScriptedPeer::ScriptedPeer(PeerScript script) : FScript(std::move(script)) {
    const char* addresses[4] = {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.2"};
    for (int i = 0; i < 4; ++i) {
        FSockets[i] = OpenBound(addresses[i], FPorts[i]);
        if (FSockets[i] < 0 && i < 3) {
            for (int fd : FSockets) {
                if (fd >= 0) {
                    ::close(fd);
                }
            }
            throw std::runtime_error("scripted peer: cannot open a loopback socket");
        }
    }
    FThread = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    Stop();
    for (int fd : FSockets) {
        if (fd >= 0) {
            ::close(fd);
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
    socklen_t length = sizeof from;
    const ssize_t got = ::recvfrom(FSockets[index], buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) {
        return false;
    }
    PeerDatagram datagram;
    datagram.Socket = static_cast<PeerSocket>(index);
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    datagram.FromIP = ip;
    datagram.FromPort = ntohs(from.sin_port);
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
        const int via = FSockets[static_cast<int>(send.Via)];
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
    pollfd fds[4];
    int count = 0;
    int indexOf[4];
    for (int i = 0; i < 4; ++i) {
        if (FSockets[i] >= 0) {
            fds[count] = {FSockets[i], POLLIN, 0};
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
        if (::poll(fds, static_cast<nfds_t>(count), wait) > 0) {
            for (int i = 0; i < count; ++i) {
                if ((fds[i].revents & POLLIN) != 0) {
                    ReadOne(indexOf[i], true);
                }
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
    for (int i = 0; i < count; ++i) {
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
    ::close(FSocket);
}

void LoopbackSocket::SendTo(uint16_t port, const std::string& bytes) const {
    SendFrom(FSocket, "127.0.0.1", port, bytes);
}

std::optional<std::string> LoopbackSocket::Receive(int timeoutMs, uint16_t* fromPort) const {
    pollfd fd{FSocket, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) {
        return std::nullopt;
    }
    std::string buffer(70000, '\0');
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t got = ::recvfrom(FSocket, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) {
        return std::nullopt;
    }
    if (fromPort != nullptr) {
        *fromPort = ntohs(from.sin_port);
    }
    buffer.resize(static_cast<size_t>(got));
    return buffer;
}

} // namespace tftptest
