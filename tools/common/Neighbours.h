// The kernel's IPv4 neighbour (ARP) table and what tells which of its entries may be touched,
// over rtnetlink (rtnetlink(7)): the host's own addresses, the gateways of its routes, the entries
// for one address and the deletion of one entry. Reading needs no privilege; deleting needs
// CAP_NET_ADMIN. Linux only.
//
// Addresses are held in host byte order: 192.168.1.100 is 0xC0A80164.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// An IPv4 address of one of the host's interfaces.
struct TLocalAddress {
    uint32_t Address = 0; // IFA_LOCAL, or IFA_ADDRESS where there is none
    int PrefixLength = 32;
    std::optional<uint32_t> Broadcast; // IFA_BROADCAST, where one is set
    int InterfaceIndex = 0;
};

// One entry of the neighbour table.
struct TNeighbour {
    int InterfaceIndex = 0;
    uint16_t State = 0;                   // NUD_* of <linux/neighbour.h>
    uint8_t Flags = 0;                    // NTF_*
    std::vector<uint8_t> HardwareAddress; // NDA_LLADDR; empty while the address is unresolved
};

// A request the kernel refused, or a socket call that failed, with its errno (EPERM where the
// capability is missing).
class ENetlinkError : public std::runtime_error {
public:
    ENetlinkError(const std::string& what, int code);
    int Code() const { return FCode; }

private:
    int FCode;
};

// Every IPv4 address of every interface (RTM_GETADDR).
std::vector<TLocalAddress> LocalAddresses();

// Every IPv4 gateway of a route, in any routing table: RTA_GATEWAY, the nexthops of
// RTA_MULTIPATH, and the gateways of the nexthop objects that routes may name instead
// (RTM_GETROUTE, RTM_GETNEXTHOP).
std::vector<uint32_t> RouteGateways();

// The entries for the address, on every interface (RTM_GETNEIGH).
std::vector<TNeighbour> NeighboursOf(uint32_t address);

// Deletes the entry for the address on the interface (RTM_DELNEIGH); false when there is none.
bool DeleteNeighbour(int interfaceIndex, uint32_t address);
