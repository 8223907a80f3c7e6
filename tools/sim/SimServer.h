// The TFTP write server of zeb40-sim (RFC 1350, options of RFC 2347 and 2348), built on the
// socket layer's GlobalStack. It listens on one address or several, each one device; every
// request gets a transfer on a thread of its own, so that a transfer its client gave up holds no
// other one back. Every protocol event and every fault applied is one line of the log, in a fixed
// format that tests read; whatever a client sent is escaped in it, so that no client can write a
// line of its own.
#pragma once

#include "FaultDice.h"
#include "Sha256.h"
#include "SimOptions.h"
#include "net/IdStack.h"
#include "tftp/IdTrivialFTPBase.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <list>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

class TSimServer {
public:
    // stop is polled by every thread at least every 100 ms; when it becomes true the server ends
    // its work.
    TSimServer(const TSimOptions& options, std::ostream& log, const std::atomic<bool>& stop);
    ~TSimServer(); // ends and joins every transfer, closes the sockets
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Creates and binds a listening socket per address (raises the socket layer's exceptions),
    // makes the subfolders of several, and logs "listening ADDR:PORT" for each with the port
    // actually bound.
    void Open();
    // Serves requests until stopped, or until one upload has ended with --once. The exit status:
    // 0, or with --once 1 when that upload was not stored.
    int Run();

    // Transfers at once at most; a request beyond them is refused with an error packet.
    static constexpr size_t MaxTransfers = 128;

private:
    using TClock = std::chrono::steady_clock;
    enum class TStep { Continue, Stored, Abandoned };

    // One address: one device.
    struct TListener {
        std::string Address;
        TSocketId Socket = InvalidSocketId;
        int32_t Port = 0;
        std::string Folder; // where its images go
        std::string Prefix; // of its images' names in the log: "" or "ADDR/"
    };

    struct TTransfer {
        // The jitter is drawn apart from the faults, so that --jitter changes none of them.
        explicit TTransfer(uint64_t seed) : Dice(seed), Jitter(TFaultDice::SeedOf(seed, ~0ull)) {}
        TSocketId Socket = InvalidSocketId;
        std::string PeerIP;
        int32_t PeerPort = 0;
        std::string Name;      // in the log: the listener's prefix and the safe name
        std::string TempPath;  // partial file
        std::string FinalPath; // image once complete
        int32_t BlockSize = TFTPDefaultBlockSize;
        uint16_t Expected = 1;
        uint64_t Received = 0; // data blocks taken, not wrapped
        uint64_t Bytes = 0;
        std::ofstream File;
        TSha256 Hash;
        TFaultDice Dice;
        TFaultDice Jitter;
        uint64_t DataPackets = 0; // DATA datagrams of the peer, before any fault is applied
        std::string Last;         // the packet resent on a time-out or a duplicate
        int Tries = 0;
        TClock::time_point Deadline;
        bool DuplicateSeen = false; // since the last acknowledgement, with --reack timer
        std::string Buffer;         // receives
    };

    // A transfer's thread, and whether it has ended (then it can be joined at once).
    struct TWorker {
        std::thread Thread;
        std::atomic<bool> Ended{false};
    };

    void Log(const std::string& line);
    bool Stopping() const { return FStop || FQuit; }
    // One datagram on socket within waitMs into buffer; false on a time-out or a stop.
    bool Receive(TSocketId socket, int32_t waitMs, std::string& buffer, std::string& packet,
                 std::string& ip, int32_t& port);
    void SendRaw(TSocketId socket, const std::string& ip, int32_t port, const std::string& packet);
    // A send of the transfer to its peer: delayed, and dropped or duplicated by chance.
    void SendFaulty(TTransfer& transfer, const std::string& packet);
    void SendError(TSocketId socket, const std::string& ip, int32_t port, uint16_t code,
                   const std::string& text);

    // The request that arrived on a listener: its transfer, here or on a thread of its own.
    void Accept(const TListener& listener, const std::string& request, const std::string& ip,
                int32_t port);
    // Joins the workers that have ended.
    void Reap();
    // Tells every worker to end, and joins them all.
    void EndWorkers();
    // One request, from its datagram to the end of its transfer; true when the image was stored.
    bool Serve(const TListener& listener, const std::string& packet, const std::string& ip,
               int32_t port, uint64_t ordinal);
    // The request read and logged; nothing when it is refused (its sender is told so).
    std::optional<TIdTFTPRequest> TakeRequest(const TListener& listener, const std::string& packet,
                                              const std::string& ip, int32_t port);
    // The transfer's block size agreed from the request's options; the answer that says so.
    std::string Negotiate(TTransfer& transfer, const TIdTFTPOptions& options);
    // Opens the transfer's socket and partial file, sends the answer and runs the transfer to
    // its end; the socket is closed again.
    TStep Start(TTransfer& transfer, const TListener& listener, const std::string& answer);
    void OpenTransferSocket(TTransfer& transfer, const TListener& listener);
    TStep RunTransfer(TTransfer& transfer);
    TStep Handle(TTransfer& transfer, const std::string& packet);
    TStep TakeData(TTransfer& transfer, const std::string& packet);
    // A duplicate of the block acknowledged last: acknowledged again, or left to the timer.
    void AnswerDuplicate(TTransfer& transfer, uint16_t block);
    // The last packet again, when the timer has run out.
    void Retransmit(TTransfer& transfer);
    // When the timer that starts now runs out: --retransmit, and up to --jitter more.
    TClock::time_point TimerEnd(TTransfer& transfer);
    void Dally(TTransfer& transfer);
    TStep Abandon(TTransfer& transfer, const std::string& reason);
    // An upload has ended: with --once, the server ends after it.
    void Ended(bool stored);

    TSimOptions FOptions;
    std::ostream& FLog;
    std::mutex FLogMutex;
    const std::atomic<bool>& FStop;
    std::atomic<bool> FQuit{false};
    std::vector<TListener> FListeners;
    std::string FBuffer;   // the listeners' receives
    uint64_t FOrdinal = 0; // requests accepted
    std::list<TWorker> FWorkers;
    std::mutex FOnceMutex;
    bool FOnceEnded = false;
    bool FOnceStored = false;
};

// "DATA 5", "ACK 17", "OACK", "ERROR 2", "WRQ", "RRQ", "opcode 9", "empty datagram".
std::string DescribePacket(const std::string& packet);

// A field of a client's datagram as the log shows it: printable ASCII as it is, every other byte,
// the blank, '"', '\' and '=' as \xHH, so that a field is one word and never holds a line break.
std::string LogField(const std::string& text);
