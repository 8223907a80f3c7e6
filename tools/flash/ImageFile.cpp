#include "ImageFile.h"

#include <algorithm>
#include <cstring>

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
