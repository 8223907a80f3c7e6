// The settings file on Windows: reading the whole file and the current directory by the kernel's
// calls, and the rewrite that respects the file it replaces (TIniFile), through a new file that
// ReplaceFile puts in the old one's place, or in place.
#include "settings/IniFileWin32.h"

#include "settings/IniFileSystem.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

class TSystemIniFileCalls final : public TIniFileCalls {
public:
    // Share mode 0: nobody opens the new file while it is being written.
    void* CreateNew(const char* path) override {
        return ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    }
    bool Write(void* file, const void* buffer, uint32_t count, uint32_t& written) override {
        DWORD put = 0;
        const BOOL done = ::WriteFile(static_cast<HANDLE>(file), buffer, count, &put, nullptr);
        written = put;
        return done != FALSE;
    }
};

// Closes a handle when it goes out of scope.
class THandle {
public:
    explicit THandle(HANDLE handle = INVALID_HANDLE_VALUE) : FHandle(handle) {}
    ~THandle() { Close(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return FHandle; }
    bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle) {
        Close();
        FHandle = handle;
    }
    // True when the handle closed cleanly.
    bool Close() {
        if (!Valid()) {
            return true;
        }
        HANDLE handle = FHandle;
        FHandle = INVALID_HANDLE_VALUE;
        return ::CloseHandle(handle) != FALSE;
    }

private:
    HANDLE FHandle;
};

// The rest of the file from the handle's position on.
bool ReadRest(HANDLE file, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(buffer, got);
    }
}

bool WriteAll(HANDLE file, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const auto asked = static_cast<uint32_t>(std::min<size_t>(text.size() - done, 1u << 30));
        uint32_t put = 0;
        if (!IniFileCalls().Write(file, text.data() + done, asked, put)) {
            return false;
        }
        if (put == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += put;
    }
    return true;
}

// A file that can be rewritten, open for reading and writing, with what it holds.
struct TOpenFile {
    THandle Handle;
    BY_HANDLE_FILE_INFORMATION Info{};
    std::string Text;
};

enum class TOpening { Opened, Missing, Refused };

// Opening for reading and writing asks the system whether this process may do both, with every
// rule it applies (the read-only attribute, the file's security, a file locked by another
// program, a read-only volume); the replace alone would go around some of them. Only a file on a
// disk is rewritten: a device name (NUL, CON, COM1) or a pipe opens too, a folder does not. The
// read-only attribute is checked once more for a system that lets a privileged user open such a
// file for writing: the mark was set on purpose, for every user alike. Missing only when the
// folder is there and the file is not.
TOpening OpenRewritable(const std::string& name, TOpenFile& file) {
    file.Handle.Reset(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Handle.Valid()) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? TOpening::Missing : TOpening::Refused;
    }
    constexpr DWORD Unwritable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
    if (::GetFileType(file.Handle.Get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.Handle.Get(), &file.Info) ||
        (file.Info.dwFileAttributes & Unwritable) != 0 || !ReadRest(file.Handle.Get(), file.Text)) {
        file.Handle.Close();
        return TOpening::Refused;
    }
    return TOpening::Opened;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// The file a symbolic link or a junction leads to, by the full name the system gives the file
// it opens; false for a link that leads nowhere.
bool LinkTarget(const std::string& name, std::string& target) {
    const THandle file(::CreateFileA(name.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) {
        return false;
    }
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleA(file.Get(), buffer.data(),
                                                         static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return false;
        }
        if (length < buffer.size()) {
            target.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length + 1);
    }
}

// A name beside target, in its folder: a dot, target's own name and the suffix.
std::string Beside(const std::string& target, const std::string& suffix) {
    const size_t cut = target.find_last_of("\\/:");
    const size_t at = cut == std::string::npos ? 0 : cut + 1;
    return target.substr(0, at) + "." + target.substr(at) + suffix;
}

// The attributes of the old file that the new one takes before it stands in its place
// (ReplaceFile merges them on Windows itself; not every implementation of it does). Read-only
// never comes here.
DWORD KeptAttributes(DWORD attributes) {
    const DWORD kept = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}

enum class TOutcome { Done, Failed, NotPossible };

// Puts text in place of target through a new file in the same folder, flushed to the disk
// first. old describes what stands at target now, or is null when the file is new. ReplaceFile
// gives the new file the old one's security, attributes and creation time; a new file takes its
// name with MoveFileEx, and only where nothing stands (a file that appeared meanwhile is not
// replaced). NotPossible when the folder takes no new file or the replace is refused: the old
// file is then untouched and may still be rewritten in place. No new file is left behind.
TOutcome ReplaceByRename(const std::string& target, const std::string& text,
                         const BY_HANDLE_FILE_INFORMATION* old) {
    static unsigned serial = 0;
    std::string stem;
    THandle file;
    for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
        stem = Beside(target, "." + std::to_string(::GetCurrentProcessId()) + "-" +
                                  std::to_string(serial++));
        file.Reset(IniFileCalls().CreateNew((stem + ".tmp").c_str()));
        if (!file.Valid() && ::GetLastError() != ERROR_FILE_EXISTS) {
            return TOutcome::NotPossible;
        }
    }
    if (!file.Valid()) {
        return TOutcome::NotPossible;
    }
    const std::string fresh = stem + ".tmp";
    const std::string backup = stem + ".old";
    const auto discard = [&](TOutcome outcome) {
        file.Close();
        ::DeleteFileA(fresh.c_str());
        return outcome;
    };
    if (!WriteAll(file.Get(), text) || !::FlushFileBuffers(file.Get()) || !file.Close()) {
        return discard(TOutcome::Failed);
    }
    if (old == nullptr) {
        return ::MoveFileExA(fresh.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)
                   ? TOutcome::Done
                   : discard(TOutcome::NotPossible);
    }
    if (!::SetFileAttributesA(fresh.c_str(), KeptAttributes(old->dwFileAttributes))) {
        return discard(TOutcome::Failed);
    }
    // With a backup name, a refused replace leaves both files under their own names, except
    // when the old file had already moved to the backup name: it is put back.
    if (!::ReplaceFileA(target.c_str(), fresh.c_str(), backup.c_str(), 0, nullptr, nullptr)) {
        if (::GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
            !::MoveFileExA(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            return discard(TOutcome::Failed); // the old text stays under the backup name
        }
        return discard(TOutcome::NotPossible);
    }
    ::DeleteFileA(backup.c_str()); // the old text, replaced
    return TOutcome::Done;
}

// Rewrites the open file where it stands, from old to text. Room for a longer text is taken
// first where the file system can, so that a full disk refuses before a byte changes; a write
// that still fails midway puts the old text back as far as it can.
bool RewriteInPlace(HANDLE file, const std::string& old, const std::string& text) {
    if (text.size() > old.size()) {
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = static_cast<LONGLONG>(text.size());
        if (!::SetFileInformationByHandle(file, FileAllocationInfo, &room, sizeof room)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_NOT_SUPPORTED &&
                error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER) {
                return false;
            }
        }
    }
    const auto writeFromStart = [file](const std::string& bytes) {
        const LARGE_INTEGER start{};
        return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, bytes) &&
               ::SetEndOfFile(file) && ::FlushFileBuffers(file);
    };
    if (writeFromStart(text)) {
        return true;
    }
    (void)writeFromStart(old);
    return false;
}

} // namespace

TIniFileCalls& SystemIniFileCalls() {
    static TSystemIniFileCalls calls;
    return calls;
}

TSeam<TIniFileCalls> IniFileCalls(&SystemIniFileCalls);

namespace IniFileSystem {

TReadOutcome ReadWhole(const std::string& name, std::string& text) {
    text.clear();
    const THandle file(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? TReadOutcome::Missing
                   : TReadOutcome::Failed;
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !ReadRest(file.Get(), text)) {
        return TReadOutcome::Failed;
    }
    return TReadOutcome::Read;
}

bool Rewrite(const std::string& name, const std::function<std::string(std::string)>& edit) {
    // A link is written through to its target; one that leads nowhere is refused: writing there
    // would create a file the user did not name, or replace the link by a plain file.
    std::string target = name;
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        !LinkTarget(name, target)) {
        return false;
    }
    TOpenFile file;
    switch (OpenRewritable(target, file)) {
    case TOpening::Missing:
        return attributes == INVALID_FILE_ATTRIBUTES &&
               ReplaceByRename(target, edit(""), nullptr) == TOutcome::Done;
    case TOpening::Refused:
        return false;
    case TOpening::Opened:
        break;
    }
    // The replace needs the old file closed.
    const std::string updated = edit(file.Text);
    file.Handle.Close();
    switch (ReplaceByRename(target, updated, &file.Info)) {
    case TOutcome::Done:
        return true;
    case TOutcome::Failed:
        return false;
    case TOutcome::NotPossible:
        break;
    }
    // In place, only when the file is still the one read and holds what it held.
    TOpenFile again;
    return OpenRewritable(target, again) == TOpening::Opened && SameFile(again.Info, file.Info) &&
           again.Text == file.Text && RewriteInPlace(again.Handle.Get(), again.Text, updated) &&
           again.Handle.Close();
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
