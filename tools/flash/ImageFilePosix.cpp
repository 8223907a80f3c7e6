// The image file on POSIX systems: open(2), fstat(2) and pread(2).
#include "ImageFile.h"

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

} // namespace

TImageFile::TImageFile(const std::string& fileName) : FName(fileName) {
    RefuseUnusableName(fileName);
    // O_NONBLOCK keeps a FIFO from blocking the open; the regular-file test then refuses it.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        throw OpenFailure(fileName, Reason(errno));
    }
    struct stat info {};
    std::string refusal;
    if (::fstat(fd, &info) != 0) {
        refusal = Reason(errno);
    } else if (S_ISDIR(info.st_mode)) {
        refusal = Reason(EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        refusal = "not a regular file";
    }
    if (!refusal.empty()) {
        ::close(fd);
        throw OpenFailure(fileName, refusal);
    }
    FHandle = fd;
    FSize = static_cast<int64_t>(info.st_size);
    FileStateOf(FHandle, FOpened);
}

TImageFile::~TImageFile() {
    ::close(static_cast<int>(FHandle));
}
