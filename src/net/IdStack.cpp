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

namespace {

// The plain form every address takes on the wire path: four decimal numbers of one to three
// digits, each at most 255, joined by three dots. Such text passes the general rule with the same
// bytes, so it is read directly; anything else takes the general rule.
bool ParsePlainDottedQuad(const std::string& text, TIdInAddrBytes& bytes) {
    // Read through local pointers: the byte stores below may alias the string, which would make
    // the compiler fetch its size and data again for every character.
    const char* p = text.data();
    const char* const end = p + text.size();
    TIdInAddrBytes parts{};
    for (size_t part = 0; part < 4; ++part) {
        if (part > 0) {
            if (p == end || *p != '.') {
                return false;
            }
            ++p;
        }
        const char* const first = p;
        unsigned value = 0;
        while (p != end && p - first < 3 && static_cast<unsigned char>(*p - '0') < 10) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        if (p == first || value > 255) {
            return false;
        }
        parts[part] = static_cast<uint8_t>(value);
    }
    if (p != end) {
        return false;
    }
    bytes = parts;
    return true;
}

// A transfer names the same address in every datagram it sends and receives, so the last
// conversion each way is kept, per thread. Both conversions are pure functions of their
// argument: keeping an answer changes none, and no name is looked up here.
struct TLastAddressText {
    std::string text; // a plain dotted quad, at most 15 characters: no allocation
    TIdInAddrBytes bytes{};
    bool valid = false;
};

thread_local TLastAddressText LastRead;
thread_local TLastAddressText LastWritten;

bool ReadPlainDottedQuad(const std::string& text, TIdInAddrBytes& bytes) {
    if (LastRead.valid && text == LastRead.text) {
        bytes = LastRead.bytes;
        return true;
    }
    if (!ParsePlainDottedQuad(text, bytes)) {
        return false;
    }
    LastRead.text = text;
    LastRead.bytes = bytes;
    LastRead.valid = true;
    return true;
}

} // namespace

bool TIdStack::IsDottedQuad(const std::string& text) {
    TIdInAddrBytes plain{};
    if (ReadPlainDottedQuad(text, plain)) {
        return true;
    }
    std::string rest = text;
    const std::string first = CutToken(rest, ".", true);
    const std::string second = CutToken(rest, ".", true);
    const std::string third = CutToken(rest, ".", true);
    return IsOctetText(first) && IsOctetText(second) && IsOctetText(third) && IsOctetText(rest);
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
    // Called for every datagram received: written directly rather than through a format, and
    // the last answer kept.
    if (LastWritten.valid && bytes == LastWritten.bytes) {
        return LastWritten.text;
    }
    char text[16];
    char* end = text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            *end++ = '.';
        }
        end = std::to_chars(end, text + sizeof(text), unsigned{bytes[i]}).ptr;
    }
    LastWritten.text.assign(text, end);
    LastWritten.bytes = bytes;
    LastWritten.valid = true;
    return LastWritten.text;
}

void TIdStack::DefaultTextToInAddrBytes(const std::string& text, TIdInAddrBytes& bytes) {
    if (ReadPlainDottedQuad(text, bytes)) {
        return;
    }
    std::string rest = text;
    for (uint8_t& byte : bytes) {
        // Text after a fourth dot is ignored; only the low 8 bits of each number are kept.
        byte = static_cast<uint8_t>(TextToInt(CutToken(rest, ".", true)) & 0xFF);
    }
}
