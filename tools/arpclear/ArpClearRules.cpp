#include "ArpClearRules.h"

#include "net/IdEndpoint.h"

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
    TIdInAddrBytes bytes{};
    if (!IsPlainDottedQuad(text) || !ParseDottedQuad(text, bytes)) {
        return std::nullopt;
    }
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
}

std::string DottedQuad(uint32_t address) {
    return DottedQuadText({static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                           static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
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
