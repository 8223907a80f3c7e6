#include "SafeName.h"

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
    return name;
}
