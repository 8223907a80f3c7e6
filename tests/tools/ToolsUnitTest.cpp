// The pure parts of the tools: digests, safe names, option values, command lines, progress texts.
#include "FaultDice.h"
#include "FlashOptions.h"
#include "FlashProgress.h"
#include "SafeName.h"
#include "Sha256.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "ToolArgs.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(Sha256, KnownVectors) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "m"
         "nopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"The quick brown fox jumps over the lazy dog",
         "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TSha256::HexDigest(c.input), c.digest) << c.input.size() << " bytes";
    }
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    // Lengths around the block (64) and padding (55, 56) boundaries, fed in pieces of every size
    // from 1 to 70, must give the one-shot digest.
    for (const size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string data;
        for (size_t i = 0; i < length; ++i) {
            data += char(i * 7 + 3);
        }
        const std::string whole = TSha256::HexDigest(data);
        for (size_t piece = 1; piece <= 70; ++piece) {
            TSha256 hash;
            for (size_t at = 0; at < data.size(); at += piece) {
                hash.Update(std::string_view(data).substr(at, piece));
            }
            ASSERT_EQ(hash.FinishHex(), whole) << length << " bytes in pieces of " << piece;
        }
    }
}

TEST(Sha256, FinishResetsForTheNextImage) {
    TSha256 hash;
    hash.Update("abc");
    hash.FinishHex();
    EXPECT_EQ(hash.FinishHex(), TSha256::HexDigest(""));
}

TEST(SafeImageName, StaysInsideTheFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"/", "firmware.bin"},
        {"", "firmware.bin"},
        {".", "firmware.bin"},
        {"..", "firmware.bin"},
        {"...", "firmware.bin"},
        {"../..", "firmware.bin"},
        {"a/..", "firmware.bin"},
        {"image.bin", "image.bin"},
        {"../../etc/passwd", "passwd"},
        {"/etc/passwd", "passwd"},
        {"..\\..\\boot.ini", "boot.ini"},
        {"dir/", "firmware.bin"},
        {".hidden", "_hidden"},
        {"..x", "_.x"},
        {"a..b", "a..b"},
        {"zeb40 v1.2.bin", "zeb40_v1.2.bin"},
        {std::string("a\0b", 3), "a_b"},
        {"\x01\xff.bin", "__.bin"},
        {"fw-1_2+3.img", "fw-1_2+3.img"},
        {std::string(300, 'x'), std::string(200, 'x')},
        // Windows would open a device, or drop the final dots.
        {"nul", "_nul"},
        {"Com1.bin", "_Com1.bin"},
        {"LPT0.tar.gz", "_LPT0.tar.gz"},
        {"aux..", "_aux__"},
        {"com10.bin", "com10.bin"},
        {"console.bin", "console.bin"},
        {"fw.", "fw_"},
    };
    for (const auto& [remote, expected] : cases) {
        const std::string name = SafeImageName(remote);
        EXPECT_EQ(name, expected) << remote;
        EXPECT_EQ(name.find_first_of("/\\"), std::string::npos);
        EXPECT_NE(name.front(), '.');
    }
}

TEST(IntOption, FollowsTheIntegerTextRuleAndRange) {
    struct Case {
        const char* text;
        int32_t lo, hi;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"69", 1, 65535, 69},     {"1", 1, 65535, 1},      {"65535", 1, 65535, 65535},
        {"0", 1, 65535, {}},      {"65536", 1, 65535, {}}, {"$45", 1, 65535, 0x45},
        {"0x200", 8, 65464, 512}, {" 12", 1, 100, 12},     {"12 ", 1, 100, {}},
        {"", 1, 100, {}},         {"+7", 1, 100, 7},       {"-1", 1, 100, {}},
        {"abc", 1, 100, {}},      {"1e3", 1, 5000, {}},    {"2147483648", 0, 0x7FFFFFFF, {}},
        {"$FFFFFFFF", -5, 5, -1},
    };
    for (const Case& c : cases) {
        if (c.value) {
            EXPECT_EQ(IntOption("--x", c.text, c.lo, c.hi), *c.value) << c.text;
        } else {
            EXPECT_THROW(IntOption("--x", c.text, c.lo, c.hi), EUsageError) << c.text;
        }
    }
}

TEST(ProbabilityOption, AcceptsFractionsFromZeroToOne) {
    const std::pair<const char*, double> good[] = {
        {"0", 0}, {"1", 1}, {"0.25", 0.25}, {".5", 0.5}, {"1.0", 1}, {"0.000", 0}, {"00.1", 0.1}};
    for (const auto& [text, value] : good) {
        EXPECT_DOUBLE_EQ(ProbabilityOption("--loss", text), value) << text;
    }
    for (const char* text : {"", ".", "1.01", "2", "-0.1", "0.5x", "1e-1", " 0.5", "0,5", "5."}) {
        EXPECT_THROW(ProbabilityOption("--loss", text), EUsageError) << text;
    }
}

TEST(FaultDice, SameSeedSameDecisionsAndCertainEnds) {
    TFaultDice a(42), b(42), c(43);
    bool differs = false;
    for (int i = 0; i < 1000; ++i) {
        const double x = a.Next();
        ASSERT_EQ(x, b.Next());
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
        differs |= x != c.Next();
    }
    EXPECT_TRUE(differs);
    int hits = 0;
    for (int i = 0; i < 10000; ++i) {
        EXPECT_FALSE(a.Chance(0));
        EXPECT_TRUE(a.Chance(1));
        hits += a.Chance(0.25);
    }
    EXPECT_NEAR(hits, 2500, 300);
}

TEST(ParseSimArgs, Options) {
    const TSimOptions defaults = ParseSimArgs({});
    EXPECT_EQ(defaults.BindAddresses, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(defaults.Port, 69);
    EXPECT_EQ(defaults.RetransmitMs, 1000);
    EXPECT_EQ(defaults.BlockSize, TBlockSizeAnswer::Accept);
    EXPECT_EQ(defaults.Reack, TReackAnswer::Duplicate);
    EXPECT_EQ(defaults.JitterMs, 0);

    const TSimOptions o = ParseSimArgs({"--port",
                                        "0",
                                        "--dir=/tmp",
                                        "--once",
                                        "--blksize",
                                        "cap:1024",
                                        "--no-final-ack",
                                        "--error-at",
                                        "3:2:denied: by policy",
                                        "--same-port",
                                        "--loss",
                                        "0.1",
                                        "--dup=.2",
                                        "--seed",
                                        "7",
                                        "--retransmit",
                                        "150",
                                        "--delay",
                                        "5",
                                        "--reack",
                                        "timer",
                                        "--jitter=600000",
                                        "--bind",
                                        "127.1.2.3"});
    EXPECT_EQ(o.Port, 0);
    EXPECT_EQ(o.Directory, "/tmp");
    EXPECT_TRUE(o.Once && o.NoFinalAck && o.SamePort);
    EXPECT_EQ(o.BlockSize, TBlockSizeAnswer::Cap);
    EXPECT_EQ(o.BlockSizeCap, 1024);
    EXPECT_EQ(o.ErrorAtBlock, 3);
    EXPECT_EQ(o.ErrorCode, 2);
    EXPECT_EQ(o.ErrorText, "denied: by policy");
    EXPECT_DOUBLE_EQ(o.Loss, 0.1);
    EXPECT_DOUBLE_EQ(o.Duplicate, 0.2);
    EXPECT_EQ(o.Seed, 7u);
    EXPECT_EQ(o.RetransmitMs, 150);
    EXPECT_EQ(o.DelayMs, 5);
    EXPECT_EQ(o.Reack, TReackAnswer::Timer);
    EXPECT_EQ(o.JitterMs, 600000);
    EXPECT_EQ(o.BindAddresses, std::vector<std::string>{"127.1.2.3"});
    EXPECT_EQ(ParseSimArgs({"--blksize", "ignore"}).BlockSize, TBlockSizeAnswer::Ignore);
    EXPECT_EQ(ParseSimArgs({"--error-at", "1:0:"}).ErrorText, "");
    EXPECT_EQ(ParseSimArgs({"--bind", "localhost"}).BindAddresses[0], "127.0.0.1");
    EXPECT_EQ(ParseSimArgs({"--bind", "0.0.0.0", "--any-address"}).BindAddresses[0], "0.0.0.0");
    EXPECT_TRUE(ParseSimArgs({"--version"}).Version);
}

TEST(ParseSimArgs, Refusals) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bind", "0.0.0.0"},
        {"--bind", "192.168.1.100"},
        {"--bind", "128.0.0.1"},
        {"--bind", "127.0.0"},
        {"--bind", "127.0.0.1.5"},
        {"--bind", "127.0.0.256"},
        {"--bind", "example.org"},
        {"--port", "65536"},
        {"--port", "-1"},
        {"--port"},
        {"--blksize", "cap:7"},
        {"--blksize", "cap:65465"},
        {"--blksize", "cap:"},
        {"--blksize", "big"},
        {"--error-at", "3:2"},
        {"--error-at", "0:2:x"},
        {"--error-at", "3:65536:x"},
        {"--error-at", "x:2:y"},
        {"--loss", "1.5"},
        {"--dup", "-1"},
        {"--retransmit", "0"},
        {"--delay", "-5"},
        {"--reack", "never"},
        {"--reack", "Timer"},
        {"--jitter", "-1"},
        {"--jitter", "600001"},
        {"--once=1"},
        {"--frobnicate"},
        {"stray"},
        {"--dir", ""},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(ParseSimArgs(args), EUsageError) << args[0] << " " << args.back();
    }
}

TEST(IsLoopbackAddress, OnlyDottedQuadsOf127) {
    for (const char* yes : {"127.0.0.1", "127.255.255.255", "127.0.0.0", "127.1.2.3"}) {
        EXPECT_TRUE(IsLoopbackAddress(yes)) << yes;
    }
    for (const char* no :
         {"0.0.0.0", "126.255.255.255", "128.0.0.1", "127.0.0", "127.0.0.1 ", "127.0.0.1.",
          "127..0.1", "1270.0.0.1", "127.0.0.256", "localhost", ""}) {
        EXPECT_FALSE(IsLoopbackAddress(no)) << no;
    }
}

TEST(ParseFlashArgs, Options) {
    const TFlashOptions d = ParseFlashArgs({"127.0.0.1", "fw.bin"});
    EXPECT_EQ(d.Hosts, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(d.File, "fw.bin");
    EXPECT_EQ(d.Port, 69);
    EXPECT_EQ(d.Remote, "/");
    EXPECT_EQ(d.BlockSize, 1500);
    EXPECT_EQ(d.TimeoutMs, 4000);
    EXPECT_FALSE(d.Quiet);

    const TFlashOptions o =
        ParseFlashArgs({"--port", "$45", "--remote=image.bin", "--blksize", "512", "--timeout",
                        "200", "--mode", "octet", "--quiet", "host", "--", "-file"});
    EXPECT_EQ(o.Port, 69);
    EXPECT_EQ(o.Remote, "image.bin");
    EXPECT_EQ(o.BlockSize, 512);
    EXPECT_EQ(o.TimeoutMs, 200);
    EXPECT_TRUE(o.Quiet);
    EXPECT_EQ(o.Hosts, std::vector<std::string>{"host"});
    EXPECT_EQ(o.File, "-file");
    EXPECT_TRUE(ParseFlashArgs({"--help"}).Help);
    EXPECT_TRUE(ParseFlashArgs({"--version"}).Version);
    // Boundaries of the block size (RFC 2348) and the port.
    EXPECT_EQ(ParseFlashArgs({"--blksize", "8", "h", "f"}).BlockSize, 8);
    EXPECT_EQ(ParseFlashArgs({"--blksize", "65464", "h", "f"}).BlockSize, 65464);
    EXPECT_EQ(ParseFlashArgs({"--port", "65535", "h", "f"}).Port, 65535);
    const TFlashOptions station =
        ParseFlashArgs({"--station", "--count", "1", "--log", "u.log", "10.0.0.2", "f"});
    EXPECT_TRUE(station.Station);
    EXPECT_EQ(station.Count, 1);
    EXPECT_EQ(station.LogFile, "u.log");
    EXPECT_EQ(ParseFlashArgs({"h", "f"}).Count, 0);
}

TEST(ParseFlashArgs, UsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"host"},
        {"--port", "0", "h", "f"},
        {"--port", "65536", "h", "f"},
        {"--port", "sixty", "h", "f"},
        {"--port", "69 ", "h", "f"},
        {"--blksize", "7", "h", "f"},
        {"--blksize", "65465", "h", "f"},
        {"--timeout", "0", "h", "f"},
        {"--timeout", "-2", "h", "f"},
        {"--mode", "binary", "h", "f"},
        {"--mode", "OCTET", "h", "f"},
        {"--mode", "netascii", "h", "f"},
        {"--quiet=yes", "h", "f"},
        {"--bogus", "h", "f"},
        {"h", "f", "--port"},
        {"", "f"},
        // A station: one address, waiting without end, a unit at a time.
        {"--station", "h1", "h2", "f"},
        {"--station", "@list", "f"},
        {"--station", "--wait", "5", "h", "f"},
        {"--station", "--jobs", "2", "h", "f"},
        {"--station", "--count", "0", "h", "f"},
        {"--station", "--log=", "h", "f"},
        {"--count", "3", "h", "f"},
        {"--log", "station.log", "h", "f"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(ParseFlashArgs(args), EUsageError) << ::testing::PrintToString(args);
    }
}

TEST(FlashProgress, Texts) {
    EXPECT_EQ(FormatRate(0), "0 B/s");
    EXPECT_EQ(FormatRate(-5), "0 B/s");
    EXPECT_EQ(FormatRate(1.0 / 0.0), "0 B/s");
    EXPECT_EQ(FormatRate(1023), "1023 B/s");
    EXPECT_EQ(FormatRate(1024), "1.0 KiB/s");
    EXPECT_EQ(FormatRate(1024.0 * 1024), "1.0 MiB/s");
    EXPECT_EQ(FormatRate(2.4 * 1024 * 1024), "2.4 MiB/s");
    EXPECT_EQ(FormatRate(3.0 * 1024 * 1024 * 1024), "3.0 GiB/s");
    EXPECT_EQ(FormatRate(5000.0 * 1024 * 1024 * 1024), "5000.0 GiB/s");

    EXPECT_EQ(SummaryLine(1048576, 0.42), "sent 1048576 bytes in 0.42 s (2.4 MiB/s)");
    EXPECT_EQ(SummaryLine(0, 0), "sent 0 bytes in 0.00 s (0 B/s)");

    EXPECT_EQ(ProgressLine(0, 1000, 0), "[....................]   0%  0/1000 bytes  0 B/s");
    EXPECT_EQ(ProgressLine(500, 1000, 1), "[##########..........]  50%  500/1000 bytes  500 B/s");
    EXPECT_EQ(ProgressLine(999, 1000, 1).substr(0, 27), "[###################.]  99%");
    EXPECT_EQ(ProgressLine(1000, 1000, 1).substr(0, 27), "[####################] 100%");
    EXPECT_EQ(ProgressLine(0, 0, 0).substr(0, 27), "[####################] 100%");
    // A count past the announced total never draws past the bar.
    EXPECT_EQ(ProgressLine(2000, 1000, 1).substr(0, 27), "[####################] 100%");
}

TEST(FlashProgress, RedrawAtMostTenTimesASecond) {
    TRedrawThrottle throttle(0.1);
    int draws = 0;
    for (int ms = 0; ms <= 1000; ++ms) {
        draws += throttle.Due(ms / 1000.0);
    }
    EXPECT_GE(draws, 10);
    EXPECT_LE(draws, 11);
}

TEST(DescribePacket, NamesOfTheLog) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty datagram"},
        {std::string("\0\3\0\5", 4), "DATA 5"},
        {std::string("\0\4\xff\xff", 4), "ACK 65535"},
        {std::string("\0\4", 2), "ACK 0"},
        {std::string("\0\5\0\2x", 5), "ERROR 2"},
        {std::string("\0\6blksize\0", 10), "OACK"},
        {std::string("\0\2/\0", 4), "WRQ"},
        {std::string("\0\1", 2), "RRQ"},
        {std::string("\0\x09", 2), "opcode 9"},
    };
    for (const auto& [packet, text] : cases) {
        EXPECT_EQ(DescribePacket(packet), text);
    }
}

} // namespace
