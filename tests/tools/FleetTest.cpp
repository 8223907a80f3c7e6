// zeb40-flash for several devices and zeb40-sim as several: what they make of their input and
// what they show, without a network.
#include "FaultDice.h"
#include "FlashOptions.h"
#include "FlashProgress.h"
#include "FlashReport.h"
#include "FlashTargets.h"
#include "ImageFile.h"
#include "SafeText.h"
#include "Scratch.h"
#include "SimOptions.h"
#include "ToolArgs.h"
#include "base/Streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace std::string_literals;

TEST(SafeText, NothingFromOutsideControlsTheTerminal) {
    const std::pair<std::string, std::string> cases[] = {
        {"disk full", "disk full"},
        // A device that repaints the screen and forges a line of its own.
        {"\x1b[2J\r\nzeb40-flash: sent"s, "\\x1b[2J\\x0d\\x0azeb40-flash: sent"},
        {"tab\there\x7f"s, "tab\\x09here\\x7f"},
        {"C:\\x1b"s, "C:\\\\x1b"}, // a backslash of the text cannot pass for an escape
        {"Speicher voll \xe2\x80\x93 \xc3\xbc"s, "Speicher voll \xe2\x80\x93 \xc3\xbc"s},
        {"\xc2\x9b"
         "2J"s,
         "\\xc2\\x9b2J"},            // U+009B, the one-character CSI
        {"\xff\xc3"s, "\\xff\\xc3"}, // not UTF-8; a sequence cut short at the end
        {"\xc0\xaf\xed\xa0\x80"s, "\\xc0\\xaf\\xed\\xa0\\x80"}, // overlong '/'; a surrogate
        {"\xf4\x90\x80\x80\xf0\x9f\x98\x80"s,
         "\\xf4\\x90\\x80\\x80\xf0\x9f\x98\x80"s}, // > U+10FFFF
        // What shows nothing or turns the text around: a byte-order mark, a right-to-left
        // override, a zero-width space.
        {"\xef\xbb\xbf"
         "127.0.0.1"s,
         "\\xef\\xbb\\xbf127.0.0.1"},
        {"fw\xe2\x80\xaenib.exe"s, "fw\\xe2\\x80\\xaenib.exe"},
        {"a\xe2\x80\x8b"
         "b"s,
         "a\\xe2\\x80\\x8bb"},
        {""s, ""},
    };
    for (const auto& [raw, shown] : cases) {
        EXPECT_EQ(TerminalText(raw), shown) << shown;
    }
}

TEST(SafeText, JsonStringsAreAlwaysValid) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\" \\o/", R"("say \"hi\" \\o/")"},
        {"\r\n\x1b\x7f"s, R"("\u000d\u000a\u001b\u007f")"},
        {"\xe2\x82\xac", "\"\xe2\x82\xac\""},   // UTF-8 as it is
        {"\xe9t\xe9", "\"\xc3\xa9t\xc3\xa9\""}, // Latin-1 bytes become their characters
        {"\x9b", R"("\u009b")"},
        {"\0x"s, R"("\u0000x")"},
    };
    for (const auto& [raw, json] : cases) {
        EXPECT_EQ(JsonString(raw), json) << json;
    }
}

TEST(FlashTargets, HostsPortsAndLists) {
    const TFlashTarget plain = ParseTarget("zeb40-a.lab", 69);
    EXPECT_EQ(plain.Host, "zeb40-a.lab");
    EXPECT_EQ(plain.Port, 69);
    const TFlashTarget ported = ParseTarget("127.0.0.2:6969", 69);
    EXPECT_EQ(ported.Host, "127.0.0.2");
    EXPECT_EQ(ported.Port, 6969);
    EXPECT_EQ(ported.Label, "127.0.0.2:6969");
    EXPECT_EQ(ParseTarget("h:65535", 69).Port, 65535);
    for (const char* bad : {"h:0", "h:65536", "h:", ":69", "h:6x9", "h:-1", ""}) {
        EXPECT_THROW(ParseTarget(bad, 69), EUsageError) << bad;
    }
    for (const char* v6 : {"::1", "[::1]:69", "2001:db8::1", "[::1]"}) {
        try {
            ParseTarget(v6, 69);
            ADD_FAILURE() << v6;
        } catch (const EUsageError& e) {
            EXPECT_EQ(e.Message(), "'" + std::string(v6) + "': IPv6 addresses are not supported");
        }
    }

    const std::string list = "# rack 3\n127.0.0.2\n\n  127.0.0.3:70  # top\r\n\t127.0.0.4\t\r\n#\n";
    EXPECT_EQ(ParseHostList(list, "rack.txt"),
              (std::vector<std::string>{"127.0.0.2", "127.0.0.3:70", "127.0.0.4"}));
    EXPECT_EQ(ParseHostList("no-newline", "l"), std::vector<std::string>{"no-newline"});
    // A list saved with a byte-order mark, as some editors save UTF-8.
    EXPECT_EQ(ParseHostList("\xef\xbb\xbf" + list, "rack.txt"),
              (std::vector<std::string>{"127.0.0.2", "127.0.0.3:70", "127.0.0.4"}));
    try {
        ParseHostList("127.0.0.2\n127.0.0.3 127.0.0.4\n", "rack.txt");
        ADD_FAILURE() << "two addresses on a line taken";
    } catch (const EUsageError& e) {
        EXPECT_EQ(e.Message(),
                  "host list rack.txt, line 2: '127.0.0.3 127.0.0.4' is more than one address");
    }

    const auto read = [](const std::string& path) -> std::string {
        if (path == "rack") {
            return "127.0.0.3\n127.0.0.4:70\n";
        }
        if (path == "empty") {
            return "# nothing yet\n\n";
        }
        throw std::runtime_error("unreadable " + path);
    };
    const std::vector<TFlashTarget> targets =
        ExpandTargets({"127.0.0.2", "@rack", "localhost:71"}, 6969, read);
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[1].Host, "127.0.0.3");
    EXPECT_EQ(targets[1].Port, 6969);
    EXPECT_EQ(targets[2].Port, 70);
    EXPECT_EQ(targets[3].Label, "localhost:71");
    EXPECT_THROW(ExpandTargets({"@empty"}, 69, read), EUsageError);
    EXPECT_THROW(ExpandTargets({"@gone"}, 69, read), std::runtime_error);
    // One device twice would get two transfers at once.
    EXPECT_THROW(ExpandTargets({"Host.Lab", "host.lab"}, 69, read), EUsageError);
    EXPECT_THROW(ExpandTargets({"127.0.0.3:69", "@rack"}, 69, read), EUsageError);
    EXPECT_EQ(ExpandTargets({"127.0.0.3:70", "@rack"}, 69, read).size(), 3u);
}

TEST(ParseFlashArgs, SeveralDevicesAndTheirOptions) {
    const TFlashOptions o = ParseFlashArgs(
        {"--jobs", "2", "--wait=30", "--json", "--allow-empty", "a", "@rack", "b:70", "fw.bin"});
    EXPECT_EQ(o.Hosts, (std::vector<std::string>{"a", "@rack", "b:70"}));
    EXPECT_EQ(o.File, "fw.bin");
    EXPECT_EQ(o.Jobs, 2);
    EXPECT_EQ(o.WaitSeconds, 30);
    EXPECT_TRUE(o.Json && o.AllowEmpty);
    const TFlashOptions d = ParseFlashArgs({"a", "f"});
    EXPECT_EQ(d.Jobs, MaxJobs);
    EXPECT_EQ(d.WaitSeconds, 0);
    EXPECT_FALSE(d.Json || d.AllowEmpty);
    EXPECT_EQ(ParseFlashArgs({"--jobs", "64", "--wait", "86400", "a", "f"}).Jobs, 64);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--jobs", "0", "a", "f"},
             {"--jobs", "65", "a", "f"},
             {"--wait", "-1", "a", "f"},
             {"--wait", "86401", "a", "f"},
             {"a", "", "f"},
             {"--json=1", "a", "f"},
         }) {
        EXPECT_THROW(ParseFlashArgs(bad), EUsageError) << ::testing::PrintToString(bad);
    }
}

TEST(FlashReport, MessagesOfFailures) {
    // An error packet's own text is the message; without one, its code and what it means.
    EXPECT_EQ(DeviceErrorMessage("device full", 3), "device full");
    EXPECT_EQ(DeviceErrorMessage("", 0), "error 0 (not defined) without a text");
    EXPECT_EQ(DeviceErrorMessage("", 3),
              "error 3 (disk full or allocation exceeded) without a text");
    EXPECT_EQ(DeviceErrorMessage("", 8), "error 8 (option negotiation failed) without a text");
    EXPECT_EQ(DeviceErrorMessage("", 9), "error 9 (not a code of RFC 1350 or 2347) without a text");
    EXPECT_EQ(DeviceErrorMessage("Timeout", -1), "Timeout");
    EXPECT_EQ(ResolveFailureMessage("nohost.invalid", 11001, ""),
              "cannot resolve 'nohost.invalid': no such host is known (Socket Error # 11001)");
    EXPECT_EQ(ResolveFailureMessage("h", 11004, ""),
              "cannot resolve 'h': the name has no IPv4 address (Socket Error # 11004)");
    EXPECT_EQ(ResolveFailureMessage("h", 10055, "No buffer space available."),
              "cannot resolve 'h': No buffer space available. (Socket Error # 10055)");

    auto device = [](int status) {
        TDeviceReport r;
        r.Status = status;
        return r;
    };
    EXPECT_EQ(RunStatus({}), 0);
    EXPECT_EQ(RunStatus({device(0), device(0)}), 0);
    EXPECT_EQ(RunStatus({device(0), device(1), device(0)}), 1);
    EXPECT_EQ(RunStatus({device(2), device(1)}), 2);
    EXPECT_EQ(RunStatus({device(1), device(ExitInterrupted), device(0)}), ExitInterrupted);
}

TEST(FlashReport, SummaryLinesAndDocument) {
    TDeviceReport sent;
    sent.Label = sent.Host = sent.Address = "127.0.0.2";
    sent.Status = 0;
    sent.Bytes = int64_t{5} << 30; // 5 GiB: beyond what 32 bits hold
    sent.Seconds = 40;
    TDeviceReport failed;
    failed.Label = "rack-b:70";
    failed.Host = "rack-b";
    failed.Port = 70;
    failed.Status = 1;
    failed.Bytes = 1024;
    failed.Seconds = 0.5;
    failed.Message = "full\r\n\x1b[1mforged";
    EXPECT_EQ(DeviceSummaryLine(sent, 9), "127.0.0.2  sent   5368709120 bytes  40.00 s");
    EXPECT_EQ(DeviceSummaryLine(failed, 10),
              "rack-b:70   failed 1024 bytes  0.50 s  full\\x0d\\x0a\\x1b[1mforged");
    EXPECT_EQ(TotalLine({sent, failed}, 40),
              "total: 2 devices, 1 sent, 1 failed, 5368710144 bytes in 40.00 s (128.0 MiB/s)");
    const std::string json = JsonReport({sent, failed}, "fw.bin", int64_t{5} << 30, 40.25, 1);
    EXPECT_NE(json.find(R"("address": null, "result": "failed", "status": 1, "bytes": 1024, )"
                        R"("seconds": 0.500, "message": "full\u000d\u000a\u001b[1mforged"})"),
              std::string::npos)
        << json;
    EXPECT_EQ(json.rfind("{\"file\": \"fw.bin\", \"size\": 5368709120, \"status\": 1, ", 0), 0u);
}

TEST(FlashProgress, DeviceLinesOfLargeImagesAndNarrowTerminals) {
    const int64_t size = int64_t{5} << 30;
    EXPECT_EQ(ProgressLine(size / 2, size, 20),
              "[##########..........]  50%  2684354560/5368709120 bytes  128.0 MiB/s");
    EXPECT_EQ(DeviceProgressLine("127.0.0.2", 11, TDeviceState::Sending, size / 4, size, 10),
              "127.0.0.2    sending     25%  1342177280/5368709120 bytes  128.0 MiB/s");
    EXPECT_EQ(DeviceProgressLine("h", 1, TDeviceState::Queued, 0, 100, 0),
              "h  queued       0%  0/100 bytes  0 B/s");
    EXPECT_EQ(FitWidth("abcdef", 4), "abcd");
    EXPECT_EQ(FitWidth("ab\xc3\xbc\xc3\xbc", 3), "ab\xc3\xbc"); // never half a character
    EXPECT_EQ(FitWidth("abc", 3), "abc");
}

TEST(FlashProgress, RedrawsInPlaceWithSequencesOrBlanks) {
    // A line never reaches the last column: a terminal would wrap it, and the redraw would land
    // on the wrong line.
    EXPECT_EQ(RedrawLine("abcdef", 5, true), "\rabcd\x1b[K");
    EXPECT_EQ(RedrawBlock({"a", "bcdefg"}, 0, 5, true), "\ra\x1b[K\n\rbcde\x1b[K\n");
    EXPECT_EQ(RedrawBlock({"a", "b"}, 2, 80, true), "\x1b[2A\ra\x1b[K\n\rb\x1b[K\n");
    // A console moved by calls: blanks over what is left of the older line, counted by the
    // character; going up is the caller's.
    EXPECT_EQ(RedrawLine("abcdef", 5, false), "\rabcd");
    EXPECT_EQ(RedrawBlock({"\xc3\xbc", "bcdefg"}, 2, 5, false), "\r\xc3\xbc   \n\rbcde\n");
}

std::string OpenFailure(const std::string& path) {
    try {
        TImageFile file(path);
    } catch (const EFOpenError& e) {
        return e.Message();
    }
    return "opened";
}

TEST(ImageFile, FailuresSayWhy) {
    TScratch folder;
    std::filesystem::create_directory(folder / "dir");
    WriteFileText(folder / "plain", "x");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
#endif
    const std::pair<std::string, std::string> cases[] = {
        {folder / "missing.bin", "no such file"},
        {folder / "dir", "it is a folder"},
#ifdef _WIN32
        {"NUL", "not a regular file"},
        {folder / "missing.bin/x", "no such folder"},
        {folder / "plain/x", "no such folder"},
#else
        {folder / "fifo", "not a regular file"},
        {folder / "missing.bin/x", "no such file"},
        {folder / "plain/x", "a part of the path is not a folder"},
#endif
    };
    for (const auto& [path, reason] : cases) {
        EXPECT_EQ(OpenFailure(path), "Cannot open file " + path + ": " + reason);
    }
#ifdef _WIN32
    // Held without sharing, as the window does during its upload, or being written: the image
    // could change under the upload. And while it is open here, nobody can write it.
    {
        const TFileStream window(folder / "plain");
        EXPECT_EQ(OpenFailure(folder / "plain"),
                  "Cannot open file " + folder / "plain" + ": in use by another program");
    }
    {
        std::ofstream writer(folder / "plain", std::ios::app);
        EXPECT_EQ(OpenFailure(folder / "plain"),
                  "Cannot open file " + folder / "plain" + ": in use by another program");
    }
    const TImageFile image(folder / "plain");
    EXPECT_FALSE(std::ofstream(folder / "plain", std::ios::app).is_open());
#else
    WriteFileText(folder / "locked", "x");
    ::chmod((folder / "locked").c_str(), 0);
    if (::geteuid() != 0) { // root reads what it likes
        EXPECT_EQ(OpenFailure(folder / "locked"),
                  "Cannot open file " + folder / "locked" + ": permission denied");
    }
#endif
}

TEST(ImageFile, ReadersShareOneOpenFileBeyond4GiB) {
    TScratch folder;
    const std::string path = folder / "big.bin";
    // A sparse file of 5 GiB with a mark at its end: its size and its last bytes come whole.
    const int64_t size = int64_t{5} << 30;
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(size - 4);
        out << "tail";
    }
    const TImageFile image(path);
    const TImageFile anotherRun(path);
    EXPECT_EQ(image.Size(), size);
    std::vector<std::thread> readers;
    std::string tails[4];
    for (std::string& tail : tails) {
        readers.emplace_back([&image, &tail, size] {
            TImageReader reader(image);
            reader.SetPosition(size - 6);
            tail.resize(6);
            reader.ReadBuffer(tail.data(), 6);
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    for (const std::string& tail : tails) {
        EXPECT_EQ(tail, "\0\0tail"s);
    }
    // Past the end a reader gives no more: the upload's ReadBuffer turns that into its error.
    TImageReader reader(image);
    reader.SetPosition(size);
    char byte = 0;
    EXPECT_EQ(reader.Read(&byte, 1), 0u);
    EXPECT_THROW(image.ReadAll(1024), EFOpenError);
    WriteFileText(folder / "list", "127.0.0.2\n");
    EXPECT_EQ(TImageFile(folder / "list").ReadAll(1024), "127.0.0.2\n");
}

TEST(ParseSimArgs, SeveralAddresses) {
    EXPECT_EQ(ParseSimArgs({"--bind", "127.0.0.2", "--bind=localhost"}).BindAddresses,
              (std::vector<std::string>{"127.0.0.2", "127.0.0.1"}));
    EXPECT_THROW(ParseSimArgs({"--bind", "127.0.0.2", "--bind", "127.0.0.2"}), EUsageError);
    EXPECT_THROW(ParseSimArgs({"--bind", "127.0.0.2", "--bind", "10.0.0.2"}), EUsageError);
    std::vector<std::string> many;
    for (size_t i = 0; i <= MaxBindAddresses; ++i) {
        many.insert(many.end(), {"--bind", "127.0.1." + std::to_string(i)});
    }
    EXPECT_THROW(ParseSimArgs(many), EUsageError);
    many.resize(many.size() - 2);
    EXPECT_EQ(ParseSimArgs(many).BindAddresses.size(), MaxBindAddresses);
}

TEST(FaultDice, EachTransferDrawsItsOwnSequence) {
    // The first transfer draws the seed's own sequence, as the one transfer of a simulator always
    // did; the next draws another, not the same one shifted by a draw.
    TFaultDice first(TFaultDice::SeedOf(7, 0)), second(TFaultDice::SeedOf(7, 1)), seed(7);
    std::vector<double> a, b;
    for (int i = 0; i < 5; ++i) {
        a.push_back(first.Next());
        b.push_back(second.Next());
        EXPECT_EQ(a.back(), seed.Next());
    }
    EXPECT_NE(std::vector<double>(a.begin() + 1, a.end()),
              std::vector<double>(b.begin(), b.end() - 1));
    EXPECT_NE(a, b);
}

} // namespace
