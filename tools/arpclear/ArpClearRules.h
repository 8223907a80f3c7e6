// What zeb40-arp-clear takes and what it refuses, as pure rules: the tables they are applied to
// are read by the caller (Neighbours.h).
#pragma once

#include "Neighbours.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The exit statuses, sysexits(3)'s numbers.
enum TArpClearExit : int {
    acCleared = 0,       // no dynamic entry for the address remains: deleted, or none was there
    acUsage = 64,        // anything but one plain dotted quad
    acRefused = 65,      // an address it never clears, or only entries that it keeps
    acFailed = 71,       // the kernel or a system call failed otherwise
    acNoPermission = 77, // without the capability cap_net_admin
};

// Printed with status 64.
extern const char* const ArpClearUsage;

// The address written as a plain dotted quad: four decimal octets of 0 to 255, without leading
// zeros, signs or blanks ("192.168.1.100"); nothing for any other text. Other forms are refused
// rather than read: a tool that reads "010.0.0.7" as octal, or "10.1" as 10.0.0.1, would clear
// another address than the one a user sees.
std::optional<uint32_t> ParsePlainDottedQuad(std::string_view text);

std::string DottedQuad(uint32_t address);

// Why the address is never cleared, as the words that follow it in the refusal ("is a gateway
// of a route"); nullptr when it may be. Refused are addresses that no device on the link answers
// for (0.0.0.0/8, loopback, multicast, the limited broadcast, the host's own addresses, the
// network and broadcast addresses of its prefixes shorter than /31), and the gateways of routes:
// with the gateway's entry gone, a spoofer on the link could answer the next request before it.
const char* RefusalOf(uint32_t address, const std::vector<TLocalAddress>& locals,
                      const std::vector<uint32_t>& gateways);

// Whether an entry in this NUD state is one the kernel learnt and may be deleted: neither set by
// an administrator (NUD_PERMANENT) nor on an interface without ARP (NUD_NOARP).
bool IsDynamic(uint16_t state);
