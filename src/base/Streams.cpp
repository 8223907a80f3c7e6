#include "base/Streams.h"

#include "base/Format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

void TStream::ReadBuffer(void* buffer, size_t count) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t got = Read(out + done, count - done);
        if (got == 0) {
            throw EReadError("Stream read error");
        }
        done += got;
    }
}

void TMemoryStream::SetPosition(int64_t position) {
    FPosition = std::clamp<int64_t>(position, 0, Size());
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    const int64_t left = Size() - FPosition;
    const size_t n = left > 0 ? std::min(count, static_cast<size_t>(left)) : 0;
    if (n > 0) {
        std::memcpy(buffer, FBytes.data() + FPosition, n);
        FPosition += static_cast<int64_t>(n);
    }
    return n;
}

TFileStream::TFileStream(const std::string& fileName) {
    auto fail = [&fileName]() {
        return EFOpenError(Format("Cannot open file %s", fileName.c_str()));
    };
    if (fileName.empty()) {
        throw fail();
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; the regular-file test then refuses it.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        throw fail();
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw fail();
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    FHandle = fd;
    // Taken once: an upload asks for the size before every block, and the size it announced at
    // the start is the size it sends (a file cut short under it ends in EReadError).
    FSize = static_cast<int64_t>(info.st_size);
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) {
        ::close(FHandle); // releases the lock
    }
}

void TFileStream::SetPosition(int64_t position) {
    FPosition = std::max<int64_t>(position, 0);
}

size_t TFileStream::Read(void* buffer, size_t count) {
    for (;;) {
        const ssize_t got = ::pread(FHandle, buffer, count, static_cast<off_t>(FPosition));
        if (got >= 0) {
            FPosition += got;
            return static_cast<size_t>(got);
        }
        if (errno != EINTR) {
            return 0; // ReadBuffer turns the shortfall into EReadError
        }
    }
}
