// Comparing names regardless of letter case: option names in TFTP packets, "LOCALHOST", section
// and key names of the settings file. Only ASCII letters fold; every other byte compares as it is,
// so no locale can change what matches.
#pragma once

#include <string_view>

inline bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}
