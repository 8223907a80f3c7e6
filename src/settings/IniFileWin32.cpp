// The settings file on Windows: reading the whole file and the current directory by the kernel's
// calls. A rewrite that respects the file it replaces as TIniFile describes (the read-only
// attribute, the file's security, the replace in one step with ReplaceFile) is not built for
// Windows yet; until it is, every write is refused, so that a file is never harmed.
#include "settings/IniFileSystem.h"

#include <windows.h>

#include <vector>

namespace IniFileSystem {

TReadOutcome ReadWhole(const std::string& name, std::string& text) {
    text.clear();
    HANDLE file = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? TReadOutcome::Missing
                   : TReadOutcome::Failed;
    }
    TReadOutcome outcome = TReadOutcome::Read;
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        outcome = TReadOutcome::Failed;
    }
    char buffer[65536];
    while (outcome == TReadOutcome::Read) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            outcome = TReadOutcome::Failed;
        } else if (got == 0) {
            break;
        } else {
            text.append(buffer, got);
        }
    }
    ::CloseHandle(file);
    return outcome;
}

bool Rewrite(const std::string& /*name*/, const std::function<std::string(std::string)>& /*edit*/) {
    return false;
}

std::optional<std::string> CurrentDirectory() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            return std::nullopt;
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

} // namespace IniFileSystem
