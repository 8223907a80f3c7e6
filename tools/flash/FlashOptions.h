// The command line of zeb40-flash: zeb40-flash [options] HOST FILE.
#pragma once

#include "tftp/IdTrivialFTPBase.h"

#include <cstdint>
#include <string>
#include <vector>

struct TFlashOptions {
    std::string Host;
    std::string File;
    int32_t Port = 69;
    std::string Remote = "/";
    int32_t BlockSize = 1500; // the RequestedBlockSize offered with "blksize"
    int32_t TimeoutMs = 4000;
    TIdTFTPMode Mode = tfOctet;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

// Parses the arguments after the program name; EUsageError for a bad one. With --help or
// --version the positional arguments may be missing.
TFlashOptions ParseFlashArgs(const std::vector<std::string>& args);

extern const char* const FlashUsage;
