// The system's services under the upgrade run: the size probe, and on a POSIX system the detached
// start and the ARP command's look-up (Windows hands arp.exe to the shell, which looks it up).
#include "run/RunSeams.h"
#include "base/Streams.h"
#include "tftp/IdTrivialFTP.h"

#include "RunSupport.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

TEST(ProbeImageSize, MeasuresRegularFilesAndGivesAllOnesForWhatCannotBeOpened) {
    TScratch scratch;
    WriteFileText(scratch / "empty.bin", "");
    WriteFileText(scratch / "three.bin", "abc");
    fs::create_directory(scratch / "folder");
    struct Case {
        std::string Name;
        uint32_t Size;
    };
    std::vector<Case> cases = {
        {scratch / "empty.bin", 0},
        {scratch / "three.bin", 3},
        {scratch / "missing.bin", 0xFFFFFFFFu},
        {scratch / "folder", 0xFFFFFFFFu},
        {"", 0xFFFFFFFFu},
        {" ", 0xFFFFFFFFu},
    };
    // Windows makes symbolic links for privileged users and in developer mode only; Wine makes
    // none that opens.
    std::error_code error;
    fs::create_symlink(scratch / "three.bin", scratch / "link.bin", error);
    if (!error && ReadFileText(scratch / "link.bin") == "abc") {
        fs::create_symlink(scratch / "gone.bin", scratch / "dangling.bin");
        cases.insert(cases.end(),
                     {{scratch / "link.bin", 3}, {scratch / "dangling.bin", 0xFFFFFFFFu}});
    }
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

TEST(StartArpCommand, FindsTheToolOnTheSearchPathOrStartsNothing) {
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX only: Windows leaves the look-up of arp.exe to the shell";
#else
    const TIdTrivialFTP keepsTheStack(nullptr); // the address is checked by GlobalStack
    TScratch scratch;
    TInFolder in(scratch.Path());
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
        {"bin", false}, // relative: the current directory's bin
        {":bin:.", false},
    };
    const THelperFoldersStandIn noHelper;
    for (const auto& c : cases) {
        TRecordingLauncher launcher;
        {
            TSearchPath path(c.Path);
            StartArpCommand(launcher, "10.0.0.7");
        }
        const std::vector<TCommand> expected =
            c.Found
                ? std::vector<TCommand>{{scratch / "bin/ip", {"neigh", "flush", "to", "10.0.0.7"}}}
                : std::vector<TCommand>{};
        EXPECT_EQ(launcher.Started, expected) << "PATH=" << c.Path;
    }
#endif
}

// zeb40-arp-clear carries the capability that ip lacks for a user who is not root: it is taken
// from the first folder that holds it as an executable file, ip only where none does.
TEST(ArpCommand, TakesZeb40ArpClearFromTheFirstFolderThatHasItAndIpOtherwise) {
#if defined(_WIN32)
    GTEST_SKIP() << "Linux only: Windows has arp.exe";
#else
    TScratch scratch;
    for (const char* folder : {"own", "libexec", "plain", "folder", "empty", "bin"}) {
        fs::create_directory(scratch / folder);
    }
    MakeStandIn(scratch / "own/zeb40-arp-clear");
    MakeStandIn(scratch / "libexec/zeb40-arp-clear");
    WriteFileText(scratch / "plain/zeb40-arp-clear", "not executable");
    fs::create_directory(scratch / "folder/zeb40-arp-clear");
    MakeStandIn(scratch / "bin/ip");
    const TSearchPath path(scratch / "bin");
    const TCommand ip{scratch / "bin/ip", {"neigh", "flush", "to", "10.0.0.7"}};
    const auto helper = [&](const char* folder) {
        return TCommand{scratch / folder + "/zeb40-arp-clear", {"10.0.0.7"}};
    };
    const struct {
        std::vector<std::string> Folders;
        TCommand Command;
    } cases[] = {
        {{scratch / "own", scratch / "libexec"}, helper("own")},
        {{scratch / "empty", scratch / "libexec"}, helper("libexec")},
        {{scratch / "plain", scratch / "folder", scratch / "libexec"}, helper("libexec")},
        {{scratch / "empty", scratch / "plain"}, ip},
        {{}, ip},
    };
    for (const auto& c : cases) {
        const THelperFoldersStandIn folders(c.Folders);
        EXPECT_EQ(ArpCommand("10.0.0.7"), c.Command) << c.Folders.size() << " folders";
    }
    // Without a stand-in: the one built beside this test program, as beside the window.
    EXPECT_EQ(ArpCommand("10.0.0.7"), (TCommand{ZEB40_ARP_CLEAR_PROGRAM, {"10.0.0.7"}}));
#endif
}

// The system's launcher, with a harmless program in place of the ARP tool.
TEST(DetachedLauncher, StartsWithoutAShellOnNullDevicesAndLeavesNoChildBehind) {
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX only: the probe is a /bin/sh script that reads /proc";
#else
    TScratch scratch;
    const std::string report = scratch / "report.txt";
    // The program reports its argument, its three standard descriptors and its session.
    std::string probe = "r='" + report + "'; a=$(readlink /proc/$$/fd/0); b=$(readlink " +
                        "/proc/$$/fd/1); c=$(readlink /proc/$$/fd/2); s=$(ps -o sid= -p $$ " +
                        "| tr -d ' '); printf '%s\\n%s\\n%s\\n%s\\n%s\\n' \"$1\" \"$a\" " +
                        "\"$b\" \"$c\" \"$s\" > \"$r.part\"; mv \"$r.part\" \"$r\"";
    const std::string argument = "1.2.3.4; touch '" + (scratch / "injected") + "'";
    // A descriptor of ours that the program must not have.
    const int ours = ::open(scratch.Path().c_str(), O_RDONLY);
    ASSERT_GE(ours, 3);
    probe =
        "[ -e /proc/$$/fd/" + std::to_string(ours) + " ] && touch '" + report + ".leak'; " + probe;
    TDetachedLauncher launcher;
    const auto started = std::chrono::steady_clock::now();
    launcher.Start("/bin/sh", {"-c", probe, "sh", argument});
    while (!fs::exists(report) &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(report)) << "the program did not run";
    std::istringstream lines(ReadFileText(report));
    std::string received, in, out, err, session;
    std::getline(lines, received);
    std::getline(lines, in);
    std::getline(lines, out);
    std::getline(lines, err);
    std::getline(lines, session);
    ::close(ours);
    EXPECT_EQ(received, argument);
    EXPECT_FALSE(fs::exists(scratch / "injected"));
    EXPECT_FALSE(fs::exists(report + ".leak")) << "the program has a descriptor of ours";
    EXPECT_EQ(in, "/dev/null");
    EXPECT_EQ(out, "/dev/null");
    EXPECT_EQ(err, "/dev/null");
    EXPECT_NE(session, std::to_string(::getsid(0))) << "a session of its own";
    // Nothing of ours is left to reap, a zombie included.
    int status = 0;
    errno = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
#endif
}

} // namespace
