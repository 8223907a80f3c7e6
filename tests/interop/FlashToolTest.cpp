// zeb40-flash run as a program: its exit statuses and texts against real servers.
#include "Peers.h"

#include <gtest/gtest.h>

#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
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
                    "--blksize", "$200", "--mode", "netascii", "127.0.0.1", work / "fw.bin"},
                   10000);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    const std::string request = sim.WaitFor("request WRQ");
    EXPECT_NE(request.find("name \"named.bin\" mode netascii options blksize=512"),
              std::string::npos)
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
    TSimPeer refusing({"--error-at", "2:3:device full"});
    ASSERT_TRUE(refusing.Started());
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message; // a part of stderr
    };
    const Case cases[] = {
        {{"--port", std::to_string(silent.Port()), "--timeout", "200", "127.0.0.1",
          work / "fw.bin"},
         1,
         "zeb40-flash: Timeout\n"},
        {{"--port", std::to_string(refusing.Port()), "127.0.0.1", work / "fw.bin"},
         1,
         "zeb40-flash: device full\n"},
        {{"--port", std::to_string(silent.Port()), "127.0.0.1", work / "missing.bin"},
         2,
         "Cannot open file "},
        {{"--port", std::to_string(silent.Port()), "127.0.0.1", work.Path()},
         2,
         "Cannot open file "},
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
    EXPECT_EQ(help.Out.rfind("usage: zeb40-flash [options] HOST FILE\n", 0), 0u);
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

} // namespace
