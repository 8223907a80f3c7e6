#include "base/IntegerText.h"

#include "base/Exception.h"

#include <string>

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool ParseHex(std::string_view digits, int32_t& value) {
    if (digits.empty()) {
        return false;
    }
    uint64_t acc = 0;
    for (char c : digits) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            return false;
        }
        acc = (acc << 4) | static_cast<uint64_t>(d);
        if (acc > 0xFFFFFFFFu) {
            return false;
        }
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(acc));
    return true;
}

bool ParseDecimal(std::string_view digits, bool negative, int32_t& value) {
    if (digits.empty()) {
        return false;
    }
    const uint64_t limit = negative ? 2147483648u : 2147483647u;
    uint64_t acc = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        acc = acc * 10 + static_cast<uint64_t>(c - '0');
        if (acc > limit) {
            return false;
        }
    }
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(acc)) : static_cast<int32_t>(acc);
    return true;
}

} // namespace

bool TryTextToInt(std::string_view text, int32_t& value) noexcept {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    std::string_view rest = text.substr(i);
    if (rest.empty()) {
        return false;
    }
    if (rest.front() == '$' || rest.front() == 'x' || rest.front() == 'X') {
        return ParseHex(rest.substr(1), value);
    }
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        return ParseHex(rest.substr(2), value);
    }
    bool negative = false;
    if (rest.front() == '+' || rest.front() == '-') {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    return ParseDecimal(rest, negative, value);
}

int32_t TextToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryTextToInt(text, value)) {
        // Built by concatenation so that every byte of the text appears in the message.
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

int32_t TextToIntDef(std::string_view text, int32_t fallback) noexcept {
    int32_t value = 0;
    return TryTextToInt(text, value) ? value : fallback;
}
