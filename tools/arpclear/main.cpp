// zeb40-arp-clear ADDRESS: deletes the host's dynamic neighbour (ARP) entries for one IPv4
// address. Units are flashed one after another at one factory address behind a switch, so the
// host's link stays up and its entry keeps the previous unit's MAC; without the entry, the next
// packet asks anew who has the address.
//
// The window starts it for users who are not root, so it carries the file capability
// cap_net_admin and is a privilege boundary. Hence, in this order: the standard descriptors must
// be open (else our netlink socket could become "standard error" and take our messages as
// requests); every capability but CAP_NET_ADMIN is given up and no new one can be gained, even
// when root runs it; only then is the command line read, which must be one plain dotted quad.
// It reads no environment, sets no locale, opens no file and starts no program; it never clears
// an address that RefusalOf refuses, and never deletes a permanent or no-ARP entry.
#include "ArpClearRules.h"
#include "Neighbours.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <net/if.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <string_view>

namespace {

void Put(std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(2, text.data(), text.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        text.remove_prefix(static_cast<size_t>(put));
    }
}

// One line on standard error.
void Say(const std::string& text) {
    Put("zeb40-arp-clear: " + text + "\n");
}

bool StandardDescriptorsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            return false;
        }
    }
    return true;
}

// Leaves CAP_NET_ADMIN, where it is permitted, as the only capability: permitted and effective
// hold it or nothing, the inheritable and ambient sets are empty, and nothing run from here on
// could gain one. Whether it is held; nothing when the sets cannot be changed.
std::optional<bool> KeepOnlyNetAdmin() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return std::nullopt;
    }
    // Kernels before 4.3 have no ambient set, so none to clear.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
        return std::nullopt;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, sets) != 0) {
        return std::nullopt;
    }
    const uint32_t bit = CAP_TO_MASK(CAP_NET_ADMIN);
    const bool held = (sets[CAP_TO_INDEX(CAP_NET_ADMIN)].permitted & bit) != 0;
    __user_cap_data_struct kept[_LINUX_CAPABILITY_U32S_3]{};
    if (held) {
        kept[CAP_TO_INDEX(CAP_NET_ADMIN)].permitted = bit;
        kept[CAP_TO_INDEX(CAP_NET_ADMIN)].effective = bit;
    }
    header = {_LINUX_CAPABILITY_VERSION_3, 0};
    if (::syscall(SYS_capset, &header, kept) != 0) {
        return std::nullopt;
    }
    return held;
}

std::string InterfaceName(int index) {
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(static_cast<unsigned>(index), name) != nullptr) {
        return name;
    }
    return "interface " + std::to_string(index);
}

bool IsPermissionDenied(int code) {
    return code == EPERM || code == EACCES;
}

constexpr const char* MissingCapability =
    "needs the capability cap_net_admin: run it as root, or give it the capability "
    "(sudo setcap cap_net_admin+ep on this program's file)";

} // namespace

int main(int argc, char** argv) {
    if (!StandardDescriptorsOpen()) {
        return acFailed;
    }
    const std::optional<bool> privileged = KeepOnlyNetAdmin();
    if (!privileged) {
        Say("cannot give up its other capabilities: " + std::string(std::strerror(errno)));
        return acFailed;
    }
    const std::optional<uint32_t> address =
        argc == 2 ? ParsePlainDottedQuad(argv[1]) : std::nullopt;
    if (!address) {
        // The argument is not shown: it may hold anything, control characters included.
        Say(argc == 2 ? "the address must be an IPv4 address written as a plain dotted quad"
                      : "takes exactly one address");
        Put(ArpClearUsage);
        return acUsage;
    }
    const std::string text = DottedQuad(*address);
    try {
        if (const char* refusal = RefusalOf(*address, LocalAddresses(), RouteGateways())) {
            Say("refuses " + text + ": it is " + refusal);
            return acRefused;
        }
        if (!*privileged) {
            Say(MissingCapability);
            return acNoPermission;
        }
        std::string kept;
        bool deleted = false;
        for (const TNeighbour& entry : NeighboursOf(*address)) {
            if (IsDynamic(entry.State)) {
                deleted = DeleteNeighbour(entry.InterfaceIndex, *address) || deleted;
            } else if (kept.empty()) {
                kept = entry.State & NUD_PERMANENT
                           ? "keeps the permanent entry for " + text + " on " +
                                 InterfaceName(entry.InterfaceIndex) + ", set by an administrator"
                           : "keeps the no-ARP entry for " + text + " on " +
                                 InterfaceName(entry.InterfaceIndex) + ", which ARP never resolves";
            }
        }
        // A kept entry still sends to the MAC it holds: the next unit would not be asked for.
        if (!deleted && !kept.empty()) {
            Say(kept);
            return acRefused;
        }
        return acCleared;
    } catch (const ENetlinkError& e) {
        if (IsPermissionDenied(e.Code())) {
            Say(MissingCapability);
            return acNoPermission;
        }
        Say(e.what());
        return acFailed;
    }
}
