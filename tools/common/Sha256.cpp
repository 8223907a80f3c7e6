#include "Sha256.h"

#include <cstring>

namespace {

constexpr std::array<uint32_t, 64> K = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

} // namespace

void TSha256::Reset() {
    FState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    FBuffered = 0;
    FTotal = 0;
}

void TSha256::Compress(const uint8_t* block) {
    uint32_t w[64];
    for (size_t i = 0; i < 16; ++i) {
        w[i] = (uint32_t(block[4 * i]) << 24) | (uint32_t(block[4 * i + 1]) << 16) |
               (uint32_t(block[4 * i + 2]) << 8) | uint32_t(block[4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
    uint32_t e = FState[4], f = FState[5], g = FState[6], h = FState[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
        const uint32_t ch = (e & f) ^ (~e & g);
        const uint32_t t1 = h + s1 + ch + K[i] + w[i];
        const uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
        const uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = s0 + maj;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    FState[0] += a;
    FState[1] += b;
    FState[2] += c;
    FState[3] += d;
    FState[4] += e;
    FState[5] += f;
    FState[6] += g;
    FState[7] += h;
}

void TSha256::Update(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    FTotal += length;
    if (FBuffered > 0) {
        const size_t take = std::min(length, FBuffer.size() - FBuffered);
        std::memcpy(FBuffer.data() + FBuffered, p, take);
        FBuffered += take;
        p += take;
        length -= take;
        if (FBuffered < FBuffer.size()) {
            return;
        }
        Compress(FBuffer.data());
        FBuffered = 0;
    }
    while (length >= 64) {
        Compress(p);
        p += 64;
        length -= 64;
    }
    std::memcpy(FBuffer.data(), p, length);
    FBuffered = length;
}

std::array<uint8_t, 32> TSha256::Finish() {
    const uint64_t bits = FTotal * 8;
    // Padding: one 1 bit, zeros up to 56 bytes of the last block, then the length in bits.
    const uint8_t one = 0x80;
    Update(&one, 1);
    const uint8_t zeros[64] = {};
    const size_t fill = FBuffered <= 56 ? 56 - FBuffered : 120 - FBuffered;
    Update(zeros, fill);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = uint8_t(bits >> (56 - 8 * i));
    }
    Update(length, 8);
    std::array<uint8_t, 32> digest{};
    for (size_t i = 0; i < 8; ++i) {
        digest[4 * i] = uint8_t(FState[i] >> 24);
        digest[4 * i + 1] = uint8_t(FState[i] >> 16);
        digest[4 * i + 2] = uint8_t(FState[i] >> 8);
        digest[4 * i + 3] = uint8_t(FState[i]);
    }
    Reset();
    return digest;
}

std::string TSha256::FinishHex() {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : Finish()) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string TSha256::HexDigest(std::string_view bytes) {
    TSha256 hash;
    hash.Update(bytes);
    return hash.FinishHex();
}
