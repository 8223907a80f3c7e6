#include "tftp/IdTrivialFTPBase.h"

#include "base/Format.h"
#include "base/IntegerText.h"
#include "base/TextCase.h"
#include "net/Idexception.h"

#include <algorithm>

namespace {

// The text of a packet from offset up to the next NUL or the datagram's end; empty when the
// packet ends before offset.
std::string_view FieldAt(std::string_view packet, size_t offset, size_t* next = nullptr) {
    if (offset >= packet.size()) {
        if (next != nullptr) {
            *next = packet.size();
        }
        return {};
    }
    const std::string_view rest = packet.substr(offset);
    const size_t end = rest.find('\0');
    const std::string_view field = rest.substr(0, end);
    if (next != nullptr) {
        *next = end == std::string_view::npos ? packet.size() : offset + end + 1;
    }
    return field;
}

// RFC 2347 section 2: each option's name and value, each text closed by a NUL, in order.
void AppendOptions(std::string& packet, const TIdTFTPOptions& options) {
    for (const TIdTFTPOption& option : options) {
        packet += option.Name;
        packet += '\0';
        packet += option.Value;
        packet += '\0';
    }
}

template <class E>
[[noreturn]] void Raise(std::string message) {
    throw E(std::move(message));
}

} // namespace

std::string WordToNetBytes(uint16_t value) {
    return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

uint16_t NetBytesToWord(std::string_view bytes) {
    // Only the bytes that are there: a missing low or high byte reads as zero.
    const auto byteAt = [bytes](size_t i) -> uint16_t {
        return i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0;
    };
    return static_cast<uint16_t>(byteAt(0) << 8 | byteAt(1));
}

const char* ModeText(TIdTFTPMode mode) {
    return mode == tfNetAscii ? "netascii" : "octet";
}

std::string MakeWriteRequest(const std::string& remoteName, TIdTFTPMode mode,
                             const TIdTFTPOptions& options) {
    // RFC 1350 section 5 and RFC 2347 section 2: opcode, name, mode, then option name and value,
    // each text closed by a NUL.
    std::string packet = WordToNetBytes(TFTP_WRQ);
    packet += remoteName;
    packet += '\0';
    packet += ModeText(mode);
    packet += '\0';
    AppendOptions(packet, options);
    return packet;
}

std::string MakeWriteRequest(const std::string& remoteName, TIdTFTPMode mode,
                             int32_t requestedBlockSize) {
    return MakeWriteRequest(remoteName, mode,
                            {{TFTPBlockSizeOption, std::to_string(requestedBlockSize)}});
}

TIdTFTPOptionAck TIdTFTPOptionAck::Read(std::string_view packet, const TIdTFTPOptions& offered) {
    // RFC 2347 section 2: name NUL value NUL pairs, in any order.
    TIdTFTPOptionAck ack;
    size_t offset = 2;
    while (offset < packet.size()) {
        size_t valueOffset = 0;
        const std::string_view name = FieldAt(packet, offset, &valueOffset);
        const std::string_view value = FieldAt(packet, valueOffset, &offset);
        const bool asked = std::any_of(offered.begin(), offered.end(), [name](const auto& o) {
            return SameTextIgnoringCase(o.Name, name);
        });
        if (!asked) {
            ack.FRefused.emplace_back(name);
        } else if (ack.Find(name) == nullptr) {
            ack.FOptions.push_back({std::string(name), std::string(value)});
        }
    }
    return ack;
}

const std::string* TIdTFTPOptionAck::Find(std::string_view name) const {
    for (const TIdTFTPOption& option : FOptions) {
        if (SameTextIgnoringCase(option.Name, name)) {
            return &option.Value;
        }
    }
    return nullptr;
}

int32_t BlockSizeOptionValue(std::string_view value) {
    const int32_t size = TextToInt(value);
    // Below 1 no block would ever be short and the upload would not end; above 65464 the block
    // and its header no longer fit one UDP datagram (RFC 2348 section 2).
    if (size < TFTPMinBlockSize || size > TFTPMaxBlockSize) {
        throw EIdTFTPOptionNegotiationFailed(
            Format("Block size %d refused by the client: it must lie between %d and %d", size,
                   TFTPMinBlockSize, TFTPMaxBlockSize));
    }
    return size;
}

std::string MakeDataHeader(uint16_t blockNumber) {
    return WordToNetBytes(TFTP_DATA) + WordToNetBytes(blockNumber);
}

std::string MakeErrorPacket(uint16_t code, std::string_view text) {
    std::string packet = WordToNetBytes(TFTP_ERROR) + WordToNetBytes(code);
    packet += text;
    packet += '\0';
    return packet;
}

void RaiseErrorPacket(std::string_view packet) {
    const uint16_t code = packet.size() > 2 ? NetBytesToWord(packet.substr(2)) : 0;
    std::string text(FieldAt(packet, 4));
    switch (code) {
    case 1:
        Raise<EIdTFTPFileNotFound>(std::move(text));
    case 2:
        Raise<EIdTFTPAccessViolation>(std::move(text));
    case 3:
        Raise<EIdTFTPAllocationExceeded>(std::move(text));
    case 4:
        Raise<EIdTFTPIllegalOperation>(std::move(text));
    case 5:
        Raise<EIdTFTPUnknownTransferID>(std::move(text));
    case 6:
        Raise<EIdTFTPFileAlreadyExists>(std::move(text));
    case 7:
        Raise<EIdTFTPNoSuchUser>(std::move(text));
    case 8:
        Raise<EIdTFTPOptionNegotiationFailed>(std::move(text));
    default:
        Raise<EIdTFTPException>(std::move(text));
    }
}

bool OptionAckBlockSize(std::string_view packet, int32_t& blockSize) {
    // RFC 2347 section 2: name NUL value NUL pairs, in any order; "blksize" is read wherever it
    // stands (the first one, should a packet name it twice).
    size_t offset = 2;
    while (offset < packet.size()) {
        size_t valueOffset = 0;
        const std::string_view name = FieldAt(packet, offset, &valueOffset);
        const std::string_view value = FieldAt(packet, valueOffset, &offset);
        if (SameTextIgnoringCase(name, TFTPBlockSizeOption)) {
            blockSize = BlockSizeOptionValue(value);
            return true;
        }
    }
    return false;
}

uint16_t NetBytesToWordAt(std::string_view packet, size_t offset) {
    return packet.size() >= offset + 2 ? NetBytesToWord(packet.substr(offset)) : 0;
}

std::string MakeAck(uint16_t blockNumber) {
    return WordToNetBytes(TFTP_ACK) + WordToNetBytes(blockNumber);
}

std::string MakeOptionAck(const TIdTFTPOptions& options) {
    std::string packet = WordToNetBytes(TFTP_OACK);
    AppendOptions(packet, options);
    return packet;
}

std::optional<TIdTFTPRequest> TIdTFTPRequest::Read(std::string_view packet) {
    TIdTFTPRequest request;
    request.Opcode = NetBytesToWordAt(packet, 0);
    if (request.Opcode != TFTP_RRQ && request.Opcode != TFTP_WRQ) {
        return std::nullopt;
    }
    // Every field up to its NUL; one that runs to the datagram's end makes the request malformed.
    std::vector<std::string> fields;
    for (size_t offset = 2; offset < packet.size();) {
        const size_t end = packet.find('\0', offset);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        fields.emplace_back(packet.substr(offset, end - offset));
        offset = end + 1;
    }
    if (fields.size() < 2) {
        return std::nullopt;
    }
    request.Name = std::move(fields[0]);
    request.Mode = std::move(fields[1]);
    for (size_t i = 2; i + 1 < fields.size(); i += 2) {
        request.Options.push_back({std::move(fields[i]), std::move(fields[i + 1])});
    }
    return request;
}

TIdTFTPErrorPacket TIdTFTPErrorPacket::Read(std::string_view packet) {
    return {NetBytesToWordAt(packet, 2), std::string(FieldAt(packet, 4))};
}
