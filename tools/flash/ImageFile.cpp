#include "ImageFile.h"

#include "base/Format.h"

#include <algorithm>
#include <cstring>

EFOpenError TImageFile::OpenFailure(const std::string& fileName, const std::string& reason) {
    return EFOpenError(Format("Cannot open file %s: %s", fileName.c_str(), reason.c_str()));
}

void TImageFile::RefuseUnusableName(const std::string& fileName) {
    if (fileName.empty() || fileName.find('\0') != std::string::npos) {
        throw OpenFailure(fileName, "not a usable file name");
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

void TImageReader::SetPosition(int64_t position) {
    FPosition = std::max<int64_t>(position, 0);
}

size_t TImageReader::Read(void* buffer, size_t count) {
    if (count == 0) {
        return 0;
    }
    const bool buffered = FBuffer != nullptr && FPosition >= FBufferStart &&
                          FPosition - FBufferStart < static_cast<int64_t>(FBufferLength);
    if (!buffered) {
        if (FBuffer == nullptr) {
            FBuffer = std::make_unique<char[]>(ReadAheadSize);
        }
        FBufferStart = FPosition;
        FBufferLength = FImage.ReadAt(FBuffer.get(), ReadAheadSize, FPosition);
        if (FBufferLength == 0) {
            return 0;
        }
    }
    const auto offset = static_cast<size_t>(FPosition - FBufferStart);
    const size_t n = std::min(count, FBufferLength - offset);
    std::memcpy(buffer, FBuffer.get() + offset, n);
    FPosition += static_cast<int64_t>(n);
    return n;
}
