// Command-line helpers shared by the tools: usage errors, integer option values by the program's
// integer text rule, and a strict decimal fraction for probabilities.
#pragma once

#include "base/Exception.h"

#include <cstdint>
#include <string>
#include <string_view>

// Bad command line: the tools print the message and the usage text and exit with status 64.
class EUsageError : public Exception {
public:
    using Exception::Exception;
};

inline constexpr int ExitUsage = 64;

// The option's value by TextToInt, within lo..hi; EUsageError naming the option otherwise.
int32_t IntOption(std::string_view option, std::string_view value, int32_t lo, int32_t hi);

// A probability written as a decimal fraction ("0", "1", "0.25", ".5"); EUsageError for anything
// else or a value above 1.
double ProbabilityOption(std::string_view option, std::string_view value);

// Splits "--name=value" into name and value; false for an argument without "=".
bool SplitInlineValue(std::string_view argument, std::string& name, std::string& value);
