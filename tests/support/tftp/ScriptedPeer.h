// A TFTP peer for tests, in-process: it listens on 127.0.0.1 (port 0, chosen by the system),
// answers from a second socket on a new port as a real server does (RFC 1350 section 4), and
// records every datagram it receives with its sender. What it answers is a script. Two stranger
// sockets (another port on 127.0.0.1, and 127.0.0.2 where a socket can send from it: its port is
// 0 otherwise) let a script send datagrams from senders that are not the transfer peer.
// It uses the system's own socket calls, never the stack under test, so that a fault of the
// stack cannot hide itself on both ends of the wire. On Windows they are those of ws2_32.dll,
// loaded at run time: no program here links a socket library.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tftptest {

enum class PeerSocket { Listen, Transfer, Stranger, StrangerAddress };

struct PeerDatagram {
    PeerSocket Socket = PeerSocket::Listen; // where it arrived
    std::string FromIP;
    uint16_t FromPort = 0;
    std::string Bytes;
    std::chrono::steady_clock::time_point At; // when the peer read it
};

// One datagram the peer sends to the sender of the datagram it answers.
struct PeerSend {
    PeerSocket Via = PeerSocket::Transfer;
    std::string Bytes;
    int DelayMs = 0; // after the answered datagram arrived
};

using PeerScript = std::function<std::vector<PeerSend>(const PeerDatagram&)>;

class ScriptedPeer {
public:
    // The script runs on the peer's thread, once per datagram received.
    explicit ScriptedPeer(PeerScript script);
    ~ScriptedPeer(); // stops and joins
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t ListenPort() const { return PortOf(PeerSocket::Listen); }
    uint16_t TransferPort() const { return PortOf(PeerSocket::Transfer); }
    uint16_t StrangerPort() const { return PortOf(PeerSocket::Stranger); }
    uint16_t StrangerAddressPort() const { return PortOf(PeerSocket::StrangerAddress); }
    uint16_t PortOf(PeerSocket socket) const;

    // Reads what is still queued on the sockets (recorded, not answered), then ends the thread.
    // Datagrams sent to loopback before this call are in the queues, so they are all recorded.
    void Stop();

    std::vector<PeerDatagram> Received() const;
    // The received datagrams that arrived on one socket.
    std::vector<PeerDatagram> ReceivedOn(PeerSocket socket) const;

private:
    void Run();
    bool ReadOne(int index, bool answer);

    PeerScript FScript;
    intptr_t FSockets[4] = {-1, -1, -1, -1}; // -1: not open
    uint16_t FPorts[4] = {0, 0, 0, 0};
    std::atomic<bool> FStop{false};
    mutable std::mutex FMutex;
    std::vector<PeerDatagram> FReceived;
    struct Scheduled {
        std::chrono::steady_clock::time_point At;
        intptr_t Socket;
        std::string ToIP;
        uint16_t ToPort;
        std::string Bytes;
    };
    std::vector<Scheduled> FScheduled; // the peer thread's alone
    std::thread FThread;
};

// Packets a script answers with.
std::string Word(uint16_t value);
std::string AckPacket(uint16_t block);
std::string ErrorPacket(uint16_t code, const std::string& text);
// Opcode 6 and the given name/value pairs, each closed by a NUL.
std::string OptionAckPacket(const std::vector<std::pair<std::string, std::string>>& options);

// A data packet the write server received.
struct DataEvent {
    int Index = 0;       // 1 for the first data packet received, duplicates counted
    uint16_t Block = 0;  // its block number
    size_t Length = 0;   // its data bytes
    bool Final = false;  // shorter than the block size
    bool Repeat = false; // same block number as the data packet before it
};

// A TFTP write server on a ScriptedPeer: answers the request with an acknowledgement of block 0,
// an option acknowledgement, an error or nothing, acknowledges each data block, and keeps the
// bytes of the file as received (a repeated block counted once). OnData may replace the answer
// to any data packet. Copies sends every answer that many times; the first SilentRequests
// requests go unanswered; OpenVia is the socket the request is answered from.
class WriteServer {
public:
    enum class Opening { Ack0, OptionAck, Error, Silent };

    Opening Open = Opening::Ack0;
    int32_t OfferedBlockSize = 0; // for Opening::OptionAck
    std::string OpeningPacket;    // sent instead of the built one when not empty
    bool AnswerFinal = true;      // acknowledge the block that ends the file
    int Copies = 1;
    int SilentRequests = 0;
    PeerSocket OpenVia = PeerSocket::Transfer;
    std::function<std::optional<std::vector<PeerSend>>(const DataEvent&)> OnData;

    PeerScript Script();

    // Read these after the peer has stopped.
    const std::string& File() const { return FFile; }
    const std::vector<DataEvent>& Data() const { return FData; }

private:
    std::vector<PeerSend> Answer(const PeerDatagram& datagram);

    size_t FBlockSize = 512;
    std::string FFile;
    std::vector<DataEvent> FData;
    bool FHaveLast = false;
    uint16_t FLastBlock = 0;
    int FRequests = 0;
};

// A plain UDP socket on 127.0.0.1 for tests of the endpoint.
class LoopbackSocket {
public:
    LoopbackSocket();
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    uint16_t Port() const { return FPort; }
    void SendTo(uint16_t port, const std::string& bytes) const;
    // One datagram within timeoutMs, or nothing.
    std::optional<std::string> Receive(int timeoutMs, uint16_t* fromPort = nullptr) const;

private:
    intptr_t FSocket = -1;
    uint16_t FPort = 0;
};

} // namespace tftptest
