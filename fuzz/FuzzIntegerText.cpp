// The integer text rule against a model written from its definition, character by character.
#include "FuzzCheck.h"
#include "base/Exception.h"
#include "base/IntegerText.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace {

int Digit(char c, int base) {
    int d = -1;
    if (c >= '0' && c <= '9') {
        d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
    }
    return d < base ? d : -1;
}

// Skip the spaces; then a hexadecimal prefix and hex digits, or a sign and decimal digits.
// Values are accumulated without bound checks in 128 bits, then judged.
std::optional<int32_t> Model(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    std::string_view s = text.substr(i);
    int base = 10;
    bool negative = false;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        base = 16;
        s.remove_prefix(2);
    } else if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
        base = 16;
        s.remove_prefix(1);
    } else if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) {
        return std::nullopt;
    }
    unsigned __int128 value = 0;
    bool overflow = false;
    for (char c : s) {
        const int d = Digit(c, base);
        if (d < 0) {
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFFFull) {
            overflow = true; // far out of range; stop growing, keep checking the characters
            value = 0xFFFFFFFFFFull;
        }
    }
    if (overflow) {
        return std::nullopt;
    }
    if (base == 16) {
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    const auto magnitude = static_cast<int64_t>(value);
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(signedValue);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> expected = Model(text);

    int32_t value = 0x5A5A5A5A;
    const bool ok = TryTextToInt(text, value);
    FUZZ_CHECK(ok == expected.has_value(), "TryTextToInt accepts exactly what the rule accepts");
    if (ok) {
        FUZZ_CHECK(value == *expected, "TryTextToInt gives the rule's value");
    } else {
        FUZZ_CHECK(value == 0x5A5A5A5A, "a failed conversion leaves the value untouched");
    }
    FUZZ_CHECK(TextToIntDef(text, 77) == (ok ? value : 77), "TextToIntDef agrees");
    try {
        const int32_t converted = TextToInt(text);
        FUZZ_CHECK(ok && converted == value, "TextToInt agrees on success");
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!ok, "TextToInt raises only for a text that fails");
        FUZZ_CHECK(e.Message() == "'" + std::string(text) + "' is not a valid integer value",
                   "the conversion error names the whole text");
    }
    return 0;
}
