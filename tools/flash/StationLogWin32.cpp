// The log's file calls on Windows.
#include "StationLog.h"
#include "SystemTextWin32.h"

#include <windows.h>

namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle); // NOLINT(performance-no-int-to-ptr): held as integer
}

// The folder of the path, for its drive's free space.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) {
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) + "." : ".";
    }
    return path.substr(0, slash + 1);
}

class TWin32LogFileCalls final : public TLogFileCalls {
public:
    intptr_t Open(const std::string& path, std::string& error) override {
        // Append access alone puts every write at the end; others may read the log meanwhile.
        HANDLE file =
            ::CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            const DWORD attributes = ::GetFileAttributesA(path.c_str());
            error = attributes != INVALID_FILE_ATTRIBUTES &&
                            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                        ? "it is a folder"
                        : SystemText(code);
            return -1;
        }
        if (::GetFileType(file) != FILE_TYPE_DISK) {
            ::CloseHandle(file);
            error = "not a regular file";
            return -1;
        }
        FFolder = FolderOf(path);
        return reinterpret_cast<intptr_t>(file);
    }

    bool EndsLine(intptr_t file) override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(AsHandle(file), &size) || size.QuadPart == 0) {
            return true;
        }
        OVERLAPPED at{};
        const int64_t last = size.QuadPart - 1;
        at.Offset = static_cast<DWORD>(last);
        at.OffsetHigh = static_cast<DWORD>(last >> 32);
        char byte = '\n';
        DWORD got = 0;
        return !::ReadFile(AsHandle(file), &byte, 1, &got, &at) || got != 1 || byte == '\n';
    }

    bool Reserve(intptr_t, int64_t bytes, std::string& error) override {
        ULARGE_INTEGER available{};
        if (!::GetDiskFreeSpaceExA(FFolder.c_str(), &available, nullptr, nullptr)) {
            error = SystemText(::GetLastError());
            return false;
        }
        if (available.QuadPart < static_cast<uint64_t>(bytes)) {
            error = SystemText(ERROR_DISK_FULL);
            return false;
        }
        return true;
    }

    bool Append(intptr_t file, std::string_view bytes, std::string& error) override {
        while (!bytes.empty()) {
            DWORD put = 0;
            if (!::WriteFile(AsHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &put,
                             nullptr) ||
                put == 0) {
                error = SystemText(::GetLastError());
                return false;
            }
            bytes.remove_prefix(put);
        }
        return true;
    }

    bool Sync(intptr_t file, std::string& error) override {
        if (!::FlushFileBuffers(AsHandle(file))) {
            error = SystemText(::GetLastError());
            return false;
        }
        return true;
    }

    void Close(intptr_t file) override { ::CloseHandle(AsHandle(file)); }

private:
    std::string FFolder;
};

} // namespace

TLogFileCalls& SystemLogFileCalls() {
    static TWin32LogFileCalls calls;
    return calls;
}
