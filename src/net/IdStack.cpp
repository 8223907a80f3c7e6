#include "net/IdStack.h"

#include "base/Format.h"
#include "base/IntegerText.h"
#include "base/TextCase.h"
#include "net/IdStackWinsock.h"
#include "net/Idexception.h"

#include <algorithm>
#include <charconv>
#include <cstring>

TIdStack* GlobalStack = nullptr;

namespace {

struct TErrorRow {
    int32_t Code;
    const char* Text;
};

// The texts of the Winsock error codes that sockets report; lookup codes (11001 and up) have none.
constexpr TErrorRow ErrorRows[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

} // namespace

TIdStack::~TIdStack() = default;

TIdStack* TIdStack::MakeDefaultStack() {
    return new TIdStackWinsock();
}

std::string TIdStack::SocketErrorText(int32_t code) {
    const char* text = "";
    for (const TErrorRow& row : ErrorRows) {
        if (row.Code == code) {
            text = row.Text;
            break;
        }
    }
    return Format(IdText::SocketError, static_cast<int>(code), text);
}

bool TIdStack::CheckSocketResult(int32_t result, std::initializer_list<int32_t> ignored) {
    if (result != SocketFailure) {
        return false;
    }
    const int32_t code = LastSocketError();
    if (std::find(ignored.begin(), ignored.end(), code) != ignored.end()) {
        return true;
    }
    ThrowSocketError(code);
}

void TIdStack::ThrowSocketError(int32_t code) {
    throw EIdSocketError(code, SocketErrorText(code));
}

TSocketId TIdStack::OpenSocket(int32_t type, int32_t protocol) {
    const TSocketId socket = SockCreate(Id_PF_INET, type, protocol);
    if (socket == InvalidSocketId) {
        throw EIdInvalidSocket(IdText::CannotAllocateSocket);
    }
    return socket;
}

std::string TIdStack::HostToAddress(const std::string& host) {
    if (SameTextIgnoringCase(host, "LOCALHOST")) {
        return "127.0.0.1";
    }
    if (IsDottedQuad(host)) {
        return host;
    }
    return LookupHostAddress(host);
}

bool TIdStack::IsOctetText(const std::string& part) {
    // Two defaults outside the range, so that no text that fails to convert can pass.
    return TextToIntDef(part, -1) >= 0 && TextToIntDef(part, 256) < 256;
}

bool TIdStack::IsDottedQuad(const std::string& text) {
    TIdInAddrBytes bytes{};
    return ParseDottedQuad(text, bytes);
}

TIdEndpoint TIdStack::ResolveEndpoint(const std::string& host, int32_t port) {
    TIdInAddrBytes bytes{};
    TextToInAddrBytes(HostToAddress(host), bytes);
    return TIdEndpoint::IPv4(bytes, static_cast<uint16_t>(port));
}

int32_t TIdStack::SockRecvFrom(TSocketId socket, void* buffer, int32_t length, int32_t flags,
                               std::string& ip, int32_t& port) {
    TIdEndpoint from;
    const int32_t result = SockRecvFromEndpoint(socket, buffer, length, flags, from);
    ip = InAddrToText(from.InAddr());
    port = from.Port;
    return result;
}

int32_t TIdStack::SockSendTo(TSocketId socket, const void* buffer, int32_t length, int32_t flags,
                             const std::string& ip, int32_t port) {
    TIdInAddrBytes bytes{};
    TextToInAddrBytes(ip, bytes);
    return SockSendToEndpoint(socket, buffer, length, flags,
                              TIdEndpoint::IPv4(bytes, static_cast<uint16_t>(port)));
}

TIdInAddr TIdStack::TextToInAddr(const std::string& text) {
    TIdInAddrBytes bytes{};
    TextToInAddrBytes(text, bytes);
    TIdInAddr address;
    static_assert(sizeof(address.S_addr) == sizeof(bytes));
    std::memcpy(&address.S_addr, bytes.data(), bytes.size());
    return address;
}

std::string TIdStack::DefaultInAddrToText(const TIdInAddrBytes& bytes) {
    return DottedQuadText(bytes);
}

void TIdStack::DefaultTextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) {
    if (ParseDottedQuad(text, bytes)) {
        return;
    }
    std::string rest = text;
    for (uint8_t& byte : bytes) {
        // Text after a fourth dot is ignored; only the low 8 bits of each number are kept.
        byte = static_cast<uint8_t>(TextToInt(CutToken(rest, ".", true)) & 0xFF);
    }
}
