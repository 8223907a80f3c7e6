// The stack: the one door of the network code to the operating system's socket service. Every
// socket operation goes through the process-wide GlobalStack; the platform binding
// (TIdStackWinsock) implements the abstract operations, this class the parts common to every
// platform (error texts, result checks, socket creation, host-to-address rule, dotted quads).
#pragma once

#include "base/Exception.h"
#include "net/IdEndpoint.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// An operating-system socket handle; InvalidSocketId marks a failed creation or accept.
using TSocketId = uint32_t;
inline constexpr TSocketId InvalidSocketId = 0xFFFFFFFFu;
// The result by which every integer-returning socket call reports failure.
inline constexpr int32_t SocketFailure = -1;
// A time-out that waits without limit.
inline constexpr int32_t NoTimeLimit = -2;

inline constexpr int32_t Id_PF_INET = 2;
inline constexpr int32_t Id_SOCK_STREAM = 1;
inline constexpr int32_t Id_SOCK_DGRAM = 2;
inline constexpr int32_t Id_SOL_SOCKET = 65535;
inline constexpr int32_t Id_SO_BROADCAST = 32;
inline constexpr int32_t Id_SD_Send = 1;
inline constexpr int32_t Id_WSAEMSGSIZE = 10040;

using TIdStrings = std::vector<std::string>;
// An ordered list of socket handles, as SockSelect takes and rewrites it.
using TIdSocketList = std::vector<TSocketId>;
// A numeric IPv4 address whose bytes in memory are TIdInAddrBytes (network byte order).
struct TIdInAddr {
    uint32_t S_addr = 0;
};

// What the started socket service reports about itself. Nothing reads it after it is built.
class TIdStackVersion : public TObject {
public:
    uint32_t DatagramLimit = 0;
    uint32_t SocketLimit = 0;
    uint16_t HighestVersion = 0;
    uint16_t AgreedVersion = 0;
    std::string DescriptionText;
    std::string StatusText;
    std::string StackName;
};

class TIdStack : public TObject {
public:
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;
    ~TIdStack() override;

    // Slots, in order. Slot 3 is the construction of the concrete class.
    virtual void RefreshLocalAddresses() = 0;                                           // 0
    virtual std::string FirstLocalAddress() = 0;                                        // 1
    virtual TIdStrings* LocalAddressList() = 0;                                         // 2
    virtual TSocketId SockAccept(TSocketId socket, std::string& ip, int32_t& port) = 0; // 4
    virtual int32_t SockBind(TSocketId socket, uint16_t family, const std::string& ip,
                             int32_t port) = 0;      // 5
    virtual int32_t SockClose(TSocketId socket) = 0; // 6
    virtual int32_t SockConnect(TSocketId socket, uint16_t family, const std::string& ip,
                                int32_t port) = 0;                            // 7
    virtual std::string LookupHostAddress(const std::string& host) = 0;       // 8
    virtual std::string LocalHostName() = 0;                                  // 9
    virtual std::string LookupHostName(const std::string& address) = 0;       // 10
    virtual int32_t LookupServicePort(const std::string& service) = 0;        // 11
    virtual std::unique_ptr<TIdStrings> LookupServiceNames(int32_t port) = 0; // 12
    virtual uint16_t HostToNetShort(uint16_t value) = 0;                      // 13
    virtual int32_t SockListen(TSocketId socket, int32_t backlog) = 0;        // 14
    virtual uint16_t NetToHostShort(uint16_t value) = 0;                      // 15
    virtual uint32_t HostToNetLong(uint32_t value) = 0;                       // 16
    virtual uint32_t NetToHostLong(uint32_t value) = 0;                       // 17
    virtual int32_t SockRecv(TSocketId socket, void* buffer, int32_t length,
                             int32_t flags) = 0; // 18
    // The text-typed form of SockRecvFromEndpoint.
    virtual int32_t SockRecvFrom(TSocketId socket, void* buffer, int32_t length, int32_t flags,
                                 std::string& ip, int32_t& port); // 19
    virtual int32_t SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                               TIdSocketList* errorList, int32_t timeout) = 0; // 20
    virtual int32_t SockSend(TSocketId socket, const void* buffer, int32_t length,
                             int32_t flags) = 0; // 21
    // The text-typed form of SockSendToEndpoint: the text by TextToInAddrBytes.
    virtual int32_t SockSendTo(TSocketId socket, const void* buffer, int32_t length, int32_t flags,
                               const std::string& ip, int32_t port); // 22
    virtual int32_t SockSetOption(TSocketId socket, int32_t level, int32_t name, const void* value,
                                  int32_t length) = 0;                                // 23
    virtual TSocketId SockCreate(int32_t family, int32_t type, int32_t protocol) = 0; // 24
    virtual int32_t SockShutdown(TSocketId socket, int32_t how) = 0;                  // 25
    virtual std::string SocketErrorText(int32_t code);                                // 26
    virtual int32_t LastSocketError() = 0;                                            // 27
    virtual void PeerAddressOf(TSocketId socket, int32_t& family, std::string& ip,
                               int32_t& port) = 0; // 28
    virtual void LocalAddressOf(TSocketId socket, int32_t& family, std::string& ip,
                                int32_t& port) = 0;                                     // 29
    virtual std::string InAddrToText(const TIdInAddrBytes& bytes) = 0;                  // 30
    virtual void TextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) = 0; // 31
    // The path of every datagram: the address as a value. The sender of a failed receive is what
    // the system reported, or no address.
    virtual int32_t SockSendToEndpoint(TSocketId socket, const void* buffer, int32_t length,
                                       int32_t flags, const TIdEndpoint& to) = 0; // 32
    virtual int32_t SockRecvFromEndpoint(TSocketId socket, void* buffer, int32_t length,
                                         int32_t flags, TIdEndpoint& from) = 0; // 33

    // A new stack of the platform's concrete class (TIdStackWinsock).
    static TIdStack* MakeDefaultStack();

    // False unless result is exactly -1; then true when the last error is one of ignored,
    // otherwise EIdSocketError.
    bool CheckSocketResult(int32_t result, std::initializer_list<int32_t> ignored = {});
    [[noreturn]] void ThrowSocketError(int32_t code);
    // A new IPv4 socket, or EIdInvalidSocket "Cannot allocate socket.".
    TSocketId OpenSocket(int32_t type, int32_t protocol);
    // "LOCALHOST" in any case is 127.0.0.1; a dotted quad is kept as written; a name is looked up.
    std::string HostToAddress(const std::string& host);
    // The host's address by HostToAddress, with the port, as an endpoint: the one look-up of a
    // host that sends more than one datagram.
    TIdEndpoint ResolveEndpoint(const std::string& host, int32_t port);
    bool IsDottedQuad(const std::string& text);
    // One part of a dotted quad: an integer by the integer text rule between 0 and 255.
    static bool IsOctetText(const std::string& part);
    TIdInAddr TextToInAddr(const std::string& text);

    TIdStackVersion* VersionInfo() const { return FVersionInfo.get(); }

protected:
    TIdStack() = default;

    // The platform-neutral bodies of slots 30 and 31, for bindings to use.
    static std::string DefaultInAddrToText(const TIdInAddrBytes& bytes);
    static void DefaultTextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes);

    std::unique_ptr<TIdStackVersion> FVersionInfo;
    std::unique_ptr<TIdStrings> FLocalAddressCache;
};

// The one stack object; null while no network component exists.
extern TIdStack* GlobalStack;
