// The file stream on POSIX systems: open(2) and pread(2), with the exclusive open as an
// exclusive advisory lock (flock).
#include "base/Streams.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TFileStream::TFileStream(const std::string& fileName) {
    RefuseUnusableName(fileName);
    // O_NONBLOCK keeps a FIFO from blocking the open; the regular-file test then refuses it.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        throw OpenFailure(fileName);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw OpenFailure(fileName);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    FHandle = fd;
    // Taken once: an upload asks for the size before every block, and the size it announced at
    // the start is the size it sends (a file cut short under it ends in EReadError).
    FSize = static_cast<int64_t>(info.st_size);
    FName = fileName;
    FileStateOf(FHandle, FOpened);
}

namespace {

TFileState StateOf(const struct stat& info) {
    TFileState state;
    state.Size = static_cast<int64_t>(info.st_size);
    state.Modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    state.Changed = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    state.Device = static_cast<uint64_t>(info.st_dev);
    state.File = static_cast<uint64_t>(info.st_ino);
    return state;
}

} // namespace

bool FileStateOf(intptr_t handle, TFileState& state) {
    struct stat info {};
    if (::fstat(static_cast<int>(handle), &info) != 0) {
        return false;
    }
    state = StateOf(info);
    return true;
}

bool NamedFileStateOf(const std::string& fileName, TFileState& state) {
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0) {
        return false;
    }
    state = StateOf(info);
    return true;
}

size_t ReadFileAt(intptr_t handle, void* buffer, size_t count, int64_t position) {
    for (;;) {
        const ssize_t got =
            ::pread(static_cast<int>(handle), buffer, count, static_cast<off_t>(position));
        if (got >= 0) {
            return static_cast<size_t>(got);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) {
        ::close(static_cast<int>(FHandle)); // releases the lock
    }
}

size_t TFileStream::ReadAt(void* buffer, size_t count, int64_t position) {
    return ReadFileAt(FHandle, buffer, count, position);
}
