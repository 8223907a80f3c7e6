#include "net/Idexception.h"
#include "tftp/IdTrivialFTP.h"
#include "tftp/IdTrivialFTPBase.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace std::string_literals;

// Bytes written as a list of numbers, so that expected packets read as they go on the wire.
std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

TEST(Packets, WordsAreBigEndian) {
    const struct {
        uint16_t Value;
        std::string Wire;
    } cases[] = {{0, Bytes({0, 0})},
                 {1, Bytes({0, 1})},
                 {255, Bytes({0, 0xFF})},
                 {256, Bytes({1, 0})},
                 {0x1234, Bytes({0x12, 0x34})},
                 {65535, Bytes({0xFF, 0xFF})}};
    for (const auto& c : cases) {
        EXPECT_EQ(WordToNetBytes(c.Value), c.Wire) << c.Value;
        EXPECT_EQ(NetBytesToWord(c.Wire), c.Value) << c.Value;
        EXPECT_EQ(NetBytesToWord(c.Wire + "\x7f\x7f"), c.Value) << "only the first two bytes";
    }
    // Only the bytes that are there.
    EXPECT_EQ(NetBytesToWord(""), 0);
    EXPECT_EQ(NetBytesToWord(Bytes({0x04})), 0x0400);
}

TEST(Packets, WriteRequestByteForByte) {
    const struct {
        std::string Name;
        TIdTFTPMode Mode;
        int32_t BlockSize;
        std::string Wire;
    } cases[] = {
        {"/", tfOctet, 1500,
         Bytes({0x00, 0x02, 0x2F, 0x00, 0x6F, 0x63, 0x74, 0x65, 0x74, 0x00, 0x62, 0x6C,
                0x6B, 0x73, 0x69, 0x7A, 0x65, 0x00, 0x31, 0x35, 0x30, 0x30, 0x00})},
        {"/", tfNetAscii, 1500, "\0\2/\0netascii\0blksize\0001500\0"s},
        {"/", tfOctet, 512, "\0\2/\0octet\0blksize\000512\0"s},
        {"/", tfOctet, 0, "\0\2/\0octet\0blksize\0000\0"s},
        {"/", tfOctet, -1, "\0\2/\0octet\0blksize\0-1\0"s},
        {"/", tfOctet, 65464, "\0\2/\0octet\0blksize\00065464\0"s},
        {"/", tfNetAscii, -2147483647 - 1, "\0\2/\0netascii\0blksize\0-2147483648\0"s},
        {"Fw/ZEB40 Image.BIN", tfOctet, 8, "\0\2Fw/ZEB40 Image.BIN\0octet\0blksize\0008\0"s},
        {"", tfOctet, 1500, "\0\2\0octet\0blksize\0001500\0"s},
        {"\xE9t\xE9", tfOctet, 1, "\0\2\xE9t\xE9\0octet\0blksize\0001\0"s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeWriteRequest(c.Name, c.Mode, c.BlockSize), c.Wire)
            << c.Name << " " << c.BlockSize;
    }
    EXPECT_EQ(MakeDataHeader(0), Bytes({0, 3, 0, 0}));
    EXPECT_EQ(MakeDataHeader(65535), Bytes({0, 3, 0xFF, 0xFF}));
    EXPECT_EQ(MakeDataHeader(258), Bytes({0, 3, 1, 2}));
}

TEST(Packets, ModeTexts) {
    TIdTrivialFTP client(nullptr);
    EXPECT_EQ(client.ModeText(), "octet");
    client.SetTransferMode(tfNetAscii);
    EXPECT_EQ(client.ModeText(), "netascii");
    EXPECT_STREQ(ModeText(tfOctet), "octet");
}

// The class an error packet raises and its message.
struct Raised {
    std::string Class;
    std::string Message;
};

Raised RaiseOf(const std::string& packet) {
    try {
        RaiseErrorPacket(packet);
    } catch (const EIdTFTPFileNotFound& e) {
        return {"FileNotFound", e.Message()};
    } catch (const EIdTFTPAccessViolation& e) {
        return {"AccessViolation", e.Message()};
    } catch (const EIdTFTPAllocationExceeded& e) {
        return {"AllocationExceeded", e.Message()};
    } catch (const EIdTFTPIllegalOperation& e) {
        return {"IllegalOperation", e.Message()};
    } catch (const EIdTFTPUnknownTransferID& e) {
        return {"UnknownTransferID", e.Message()};
    } catch (const EIdTFTPFileAlreadyExists& e) {
        return {"FileAlreadyExists", e.Message()};
    } catch (const EIdTFTPNoSuchUser& e) {
        return {"NoSuchUser", e.Message()};
    } catch (const EIdTFTPOptionNegotiationFailed& e) {
        return {"OptionNegotiationFailed", e.Message()};
    } catch (const EIdTFTPException& e) {
        // Only the base itself may land here.
        EXPECT_EQ(typeid(e), typeid(EIdTFTPException));
        return {"TFTP", e.Message()};
    }
    return {"none", ""};
}

TEST(Packets, ErrorPacketRaisesItsClassWithItsText) {
    const struct {
        std::string Packet;
        Raised Expected;
    } cases[] = {
        {"\0\5\0\0Not defined\0"s, {"TFTP", "Not defined"}},
        {"\0\5\0\1File not found\0"s, {"FileNotFound", "File not found"}},
        {"\0\5\0\2Access violation\0"s, {"AccessViolation", "Access violation"}},
        {"\0\5\0\3Disk full\0"s, {"AllocationExceeded", "Disk full"}},
        {"\0\5\0\4Illegal\0"s, {"IllegalOperation", "Illegal"}},
        {"\0\5\0\5Unknown TID\0"s, {"UnknownTransferID", "Unknown TID"}},
        {"\0\5\0\6Exists\0"s, {"FileAlreadyExists", "Exists"}},
        {"\0\5\0\7No user\0"s, {"NoSuchUser", "No user"}},
        {"\0\5\0\10Refused\0"s, {"OptionNegotiationFailed", "Refused"}},
        {"\0\5\0\11Code nine\0"s, {"TFTP", "Code nine"}},
        {"\0\5\1\1Code 257\0"s, {"TFTP", "Code 257"}},
        {"\0\5\xFF\xFF"s
         "Code 65535\0"s,
         {"TFTP", "Code 65535"}},
        // The text ends at the first NUL; what follows is not part of it.
        {"\0\5\0\2first\0second\0"s, {"AccessViolation", "first"}},
        {"\0\5\0\2\0after\0"s, {"AccessViolation", ""}},
        // Without a NUL the text runs to the datagram's end.
        {"\0\5\0\1no terminator"s, {"FileNotFound", "no terminator"}},
        {"\0\5\0\1"s, {"FileNotFound", ""}},
        // Shorter than 4 bytes: only what is there is read.
        {"\0\5\0"s, {"TFTP", ""}},
        {"\0\5\1"s, {"TFTP", ""}}, // code 256
        {"\0\5"s, {"TFTP", ""}},
        // The code is read whatever the opcode says.
        {"\0\5\0\7\xE9t\xE9"s, {"NoSuchUser", "\xE9t\xE9"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Packet));
        const Raised raised = RaiseOf(c.Packet);
        EXPECT_EQ(raised.Class, c.Expected.Class);
        EXPECT_EQ(raised.Message, c.Expected.Message);
    }
}

TEST(Packets, TftpFamilyIsCaughtThroughItsBase) {
    for (int code = 0; code <= 9; ++code) {
        const std::string packet = "\0\5"s + WordToNetBytes(static_cast<uint16_t>(code)) + "x";
        EXPECT_THROW(RaiseErrorPacket(packet), EIdTFTPException) << code;
        EXPECT_THROW(RaiseErrorPacket(packet), EIdException) << code;
    }
}

TEST(Packets, OptionAckSetsTheBlockSize) {
    const struct {
        std::string Packet;
        int32_t BufferSize; // afterwards, from 516
    } cases[] = {
        {"\0\6blksize\0001024\0"s, 1028},
        {"\0\6BLKSIZE\0001024\0"s, 1028},
        {"\0\6BlkSize\0002048\0"s, 2052},
        {"\0\6blksize\0001\0"s, 5},
        {"\0\6blksize\00065464\0"s, 65468},
        {"\0\6blksize\0$400\0"s, 1028},                  // integer text rule: hexadecimal
        {"\0\6blksize\000  512\0"s, 516},                // leading blanks skipped
        {"\0\6blksize\000+8\0"s, 12},                    // sign
        {"\0\6blksize\0001024"s, 1028},                  // value runs to the datagram's end
        {"\0\6blksize\0001024\0tsize\0009\0"s, 1028},    // further options ignored
        {"\0\6tsize\0003000\0blksize\0001024\0"s, 1028}, // RFC 2347: in any order
        {"\0\6tsize\0\0blksize\0001024\0"s, 1028},
        {"\0\6blksize\000100\0blksize\0001024\0"s, 104}, // the first of two
        {"\0\6blksizex\0001024\0"s, 516},
        {"\0\6blksiz\0001024\0"s, 516},
        {"\0\6\0blksize\0001024\0"s, 516},
        {"\0\6"s, 516},
        {"\0\6tsize"s, 516},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Packet));
        TIdTrivialFTP client(nullptr);
        client.SetBufferSize(516);
        client.ApplyOptionAck(c.Packet);
        EXPECT_EQ(client.BufferSize(), c.BufferSize);
    }
}

TEST(Packets, OptionAckValueThatIsNotAnIntegerOrOutOfRange) {
    const struct {
        std::string Packet;
        bool Convert; // EConvertError, else EIdTFTPOptionNegotiationFailed
        std::string Message;
    } cases[] = {
        {"\0\6blksize\0garbage\0"s, true, "'garbage' is not a valid integer value"},
        {"\0\6blksize\0\0"s, true, "'' is not a valid integer value"},
        {"\0\6blksize\0"s, true, "'' is not a valid integer value"}, // value missing
        {"\0\6blksize"s, true, "'' is not a valid integer value"},   // ends in the name
        {"\0\6blksize\0001024 \0"s, true, "'1024 ' is not a valid integer value"},
        {"\0\6blksize\00099999999999\0"s, true, "'99999999999' is not a valid integer value"},
        {"\0\6blksize\0000\0"s, false,
         "Block size 0 refused by the client: it must lie between 1 and 65464"},
        {"\0\6blksize\000-5\0"s, false,
         "Block size -5 refused by the client: it must lie between 1 and 65464"},
        {"\0\6blksize\00065465\0"s, false,
         "Block size 65465 refused by the client: it must lie between 1 and 65464"},
        {"\0\6blksize\0$FFFFFFFF\0"s, false,
         "Block size -1 refused by the client: it must lie between 1 and 65464"},
        {"\0\6blksize\0002147483647\0"s, false,
         "Block size 2147483647 refused by the client: it must lie between 1 and 65464"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Packet));
        TIdTrivialFTP client(nullptr);
        client.SetBufferSize(516);
        try {
            client.ApplyOptionAck(c.Packet);
            ADD_FAILURE() << "nothing raised";
        } catch (const EConvertError& e) {
            EXPECT_TRUE(c.Convert);
            EXPECT_EQ(e.Message(), c.Message);
        } catch (const EIdTFTPOptionNegotiationFailed& e) {
            EXPECT_FALSE(c.Convert);
            EXPECT_EQ(e.Message(), c.Message);
        }
        EXPECT_EQ(client.BufferSize(), 516);
    }
}

TEST(Packets, ClientDefaults) {
    TIdTrivialFTP client(nullptr);
    EXPECT_EQ(client.Port(), 69);
    EXPECT_EQ(client.ReceiveTimeout(), 4000);
    EXPECT_EQ(client.TransferMode(), tfOctet);
    EXPECT_EQ(client.RequestedBlockSize(), 1500);
    EXPECT_EQ(client.BufferSize(), 8192);
    EXPECT_EQ(client.Host(), "");
    EXPECT_FALSE(client.BroadcastEnabled());
    EXPECT_FALSE(client.Active());
}

// The server's side of the codec, read back from what the builders make: what one side writes
// the other reads field for field.
TEST(Packets, RequestsReadBackAsWritten) {
    const struct {
        std::string Name;
        TIdTFTPMode Mode;
        TIdTFTPOptions Options;
    } cases[] = {
        {"/", tfOctet, {}},
        {"", tfNetAscii, {}},
        {"Fw/ZEB40 Image.BIN", tfOctet, {{"blksize", "1500"}}},
        {"\xE9t\xE9", tfOctet, {{"BLKSIZE", "8"}, {"tsize", "0"}, {"blksize", "512"}}},
        {"fw.bin", tfOctet, {{"", ""}, {"timeout", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::optional<TIdTFTPRequest> request =
            TIdTFTPRequest::Read(MakeWriteRequest(c.Name, c.Mode, c.Options));
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->Opcode, TFTP_WRQ);
        EXPECT_EQ(request->Name, c.Name);
        EXPECT_EQ(request->Mode, ModeText(c.Mode));
        EXPECT_EQ(request->Options, c.Options);
    }
}

TEST(Packets, RequestsCutShortOrOfAnotherKind) {
    const std::pair<std::string, bool> cases[] = {
        {"\0\1fw\0octet\0"s, true},
        {"\0\2fw\0\0"s, true},                     // an empty mode is the reader's to refuse
        {"\0\2fw\0octet\0blksize\000512"s, false}, // the value not closed
        {"\0\2fw\0"s, false},                      // no mode
        {""s, false},
        {"\0\3fw\0octet\0"s, false}, // data, not a request
    };
    for (const auto& [packet, read] : cases) {
        EXPECT_EQ(TIdTFTPRequest::Read(packet).has_value(), read) << testing::PrintToString(packet);
    }
    // A last name without its value is left out.
    EXPECT_EQ(TIdTFTPRequest::Read("\0\2fw\0octet\0a\0\0blksize\0"s)->Options,
              (TIdTFTPOptions{{"a", ""}}));
}

TEST(Packets, AnswersReadBackAsWritten) {
    for (const uint16_t block : {0, 258, 65535}) {
        const std::string ack = MakeAck(block);
        EXPECT_EQ(NetBytesToWordAt(ack, 0), TFTP_ACK);
        EXPECT_EQ(NetBytesToWordAt(ack, 2), block);
    }
    // Only whole words are read: a packet cut inside one has none there.
    EXPECT_EQ(NetBytesToWordAt("\3"s, 0), 0);
    EXPECT_EQ(NetBytesToWordAt("\0\3\1"s, 2), 0);
    const TIdTFTPOptions options[] = {{}, {{"blksize", "8"}, {"tsize", "123"}}, {{"timeout", ""}}};
    for (const TIdTFTPOptions& taken : options) {
        const std::string oack = MakeOptionAck(taken);
        EXPECT_EQ(NetBytesToWordAt(oack, 0), TFTP_OACK);
        EXPECT_EQ(TIdTFTPOptionAck::Read(oack, taken).Options(), taken);
    }
    EXPECT_EQ(MakeOptionAck({{"blksize", "1024"}}), "\0\6blksize\0001024\0"s);
    const std::pair<uint16_t, std::string> errors[] = {
        {TFTPErrorNotDefined, ""},
        {TFTPErrorDiskFull, "Disk full"},
        {TFTPErrorUnknownTransferId, TFTPUnknownTransferIdText},
        {65535, "\xE9t\xE9"}};
    for (const auto& [code, text] : errors) {
        const TIdTFTPErrorPacket error = TIdTFTPErrorPacket::Read(MakeErrorPacket(code, text));
        EXPECT_EQ(error.Code, code);
        EXPECT_EQ(error.Text, text);
    }
    EXPECT_EQ(TIdTFTPErrorPacket::Read("\0\5\1"s).Code, 0);
    EXPECT_EQ(TIdTFTPErrorPacket::Read("\0\5\0\2first\0second"s).Text, "first");
}

} // namespace
