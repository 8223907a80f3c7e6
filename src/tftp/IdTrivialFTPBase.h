// TFTP packets: RFC 1350 with the option extension (RFC 2347) and "blksize" (RFC 2348). The
// client writes only: it builds write requests and data packets and reads acknowledgements,
// option acknowledgements and error packets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// The write request: opcode 2, name, mode and the "blksize" option with the requested value.
std::string MakeWriteRequest(const std::string& remoteName, TIdTFTPMode mode,
                             int32_t requestedBlockSize);
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
