// The image file on POSIX systems: open(2), fstat(2) and pread(2).
#include "ImageFile.h"

#include "base/Format.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Reason(int error) {
    switch (error) {
    case ENOENT:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "it is a folder";
    case ENOTDIR:
        return "a part of the path is not a folder";
    default:
        return std::strerror(error);
    }
}

EFOpenError OpenFailure(const std::string& name, const std::string& reason) {
    return EFOpenError(Format("Cannot open file %s: %s", name.c_str(), reason.c_str()));
}

} // namespace

TImageFile::TImageFile(const std::string& fileName) : FName(fileName) {
    if (fileName.empty() || fileName.find('\0') != std::string::npos) {
        throw OpenFailure(fileName, "not a usable file name");
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; the regular-file test then refuses it.
    FDescriptor = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (FDescriptor < 0) {
        throw OpenFailure(fileName, Reason(errno));
    }
    struct stat info {};
    std::string refusal;
    if (::fstat(FDescriptor, &info) != 0) {
        refusal = Reason(errno);
    } else if (S_ISDIR(info.st_mode)) {
        refusal = Reason(EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        refusal = "not a regular file";
    }
    if (!refusal.empty()) {
        ::close(FDescriptor);
        throw OpenFailure(fileName, refusal);
    }
    FSize = static_cast<int64_t>(info.st_size);
}

TImageFile::~TImageFile() {
    ::close(FDescriptor);
}

size_t TImageFile::ReadAt(void* buffer, size_t count, int64_t position) const {
    for (;;) {
        const ssize_t got = ::pread(FDescriptor, buffer, count, static_cast<off_t>(position));
        if (got >= 0) {
            return static_cast<size_t>(got);
        }
        if (errno != EINTR) {
            return 0; // the reader's caller turns the shortfall into EReadError
        }
    }
}

std::string TImageFile::ReadAll(size_t limit) const {
    if (FSize > static_cast<int64_t>(limit)) {
        throw OpenFailure(FName, "larger than " + std::to_string(limit) + " bytes");
    }
    std::string bytes(static_cast<size_t>(FSize), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t got = ReadAt(bytes.data() + done, bytes.size() - done, int64_t(done));
        if (got == 0) {
            throw OpenFailure(FName, "cannot be read");
        }
        done += got;
    }
    return bytes;
}
