#include "ToolArgs.h"

#include "base/IntegerText.h"

int32_t IntOption(std::string_view option, std::string_view value, int32_t lo, int32_t hi) {
    int32_t result = 0;
    if (!TryTextToInt(value, result)) {
        throw EUsageError("invalid value '" + std::string(value) + "' for " + std::string(option) +
                          ": not an integer");
    }
    if (result < lo || result > hi) {
        throw EUsageError("invalid value '" + std::string(value) + "' for " + std::string(option) +
                          ": must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
    }
    return result;
}

double ProbabilityOption(std::string_view option, std::string_view value) {
    auto fail = [&]() -> double {
        throw EUsageError("invalid value '" + std::string(value) + "' for " + std::string(option) +
                          ": expected a probability from 0 to 1");
    };
    double whole = 0;
    size_t i = 0;
    bool digits = false;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        whole = whole * 10 + (value[i] - '0');
        digits = true;
        if (whole > 1) {
            return fail();
        }
    }
    double fraction = 0;
    if (i < value.size() && value[i] == '.') {
        ++i;
        double scale = 0.1;
        bool fractionDigits = false;
        for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
            fraction += (value[i] - '0') * scale;
            scale /= 10;
            fractionDigits = true;
        }
        if (!fractionDigits) {
            return fail();
        }
        digits = true;
    }
    if (!digits || i != value.size() || whole + fraction > 1) {
        return fail();
    }
    return whole + fraction;
}

bool SplitInlineValue(std::string_view argument, std::string& name, std::string& value) {
    const size_t eq = argument.find('=');
    if (argument.substr(0, 2) != "--" || eq == std::string_view::npos) {
        return false;
    }
    name = std::string(argument.substr(0, eq));
    value = std::string(argument.substr(eq + 1));
    return true;
}
