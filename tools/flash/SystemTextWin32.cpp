#include "SystemTextWin32.h"

#include <string_view>

std::string SystemText(DWORD error) {
    char text[512];
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, text, sizeof text, nullptr);
    while (length > 0 && std::string_view("\r\n. ").find(text[length - 1]) != std::string::npos) {
        --length;
    }
    return length > 0 ? std::string(text, length) : "system error " + std::to_string(error);
}
