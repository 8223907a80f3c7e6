// The services under the upgrade run: the size probe, the percentage, the detached start and
// the ARP command's look-up.
#include "app/RunSeams.h"
#include "app/Main.h"
#include "base/Streams.h"
#include "tftp/IdTrivialFTP.h"

#include "RunSupport.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <QThread>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <limits>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(ProbeImageSize, MeasuresRegularFilesAndGivesAllOnesForWhatCannotBeOpened) {
    TScratch scratch;
    WriteFileText(scratch / "empty.bin", "");
    WriteFileText(scratch / "three.bin", "abc");
    fs::create_directory(scratch / "folder");
    fs::create_symlink(scratch / "three.bin", scratch / "link.bin");
    fs::create_symlink(scratch / "gone.bin", scratch / "dangling.bin");
    const struct {
        std::string Name;
        uint32_t Size;
    } cases[] = {
        {scratch / "empty.bin", 0},
        {scratch / "three.bin", 3},
        {scratch / "link.bin", 3},
        {scratch / "missing.bin", 0xFFFFFFFFu},
        {scratch / "dangling.bin", 0xFFFFFFFFu},
        {scratch / "folder", 0xFFFFFFFFu},
        {"", 0xFFFFFFFFu},
        {" ", 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProbeImageSize(c.Name), c.Size) << "'" << c.Name << "'";
    }
}

TEST(ProbeImageSize, AFileHeldByAnotherExclusiveOpenerCannotBeProbed) {
    TScratch scratch;
    WriteFileText(scratch / "held.bin", "abcd");
    {
        const TFileStream holder(scratch / "held.bin");
        EXPECT_EQ(ProbeImageSize(scratch / "held.bin"), 0xFFFFFFFFu);
    }
    EXPECT_EQ(ProbeImageSize(scratch / "held.bin"), 4u) << "the probe closed its own handle";
    EXPECT_EQ(ProbeImageSize(scratch / "held.bin"), 4u);
}

TEST(ProbeImageSize, TakesTheLow32BitsOfAFileOf4GiBOrMore) {
    TScratch scratch;
    const struct {
        uintmax_t Size;
        uint32_t Probed;
    } cases[] = {
        {0xFFFFFFFFull, 0xFFFFFFFFu},
        {0x100000000ull, 0},
        {0x100000005ull, 5},
    };
    for (const auto& c : cases) {
        const std::string name = scratch / "big.bin";
        WriteFileText(name, "");
        std::error_code error;
        fs::resize_file(name, c.Size, error); // sparse: no disk space taken
        if (error) {
            GTEST_SKIP() << "no sparse file of " << c.Size << " bytes here";
        }
        EXPECT_EQ(ProbeImageSize(name), c.Probed) << c.Size;
    }
}

TEST(UploadPercent, IsTheTruncatedShareOfTheProbedSize) {
    constexpr int32_t Max = std::numeric_limits<int32_t>::max();
    const struct {
        int32_t Count;
        uint32_t Size;
        int32_t Percent;
    } cases[] = {
        {0, 0, 100}, // the whole of an empty image
        {7, 0, 100}, // an empty image that grew
        {0, 2048, 0},
        {512, 2048, 25},
        {2047, 2048, 99},
        {2048, 2048, 100},
        {1, 3, 33},
        {2, 3, 66},
        {3, 3, 100},
        {6, 3, 200}, // a file that grew: the gauge clamps it
        {Max, 0xFFFFFFFFu, 49},
        {1, 0xFFFFFFFFu, 0}, // the size of a file that could not be probed
        {Max, 1, Max},       // saturated, not undefined
        {21474837, 1, Max},
        {21474836, 1, 2147483600},
        {-1, 3, -33},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UploadPercent(c.Count, c.Size), c.Percent) << c.Count << " of " << c.Size;
    }
}

TEST(StartArpCommand, FindsTheToolOnTheSearchPathOrStartsNothing) {
    const TIdTrivialFTP keepsTheStack(nullptr); // the address is checked by GlobalStack
    TScratch scratch;
    fs::create_directory(scratch / "empty");
    fs::create_directory(scratch / "bin");
    MakeStandIn(scratch / "bin/ip");
    fs::create_directory(scratch / "plain");
    WriteFileText(scratch / "plain/ip", "not executable");
    const struct {
        std::string Path;
        bool Found;
    } cases[] = {
        {scratch / "bin", true},
        {scratch / "empty:" + (scratch / "bin"), true},
        {scratch / "empty", false},
        {scratch / "plain", false},
        {"", false},
    };
    for (const auto& c : cases) {
        TRecordingLauncher launcher;
        {
            TSearchPath path(c.Path);
            StartArpCommand("10.0.0.7");
        }
        const std::vector<TStart> expected =
            c.Found
                ? std::vector<TStart>{{scratch / "bin/ip", {"neigh", "flush", "to", "10.0.0.7"}}}
                : std::vector<TStart>{};
        EXPECT_EQ(launcher.Started, expected) << "PATH=" << c.Path;
    }
}

// The system's launcher, with a harmless program in place of the ARP tool.
TEST(DetachedLauncher, StartsWithoutAShellOnNullDevicesAndLeavesNoChildBehind) {
    TScratch scratch;
    const std::string report = scratch / "report.txt";
    // The program reports its argument, its three standard descriptors and its session.
    const std::string probe = "r='" + report + "'; a=$(readlink /proc/$$/fd/0); b=$(readlink " +
                              "/proc/$$/fd/1); c=$(readlink /proc/$$/fd/2); s=$(ps -o sid= -p $$ " +
                              "| tr -d ' '); printf '%s\\n%s\\n%s\\n%s\\n%s\\n' \"$1\" \"$a\" " +
                              "\"$b\" \"$c\" \"$s\" > \"$r.part\"; mv \"$r.part\" \"$r\"";
    const std::string argument = "1.2.3.4; touch '" + (scratch / "injected") + "'";
    TDetachedLauncher launcher;
    const auto started = std::chrono::steady_clock::now();
    launcher.Start("/bin/sh", {"-c", probe, "sh", argument});
    while (!fs::exists(report) &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
        QThread::msleep(10);
    }
    ASSERT_TRUE(fs::exists(report)) << "the program did not run";
    std::istringstream lines(ReadFileText(report));
    std::string received, in, out, err, session;
    std::getline(lines, received);
    std::getline(lines, in);
    std::getline(lines, out);
    std::getline(lines, err);
    std::getline(lines, session);
    EXPECT_EQ(received, argument);
    EXPECT_FALSE(fs::exists(scratch / "injected"));
    EXPECT_EQ(in, "/dev/null");
    EXPECT_EQ(out, "/dev/null");
    EXPECT_EQ(err, "/dev/null");
    EXPECT_NE(session, std::to_string(::getsid(0))) << "a session of its own";
    // Nothing of ours is left to reap, a zombie included.
    int status = 0;
    errno = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
