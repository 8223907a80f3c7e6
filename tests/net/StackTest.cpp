// The platform-neutral parts of the stack, run against the recording fake.
#include "FakeStack.h"
#include "net/Idexception.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

TEST(IsDottedQuad, Cases) {
    TFakeStack stack;
    const char* accepted[] = {"0.0.0.0",     "255.255.255.255", "  1.2.3.4",  "+1.2.3.4",
                              "-0.0.0.0",    "$FF.0.0.1",       "0x0A.0.0.1", "001.002.003.004",
                              "x1.X2.0X3.4", "127.0.0.1"};
    const char* refused[] = {"256.1.1.1",  "1.2.3",           "1.2.3.4.5", "1..2.3",    "1.2.3.",
                             ".1.2.3",     "1.2.3.4 ",        "",          "-1.0.0.0",  "1.2.3.256",
                             "$100.0.0.0", "$FFFFFFFF.0.0.0", "a.b.c.d",   "1.2.3.4\t", "1 .2.3.4"};
    for (const char* text : accepted) {
        EXPECT_TRUE(stack.IsDottedQuad(text)) << "'" << text << "'";
    }
    for (const char* text : refused) {
        EXPECT_FALSE(stack.IsDottedQuad(text)) << "'" << text << "'";
    }
}

TEST(TextToInAddr, BytesInTextOrder) {
    TFakeStack stack;
    struct Case {
        const char* text;
        uint8_t bytes[4];
    };
    const Case cases[] = {
        {"10.0.0.1", {10, 0, 0, 1}},
        {"1.2.3.4.5", {1, 2, 3, 4}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {" 1.$FF.0x10.-0", {1, 255, 16, 0}},
        {"257.0.0.1", {1, 0, 0, 1}}, // only the low 8 bits
    };
    for (const Case& c : cases) {
        const TIdInAddr address = stack.TextToInAddr(c.text);
        EXPECT_EQ(std::memcmp(&address.S_addr, c.bytes, 4), 0) << c.text;
    }
}

TEST(TextToInAddr, PartsThatDoNotConvertRaise) {
    TFakeStack stack;
    const char* cases[][2] = {
        {"", "''"}, {"1.2.x.4", "'x'"}, {"1.2.3", "''"}, {"1.2.3.4 ", "'4 '"}};
    for (const auto& c : cases) {
        try {
            stack.TextToInAddr(c[0]);
            ADD_FAILURE() << c[0];
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string(c[1]) + " is not a valid integer value");
        }
    }
}

TEST(InAddrToText, DecimalWithoutLeadingZeros) {
    TFakeStack stack;
    EXPECT_EQ(stack.InAddrToText({0, 0, 0, 0}), "0.0.0.0");
    EXPECT_EQ(stack.InAddrToText({127, 0, 0, 1}), "127.0.0.1");
    EXPECT_EQ(stack.InAddrToText({255, 9, 10, 100}), "255.9.10.100");
}

// Each conversion keeps its last answer; the answers must still follow the argument, whatever
// came before, and in every thread.
TEST(AddressText, ConversionsFollowTheirArgumentInAnyOrder) {
    TFakeStack stack;
    struct Case {
        const char* text;
        bool dotted;
        TIdInAddrBytes bytes; // when dotted
    };
    const Case sequence[] = {
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"1.2.3.40", true, {1, 2, 3, 40}},
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"1.2.3.4x", false, {}},
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"1.2.3.4 ", false, {}},
        {"001.2.3.4", true, {1, 2, 3, 4}},
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"255.255.255.255", true, {255, 255, 255, 255}},
        {"1.2.3", false, {}},
        {"1.2.3.4", true, {1, 2, 3, 4}},
    };
    for (const Case& c : sequence) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(stack.IsDottedQuad(c.text), c.dotted);
        if (c.dotted) {
            const TIdInAddr address = stack.TextToInAddr(c.text);
            EXPECT_EQ(std::memcmp(&address.S_addr, c.bytes.data(), 4), 0);
            const std::string written = stack.InAddrToText(c.bytes);
            EXPECT_EQ(stack.TextToInAddr(written).S_addr, address.S_addr) << written;
        }
    }
    EXPECT_EQ(stack.InAddrToText({1, 2, 3, 4}), "1.2.3.4");
    EXPECT_EQ(stack.InAddrToText({1, 2, 3, 40}), "1.2.3.40");
    EXPECT_EQ(stack.InAddrToText({1, 2, 3, 4}), "1.2.3.4");

    // Two threads, each with its own address, converting at the same time.
    std::atomic<int> wrong{0};
    std::atomic<int> started{0};
    auto convert = [&](const std::string& text, TIdInAddrBytes bytes) {
        ++started;
        while (started.load() < 2) {
            std::this_thread::yield(); // both convert at the same time
        }
        for (int i = 0; i < 100000; ++i) {
            const TIdInAddr address = stack.TextToInAddr(text);
            if (std::memcmp(&address.S_addr, bytes.data(), 4) != 0 ||
                stack.InAddrToText(bytes) != text) {
                ++wrong;
            }
        }
    };
    std::thread first(convert, "10.0.0.1", TIdInAddrBytes{10, 0, 0, 1});
    std::thread second(convert, "192.0.2.77", TIdInAddrBytes{192, 0, 2, 77});
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(SocketErrorText, EveryRowAndCodesWithout) {
    TFakeStack stack;
    const std::pair<int32_t, const char*> rows[] = {
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
    static_assert(std::size(rows) == 38);
    for (const auto& [code, text] : rows) {
        EXPECT_EQ(stack.SocketErrorText(code),
                  "Socket Error # " + std::to_string(code) + "\r\n" + text);
    }
    for (int32_t code : {0, 11001, 11004, 10067, 10003, -1}) {
        EXPECT_EQ(stack.SocketErrorText(code), "Socket Error # " + std::to_string(code) + "\r\n");
    }
}

TEST(CheckSocketResult, OnlyMinusOneIsFailure) {
    TFakeStack stack;
    stack.LastError = 10054;
    for (int32_t result : {0, -2, 1, 516, INT32_MIN}) {
        EXPECT_FALSE(stack.CheckSocketResult(result)) << result;
    }
    EXPECT_EQ(stack.LastErrorReads, 0) << "a success must not read the error";

    stack.LastError = 0;
    try {
        stack.CheckSocketResult(-1);
        ADD_FAILURE() << "-1 passed";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.Message(), "Socket Error # 0\r\n");
    }
}

TEST(CheckSocketResult, IgnoredCodes) {
    TFakeStack stack;
    stack.LastError = 10035;
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10035}));
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10060, 10035}));
    stack.LastError = 10060;
    try {
        stack.CheckSocketResult(-1, {10035});
        ADD_FAILURE();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10060);
        EXPECT_EQ(e.Message(), "Socket Error # 10060\r\nConnection timed out.");
    }
}

TEST(HostToAddress, LocalhostAndQuadsNeedNoLookup) {
    TFakeStack stack;
    for (const char* name : {"localhost", "LOCALHOST", "LocalHost", "lOCALHOSt"}) {
        EXPECT_EQ(stack.HostToAddress(name), "127.0.0.1") << name;
    }
    EXPECT_EQ(stack.HostToAddress("192.168.1.254"), "192.168.1.254");
    EXPECT_EQ(stack.HostToAddress(" $7F.0.0.1"), " $7F.0.0.1"); // kept as written
    EXPECT_TRUE(stack.Calls.empty());

    EXPECT_EQ(stack.HostToAddress("device.example"), "10.1.2.3");
    EXPECT_EQ(stack.HostToAddress("localhost."), "10.1.2.3");
    EXPECT_EQ(stack.HostToAddress("1.2.3.4 "), "10.1.2.3");
    const std::vector<std::string> expected = {"lookup device.example", "lookup localhost.",
                                               "lookup 1.2.3.4 "};
    EXPECT_EQ(stack.Calls, expected);
}

TEST(OpenSocket, IPv4FamilyAndRefusal) {
    TFakeStack stack;
    EXPECT_EQ(stack.OpenSocket(Id_SOCK_DGRAM, 0), 7u);
    EXPECT_EQ(stack.Calls, std::vector<std::string>{"create 2 2 0"});
    stack.NextSocket = InvalidSocketId;
    try {
        stack.OpenSocket(Id_SOCK_DGRAM, 0);
        ADD_FAILURE();
    } catch (const EIdInvalidSocket& e) {
        EXPECT_EQ(e.Message(), "Cannot allocate socket.");
    }
    EXPECT_EQ(stack.LastErrorReads, 0);
}

} // namespace
