#include "base/Streams.h"

#include "base/Format.h"

#include <algorithm>
#include <cstring>

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

void TFileStream::RefuseUnusableName(const std::string& fileName) {
    if (fileName.empty() || fileName.find('\0') != std::string::npos) {
        throw OpenFailure(fileName);
    }
}

EFOpenError TFileStream::OpenFailure(const std::string& fileName) {
    return EFOpenError(Format("Cannot open file %s", fileName.c_str()));
}

void TReadAheadStream::SetPosition(int64_t position) {
    FPosition = std::max<int64_t>(position, 0);
}

size_t TReadAheadStream::Read(void* buffer, size_t count) {
    if (count == 0) {
        return 0;
    }
    const bool buffered = FBuffer != nullptr && FPosition >= FBufferStart &&
                          FPosition - FBufferStart < static_cast<int64_t>(FBufferLength);
    if (!buffered) {
        if (count >= ReadAheadSize) {
            // As large as the buffer or larger: straight into the caller's memory.
            const size_t got = ReadAt(buffer, count, FPosition);
            FPosition += static_cast<int64_t>(got);
            return got;
        }
        if (FBuffer == nullptr) {
            FBuffer = std::make_unique<char[]>(ReadAheadSize);
        }
        FBufferStart = FPosition;
        FBufferLength = ReadAt(FBuffer.get(), ReadAheadSize, FPosition);
        if (FBufferLength == 0) {
            return 0; // the end of the file, or a failure
        }
    }
    // What the buffer holds from the position on; the rest, if asked, comes with the next call
    // (ReadBuffer loops until it has all).
    const auto offset = static_cast<size_t>(FPosition - FBufferStart);
    const size_t n = std::min(count, FBufferLength - offset);
    std::memcpy(buffer, FBuffer.get() + offset, n);
    FPosition += static_cast<int64_t>(n);
    return n;
}

void CheckFileUnchanged(const std::string& fileName, intptr_t handle, const TFileState& opened) {
    TFileState now;
    TFileState named;
    const bool changed = !FileStateOf(handle, now) || now != opened ||
                         (NamedFileStateOf(fileName, named) &&
                          (named.Device != opened.Device || named.File != opened.File));
    if (changed) {
        throw EFileChanged(Format("The file %s changed while it was being sent", fileName.c_str()));
    }
}

void TFileStream::CheckUnchanged() const {
    CheckFileUnchanged(FName, FHandle, FOpened);
}
