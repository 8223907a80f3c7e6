#include "ImageFile.h"

#include "base/Format.h"

EFOpenError TImageFile::OpenFailure(const std::string& fileName, const std::string& reason) {
    return EFOpenError(Format("Cannot open file %s: %s", fileName.c_str(), reason.c_str()));
}

void TImageFile::RefuseUnusableName(const std::string& fileName) {
    if (fileName.empty() || fileName.find('\0') != std::string::npos) {
        throw OpenFailure(fileName, "not a usable file name");
    }
}

size_t TImageFile::ReadAt(void* buffer, size_t count, int64_t position) const {
    return ReadFileAt(FHandle, buffer, count, position);
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
