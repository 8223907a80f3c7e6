#include "SafeText.h"

#include <cstdint>

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

// The lead bytes of UTF-8 sequences of two to four bytes (RFC 3629 section 4): their range, the
// sequence's length, the bits of the lead byte that belong to the code point, and the smallest
// code point of that length (anything below is an overlong form).
struct TLeadByte {
    uint8_t First;
    uint8_t Last;
    size_t Length;
    uint8_t Bits;
    uint32_t Lowest;
};
constexpr TLeadByte LeadBytes[] = {
    {0xC2, 0xDF, 2, 0x1F, 0x80},
    {0xE0, 0xEF, 3, 0x0F, 0x800},
    {0xF0, 0xF4, 4, 0x07, 0x10000},
};

// The length of the valid UTF-8 sequence at text[at] (no overlong forms, no surrogates, nothing
// above U+10FFFF) with its code point, or 0 when the byte there starts none.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t& point) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[at + i]); };
    if (byte(0) < 0x80) {
        point = byte(0);
        return 1;
    }
    for (const TLeadByte& lead : LeadBytes) {
        if (byte(0) < lead.First || byte(0) > lead.Last) {
            continue;
        }
        if (at + lead.Length > text.size()) {
            return 0;
        }
        point = byte(0) & lead.Bits;
        for (size_t i = 1; i < lead.Length; ++i) {
            if ((byte(i) & 0xC0) != 0x80) {
                return 0;
            }
            point = point << 6 | (byte(i) & 0x3Fu);
        }
        const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
        return point < lead.Lowest || surrogate || point > 0x10FFFF ? 0 : lead.Length;
    }
    return 0;
}

bool IsControl(uint32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

// Characters that show nothing, or turn the text around them, so that what is shown is not what
// is there: the zero-width and direction marks and embeddings (U+200B..U+200F, U+202A..U+202E,
// U+2060..U+2064, U+2066..U+206F) and the byte-order mark U+FEFF, which an editor may put at the
// start of a saved file.
bool IsInvisible(uint32_t point) {
    return (point >= 0x200B && point <= 0x200F) || (point >= 0x202A && point <= 0x202E) ||
           (point >= 0x2060 && point <= 0x2064) || (point >= 0x2066 && point <= 0x206F) ||
           point == 0xFEFF;
}

void AppendHexByte(std::string& out, const char* prefix, uint8_t value) {
    out += prefix;
    out += HexDigits[value >> 4];
    out += HexDigits[value & 15];
}

} // namespace

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t point = 0;
        const size_t length = Utf8Sequence(text, at, point);
        if (length == 0 || IsControl(point) || IsInvisible(point)) {
            // One escape per byte: a C1 control is two bytes in UTF-8.
            const size_t bytes = length == 0 ? 1 : length;
            for (size_t i = 0; i < bytes; ++i) {
                AppendHexByte(out, "\\x", static_cast<uint8_t>(text[at + i]));
            }
            at += bytes;
            continue;
        }
        if (point == '\\') {
            out += "\\\\";
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        uint32_t point = 0;
        size_t length = Utf8Sequence(text, at, point);
        if (length == 0) {
            point = static_cast<uint8_t>(text[at]);
            length = 1;
            if (point >= 0xA0) {
                // Latin-1 above the C1 range: two bytes of UTF-8.
                out += static_cast<char>(0xC0 | point >> 6);
                out += static_cast<char>(0x80 | (point & 0x3F));
                at += 1;
                continue;
            }
        }
        if (point == '"' || point == '\\') {
            out += '\\';
            out += static_cast<char>(point);
        } else if (IsControl(point)) {
            AppendHexByte(out, "\\u00", static_cast<uint8_t>(point));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out + "\"";
}
