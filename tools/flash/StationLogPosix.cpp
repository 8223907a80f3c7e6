// The log's file calls on POSIX systems.
#include "StationLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string ErrnoText(int code) {
    return std::strerror(code);
}

// The folder holding the new entry, put on the disk so that the entry survives a power cut.
void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

class TPosixLogFileCalls final : public TLogFileCalls {
public:
    intptr_t Open(const std::string& path, std::string& error) override {
        // Not blocking at the open of a FIFO, and never a controlling terminal: either is refused
        // below as not a regular file.
        constexpr int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        bool created = true;
        int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = ::open(path.c_str(), flags);
        }
        if (fd < 0) {
            error = errno == EISDIR ? "it is a folder" : ErrnoText(errno);
            return -1;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            error = S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file";
            return -1;
        }
        ::fcntl(fd, F_SETFL, O_APPEND);
        if (created) {
            SyncFolderOf(path);
        }
        return fd;
    }

    bool EndsLine(intptr_t file) override {
        struct stat st {};
        char last = '\n';
        if (::fstat(static_cast<int>(file), &st) != 0 || st.st_size == 0) {
            return true;
        }
        return ::pread(static_cast<int>(file), &last, 1, st.st_size - 1) != 1 || last == '\n';
    }

    bool Reserve(intptr_t file, int64_t bytes, std::string& error) override {
        const int fd = static_cast<int>(file);
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            error = ErrnoText(errno);
            return false;
        }
#if defined(__linux__)
        if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, st.st_size, bytes) == 0) {
            return true;
        }
        if (errno != EOPNOTSUPP && errno != ENOSYS) {
            error = ErrnoText(errno);
            return false;
        }
#endif
        // No reservation here: the free space at least must hold it.
        struct statvfs fs {};
        if (::fstatvfs(fd, &fs) != 0) {
            error = ErrnoText(errno);
            return false;
        }
        if (static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize) < bytes) {
            error = ErrnoText(ENOSPC);
            return false;
        }
        return true;
    }

    bool Append(intptr_t file, std::string_view bytes, std::string& error) override {
        while (!bytes.empty()) {
            const ssize_t put = ::write(static_cast<int>(file), bytes.data(), bytes.size());
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                error = ErrnoText(put < 0 ? errno : EIO);
                return false;
            }
            bytes.remove_prefix(static_cast<size_t>(put));
        }
        return true;
    }

    bool Sync(intptr_t file, std::string& error) override {
        if (::fsync(static_cast<int>(file)) != 0) {
            error = ErrnoText(errno);
            return false;
        }
        return true;
    }

    void Close(intptr_t file) override {
        ::close(static_cast<int>(file));
    }
};

} // namespace

TLogFileCalls& SystemLogFileCalls() {
    static TPosixLogFileCalls calls;
    return calls;
}
