// What the flashing station asks of the host's neighbour (ARP) table for the units' factory
// address, behind a seam that tests replace: the entry cleared before every request, so that a
// unit swapped in is asked for anew instead of the one taken away, and the hardware address of
// the unit that answered, which tells one unit from the next.
// - Linux: the entry cleared over rtnetlink when this process holds CAP_NET_ADMIN, with the rules
//   of zeb40-arp-clear; otherwise by zeb40-arp-clear itself (found where the window finds it,
//   HelperFolders), which carries that capability. The MAC read over rtnetlink (RTM_GETNEIGH),
//   which needs no privilege.
// - Windows: the IP helper library (iphlpapi.dll), loaded at run time from the system folder
//   through the module-calls seam: GetIpNetTable for the MAC, DeleteIpNetEntry for the dynamic
//   entries of the address, which Windows allows from an elevated prompt only.
#pragma once

#include "base/Seam.h"

#include <memory>
#include <string>

struct TClearResult {
    enum TKind {
        Cleared,     // no dynamic entry for the address is left
        Unavailable, // nothing here can clear it: no capability, no helper, no library
        Refused,     // the system or the helper refused this address or this user
        Failed,      // anything else
    };
    TKind Kind = Cleared;
    std::string Message; // why, for all but Cleared
};

class TUnitNeighbours {
public:
    virtual ~TUnitNeighbours() = default;
    // Deletes the host's dynamic entries for the address, a dotted quad.
    virtual TClearResult Clear(const std::string& address) = 0;
    // The MAC the host's table holds for the address, "02:00:00:00:00:01"; empty when it holds
    // none or cannot be read.
    virtual std::string HardwareAddress(const std::string& address) = 0;
    // How Clear does it, for the station's first lines: "over rtnetlink", "by PROGRAM".
    virtual std::string ClearMethod() = 0;
};

// A new object of the platform's, which takes the seams below it (the helper folders, the module
// calls) as they are at its first use; the system's is one of them, made at the first call.
std::unique_ptr<TUnitNeighbours> NewPlatformNeighbours();
TUnitNeighbours& SystemUnitNeighbours();
extern TSeam<TUnitNeighbours> UnitNeighbours;
