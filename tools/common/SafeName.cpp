#include "SafeName.h"

#include "base/TextCase.h"

#include <algorithm>

namespace {

// Windows opens a device for these names, whatever follows their first dot.
bool IsDeviceName(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (SameTextIgnoringCase(stem, device)) {
            return true;
        }
    }
    return stem.size() == 4 && stem[3] >= '0' && stem[3] <= '9' &&
           (SameTextIgnoringCase(stem.substr(0, 3), "COM") ||
            SameTextIgnoringCase(stem.substr(0, 3), "LPT"));
}

} // namespace

std::string SafeImageName(std::string_view remoteName) {
    const size_t slash = remoteName.find_last_of("/\\");
    const std::string_view base =
        slash == std::string_view::npos ? remoteName : remoteName.substr(slash + 1);
    // Nothing, ".", ".." and other names of dots alone carry no name of their own.
    if (base.find_first_not_of('.') == std::string_view::npos) {
        return DefaultImageName;
    }
    std::string name;
    for (const char c : base.substr(0, 200)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == '+';
        const bool leadingDot = c == '.' && name.empty();
        name += plain && !leadingDot ? c : '_';
    }
    if (IsDeviceName(name)) {
        name.insert(0, 1, '_');
        name.resize(std::min<size_t>(name.size(), 200));
    }
    // Windows drops the final dots of a name; the image keeps the name that the log shows.
    for (size_t i = name.size(); i > 0 && name[i - 1] == '.'; --i) {
        name[i - 1] = '_';
    }
    return name;
}
