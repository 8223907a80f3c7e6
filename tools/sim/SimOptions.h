// The command line of zeb40-sim: a TFTP write server that behaves like a ZEB40 in recovery mode,
// with the faults a real device shows available as options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TBlockSizeAnswer : uint8_t {
    Accept, // answer "blksize" with an option acknowledgement of the requested size
    Ignore, // acknowledge block 0: the transfer runs with 512-byte blocks
    Cap,    // answer with the requested size, at most BlockSizeCap
};

// How a duplicate of the data block acknowledged last is answered: the client sent it again
// because our acknowledgement was lost or late.
enum class TReackAnswer : uint8_t {
    Duplicate, // at once, with that acknowledgement again
    Timer,     // not at all: the acknowledgement goes again only when our own timer runs out
};

// The most addresses one simulator listens on: one select waits for all of them.
inline constexpr size_t MaxBindAddresses = 64;

// One object per run, so the padding between its members costs nothing.
// NOLINTNEXTLINE(clang-analyzer-optin.performance.Padding)
struct TSimOptions {
    // Each address is one device; with more than one, each stores into a subfolder named after
    // its address.
    std::vector<std::string> BindAddresses{"127.0.0.1"};
    int32_t Port = 69;
    std::string Directory = ".";
    bool Once = false;
    TBlockSizeAnswer BlockSize = TBlockSizeAnswer::Accept;
    int32_t BlockSizeCap = 0;
    bool NoFinalAck = false;
    // Answer the ErrorAtBlock-th data block (counted from 1, not wrapped) with an error packet.
    int64_t ErrorAtBlock = 0; // 0: never
    int32_t ErrorCode = 0;
    std::string ErrorText;
    bool SamePort = false;
    double Loss = 0;
    double Duplicate = 0;
    uint32_t Seed = 1;
    int32_t RetransmitMs = 1000;
    int32_t JitterMs = 0; // up to this much more on each period of that timer
    TReackAnswer Reack = TReackAnswer::Duplicate;
    int32_t Retries = 5;
    int32_t DelayMs = 0;
    bool AnyAddress = false;
    bool Help = false;
    bool Version = false;
};

// Parses the arguments after the program name; EUsageError for a bad one. A bind address
// outside 127.0.0.0/8 without --any-address is a usage error too, and so is one given twice.
TSimOptions ParseSimArgs(const std::vector<std::string>& args);

// True for dotted-quad text of 127.0.0.0/8.
bool IsLoopbackAddress(const std::string& address);

extern const char* const SimUsage;
