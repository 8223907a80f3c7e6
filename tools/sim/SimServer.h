// The TFTP write server of zeb40-sim (RFC 1350, options of RFC 2347 and 2348), built on the
// socket layer's GlobalStack. One transfer at a time; every protocol event and every fault applied
// is one line of the log, in a fixed format that tests read.
#pragma once

#include "FaultDice.h"
#include "Sha256.h"
#include "SimOptions.h"
#include "net/IdStack.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

class TSimServer {
public:
    // stop is polled at least every 100 ms; when it becomes non-zero the server ends its work.
    TSimServer(const TSimOptions& options, std::ostream& log,
               const volatile std::sig_atomic_t& stop);
    ~TSimServer();
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Creates and binds the listening socket (raises the socket layer's exceptions) and logs
    // "listening ADDR:PORT" with the port actually bound.
    void Open();
    int32_t BoundPort() const { return FBoundPort; }
    // Serves requests until stopped, or until one upload has ended with --once. The exit status:
    // 0, or with --once 1 when that upload was not stored.
    int Run();

private:
    using TClock = std::chrono::steady_clock;
    enum class TStep { Continue, Stored, Abandoned };

    struct TTransfer {
        TSocketId Socket = InvalidSocketId;
        std::string PeerIP;
        int32_t PeerPort = 0;
        std::string Name;      // safe name inside the folder
        std::string TempPath;  // partial file
        std::string FinalPath; // image once complete
        int32_t BlockSize = 512;
        uint16_t Expected = 1;
        uint64_t Received = 0; // data blocks taken, not wrapped
        uint64_t Bytes = 0;
        std::ofstream File;
        TSha256 Hash;
        uint64_t DataPackets = 0; // DATA datagrams of the peer, before any fault is applied
        std::string Last;         // the packet resent on a time-out or a duplicate
        int Tries = 0;
        TClock::time_point Deadline;
    };

    void Log(const std::string& line);
    // One datagram within waitMs; false on a time-out or a stop.
    bool Receive(TSocketId socket, int32_t waitMs, std::string& packet, std::string& ip,
                 int32_t& port);
    void SendRaw(TSocketId socket, const std::string& ip, int32_t port, const std::string& packet);
    // A send of the transfer: delayed, and dropped or duplicated by chance.
    void SendFaulty(TSocketId socket, const std::string& ip, int32_t port,
                    const std::string& packet);
    void SendError(TSocketId socket, const std::string& ip, int32_t port, uint16_t code,
                   const std::string& text);

    bool Serve(const std::string& request, const std::string& ip, int32_t port);
    TStep RunTransfer(TTransfer& transfer);
    TStep Handle(TTransfer& transfer, const std::string& packet);
    TStep TakeData(TTransfer& transfer, const std::string& packet);
    void Dally(TTransfer& transfer);
    TStep Abandon(TTransfer& transfer, const std::string& reason);

    TSimOptions FOptions;
    std::ostream& FLog;
    const volatile std::sig_atomic_t& FStop;
    TFaultDice FDice;
    TSocketId FListen = InvalidSocketId;
    int32_t FBoundPort = 0;
    std::string FBuffer;
};

// "DATA 5", "ACK 17", "OACK", "ERROR 2", "WRQ", "RRQ", "opcode 9", "empty datagram".
std::string DescribePacket(const std::string& packet);
