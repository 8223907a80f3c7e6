// SHA-256 (FIPS 180-4), incremental: the sim prints the digest of every image it stores so that a
// bug report can name exactly what arrived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TSha256 {
public:
    TSha256() { Reset(); }

    void Reset();
    void Update(const void* data, size_t length);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    // The digest of everything given since the last Reset; the object is reset afterwards.
    std::array<uint8_t, 32> Finish();
    // Finish as 64 lower-case hexadecimal digits.
    std::string FinishHex();

    static std::string HexDigest(std::string_view bytes);

private:
    void Compress(const uint8_t* block);

    std::array<uint32_t, 8> FState{};
    std::array<uint8_t, 64> FBuffer{};
    size_t FBuffered = 0;
    uint64_t FTotal = 0; // bytes
};
