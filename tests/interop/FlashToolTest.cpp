// zeb40-flash run as a program: its exit statuses and texts against real servers.
#include "Peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A bound UDP socket that never reads: a port where nothing answers.
class TSilentPort {
public:
    TSilentPort() {
        FSocket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
    }
    ~TSilentPort() { close(FSocket); }
    int32_t Port() const { return FPort; }
    // Whether a datagram has come within timeoutMs (it stays unread).
    bool Reached(int timeoutMs) const {
        pollfd entry{FSocket, POLLIN, 0};
        return poll(&entry, 1, timeoutMs) == 1;
    }

private:
    int FSocket = -1;
    int32_t FPort = 0;
};

TEST(Flash, SendsAnImageToTheSim) {
    TSimPeer sim({});
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    const std::string bytes = TestBytes(70000, 8);
    WriteFile(work / "fw.bin", bytes);
    const TRunResult run = RunProgram(
        FlashProgram, {"--port", std::to_string(sim.Port()), "127.0.0.1", work / "fw.bin"}, 10000);
    EXPECT_EQ(run.Status, 0) << run.Err;
    // Not a terminal: no progress, one summary line.
    EXPECT_EQ(run.Out.rfind("sent 70000 bytes in ", 0), 0u) << run.Out;
    EXPECT_EQ(run.Err, "");
    EXPECT_NE(sim.WaitFor("answer OACK blksize 1500"), "");
    EXPECT_NE(sim.WaitFor("received firmware.bin 70000 bytes"), "");
    EXPECT_TRUE(ReadFile(sim.Dir() / "firmware.bin") == bytes);
}

TEST(Flash, OptionsReachTheWire) {
    TSimPeer sim({});
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    const std::string bytes = TestBytes(3000, 9);
    WriteFile(work / "fw.bin", bytes);
    const TRunResult run =
        RunProgram(FlashProgram,
                   {"--quiet", "--port=" + std::to_string(sim.Port()), "--remote", "named.bin",
                    "--blksize", "$200", "--mode", "octet", "127.0.0.1", work / "fw.bin"},
                   10000);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    const std::string request = sim.WaitFor("request WRQ");
    EXPECT_NE(request.find("name \"named.bin\" mode octet options blksize=512"), std::string::npos)
        << request;
    EXPECT_TRUE(ReadFile(sim.Dir() / "named.bin") == bytes);
}

TEST(Flash, SendsAnImageToTftpd) {
    if (!TTftpdPeer::Installed()) {
        GTEST_SKIP() << TftpdProgram << " is not installed";
    }
    TTftpdPeer server;
    ASSERT_TRUE(server.Started());
    TScratchDir work;
    const std::string bytes = TestBytes(1 << 20, 10);
    WriteFile(work / "fw.bin", bytes);
    const TRunResult run = RunProgram(FlashProgram,
                                      {"--port", std::to_string(server.Port()), "--remote",
                                       "up.bin", "127.0.0.1", work / "fw.bin"},
                                      20000);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(ReadFile(server.Dir() / "up.bin") == bytes);
}

TEST(Flash, ExitStatusOfEachFailure) {
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(5000, 11));
    TSilentPort silent;
    WriteFile(work / "empty.bin", "");
    TSimPeer refusing({"--error-at", "2:3:device full"});
    ASSERT_TRUE(refusing.Started());
    // Error packets without a text, and with one that would repaint the terminal.
    TSimPeer mute({"--error-at", "1:0:"});
    TSimPeer forging({"--error-at", "1:2:\x1b[2J\r\nzeb40-flash: sent"});
    ASSERT_TRUE(mute.Started() && forging.Started());
    const std::string image = work / "fw.bin";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message; // a part of stderr
    };
    const Case cases[] = {
        {{"--port", std::to_string(silent.Port()), "--timeout", "200", "127.0.0.1",
          work / "fw.bin"},
         1,
         "zeb40-flash: Timeout\n"},
        {{"--port", std::to_string(refusing.Port()), "127.0.0.1", work / "fw.bin"},
         1,
         "zeb40-flash: device full\n"},
        {{"--port", std::to_string(mute.Port()), "127.0.0.1", image},
         1,
         "zeb40-flash: error 0 (not defined) without a text\n"},
        {{"--port", std::to_string(forging.Port()), "127.0.0.1", image},
         1,
         "zeb40-flash: \\x1b[2J\\x0d\\x0azeb40-flash: sent\n"},
        {{"--port", std::to_string(silent.Port()), "127.0.0.1", work / "missing.bin"},
         2,
         "zeb40-flash: Cannot open file " + work / "missing.bin" + ": no such file\n"},
        {{"--port", std::to_string(silent.Port()), "127.0.0.1", work.Path()},
         2,
         "zeb40-flash: Cannot open file " + work.Path() + ": it is a folder\n"},
        {{"--port", std::to_string(silent.Port()), "127.0.0.1", work / "empty.bin"},
         2,
         "zeb40-flash: the image " + work / "empty.bin" +
             " is empty (0 bytes); --allow-empty sends it\n"},
        // An empty label: the resolver refuses the name by its form, before it asks any name
        // server, so that the test sends nothing beyond this host.
        {{"--port", std::to_string(silent.Port()), "nohost..invalid", image},
         2,
         "zeb40-flash: cannot resolve 'nohost..invalid': no such host is known"},
        // One device by several names would get a transfer for each.
        {{"--port", std::to_string(silent.Port()), "127.0.0.1", "127.1", "localhost", image},
         64,
         "'127.0.0.1' and '127.1' are one device (127.0.0.1:" + std::to_string(silent.Port()) +
             "): it would get two transfers at once"},
        {{"::1", image}, 64, "'::1': IPv6 addresses are not supported"},
        {{"--wait", "x", "127.0.0.1", image}, 64, "invalid value 'x' for --wait"},
        {{"--mode", "netascii", "127.0.0.1", image}, 64, "octet mode only"},
        {{"127.0.0.1:0", image}, 64, "the port of '127.0.0.1:0'"},
        {{"--port", "abc", "127.0.0.1", work / "fw.bin"}, 64, "invalid value 'abc' for --port"},
        {{"--blksize", "7", "127.0.0.1", work / "fw.bin"}, 64, "--blksize"},
        {{"--mode", "binary", "127.0.0.1", work / "fw.bin"}, 64, "--mode"},
        {{"--frobnicate", "127.0.0.1", work / "fw.bin"}, 64, "unknown option"},
        {{"127.0.0.1"}, 64, "usage: zeb40-flash"},
    };
    for (const Case& c : cases) {
        const TRunResult run = RunProgram(FlashProgram, c.args, 10000);
        EXPECT_EQ(run.Status, c.status) << ::testing::PrintToString(c.args) << "\n" << run.Err;
        EXPECT_NE(run.Err.find(c.message), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "") << ::testing::PrintToString(c.args);
    }
    EXPECT_TRUE(refusing.Process().HasLine("error-at DATA 2 code 3 \"device full\"") ||
                refusing.WaitFor("error-at DATA 2") != "");
}

TEST(Flash, HelpAndVersion) {
    const TRunResult help = RunProgram(FlashProgram, {"--help"}, 5000);
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("usage: zeb40-flash [options] HOST [HOST ...] FILE\n", 0), 0u);
    const TRunResult version = RunProgram(FlashProgram, {"--version"}, 5000);
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("zeb40-flash ", 0), 0u);
}

TEST(Flash, InterruptEndsTheUploadAndReleasesTheFile) {
    // A slow device: each answer waits 50 ms, so the upload is still running at the signal.
    TSimPeer sim({"--delay", "50", "--blksize", "ignore", "--retransmit", "200"});
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(200 * 512, 12));
    TChildProcess flash(FlashProgram,
                        {"--port", std::to_string(sim.Port()), "127.0.0.1", work / "fw.bin"});
    ASSERT_NE(sim.WaitFor("transfer port "), "");
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Wait(15000), 130);
    EXPECT_NE(flash.Stderr().find("zeb40-flash: interrupted"), std::string::npos);
    // The device never saw the end, so it keeps no image.
    EXPECT_NE(sim.WaitFor("abandoned firmware.bin", 15000), "");
    EXPECT_TRUE(FolderEntries(sim.Dir().Path()).empty());
}

TEST(Flash, InterruptEndsEvenTheWaitForADeviceThatIsStarting) {
    // The device never answers and the request would go on for a minute: the signal ends it,
    // and by the program's own handling, not by the signal's default action.
    TSilentPort silent;
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(1000, 13));
    TChildProcess flash(FlashProgram, {"--wait", "60", "--port", std::to_string(silent.Port()),
                                       "127.0.0.1", work / "fw.bin"});
    ASSERT_TRUE(silent.Reached(5000));
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Wait(5000), 130);
    flash.DrainOutput();
    EXPECT_EQ(flash.Stderr(), "zeb40-flash: interrupted\n");
}

TEST(Flash, AReaderThatHasGoneLeavesTheStatusAlone) {
    // As in `zeb40-flash ... | head`: the reader of stdout is gone before anything is written.
    TSimPeer sim({});
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(5000, 14));
    const std::string script =
        R"(exec 3>&1; { sleep 0.5; "$0" "$@"; echo "status $?" >&3; } | true)";
    const std::vector<std::vector<std::string>> runs = {
        {"--help"},
        {"--port", std::to_string(sim.Port()), "127.0.0.1", work / "fw.bin"},
    };
    for (const std::vector<std::string>& args : runs) {
        std::vector<std::string> argv = {"-c", script, FlashProgram};
        argv.insert(argv.end(), args.begin(), args.end());
        const TRunResult run = RunProgram("/bin/bash", argv, 10000);
        EXPECT_EQ(run.Out, "status 0\n") << ::testing::PrintToString(args) << run.Err;
    }
    EXPECT_NE(sim.WaitFor("received firmware.bin 5000 bytes"), "");
}

TEST(Flash, AnImageChangedWhileItIsSentIsAFailure) {
    // A copy over the image, or a new one renamed over it, while a slow device takes it: the
    // upload fails and says so, and the device never gets the block that would end a mixed image.
    const struct {
        const char* Name;
        bool Rename;
    } cases[] = {{"rewritten in place", false}, {"replaced", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScratchDir work;
        const std::string image = work / "fw.bin";
        WriteFile(image, TestBytes(60 * 512 + 7, 3));
        TSimPeer slow({"--delay", "20"});
        ASSERT_TRUE(slow.Started());
        TChildProcess flash(FlashProgram, {"--port", std::to_string(slow.Port()), "--blksize",
                                           "512", "127.0.0.1", image});
        ASSERT_NE(slow.WaitFor("request WRQ", 5000), "");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::string other = TestBytes(60 * 512 + 7, 4);
        if (c.Rename) {
            WriteFile(work / "new.bin", other);
            std::filesystem::rename(work / "new.bin", image);
        } else {
            WriteFile(image, other);
        }
        EXPECT_EQ(flash.Wait(20000), 2);
        flash.DrainOutput();
        EXPECT_NE(flash.Stderr().find("The file " + image + " changed while it was being sent"),
                  std::string::npos)
            << flash.Stderr();
        // The device holds the transfer's partial file at most, never a stored image.
        for (const std::string& entry : FolderEntries(slow.Dir().Path())) {
            EXPECT_NE(entry, "firmware.bin") << "a mixed image stored";
        }
    }
}

} // namespace
