#include "net/Idexception.h"
#include "tftp/IdTrivialFTP.h"
#include "tftp/ScriptedPeer.h"
#include "tftp/SpyStack.h"

#include "Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include "net/IdStackWinsock.h"

#include <algorithm>
#include <winsock.h>
// The system's header names the printer spooler's SetPortA SetPort, which would rename our own.
#undef SetPort
#endif

namespace {

using namespace std::string_literals;
using namespace tftptest;

// Bytes that show a shift, a repeat or a loss anywhere in a file.
std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + i / 251 + 3) & 0xFF);
    }
    return s;
}

uint16_t BlockOf(const std::string& packet) {
    return static_cast<uint16_t>(static_cast<uint8_t>(packet[2]) << 8 |
                                 static_cast<uint8_t>(packet[3]));
}

// A client, a write server on a scripted peer and the work events the client fired. The peer is
// built by Start, after the test has set up the server; it stops (joins) before the server goes.
struct Upload {
    WriteServer Server;
    std::unique_ptr<ScriptedPeer> Peer;
    TIdTrivialFTP Client{nullptr};
    std::vector<std::string> Events;

    // The peer answers with the server's script, or with one of the test's own around it.
    void Start(PeerScript script = {}) {
        Peer = std::make_unique<ScriptedPeer>(script ? std::move(script) : Server.Script());
        Client.SetHost("127.0.0.1");
        Client.SetPort(Peer->ListenPort());
        Client.SetReceiveTimeout(2000);
        Client.OnWorkBegin = [this](TObject*, TWorkMode mode, int32_t max) {
            Events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
        };
        Client.OnWork = [this](TObject*, TWorkMode mode, int32_t count) {
            Events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
        };
        Client.OnWorkEnd = [this](TObject*, TWorkMode mode) {
            Events.push_back("end " + std::to_string(mode));
        };
    }

    // The data packets the peer received on its transfer socket.
    std::vector<std::string> DataPackets() const {
        std::vector<std::string> packets;
        for (const PeerDatagram& d : Peer->ReceivedOn(PeerSocket::Transfer)) {
            packets.push_back(d.Bytes);
        }
        return packets;
    }

    // The block numbers of the data packets, in the order they came.
    std::vector<uint16_t> Blocks() const {
        std::vector<uint16_t> numbers;
        for (const std::string& p : DataPackets()) {
            numbers.push_back(BlockOf(p));
        }
        return numbers;
    }

    // The copies of block number that the peer received.
    std::vector<PeerDatagram> CopiesOf(uint16_t number) const {
        std::vector<PeerDatagram> copies;
        for (const PeerDatagram& d : Peer->ReceivedOn(PeerSocket::Transfer)) {
            if (BlockOf(d.Bytes) == number) {
                copies.push_back(d);
            }
        }
        return copies;
    }
};

using std::chrono::milliseconds;
// A wait measured by the peer may end a little before the client's own clock said (the two read
// the clock at different points); a few milliseconds cover that. On Windows the peer's wake-up
// may lag by a tick of the system's timer (15.6 ms), under Wine by a trip through its server.
#if defined(_WIN32)
constexpr milliseconds Slack{20};
#else
constexpr milliseconds Slack{5};
#endif
// What a loaded machine may add to a wait.
constexpr milliseconds Margin{400};

milliseconds Between(std::chrono::steady_clock::time_point from,
                     std::chrono::steady_clock::time_point to) {
    return std::chrono::duration_cast<milliseconds>(to - from);
}

// Each copy of a block after the first comes from the retransmission timer: no sooner than its
// floor after the one before, and all copies are the same packet.
void ExpectTimerResends(const std::vector<PeerDatagram>& copies) {
    for (size_t i = 1; i < copies.size(); ++i) {
        EXPECT_GE(Between(copies[i - 1].At, copies[i].At), TFTPMinRetransmitTime - Slack) << i;
        EXPECT_EQ(copies[i].Bytes, copies[0].Bytes) << i;
    }
}

// What an upload ends with: "ok", or the exception's class and message.
template <class E>
bool Raises(const std::function<void()>& run, const std::string& message) {
    try {
        run();
    } catch (const E& e) {
        EXPECT_EQ(e.Message(), message);
        return true;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
        return false;
    }
    ADD_FAILURE() << "nothing raised";
    return false;
}

// Uploads source: true when the upload succeeds, false when it ends in "Timeout".
// The work events of a successful upload of size bytes in blocks of blockSize.
std::vector<std::string> EventsOf(int32_t size, int32_t blockSize) {
    std::vector<std::string> events = {"begin 1 " + std::to_string(size)};
    int32_t sent = 0;
    for (;;) {
        const int32_t n = std::min(blockSize, size - sent);
        sent += n;
        events.push_back("work 1 " + std::to_string(sent));
        if (n < blockSize) {
            break;
        }
    }
    events.push_back("end 1");
    return events;
}

TEST(Upload, ExchangeOnTheWire) {
    const struct {
        size_t Size;
        int32_t Offered; // 0: the server ignores the option and acknowledges block 0
        TIdTFTPMode Mode;
        bool TsizeFirst = false; // the option acknowledgement names "tsize" before "blksize"
    } cases[] = {
        {0, 0, tfOctet},       {1, 0, tfOctet},
        {511, 0, tfOctet},     {512, 0, tfOctet},
        {513, 0, tfOctet},     {3000, 0, tfOctet},
        {0, 1024, tfOctet},    {1000, 1500, tfOctet},
        {1024, 1024, tfOctet}, {3000, 1024, tfOctet},
        {2048, 2048, tfOctet}, {3000, 0, tfNetAscii},
        {700, 8, tfOctet},     {3000, 1024, tfOctet, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.Size) + " offered " + std::to_string(c.Offered) +
                     " mode " + std::to_string(c.Mode));
        Upload u;
        u.Server.Open =
            c.Offered == 0 ? WriteServer::Opening::Ack0 : WriteServer::Opening::OptionAck;
        u.Server.OfferedBlockSize = c.Offered;
        if (c.TsizeFirst) {
            u.Server.OpeningPacket = OptionAckPacket(
                {{"tsize", std::to_string(c.Size)}, {"blksize", std::to_string(c.Offered)}});
        }
        u.Start();
        u.Client.SetTransferMode(c.Mode);
        // CR LF pairs go out as they are, in both modes.
        std::string bytes = Pattern(c.Size);
        for (size_t i = 0; i + 1 < bytes.size(); i += 40) {
            bytes[i] = '\r';
            bytes[i + 1] = '\n';
        }
        TMemoryStream source(bytes);
        u.Client.UploadStream(source, "/");
        u.Peer->Stop();

        const int32_t blockSize = c.Offered == 0 ? 512 : c.Offered;
        // The request: once, to the listening port, byte for byte.
        const auto requests = u.Peer->ReceivedOn(PeerSocket::Listen);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Bytes,
                  "\0\2/\0"s + (c.Mode == tfOctet ? "octet" : "netascii") + "\0blksize\0001500\0"s);
        // The data: to the new port, from the request's socket, blocks 1, 2, ... in order.
        const auto data = u.Peer->ReceivedOn(PeerSocket::Transfer);
        const size_t blocks = c.Size / static_cast<size_t>(blockSize) + 1;
        ASSERT_EQ(data.size(), blocks);
        std::string joined;
        for (size_t i = 0; i < data.size(); ++i) {
            const std::string& p = data[i].Bytes;
            ASSERT_GE(p.size(), 4u);
            EXPECT_EQ(p.substr(0, 2), "\0\3"s);
            EXPECT_EQ(BlockOf(p), i + 1);
            EXPECT_EQ(data[i].FromPort, requests[0].FromPort);
            const size_t expected =
                i + 1 < blocks ? static_cast<size_t>(blockSize) : c.Size % blockSize;
            EXPECT_EQ(p.size() - 4, expected) << "block " << i + 1;
            joined += p.substr(4);
        }
        EXPECT_EQ(joined, bytes);
        EXPECT_EQ(u.Server.File(), bytes);
        EXPECT_EQ(u.Events, EventsOf(static_cast<int32_t>(c.Size), blockSize));
        EXPECT_EQ(u.Client.BufferSize(), blockSize + 4);
        EXPECT_FALSE(u.Client.Active());
        EXPECT_EQ(u.Client.TransferPeerIP(), "127.0.0.1");
        EXPECT_EQ(u.Client.TransferPeerPort(), u.Peer->TransferPort());
        EXPECT_EQ(u.Peer->ReceivedOn(PeerSocket::Stranger).size(), 0u);
    }
}

TEST(Upload, FirstAnswerDecidesTheFirstBlock) {
    const struct {
        const char* Name;
        std::string Opening;
        uint16_t FirstBlock;
        int32_t BufferSize;
    } cases[] = {
        {"ack 0", AckPacket(0), 1, 516},
        {"ack 41", AckPacket(41), 42, 516},
        {"ack 65535", AckPacket(65535), 0, 516},
        {"short ack", "\0\4\0"s, 1, 516},
        {"ack of opcode only", "\0\4"s, 1, 516},
        {"option ack of another option", OptionAckPacket({{"tsize", "100"}}), 1, 516},
        {"unknown opcode", "\0\11whatever"s, 1, 516},
        {"a data packet", "\0\3\0\1abc"s, 1, 516},
        {"a single byte", "\7"s, 1, 516},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Upload u;
        u.Server.OpeningPacket = c.Opening;
        u.Start();
        TMemoryStream source(Pattern(100));
        u.Client.UploadStream(source, "/");
        u.Peer->Stop();
        const auto data = u.DataPackets();
        ASSERT_EQ(data.size(), 1u);
        EXPECT_EQ(BlockOf(data[0]), c.FirstBlock);
        EXPECT_EQ(data[0].substr(4), Pattern(100));
        EXPECT_EQ(u.Client.BufferSize(), c.BufferSize);
    }
}

TEST(Upload, DuplicatedAnswersDrawNoSend) {
    // The device sends every answer twice. The second copy is a duplicate and is not answered
    // (RFC 1123 section 4.2.3.1), so each block goes out once; a block goes again only when the
    // retransmission timer says so.
    Upload u;
    u.Server.Copies = 2;
    u.Start();
    const std::string bytes = Pattern(20000);
    TMemoryStream source(bytes);
    u.Client.UploadStream(source, "/");
    u.Peer->Stop();
    std::vector<uint16_t> distinct;
    for (uint16_t n : u.Blocks()) {
        if (distinct.empty() || distinct.back() != n) {
            distinct.push_back(n);
        }
        ExpectTimerResends(u.CopiesOf(n));
    }
    std::vector<uint16_t> expected(40);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(distinct, expected);
    EXPECT_EQ(u.Server.File(), bytes);
    EXPECT_EQ(u.Events, EventsOf(20000, 512));
}

TEST(Upload, OnTheWireTheDevicesAnswersDecideHowTheUploadEnds) {
    // One case of each rule that decides the end, on the wire with short times (the rules
    // themselves are checked on a virtual clock): the final block's silence is a success only
    // when the device did not show that it lacks the block; a receiver that acknowledges again
    // only on its own timer is waited for; a silent device is given up; a slow one gets each
    // block once.
    const struct {
        const char* Name;
        size_t Size;                 // of the image, in blocks of 512: 1100 ends with block 3
        uint16_t Block;              // the block whose first copy is answered otherwise
        std::vector<PeerSend> Sends; // the answers to it
        bool Ok;
        int Delay = 0; // every answer of the device this late
    } cases[] = {
        {"final block answered by the block before",
         1100,
         3,
         {{PeerSocket::Transfer, AckPacket(2), 0}},
         false},
        {"final block answered by block 0",
         1100,
         3,
         {{PeerSocket::Transfer, AckPacket(0), 0}},
         false},
        {"final block stored, then silence", 1100, 3, {}, true},
        {"acknowledged again on the receiver's timer",
         1100,
         2,
         {{PeerSocket::Transfer, AckPacket(2), 250}},
         true},
        {"silence in mid-transfer", 1100, 2, {}, false},
        {"every answer 30 ms late", 1100, 0, {}, true, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Upload u;
        const uint16_t block = c.Block;
        const auto sends = c.Sends;
        u.Server.OnData = [block,
                           sends](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
            if (e.Block != block) {
                return std::nullopt;
            }
            return e.Repeat ? std::vector<PeerSend>{} : sends;
        };
        const int delay = c.Delay;
        u.Start([&u, delay](const PeerDatagram& d) {
            std::vector<PeerSend> answers = u.Server.Script()(d);
            for (PeerSend& answer : answers) {
                answer.DelayMs += delay;
            }
            return answers;
        });
        u.Client.SetReceiveTimeout(50);
        u.Client.SetGiveUpTime(
            c.Name == std::string("acknowledged again on the receiver's timer") ? 400 : 80);
        TMemoryStream source(Pattern(c.Size));
        bool ok = true;
        try {
            u.Client.UploadStream(source, "/");
        } catch (const EIdTFTPException& e) {
            EXPECT_EQ(e.Message(), "Timeout");
            ok = false;
        }
        u.Peer->Stop();
        EXPECT_EQ(ok, c.Ok);
        if (c.Ok) {
            EXPECT_EQ(u.Server.File(), Pattern(c.Size));
        }
        if (c.Delay > 0) {
            EXPECT_EQ(u.Blocks(), (std::vector<uint16_t>{1, 2, 3})) << "each block once";
        }
    }
}

TEST(Upload, FailuresEndTheUpload) {
    const struct {
        const char* Name;
        WriteServer::Opening Open;
        std::string OpeningPacket;
        int ErrorAt; // data packet that the answer replaces, 0: none
        std::string Answer;
        std::string Class;
        std::string Message;
        size_t DataSent;
        int32_t PacketCode; // ErrorPacketCode afterwards
    } cases[] = {
        {"error at block 7", WriteServer::Opening::Ack0, "", 7,
         ErrorPacket(2, "Access denied by device"), "AccessViolation", "Access denied by device", 7,
         2},
        {"error to the request", WriteServer::Opening::Error, ErrorPacket(1, "No such file"), 0, "",
         "FileNotFound", "No such file", 0, 1},
        {"error without text", WriteServer::Opening::Ack0, "", 2, "\0\5\0\3"s, "AllocationExceeded",
         "", 2, 3},
        {"zero bytes", WriteServer::Opening::Ack0, "", 2, "", "ZeroBytes", "UDP Receive Error = 0.",
         2, -1},
        {"too long for the buffer", WriteServer::Opening::Ack0, "", 3,
         AckPacket(3) + std::string(600, 'x'), "SocketError 10040", "", 3, -1},
        {"block size 0", WriteServer::Opening::OptionAck, OptionAckPacket({{"blksize", "0"}}), 0,
         "", "OptionNegotiation",
         "Block size 0 refused by the client: it must lie between 1 and 65464", 0, -1},
        {"block size 65465", WriteServer::Opening::OptionAck,
         OptionAckPacket({{"blksize", "65465"}}), 0, "", "OptionNegotiation",
         "Block size 65465 refused by the client: it must lie between 1 and 65464", 0, -1},
        {"block size garbage", WriteServer::Opening::OptionAck,
         OptionAckPacket({{"blksize", "lots"}}), 0, "", "Convert",
         "'lots' is not a valid integer value", 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Upload u;
        u.Server.Open = c.Open;
        u.Server.OpeningPacket = c.OpeningPacket;
        const int errorAt = c.ErrorAt;
        const std::string answer = c.Answer;
        u.Server.OnData = [errorAt,
                           answer](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
            if (e.Index == errorAt) {
                return std::vector<PeerSend>{{PeerSocket::Transfer, answer, 0}};
            }
            return std::nullopt;
        };
        u.Start();
        TMemoryStream source(Pattern(5000));
        std::string raised;
        std::string message;
        try {
            u.Client.UploadStream(source, "/");
        } catch (const EIdTFTPAccessViolation& e) {
            raised = "AccessViolation", message = e.Message();
        } catch (const EIdTFTPFileNotFound& e) {
            raised = "FileNotFound", message = e.Message();
        } catch (const EIdTFTPAllocationExceeded& e) {
            raised = "AllocationExceeded", message = e.Message();
        } catch (const EIdTFTPOptionNegotiationFailed& e) {
            raised = "OptionNegotiation", message = e.Message();
        } catch (const EIdUDPReceiveErrorZeroBytes& e) {
            raised = "ZeroBytes", message = e.Message();
        } catch (const EConvertError& e) {
            raised = "Convert", message = e.Message();
        } catch (const EIdSocketError& e) {
            raised = "SocketError " + std::to_string(e.ErrorCode());
        }
        u.Peer->Stop();
        EXPECT_EQ(raised, c.Class);
        EXPECT_EQ(message, c.Message);
        EXPECT_EQ(u.Client.ErrorPacketCode(), c.PacketCode);
        // Nothing was sent after the failure: neither data nor an error packet.
        const auto data = u.DataPackets();
        EXPECT_EQ(data.size(), c.DataSent);
        EXPECT_EQ(u.Peer->ReceivedOn(PeerSocket::Listen).size(), 1u);
        ASSERT_FALSE(u.Events.empty());
        EXPECT_EQ(u.Events.front(), "begin 1 5000");
        EXPECT_EQ(u.Events.back(), "end 1");
        EXPECT_EQ(std::count(u.Events.begin(), u.Events.end(), "end 1"), 1);
        EXPECT_EQ(u.Events.size(), c.DataSent + 2);
        EXPECT_FALSE(u.Client.Active());
    }
}

TEST(Upload, NoAnswerIsATimeoutAfterOneRequest) {
    Upload u;
    u.Server.Open = WriteServer::Opening::Silent;
    u.Start();
    u.Client.SetReceiveTimeout(100);
    StackSpy spy;
    TMemoryStream source(Pattern(10));
    const auto started = std::chrono::steady_clock::now();
    try {
        u.Client.UploadStream(source, "/");
        ADD_FAILURE() << "nothing raised";
    } catch (const EIdTFTPException& e) {
        EXPECT_EQ(typeid(e), typeid(EIdTFTPException));
        EXPECT_EQ(e.Message(), "Timeout");
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    u.Peer->Stop();
    EXPECT_GE(waited, std::chrono::milliseconds(95)) << "one full ReceiveTimeout";
    // One wait for what is left of the time after the request went out (a loaded system or Wine
    // takes a few milliseconds to send it); a system that wakes it a little early waits out the
    // rest in short waits.
    ASSERT_FALSE(spy->SelectTimeouts.empty());
    EXPECT_LE(spy->SelectTimeouts.front(), 100);
    EXPECT_GE(spy->SelectTimeouts.front(), 50);
    for (size_t i = 1; i < spy->SelectTimeouts.size(); ++i) {
        EXPECT_LE(spy->SelectTimeouts[i], 20) << i;
    }
    EXPECT_EQ(u.Peer->Received().size(), 1u) << "the request, once";
    EXPECT_EQ(u.Events, (std::vector<std::string>{"begin 1 10", "end 1"}));
    EXPECT_FALSE(u.Client.Active());
    EXPECT_EQ(spy->Shutdowns, std::vector<int32_t>{1});
    EXPECT_EQ(spy->Closes.size(), 1u);
    EXPECT_EQ(u.Client.TransferPeerIP(), "");
    EXPECT_EQ(u.Client.TransferPeerPort(), 0);
}

// The error packets that the peer's socket received, each of them "Unknown transfer ID".
size_t UnknownTransferAnswers(const std::vector<PeerDatagram>& received) {
    for (const PeerDatagram& d : received) {
        EXPECT_EQ(d.Bytes, ErrorPacket(5, "Unknown transfer ID"));
    }
    return received.size();
}

TEST(Upload, StrangersAreIgnoredAndAnotherPortOfTheDeviceIsToldItIsUnknown) {
    Upload u;
    u.Server.OnData = [](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
        if (e.Index != 3) {
            return std::nullopt;
        }
        // Before the peer's own acknowledgement: everything that would derail the upload, from
        // another port and from another address.
        std::vector<PeerSend> sends;
        for (PeerSocket via : {PeerSocket::Stranger, PeerSocket::StrangerAddress}) {
            sends.push_back({via, AckPacket(2), 0});
            sends.push_back({via, AckPacket(3), 0});
            sends.push_back({via, AckPacket(9), 0});
            sends.push_back({via, ErrorPacket(2, "hijacked"), 0});
            sends.push_back({via, OptionAckPacket({{"blksize", "8"}}), 0});
            sends.push_back({via, OptionAckPacket({{"blksize", "0"}}), 0});
            sends.push_back({via, "", 0});
            sends.push_back({via, AckPacket(3) + std::string(2000, 'x'), 0}); // too long
        }
        sends.push_back({PeerSocket::Transfer, AckPacket(3), 40});
        return sends;
    };
    u.Start();
    const std::string bytes = Pattern(3000);
    TMemoryStream source(bytes);
    u.Client.UploadStream(source, "/");
    u.Peer->Stop();
    // Block 3 may go again while its acknowledgement is on its way; none is skipped.
    std::vector<uint16_t> numbers;
    for (const std::string& p : u.DataPackets()) {
        if (numbers.empty() || numbers.back() != BlockOf(p)) {
            numbers.push_back(BlockOf(p));
        }
    }
    EXPECT_EQ(numbers, (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(u.Server.File(), bytes);
    EXPECT_EQ(u.Events, EventsOf(3000, 512));
    EXPECT_EQ(u.Client.BufferSize(), 516);
    EXPECT_EQ(u.Client.TransferPeerPort(), u.Peer->TransferPort());
    // RFC 1350 section 4: the device's other port is told, for each of its packets but the error
    // packet, the empty datagram and the one too long to read; another address never.
    EXPECT_EQ(UnknownTransferAnswers(u.Peer->ReceivedOn(PeerSocket::Stranger)), 5u);
    EXPECT_EQ(u.Peer->ReceivedOn(PeerSocket::StrangerAddress).size(), 0u);
}

TEST(Upload, AbortFlagEndsEvenALongWait) {
    // The device never answers and the waits are long: the flag, set from another thread, ends
    // the upload within a piece of the wait, with its work scope and its socket closed.
    for (const bool requestWait : {false, true}) {
        SCOPED_TRACE(requestWait ? "waiting without limit for a device" : "ReceiveTimeout");
        Upload u;
        u.Server.Open = WriteServer::Opening::Silent;
        u.Start();
        u.Client.SetReceiveTimeout(20000);
        u.Client.SetRequestWait(requestWait ? NoTimeLimit : 0);
        std::atomic<bool> abort{false};
        u.Client.SetAbortFlag(&abort);
        TMemoryStream source(Pattern(5000));
        std::thread setter([&abort] {
            std::this_thread::sleep_for(milliseconds(100));
            abort = true;
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(
            Raises<EIdTFTPAborted>([&] { u.Client.UploadStream(source, "/"); }, "Upload aborted"));
        const auto ended = std::chrono::steady_clock::now();
        setter.join();
        u.Peer->Stop();
        EXPECT_LT(Between(started, ended), milliseconds(100 + TFTPAbortPollTime) + Margin);
        EXPECT_EQ(u.Events, (std::vector<std::string>{"begin 1 5000", "end 1"}));
        EXPECT_FALSE(u.Client.Active());
        // A flag already set sends nothing at all.
        TMemoryStream again(Pattern(10));
        EXPECT_THROW(u.Client.UploadStream(again, "/"), EIdTFTPAborted);
        EXPECT_EQ(u.Peer->ReceivedOn(PeerSocket::Listen).size(), 1u) << "the first request only";
    }
}

TEST(Upload, FailedReceives) {
    // Windows reports an ICMP "port unreachable" for an earlier datagram as WSAECONNRESET on a
    // later receive: it is dropped like a stranger's datagram. Any other failure ends the upload.
    for (const int32_t error : {10054, 10050}) {
        SCOPED_TRACE(error);
        Upload u;
        u.Start();
        StackSpy spy;
        spy->ReceiveFailures = {error};
        const std::string bytes = Pattern(1000);
        TMemoryStream source(bytes);
        int32_t raised = 0;
        try {
            u.Client.UploadStream(source, "/");
        } catch (const EIdSocketError& e) {
            raised = e.ErrorCode();
        }
        u.Peer->Stop();
        EXPECT_EQ(raised, error == 10054 ? 0 : error);
        EXPECT_EQ(u.Server.File(), error == 10054 ? bytes : "");
    }
}

#if defined(_WIN32)

// The library's own receive, failing on the calls named with WSAECONNRESET, as Windows reports
// an ICMP "port unreachable" that an earlier datagram drew; the datagram waiting stays queued.
decltype(&::recvfrom) RealRecvFrom = nullptr;
decltype(&::WSASetLastError) RealSetLastError = nullptr;
std::vector<int> ResetCalls;
int ReceiveCalls = 0;

int WINAPI ResettingRecvFrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from,
                             int* fromLength) {
    if (std::find(ResetCalls.begin(), ResetCalls.end(), ++ReceiveCalls) != ResetCalls.end()) {
        RealSetLastError(WSAECONNRESET);
        return SOCKET_ERROR;
    }
    return RealRecvFrom(socket, buffer, length, flags, from, fromLength);
}

// The system's module calls, with the library's receive replaced by ResettingRecvFrom.
class TResettingModuleCalls : public TIdModuleCalls {
public:
    void* Load(const char* name) override { return SystemModuleCalls().Load(name); }
    void* EntryPoint(void* library, const char* name) override {
        void* const real = SystemModuleCalls().EntryPoint(library, name);
        if (std::string(name) != "recvfrom") {
            return real;
        }
        RealRecvFrom = reinterpret_cast<decltype(RealRecvFrom)>(real);
        RealSetLastError = reinterpret_cast<decltype(RealSetLastError)>(
            SystemModuleCalls().EntryPoint(library, "WSASetLastError"));
        return reinterpret_cast<void*>(&ResettingRecvFrom);
    }
    void Release(void* library) override { SystemModuleCalls().Release(library); }
};

// The reset reaches the engine through the binding's own error path (WSAGetLastError), before
// the first answer and in mid-transfer, and draws no send: each block goes once.
TEST(Upload, AResetThatWinsockReportsOnAReceiveIsPassedOverLikeAStranger) {
    ASSERT_EQ(GlobalStack, nullptr) << "the stack must be built with the receive replaced";
    TResettingModuleCalls calls;
    const TSeamOverride<TIdModuleCalls> inUse(ModuleCalls, calls);
    ResetCalls = {1, 3};
    ReceiveCalls = 0;
    Upload u;
    u.Start();
    const std::string bytes = Pattern(1000);
    TMemoryStream source(bytes);
    u.Client.UploadStream(source, "/");
    u.Peer->Stop();
    EXPECT_EQ(ReceiveCalls, 5) << "the answers to the request and to blocks 1 and 2, two resets";
    EXPECT_EQ(u.Server.File(), bytes);
    EXPECT_EQ(u.Blocks(), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(u.Peer->ReceivedOn(PeerSocket::Listen).size(), 1u);
}

#endif

TEST(Upload, ReadsTheRestOfTheStream) {
    Upload u;
    u.Start();
    const std::string bytes = Pattern(3000);
    TMemoryStream source(bytes);
    source.SetPosition(1000);
    u.Client.UploadStream(source, "/");
    u.Peer->Stop();
    EXPECT_EQ(u.Server.File(), bytes.substr(1000));
    EXPECT_EQ(u.Events.front(), "begin 1 2000");
    EXPECT_EQ(source.Position(), 3000);
}

// A stream that claims 100 bytes more than it holds.
class TLyingStream : public TStream {
public:
    explicit TLyingStream(std::string bytes) : FBytes(std::move(bytes)) {}
    int64_t Size() const override { return static_cast<int64_t>(FBytes.size()) + 100; }
    int64_t Position() const override { return FPosition; }
    void SetPosition(int64_t position) override { FPosition = position; }
    size_t Read(void* buffer, size_t count) override {
        const size_t left = FBytes.size() - static_cast<size_t>(FPosition);
        const size_t n = std::min(count, left);
        std::memcpy(buffer, FBytes.data() + FPosition, n);
        FPosition += static_cast<int64_t>(n);
        return n;
    }

private:
    std::string FBytes;
    int64_t FPosition = 0;
};

TEST(Upload, ShortSourceIsAReadError) {
    Upload u;
    u.Start();
    TLyingStream source(Pattern(3000));
    EXPECT_TRUE(
        Raises<EReadError>([&] { u.Client.UploadStream(source, "/"); }, "Stream read error"));
    u.Peer->Stop();
    EXPECT_EQ(u.DataPackets().size(), 5u) << "blocks 1 to 5 went out, block 6 could not be read";
    EXPECT_EQ(u.Events.front(), "begin 1 3100");
    EXPECT_EQ(u.Events.back(), "end 1");
    EXPECT_FALSE(u.Client.Active());
}

TEST(Upload, HandlerExceptions) {
    const struct {
        const char* Name;
        bool WorkThrows;
        bool EndThrows;
        bool Silent; // the server never answers: the upload itself fails
        std::string Expected;
    } cases[] = {
        {"work handler", true, false, false, "handler"},
        {"end handler after success", false, true, false, "handler"},
        {"end handler while failing", false, true, true, "Timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Upload u;
        if (c.Silent) {
            u.Server.Open = WriteServer::Opening::Silent;
        }
        u.Start();
        u.Client.SetReceiveTimeout(60);
        int ends = 0;
        if (c.WorkThrows) {
            u.Client.OnWork = [](TObject*, TWorkMode, int32_t) {
                throw std::runtime_error("handler");
            };
            u.Client.OnWorkEnd = [&ends](TObject*, TWorkMode) { ++ends; };
        }
        if (c.EndThrows) {
            u.Client.OnWorkEnd = [&ends](TObject*, TWorkMode) {
                ++ends;
                throw std::runtime_error("handler");
            };
        }
        TMemoryStream source(Pattern(100));
        std::string message;
        try {
            u.Client.UploadStream(source, "/");
        } catch (const std::exception& e) {
            message = e.what();
        }
        u.Peer->Stop();
        EXPECT_EQ(message, c.Expected);
        EXPECT_EQ(ends, 1);
        EXPECT_FALSE(u.Client.Active());
        EXPECT_EQ(u.Client.WorkProgress(WorkModeWrite).Level, c.EndThrows ? 1 : 0);
    }
}

TEST(Upload, EachUploadHasItsOwnSocketAndStart) {
    TIdTrivialFTP client(nullptr);
    StackSpy spy;
    const struct {
        int32_t Offered;
        int32_t BufferSize;
    } rounds[] = {{1024, 1028}, {0, 516}};
    std::vector<uint16_t> ports;
    for (const auto& r : rounds) {
        WriteServer server;
        server.Open = r.Offered == 0 ? WriteServer::Opening::Ack0 : WriteServer::Opening::OptionAck;
        server.OfferedBlockSize = r.Offered;
        ScriptedPeer peer(server.Script());
        client.SetHost("127.0.0.1");
        client.SetPort(peer.ListenPort());
        const std::string bytes = Pattern(2000);
        TMemoryStream source(bytes);
        client.UploadStream(source, "/");
        peer.Stop();
        EXPECT_EQ(server.File(), bytes);
        EXPECT_EQ(client.BufferSize(), r.BufferSize);
        EXPECT_FALSE(client.Active());
        ports.push_back(peer.Received().front().FromPort);
        for (const PeerDatagram& d : peer.Received()) {
            EXPECT_EQ(d.FromPort, ports.back());
        }
    }
    EXPECT_EQ(spy->Creates, 2);
    EXPECT_EQ(spy->Closes.size(), 2u);
    EXPECT_NE(ports[0], ports[1]);
}

// A file in the temporary folder, removed at the end of the test.
struct TempFile {
    std::filesystem::path Path;
    explicit TempFile(const std::string& bytes) {
        Path = std::filesystem::temp_directory_path() /
               ("zeb40-upload-" + std::to_string(::getpid()) + "-" +
                std::to_string(reinterpret_cast<uintptr_t>(this)) + ".bin");
        std::ofstream(Path, std::ios::binary) << bytes;
    }
    ~TempFile() { std::filesystem::remove(Path); }
};

TEST(Upload, UploadFileSendsTheWholeFileAndClosesIt) {
    const struct {
        const char* Name;
        bool Answer;
    } cases[] = {{"success", true}, {"timeout", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Upload u;
        if (!c.Answer) {
            u.Server.Open = WriteServer::Opening::Silent;
        }
        u.Start();
        u.Client.SetReceiveTimeout(60);
        const std::string bytes = Pattern(1500);
        const TempFile file(bytes);
        if (c.Answer) {
            u.Client.UploadFile(file.Path.string(), "/");
        } else {
            EXPECT_THROW(u.Client.UploadFile(file.Path.string(), "/"), EIdTFTPException);
        }
        u.Peer->Stop();
        if (c.Answer) {
            EXPECT_EQ(u.Server.File(), bytes);
        }
        // The file is no longer held: an exclusive opener gets it.
        EXPECT_NO_THROW(TFileStream again(file.Path.string()));
    }
}

TEST(Upload, UploadFileThatCannotBeOpened) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    const std::string names[] = {"", folder, folder + "/zeb40-no-such-file.bin",
                                 "/zeb40-no-such-folder/image.bin"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Upload u;
        u.Start();
        StackSpy spy;
        EXPECT_TRUE(Raises<EFOpenError>([&] { u.Client.UploadFile(name, "/"); },
                                        "Cannot open file " + name));
        u.Peer->Stop();
        EXPECT_TRUE(u.Events.empty());
        EXPECT_TRUE(u.Peer->Received().empty());
        EXPECT_EQ(spy->Creates, 0);
    }
}

TEST(Upload, HeldFileCannotBeUploaded) {
    Upload u;
    u.Start();
    const TempFile file(Pattern(10));
    const TFileStream holder(file.Path.string());
    EXPECT_THROW(u.Client.UploadFile(file.Path.string(), "/"), EFOpenError);
    u.Peer->Stop();
    EXPECT_TRUE(u.Events.empty());
    EXPECT_TRUE(u.Peer->Received().empty());
}

} // namespace
