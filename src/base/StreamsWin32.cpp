// The file stream on Windows: the kernel's file calls, which never translate line ends. The
// exclusive open is CreateFile with share mode 0: while the stream holds the file, no other
// opener (this program or any other) may open it, whatever access it asks for, so nobody can
// write, cut or delete the file under an upload.
#include "base/Streams.h"

#include <windows.h>

#include <algorithm>

namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle); // NOLINT(performance-no-int-to-ptr): held as integer
}

} // namespace

TFileStream::TFileStream(const std::string& fileName) {
    RefuseUnusableName(fileName);
    // A folder does not open without backup semantics, so it is refused here.
    HANDLE file = ::CreateFileA(fileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw OpenFailure(fileName);
    }
    // Devices (NUL, CON, COM1) and pipes open too; only a file on a disk is read.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        ::CloseHandle(file);
        throw OpenFailure(fileName);
    }
    FHandle = reinterpret_cast<intptr_t>(file);
    // Taken once: an upload asks for the size before every block, and the size it announced at
    // the start is the size it sends.
    FSize = static_cast<int64_t>(size.QuadPart);
    FName = fileName;
    FileStateOf(FHandle, FOpened);
}

bool FileStateOf(intptr_t handle, TFileState& state) {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(AsHandle(handle), &info) ||
        !::GetFileInformationByHandleEx(AsHandle(handle), FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    state.Size = static_cast<int64_t>(uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
    state.Modified = basic.LastWriteTime.QuadPart;
    state.Changed = basic.ChangeTime.QuadPart;
    state.Device = info.dwVolumeSerialNumber;
    state.File = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    return true;
}

bool NamedFileStateOf(const std::string& /*fileName*/, TFileState& /*state*/) {
    // A file open without sharing for writing or deleting cannot be replaced under its name.
    return false;
}

size_t ReadFileAt(intptr_t handle, void* buffer, size_t count, int64_t position) {
    const auto asked = static_cast<DWORD>(std::min<size_t>(count, MAXDWORD));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(position));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
    DWORD got = 0;
    // Reading at or past the end reports ERROR_HANDLE_EOF, which is the end, not a fault.
    if (!::ReadFile(AsHandle(handle), buffer, asked, &got, &at)) {
        return 0;
    }
    return got;
}

TFileStream::~TFileStream() {
    if (AsHandle(FHandle) != INVALID_HANDLE_VALUE) {
        ::CloseHandle(AsHandle(FHandle)); // lets other openers in again
    }
}

size_t TFileStream::ReadAt(void* buffer, size_t count, int64_t position) {
    return ReadFileAt(FHandle, buffer, count, position);
}
