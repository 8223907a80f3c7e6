// The one conversion from text to a signed 32-bit integer that every caller uses: settings
// values, address octets, option values in TFTP packets and service names.
//
// The rule: the empty text fails; leading blanks (the space character only) are skipped; then
// either an optional "+" or "-" followed by one or more decimal digits, or a hexadecimal prefix
// ("$", "x", "X", "0x" or "0X") followed by one or more hexadecimal digits of either case, with no
// sign before the prefix. Any other character, a trailing blank included, fails. Decimal values
// must lie in -2147483648..2147483647; hexadecimal values may be at most 0xFFFFFFFF (leading
// zeros do not count) and are taken as the signed 32-bit integer of that bit pattern.
#pragma once

#include <cstdint>
#include <string_view>

// True and the value when the text converts; false (value untouched) otherwise.
bool TryTextToInt(std::string_view text, int32_t& value) noexcept;

// The value, or EConvertError "'%s' is not a valid integer value" with the text.
int32_t TextToInt(std::string_view text);

// The value, or the caller's default when the text does not convert.
int32_t TextToIntDef(std::string_view text, int32_t fallback) noexcept;
