// The programs of the Windows build, run under Wine from here, against peers of this build and
// Debian's tftpd-hpa: zeb40-flash.exe uploads, zeb40-sim.exe receives, both on the real Winsock
// binding (Wine's wsock32.dll over this system's sockets), all on loopback.
#include "Peers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {

const std::string WindowsToolsDir = ZEB40_WINDOWS_TOOLS_DIR;
const std::string WineRun = ZEB40_WINE_RUN;

// A path of ours as a program under Wine names it: Wine's drive Z: is the root of this system.
std::string WindowsPath(const std::string& path) {
    return "Z:" + path;
}

// The text with the CR LF line breaks of a Windows program's standard streams as LF.
std::string LineFeeds(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) {
        text.erase(at, 1);
    }
    return text;
}

// The command that runs a Windows program of the build under Wine.
std::vector<std::string> UnderWine(const std::string& program) {
    return {WineRun, WindowsToolsDir + "/" + program};
}

class WindowsTools : public ::testing::Test {
protected:
    void SetUp() override {
        if (WindowsToolsDir.empty()) {
            GTEST_SKIP()
                << "this build runs no Windows programs (ZEB40_WINDOWS_TOOLS_DIR is empty)";
        }
        std::string missing;
        for (const char* program : {"zeb40-flash.exe", "zeb40-sim.exe"}) {
            if (!FileExists(WindowsToolsDir + "/" + program)) {
                missing = WindowsToolsDir + "/" + program +
                          " is not built (cmake --preset mingw && "
                          "cmake --build --preset mingw)";
            }
        }
        // Makes the Wine prefix on the first run (about 10 s).
        const TRunResult wine = missing.empty() ? RunProgram(WineRun, {}, 120000) : TRunResult{};
        if (missing.empty() && wine.Status != 0) {
            missing = "Wine does not run here: " + wine.Err;
        }
        if (missing.empty()) {
            return;
        }
        // CI builds the Windows programs before this suite: there they must run.
        if (std::getenv("ZEB40_REQUIRE_WINDOWS_TOOLS") != nullptr) {
            FAIL() << missing;
        }
        GTEST_SKIP() << missing;
    }

    // zeb40-flash.exe with args, the image last (a path of ours).
    static TRunResult Flash(std::vector<std::string> args, const std::string& image,
                            int timeoutMs = 60000) {
        std::vector<std::string> command = UnderWine("zeb40-flash.exe");
        command.insert(command.end(), args.begin(), args.end());
        command.push_back(WindowsPath(image));
        TRunResult run =
            RunProgram(command.front(), {command.begin() + 1, command.end()}, timeoutMs);
        run.Out = LineFeeds(run.Out);
        run.Err = LineFeeds(run.Err);
        return run;
    }
};

TEST_F(WindowsTools, FlashUploadsEverySizeToTftpd) {
    if (!TTftpdPeer::Installed()) {
        GTEST_SKIP() << TftpdProgram << " is not installed (Debian package tftpd-hpa)";
    }
    TTftpdPeer server;
    ASSERT_TRUE(server.Started()) << "in.tftpd did not start on a free port";
    TScratchDir work;
    struct Case {
        size_t size;
        int32_t blockSize;
    } const cases[] = {
        {0, 512},
        {1, 512},
        {512, 512},
        {513, 512},
        {5 * 1024 * 1024, 1500},
        // 65700 full blocks and a short one: the block number wraps from 65535 to 0.
        {65700 * 512 + 100, 512},
    };
    for (const Case& c : cases) {
        const std::string name = "s" + std::to_string(c.size) + ".bin";
        const std::string bytes = TestBytes(c.size, c.size + 5);
        WriteFile(work / name, bytes);
        const TRunResult run =
            Flash({"--allow-empty", "--port", std::to_string(server.Port()), "--blksize",
                   std::to_string(c.blockSize), "--remote", name, "127.0.0.1"},
                  work / name);
        EXPECT_EQ(run.Status, 0) << name << "\n" << run.Err;
        EXPECT_EQ(run.Out.rfind("sent " + std::to_string(c.size) + " bytes in ", 0), 0u) << run.Out;
        EXPECT_TRUE(ReadFile(server.Dir() / name) == bytes) << name;
    }
}

TEST_F(WindowsTools, FlashUploadsToTwoSimulatedDevicesAtOnce) {
    TSimPeer rack({"--bind", "127.0.0.2", "--bind", "127.0.0.3"});
    ASSERT_TRUE(rack.Started());
    const std::string second = rack.WaitFor("listening ");
    TScratchDir work;
    const std::string bytes = TestBytes(1000 * 1000, 31);
    WriteFile(work / "fw.bin", bytes);
    const TRunResult run = Flash({"127.0.0.2:" + std::to_string(rack.Port()),
                                  "127.0.0.3:" + second.substr(second.rfind(':') + 1)},
                                 work / "fw.bin");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_NE(run.Out.find("total: 2 devices, 2 sent, 0 failed, 2000000 bytes in "),
              std::string::npos)
        << run.Out;
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
        EXPECT_TRUE(ReadFile(rack.Dir() / address + "/firmware.bin") == bytes) << address;
    }
}

TEST_F(WindowsTools, FlashEndsAtCtrlC) {
    // Wine hands SIGINT to the console's control handlers as Ctrl-C. A slow device: each answer
    // waits 50 ms, so the upload is under way at the signal.
    TSimPeer sim({"--delay", "50", "--blksize", "ignore", "--retransmit", "200"});
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(200 * 512, 32));
    std::vector<std::string> command = UnderWine("zeb40-flash.exe");
    TChildProcess flash(command.front(), {command.back(), "--port", std::to_string(sim.Port()),
                                          "127.0.0.1", WindowsPath(work / "fw.bin")});
    ASSERT_NE(sim.WaitFor("transfer port ", 20000), "");
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Wait(5000), 130);
    flash.DrainOutput();
    EXPECT_EQ(LineFeeds(flash.Stderr()), "zeb40-flash: interrupted\n");
    EXPECT_NE(sim.WaitFor("abandoned firmware.bin", 5000), "");
    EXPECT_TRUE(FolderEntries(sim.Dir().Path()).empty());
}

TEST_F(WindowsTools, SimReceivesFromTheLinuxFlashAndStopsAtCtrlC) {
    TSimPeer sim({}, UnderWine("zeb40-sim.exe"), "Z:");
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    // The second image replaces the first under the same name.
    const std::string images[] = {TestBytes(1024 * 1024 + 1, 33), TestBytes(513, 34)};
    for (const std::string& bytes : images) {
        WriteFile(work / "fw.bin", bytes);
        const std::string blockSize = bytes.size() == 513 ? "512" : "1500";
        const TRunResult run =
            RunProgram(FlashProgram,
                       {"--port", std::to_string(sim.Port()), "--blksize", blockSize, "--remote",
                        "fw.bin", "127.0.0.1", work / "fw.bin"},
                       30000);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_NE(sim.WaitFor("received fw.bin " + std::to_string(bytes.size()) + " bytes sha256 "),
                  "");
        EXPECT_TRUE(ReadFile(sim.Dir() / "fw.bin") == bytes) << bytes.size();
    }
    sim.Process().Signal(SIGINT);
    EXPECT_NE(sim.WaitFor("stopped", 5000), "");
    EXPECT_EQ(sim.Process().Wait(5000), 0);
    // Nothing left of the partial files.
    EXPECT_EQ(FolderEntries(sim.Dir().Path()), std::vector<std::string>{"fw.bin"});
}

} // namespace
