// The image file on Windows: CreateFileA shared for reading, GetFileSizeEx and ReadFile at an
// offset. Others may read the file while it is open here (other runs of the tool), but none may
// write, cut or delete it, so the image cannot change under an upload; a file that another
// program is writing, or holds without sharing (the window, while it uploads it), is not opened
// at all, and while it is open here the window cannot open it either.
#include "ImageFile.h"
#include "SystemTextWin32.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle); // NOLINT(performance-no-int-to-ptr): held as integer
}

std::string Reason(const std::string& fileName, DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "no such file";
    case ERROR_PATH_NOT_FOUND:
        return "no such folder";
    case ERROR_ACCESS_DENIED: {
        // A folder is refused so too: it opens only with backup semantics.
        const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
        const bool folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return folder ? "it is a folder" : "permission denied";
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "in use by another program";
    case ERROR_INVALID_NAME:
        return "not a usable file name";
    default:
        return SystemText(error);
    }
}

} // namespace

TImageFile::TImageFile(const std::string& fileName) : FName(fileName) {
    RefuseUnusableName(fileName);
    HANDLE file = ::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw OpenFailure(fileName, Reason(fileName, ::GetLastError()));
    }
    // Devices (NUL, CON, COM1) and pipes open too; only a file on a disk is an image.
    LARGE_INTEGER size{};
    std::string refusal;
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        refusal = "not a regular file";
    } else if (!::GetFileSizeEx(file, &size)) {
        refusal = SystemText(::GetLastError());
    }
    if (!refusal.empty()) {
        ::CloseHandle(file);
        throw OpenFailure(fileName, refusal);
    }
    FHandle = reinterpret_cast<intptr_t>(file);
    FSize = static_cast<int64_t>(size.QuadPart);
}

TImageFile::~TImageFile() {
    ::CloseHandle(AsHandle(FHandle));
}
