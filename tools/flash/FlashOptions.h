// The command line of zeb40-flash: zeb40-flash [options] HOST [HOST ...] FILE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Transfers that run at once at most, and the default of --jobs.
inline constexpr int32_t MaxJobs = 64;

struct TFlashOptions {
    std::vector<std::string> Hosts; // HOST, HOST:PORT or @LIST, as given
    std::string File;
    int32_t Port = 69;
    std::string Remote = "/";
    int32_t BlockSize = 1500; // the RequestedBlockSize offered with "blksize"
    int32_t TimeoutMs = 4000;
    int32_t Jobs = MaxJobs;
    int32_t WaitSeconds = 0; // 0: the request is sent once
    // --station: unit after unit at the one HOST, until Ctrl-C or Count units are sent (0: no
    // limit), each unit's record appended to LogFile when one is named.
    bool Station = false;
    int32_t Count = 0;
    std::string LogFile;
    bool AllowEmpty = false;
    bool Json = false;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

// Parses the arguments after the program name; EUsageError for a bad one, or for options that
// do not go together. With --help or
// --version the positional arguments may be missing.
TFlashOptions ParseFlashArgs(const std::vector<std::string>& args);

extern const char* const FlashUsage;
