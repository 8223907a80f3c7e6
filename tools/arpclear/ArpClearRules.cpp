#include "ArpClearRules.h"

#include <linux/neighbour.h>

#include <algorithm>

const char* const ArpClearUsage =
    "usage: zeb40-arp-clear ADDRESS\n"
    "Deletes the host's dynamic neighbour (ARP) entries for ADDRESS, one IPv4 address written\n"
    "as a plain dotted quad (192.168.1.100), so that the next packet to it asks anew which\n"
    "device has it. Never cleared: 0.0.0.0/8, 127.0.0.0/8, 224.0.0.0/4, 255.255.255.255, the\n"
    "host's own addresses, the network and broadcast addresses of its networks, and the\n"
    "gateways of its routes; permanent and no-ARP entries are kept.\n"
    "Exit status: 0 no dynamic entry for ADDRESS remains; 64 usage; 65 ADDRESS refused, or only\n"
    "entries that are kept; 71 other failure; 77 without the capability cap_net_admin.\n";

std::optional<uint32_t> ParsePlainDottedQuad(std::string_view text) {
    uint32_t address = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (text.empty() || text.front() != '.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        const size_t digits =
            std::find_if(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; }) -
            text.begin();
        if (digits == 0 || digits > 3 || (digits > 1 && text.front() == '0')) {
            return std::nullopt;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < digits; ++i) {
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        }
        if (value > 255) {
            return std::nullopt;
        }
        address = address << 8 | value;
        text.remove_prefix(digits);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return address;
}

std::string DottedQuad(uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string(address >> shift & 0xFF);
        if (shift > 0) {
            text += '.';
        }
    }
    return text;
}

const char* RefusalOf(uint32_t address, const std::vector<TLocalAddress>& locals,
                      const std::vector<uint32_t>& gateways) {
    if (address >> 24 == 0) {
        return "in 0.0.0.0/8, no device's address";
    }
    if (address >> 24 == 127) {
        return "a loopback address";
    }
    if (address >> 28 == 0xE) {
        return "a multicast address";
    }
    if (address == 0xFFFFFFFF) {
        return "the limited broadcast address";
    }
    for (const TLocalAddress& local : locals) {
        if (address == local.Address) {
            return "an address of this host";
        }
        if (local.Broadcast == address) {
            return "a broadcast address of this host's networks";
        }
        if (local.PrefixLength >= 0 && local.PrefixLength < 31) {
            const uint32_t mask = local.PrefixLength == 0 ? 0 : ~0u << (32 - local.PrefixLength);
            const uint32_t network = local.Address & mask;
            if (address == network) {
                return "the network address of one of this host's networks";
            }
            if (address == (network | ~mask)) {
                return "a broadcast address of this host's networks";
            }
        }
    }
    if (std::find(gateways.begin(), gateways.end(), address) != gateways.end()) {
        return "a gateway of a route";
    }
    return nullptr;
}

bool IsDynamic(uint16_t state) {
    return (state & (NUD_PERMANENT | NUD_NOARP)) == 0;
}
