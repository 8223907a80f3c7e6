#include "net/IdEndpoint.h"

#include "base/IntegerText.h"

#include <charconv>

TIdEndpoint TIdEndpoint::IPv4(const TIdInAddrBytes& address, uint16_t port) {
    TIdEndpoint endpoint;
    endpoint.Family = TIdAddressFamily::IPv4;
    for (size_t i = 0; i < address.size(); ++i) {
        endpoint.Bytes[i] = address[i];
    }
    endpoint.Port = port;
    return endpoint;
}

std::string TIdEndpoint::AddressText() const {
    return Family == TIdAddressFamily::IPv4 ? DottedQuadText(InAddr()) : std::string();
}

std::string TIdEndpoint::Text() const {
    return Known() ? AddressText() + ":" + std::to_string(Port) : std::string();
}

bool ParseDottedQuad(std::string_view text, TIdInAddrBytes& bytes) {
    TIdInAddrBytes parts{};
    for (size_t part = 0; part < parts.size(); ++part) {
        const size_t dot = text.find('.');
        const bool last = part + 1 == parts.size();
        // Three dots exactly: the last part runs to the end.
        if (last != (dot == std::string_view::npos)) {
            return false;
        }
        const std::string_view digits = last ? text : text.substr(0, dot);
        // The plain form, decimal without a sign, is the common one and is read directly; the
        // rest by the general rule.
        int32_t value = 0;
        bool plain = !digits.empty() && digits.size() <= 3;
        for (size_t i = 0; plain && i < digits.size(); ++i) {
            plain = digits[i] >= '0' && digits[i] <= '9';
            value = value * 10 + (digits[i] - '0');
        }
        if (!plain && !TryTextToInt(digits, value)) {
            return false;
        }
        if (value < 0 || value > 255) {
            return false;
        }
        parts[part] = static_cast<uint8_t>(value);
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    bytes = parts;
    return true;
}

std::string DottedQuadText(const TIdInAddrBytes& bytes) {
    char text[16];
    char* end = text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            *end++ = '.';
        }
        end = std::to_chars(end, text + sizeof(text), unsigned{bytes[i]}).ptr;
    }
    return std::string(text, end);
}

bool IsPlainDottedQuad(std::string_view text) {
    TIdInAddrBytes bytes{};
    return ParseDottedQuad(text, bytes) && DottedQuadText(bytes) == text;
}
