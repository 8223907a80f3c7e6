// TFTP packets: RFC 1350 with the option extension (RFC 2347) and "blksize" (RFC 2348). The
// client writes only: it builds write requests and data packets and reads acknowledgements,
// option acknowledgements and error packets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum TIdTFTPMode : uint8_t { tfNetAscii = 0, tfOctet = 1 };

// RFC 1350 section 5 opcodes; 6 is the option acknowledgement of RFC 2347.
inline constexpr uint16_t TFTP_RRQ = 1;
inline constexpr uint16_t TFTP_WRQ = 2;
inline constexpr uint16_t TFTP_DATA = 3;
inline constexpr uint16_t TFTP_ACK = 4;
inline constexpr uint16_t TFTP_ERROR = 5;
inline constexpr uint16_t TFTP_OACK = 6;

// Data packet header: opcode and block number.
inline constexpr int32_t TFTPHeaderSize = 4;
// RFC 1350 block size, used until an option acknowledgement names another.
inline constexpr int32_t TFTPDefaultBlockSize = 512;
// RFC 2348 section 2: "blksize" lies in 8..65464 octets; we accept down to 1, as a block of one
// byte still makes progress.
inline constexpr int32_t TFTPMinBlockSize = 1;
inline constexpr int32_t TFTPMaxBlockSize = 65464;

inline constexpr const char* TFTPBlockSizeOption = "blksize";

std::string WordToNetBytes(uint16_t value);
// The first two bytes read big-endian; a packet shorter than two bytes reads as 0 (and one of
// one byte as that byte alone, as the high byte of a word).
uint16_t NetBytesToWord(std::string_view bytes);

const char* ModeText(TIdTFTPMode mode);

// One option of a request (RFC 2347 section 2): its name and its value, both text.
struct TIdTFTPOption {
    std::string Name;
    std::string Value;
    friend bool operator==(const TIdTFTPOption&, const TIdTFTPOption&) = default;
};
// The options a request offers, in the order they are written.
using TIdTFTPOptions = std::vector<TIdTFTPOption>;

// The write request: opcode 2, name, mode, then each option's name and value in order, every
// text closed by a NUL.
std::string MakeWriteRequest(const std::string& remoteName, TIdTFTPMode mode,
                             const TIdTFTPOptions& options);
// The same with the "blksize" option alone, carrying the requested value.
std::string MakeWriteRequest(const std::string& remoteName, TIdTFTPMode mode,
                             int32_t requestedBlockSize);

// An option acknowledgement, read once (RFC 2347 section 3): the options the server took, each
// with the value it took, in the packet's order.
class TIdTFTPOptionAck {
public:
    // Reads the name and value pairs after the opcode. Only the options that were offered
    // (names compared in any case) are taken: RFC 2347 section 3 lets a server acknowledge the
    // options it was asked for, and one it names unasked must not change the transfer; such
    // names are kept apart, in Refused. A name that comes twice counts once, the first time.
    static TIdTFTPOptionAck Read(std::string_view packet, const TIdTFTPOptions& offered);

    // The value taken for an offered option (name in any case), or null when the server left it
    // out.
    const std::string* Find(std::string_view name) const;
    const TIdTFTPOptions& Options() const { return FOptions; }
    const std::vector<std::string>& Refused() const { return FRefused; }

private:
    TIdTFTPOptions FOptions;
    std::vector<std::string> FRefused;
};

// The block size that a "blksize" value names (RFC 2348): EConvertError for a value that is not
// an integer, EIdTFTPOptionNegotiationFailed for one outside TFTPMinBlockSize..TFTPMaxBlockSize.
int32_t BlockSizeOptionValue(std::string_view value);
// A data packet header; the caller appends the data.
std::string MakeDataHeader(uint16_t blockNumber);
// RFC 1350 section 5: an error packet, opcode 5, the code and the text closed by a NUL.
std::string MakeErrorPacket(uint16_t code, std::string_view text);

// RFC 1350 section 5, error code 5: a packet of a transfer that is not ours.
inline constexpr uint16_t TFTPErrorUnknownTransferId = 5;
inline constexpr const char* TFTPUnknownTransferIdText = "Unknown transfer ID";

// Raises the exception of an error packet's code with its text; never returns.
[[noreturn]] void RaiseErrorPacket(std::string_view packet);

// The block size named by the "blksize" option (any case) of an option acknowledgement, wherever
// it stands among the options; false when the packet has none. A value that is not an integer
// raises EConvertError; one outside TFTPMinBlockSize..TFTPMaxBlockSize raises
// EIdTFTPOptionNegotiationFailed.
bool OptionAckBlockSize(std::string_view packet, int32_t& blockSize);

// What a server reads and sends: the other side of the same packets.

// RFC 1350 section 5 error codes, TFTPErrorUnknownTransferId above among them; 8 is RFC 2347
// section 2's, for options the server refuses.
inline constexpr uint16_t TFTPErrorNotDefined = 0;
inline constexpr uint16_t TFTPErrorFileNotFound = 1;
inline constexpr uint16_t TFTPErrorAccessViolation = 2;
inline constexpr uint16_t TFTPErrorDiskFull = 3;
inline constexpr uint16_t TFTPErrorIllegalOperation = 4;
inline constexpr uint16_t TFTPErrorFileExists = 6;
inline constexpr uint16_t TFTPErrorNoSuchUser = 7;
inline constexpr uint16_t TFTPErrorOptionRefused = 8;

// RFC 2348 section 2: the smallest "blksize" a request may name. A server answers a request for
// less as if it named none; the client, for its part, takes down to TFTPMinBlockSize.
inline constexpr int32_t TFTPMinRequestBlockSize = 8;

// The word at offset, read big-endian, when the packet holds both of its bytes; 0 otherwise. A
// server reads a client's datagram this way: a field cut short counts as absent, not as half a
// word.
uint16_t NetBytesToWordAt(std::string_view packet, size_t offset);

// RFC 1350 section 5: an acknowledgement, opcode 4 and the block number.
std::string MakeAck(uint16_t blockNumber);
// RFC 2347 section 3: the option acknowledgement, opcode 6, then each option's name and value in
// order, each closed by a NUL.
std::string MakeOptionAck(const TIdTFTPOptions& options);

// A read or write request as a server reads it (RFC 1350 section 5, RFC 2347 section 2): opcode,
// name, mode, then option names and values, every field closed by a NUL.
struct TIdTFTPRequest {
    uint16_t Opcode = 0; // TFTP_RRQ or TFTP_WRQ
    std::string Name;
    std::string Mode;       // as sent: RFC 1350 lets it come in any case
    TIdTFTPOptions Options; // in the packet's order, as sent; a name given twice is there twice

    // Nothing for another opcode, or when a field, the name and mode among them, is missing or
    // not closed by a NUL. A last option name without its value is left out.
    static std::optional<TIdTFTPRequest> Read(std::string_view packet);
};

// An error packet as read (RFC 1350 section 5): its code, 0 when the packet ends before the
// code's two bytes, and its text up to the NUL or the datagram's end.
struct TIdTFTPErrorPacket {
    uint16_t Code = 0;
    std::string Text;

    static TIdTFTPErrorPacket Read(std::string_view packet);
};
