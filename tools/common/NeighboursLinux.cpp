// The neighbour table over rtnetlink: a socket of its own for each request, the answers read to
// the end of the dump or to the acknowledgement. Only the kernel's answers (port 0) are read: any
// process may send to our port. Every length is checked before it is used, and structures are
// copied out of the buffer, never cast in place.
#include "Neighbours.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string_view>

ENetlinkError::ENetlinkError(const std::string& what, int code)
    : std::runtime_error(what + ": " + std::strerror(code)), FCode(code) {}

namespace {

using TBytes = std::string_view;

// NLMSG_ALIGN and RTA_ALIGN: messages and attributes start at multiples of 4 bytes.
constexpr size_t Align(size_t length) {
    return (length + 3) & ~size_t{3};
}

// The structure at the start of the bytes, of which there are at least sizeof(T).
template <class T>
T Read(TBytes bytes) {
    T value{};
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

template <class T>
std::string Bytes(const T& value) {
    std::string bytes(Align(sizeof value), '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// The fixed header T at the start of a message's body, and in attributes what follows it; nothing
// when the body is shorter than the header.
template <class T>
std::optional<T> Head(TBytes body, TBytes& attributes) {
    if (body.size() < sizeof(T)) {
        return std::nullopt;
    }
    attributes = body.substr(std::min(Align(sizeof(T)), body.size()));
    return Read<T>(body);
}

// Hands each attribute's type and payload to each; a malformed one ends the walk.
void ForEachAttribute(TBytes bytes, const std::function<void(uint16_t, TBytes)>& each) {
    while (bytes.size() >= sizeof(rtattr)) {
        const auto head = Read<rtattr>(bytes);
        if (head.rta_len < sizeof head || head.rta_len > bytes.size()) {
            return;
        }
        each(head.rta_type & NLA_TYPE_MASK, bytes.substr(sizeof head, head.rta_len - sizeof head));
        bytes.remove_prefix(std::min(Align(head.rta_len), bytes.size()));
    }
}

std::optional<uint32_t> Address(TBytes payload) {
    if (payload.size() != sizeof(uint32_t)) {
        return std::nullopt;
    }
    return ntohl(Read<uint32_t>(payload));
}

// Sends one request and hands the body of each answer of answerType to each, up to the end of the
// dump or the acknowledgement; an error answer is thrown. False when the kernel marked the dump
// as interrupted by a change of the table, whose answers are then not the whole table.
bool Ask(const char* what, uint16_t type, uint16_t flags, const std::string& body,
         uint16_t answerType, const std::function<void(TBytes)>& each) {
    const int route = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (route < 0) {
        throw ENetlinkError(what, errno);
    }
    struct TClose {
        int Socket;
        ~TClose() { ::close(Socket); }
    } closes{route};
    constexpr uint32_t sequence = 1; // one request per socket
    nlmsghdr head{};
    head.nlmsg_len = static_cast<uint32_t>(sizeof head + body.size());
    head.nlmsg_type = type;
    head.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | flags);
    head.nlmsg_seq = sequence;
    const std::string request = Bytes(head) + body;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(route, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(request.size())) {
        throw ENetlinkError(what, errno);
    }
    std::string buffer(size_t{1} << 16, '\0');
    bool whole = true;
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(route, buffer.data(), buffer.size(), MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw ENetlinkError(what, errno);
        }
        if (from.nl_pid != 0) {
            continue;
        }
        if (static_cast<size_t>(got) > buffer.size()) {
            throw ENetlinkError(what, EMSGSIZE);
        }
        TBytes rest(buffer.data(), static_cast<size_t>(got));
        while (rest.size() >= sizeof(nlmsghdr)) {
            const auto answer = Read<nlmsghdr>(rest);
            if (answer.nlmsg_len < sizeof answer || answer.nlmsg_len > rest.size()) {
                throw ENetlinkError(what, EBADMSG);
            }
            const TBytes payload = rest.substr(sizeof answer, answer.nlmsg_len - sizeof answer);
            rest.remove_prefix(std::min(Align(answer.nlmsg_len), rest.size()));
            if (answer.nlmsg_seq != sequence) {
                continue;
            }
            whole = whole && (answer.nlmsg_flags & NLM_F_DUMP_INTR) == 0;
            if (answer.nlmsg_type == NLMSG_ERROR || answer.nlmsg_type == NLMSG_DONE) {
                // The error code, negative; 0 for the acknowledgement and a dump's good end.
                const int error = payload.size() >= sizeof(int) ? Read<int>(payload) : 0;
                if (error < 0) {
                    throw ENetlinkError(what, -error);
                }
                return whole;
            }
            if (answer.nlmsg_type == answerType) {
                each(payload);
            }
        }
    }
}

// The bodies of a whole dump, asked again while the table changes under it.
std::vector<std::string> Dump(const char* what, uint16_t type, const std::string& request,
                              uint16_t answerType) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::vector<std::string> bodies;
        if (Ask(what, type, NLM_F_DUMP, request, answerType,
                [&](TBytes body) { bodies.emplace_back(body); })) {
            return bodies;
        }
    }
    throw ENetlinkError(what, EAGAIN);
}

} // namespace

std::vector<TLocalAddress> LocalAddresses() {
    ifaddrmsg ask{};
    ask.ifa_family = AF_INET;
    std::vector<TLocalAddress> found;
    for (const std::string& body :
         Dump("cannot read the host's addresses", RTM_GETADDR, Bytes(ask), RTM_NEWADDR)) {
        TBytes attributes;
        const auto head = Head<ifaddrmsg>(body, attributes);
        if (!head || head->ifa_family != AF_INET) {
            continue;
        }
        std::optional<uint32_t> address, local;
        TLocalAddress entry;
        entry.PrefixLength = head->ifa_prefixlen;
        entry.InterfaceIndex = static_cast<int>(head->ifa_index);
        ForEachAttribute(attributes, [&](uint16_t type, TBytes payload) {
            if (type == IFA_ADDRESS) {
                address = Address(payload);
            } else if (type == IFA_LOCAL) {
                local = Address(payload);
            } else if (type == IFA_BROADCAST) {
                entry.Broadcast = Address(payload);
            }
        });
        if (local || address) {
            entry.Address = local ? *local : *address;
            found.push_back(entry);
        }
    }
    return found;
}

std::vector<uint32_t> RouteGateways() {
    std::vector<uint32_t> found;
    const auto add = [&](uint16_t type, TBytes payload) {
        if (const auto gateway = Address(payload); type == RTA_GATEWAY && gateway) {
            found.push_back(*gateway);
        }
    };
    rtmsg ask{};
    ask.rtm_family = AF_INET;
    for (const std::string& body :
         Dump("cannot read the routes", RTM_GETROUTE, Bytes(ask), RTM_NEWROUTE)) {
        TBytes attributes;
        const auto head = Head<rtmsg>(body, attributes);
        if (!head || head->rtm_family != AF_INET) {
            continue;
        }
        ForEachAttribute(attributes, [&](uint16_t type, TBytes payload) {
            add(type, payload);
            // RTA_MULTIPATH: a row of rtnexthop structures, each followed by its attributes.
            while (type == RTA_MULTIPATH && payload.size() >= sizeof(rtnexthop)) {
                const auto hop = Read<rtnexthop>(payload);
                if (hop.rtnh_len < sizeof hop || hop.rtnh_len > payload.size()) {
                    break;
                }
                ForEachAttribute(payload.substr(sizeof hop, hop.rtnh_len - sizeof hop), add);
                payload.remove_prefix(std::min(Align(hop.rtnh_len), payload.size()));
            }
        });
    }
    // Nexthop objects (Linux 5.3 and later); a kernel without them refuses the dump.
    std::vector<std::string> nexthops;
    try {
        nexthops = Dump("cannot read the nexthops", RTM_GETNEXTHOP, Bytes(nhmsg{}), RTM_NEWNEXTHOP);
    } catch (const ENetlinkError& e) {
        if (e.Code() != EOPNOTSUPP && e.Code() != EINVAL) {
            throw;
        }
    }
    for (const std::string& body : nexthops) {
        TBytes attributes;
        if (const auto head = Head<nhmsg>(body, attributes); head && head->nh_family == AF_INET) {
            ForEachAttribute(attributes, [&](uint16_t type, TBytes payload) {
                if (type == NHA_GATEWAY) {
                    add(RTA_GATEWAY, payload);
                }
            });
        }
    }
    return found;
}

std::vector<TNeighbour> NeighboursOf(uint32_t address) {
    ndmsg ask{};
    ask.ndm_family = AF_INET;
    std::vector<TNeighbour> found;
    for (const std::string& body :
         Dump("cannot read the neighbour table", RTM_GETNEIGH, Bytes(ask), RTM_NEWNEIGH)) {
        TBytes attributes;
        const auto head = Head<ndmsg>(body, attributes);
        if (!head || head->ndm_family != AF_INET) {
            continue;
        }
        std::optional<uint32_t> destination;
        TNeighbour entry{head->ndm_ifindex, head->ndm_state, head->ndm_flags, {}};
        ForEachAttribute(attributes, [&](uint16_t type, TBytes payload) {
            if (type == NDA_DST) {
                destination = Address(payload);
            } else if (type == NDA_LLADDR) {
                entry.HardwareAddress.assign(payload.begin(), payload.end());
            }
        });
        if (destination == address) {
            found.push_back(std::move(entry));
        }
    }
    return found;
}

bool DeleteNeighbour(int interfaceIndex, uint32_t address) {
    ndmsg ask{};
    ask.ndm_family = AF_INET;
    ask.ndm_ifindex = interfaceIndex;
    const uint32_t destination = htonl(address);
    const rtattr head{static_cast<uint16_t>(sizeof(rtattr) + sizeof destination), NDA_DST};
    try {
        Ask("cannot delete the neighbour entry", RTM_DELNEIGH, NLM_F_ACK,
            Bytes(ask) + Bytes(head) + Bytes(destination), NLMSG_NOOP, [](TBytes) {});
    } catch (const ENetlinkError& e) {
        if (e.Code() == ENOENT) {
            return false;
        }
        throw;
    }
    return true;
}
