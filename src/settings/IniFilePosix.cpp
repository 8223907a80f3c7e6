// The settings file on a POSIX system: reading the whole file, and the rewrite that respects the
// file it replaces (TIniFile), through a new file renamed over the old one or in place.
#include "settings/IniFilePosix.h"

#include "settings/IniFileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class TSystemIniFileCalls final : public TIniFileCalls {
public:
    int MakeTemporary(char* pathTemplate, int flags) override {
        return ::mkostemp(pathTemplate, flags);
    }
    ssize_t Write(int fd, const void* buffer, size_t count) override {
        return ::write(fd, buffer, count);
    }
};

// Closes a descriptor when it goes out of scope.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    ~TDescriptor() { Close(); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // True when the descriptor closed cleanly (a deferred write error shows up here).
    bool Close() {
        if (FFd < 0) {
            return true;
        }
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

// The rest of the file from the descriptor's position on.
bool ReadRest(int fd, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = IniFileCalls().Write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string FolderOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return name.substr(0, slash);
}

std::string BaseOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

enum class Outcome { Done, Failed, NotPossible };

// Puts text in place of target through a new file in the same folder, renamed over it. old is
// what stands at target now (its owner, group and permissions go to the new file), or nothing
// when the file is new. NotPossible when the folder takes no new file or no rename, or when the
// new file cannot have the old one's owner and group: the old file is then untouched and may
// still be rewritten in place.
Outcome ReplaceByRename(const std::string& target, const std::string& text,
                        const struct stat* old) {
    const std::string folder = FolderOf(target);
    std::string path = folder + "/." + BaseOf(target) + ".XXXXXX";
    TDescriptor fd(IniFileCalls().MakeTemporary(path.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return Outcome::NotPossible;
    }
    const auto discard = [&](Outcome outcome) {
        fd.Close();
        ::unlink(path.c_str());
        return outcome;
    };
    struct stat made {};
    if (::fstat(fd.Get(), &made) != 0) {
        return discard(Outcome::Failed);
    }
    // Only a privileged process may give a file to another user; a member of a group may give
    // it to that group. The owner goes first, as changing it clears the set-id bits.
    if (old != nullptr && (made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
        ::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
        return discard(Outcome::NotPossible);
    }
    const mode_t mode = old != nullptr ? (old->st_mode & 07777) : CreationMode();
    if (::fchmod(fd.Get(), mode) != 0 || !WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0 ||
        !fd.Close()) {
        return discard(Outcome::Failed);
    }
    if (::rename(path.c_str(), target.c_str()) != 0) {
        return discard(Outcome::NotPossible);
    }
    // The rename is done and visible; syncing the folder makes it last across a power cut. Some
    // file systems cannot sync a folder, which changes nothing about the outcome.
    TDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        ::fsync(dir.Get());
    }
    return Outcome::Done;
}

// Rewrites the open file where it stands, from old to text. Room for a longer text is taken
// first, so that a full disk refuses before a byte changes; a write that still fails midway puts
// the old text back as far as it can.
bool RewriteInPlace(int fd, const std::string& old, const std::string& text) {
    if (text.size() > old.size() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(text.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        return false;
    }
    const auto writeFromStart = [fd](const std::string& bytes) {
        return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, bytes) &&
               ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
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

// A FIFO or a device must not block the open, and only a regular file counts.
TReadOutcome ReadWhole(const std::string& name, std::string& text) {
    TDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        return errno == ENOENT ? TReadOutcome::Missing : TReadOutcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadRest(fd.Get(), text)) {
        return TReadOutcome::Failed;
    }
    return TReadOutcome::Read;
}

bool Rewrite(const std::string& name, const std::function<std::string(std::string)>& edit) {
    std::string target = name;
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // A link that leads nowhere (or in a loop) is refused: writing there would create a file
        // the user did not name, or replace the link by a plain file.
        char* real = ::realpath(name.c_str(), nullptr);
        if (real == nullptr) {
            return false;
        }
        target = real;
        std::free(real);
    }
    if (::stat(target.c_str(), &st) != 0) {
        return errno == ENOENT && ReplaceByRename(target, edit(""), nullptr) == Outcome::Done;
    }
    // A file that grants writing to no one has been marked read-only on purpose: it is kept as
    // it is also for a privileged user, whom the permission bits alone would not stop (the
    // read-only attribute of other systems stops every user alike).
    if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return false;
    }
    // Opening for reading and writing asks the file system whether this process may do both,
    // with every rule it applies (permissions, access lists, read-only mounts, immutable files).
    // The rename alone would go around them.
    TDescriptor fd(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    std::string text;
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !ReadRest(fd.Get(), text)) {
        return false;
    }
    const std::string updated = edit(text);
    switch (ReplaceByRename(target, updated, &st)) {
    case Outcome::Done:
        return true;
    case Outcome::Failed:
        return false;
    case Outcome::NotPossible:
        break;
    }
    return RewriteInPlace(fd.Get(), text, updated) && fd.Close();
}

std::optional<std::string> CurrentDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            return std::string(buffer.data());
        }
        if (errno != ERANGE) {
            return std::nullopt;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace IniFileSystem
