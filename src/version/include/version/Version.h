// The version line that every program prints for --version.
#pragma once

#include <string>
#include <string_view>

// "PROGRAM VERSION", followed by " (commit HASH)" when built from a git checkout; the hash ends in
// "-dirty" when tracked files differed from that commit.
std::string VersionLine(std::string_view program);

// The window's usage text, which both its builds print for --help (lines ended by "\n").
extern const char* const UpgradeUsage;
