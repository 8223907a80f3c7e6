// Addresses and ports as values: what a datagram is sent to or came from. A host's text is
// resolved once into an endpoint, which the upload, the socket handle and the bindings carry and
// compare without text; text is made only for messages and for programs that take an address.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The four bytes of an IPv4 address in network order: first number of the dotted text first.
using TIdInAddrBytes = std::array<uint8_t, 4>;

enum class TIdAddressFamily : uint8_t {
    None, // no address: a receive that timed out, a peer not known yet
    IPv4,
};

struct TIdEndpoint {
    TIdAddressFamily Family = TIdAddressFamily::None;
    // The address in network order; an IPv4 address fills the first four bytes, the rest are 0.
    std::array<uint8_t, 16> Bytes{};
    uint16_t Port = 0;

    static TIdEndpoint IPv4(const TIdInAddrBytes& address, uint16_t port);

    bool Known() const { return Family != TIdAddressFamily::None; }
    // The four bytes of an IPv4 endpoint.
    TIdInAddrBytes InAddr() const { return {Bytes[0], Bytes[1], Bytes[2], Bytes[3]}; }
    // The same address, whatever the ports.
    bool SameHost(const TIdEndpoint& other) const {
        return Family == other.Family && Bytes == other.Bytes;
    }
    // "10.0.0.7"; empty for no address.
    std::string AddressText() const;
    // "10.0.0.7:69"; empty for no address.
    std::string Text() const;

    friend bool operator==(const TIdEndpoint&, const TIdEndpoint&) = default;
};

// The one reader of dotted quads: exactly four parts joined by dots, each an integer by the
// integer text rule between 0 and 255 ("10.0.0.7", "010.0.0.7", "$0A.0.0.7"). False for anything
// else, names among them.
bool ParseDottedQuad(std::string_view text, TIdInAddrBytes& bytes);
// "10.0.0.7": each part in decimal, without leading zeros.
std::string DottedQuadText(const TIdInAddrBytes& bytes);
// A dotted quad in that plain form and no other: the text that programs reading addresses in
// their own way (octal for a leading zero, say) read as the same address.
bool IsPlainDottedQuad(std::string_view text);
