// zeb40-flash for several devices at once, against zeb40-sim playing several on 127.0.0.2 and
// up (free ports, named as HOST:PORT, so that no test needs root for port 69).
#include "Peers.h"
#include "base/Streams.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <thread>

namespace {

// The port of the next "listening ADDR:PORT" line of a sim.
std::string NextPort(TSimPeer& sim) {
    const std::string line = sim.WaitFor("listening ");
    return line.substr(line.rfind(':') + 1);
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(Fleet, ThreeDevicesOneRefusingFromAList) {
    TSimPeer rack({"--bind", "127.0.0.2", "--bind", "127.0.0.3"});
    TSimPeer refusing({"--bind", "127.0.0.4", "--error-at", "3:3:disk full"});
    ASSERT_TRUE(rack.Started() && refusing.Started());
    const std::string second = NextPort(rack);
    const std::string ports[] = {std::to_string(rack.Port()), second,
                                 std::to_string(refusing.Port())};
    TScratchDir work;
    const std::string bytes = TestBytes(300000, 21);
    WriteFile(work / "fw.bin", bytes);
    WriteFile(work / "rack.txt", "# the bench\n127.0.0.2:" + ports[0] +
                                     "\n\n  127.0.0.3:" + ports[1] + "   # the second\n");
    const std::vector<std::string> args = {"@" + work / "rack.txt", "127.0.0.4:" + ports[2],
                                           work / "fw.bin"};

    std::vector<std::string> json = {"--json"};
    json.insert(json.end(), args.begin(), args.end());
    const TRunResult first = RunProgram(FlashProgram, json, 20000);
    EXPECT_EQ(first.Status, 1) << first.Err;
    EXPECT_EQ(first.Err, "");
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
        EXPECT_TRUE(ReadFile(rack.Dir() / address + "/firmware.bin") == bytes) << address;
    }
    EXPECT_EQ(FolderEntries(rack.Dir().Path()),
              (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_TRUE(FolderEntries(refusing.Dir().Path()).empty());
    // The document as a parser of JSON reads it.
    WriteFile(work / "report.json", first.Out);
    const TRunResult parsed = RunProgram(
        "/usr/bin/python3",
        {"-c",
         "import json, sys\n"
         "d = json.load(open(sys.argv[1]))\n"
         "print(d['status'], d['size'], d['total'])\n"
         "for x in d['devices']:\n"
         "    print(x['host'], x['port'], x['address'], x['result'], x['status'], x['bytes'],\n"
         "          x['message'])\n",
         work / "report.json"},
        10000);
    EXPECT_EQ(parsed.Status, 0) << parsed.Err << first.Out;
    EXPECT_EQ(parsed.Out, "1 300000 {'devices': 3, 'sent': 2, 'failed': 1, 'bytes': 603000}\n"
                          "127.0.0.2 " +
                              ports[0] +
                              " 127.0.0.2 sent 0 300000 None\n"
                              "127.0.0.3 " +
                              ports[1] +
                              " 127.0.0.3 sent 0 300000 None\n"
                              "127.0.0.4 " +
                              ports[2] + " 127.0.0.4 failed 1 3000 disk full\n");

    // Again, with the summary, while another program holds the image under an exclusive lock
    // as the window does during its upload: the run reads it all the same.
    const TFileStream held(work / "fw.bin");
    const TRunResult again = RunProgram(FlashProgram, args, 20000);
    EXPECT_EQ(again.Status, 1) << again.Err;
    const std::vector<std::string> lines = LinesOf(again.Out);
    ASSERT_EQ(lines.size(), 4u) << again.Out;
    EXPECT_EQ(lines[0].rfind("127.0.0.2:" + ports[0] + "  sent   300000 bytes  ", 0), 0u)
        << lines[0];
    // The device that refused block 3 holds what it acknowledged: blocks 1 and 2.
    EXPECT_EQ(lines[2].rfind("127.0.0.4:" + ports[2] + "  failed 3000 bytes  ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find(" s  disk full"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3].rfind("total: 3 devices, 2 sent, 1 failed, 603000 bytes in ", 0), 0u);
}

TEST(Fleet, InterruptStopsEveryTransferAndStartsNoMore) {
    // Slow devices: each answer waits 20 ms, so the transfers are under way at the signal; two
    // jobs, so the third device waits for a free one.
    TSimPeer rack({"--bind", "127.0.0.2", "--bind", "127.0.0.3", "--bind", "127.0.0.4", "--delay",
                   "20", "--blksize", "ignore", "--retransmit", "100", "--retries", "2"});
    ASSERT_TRUE(rack.Started());
    const std::string ports[] = {std::to_string(rack.Port()), NextPort(rack), NextPort(rack)};
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(400 * 512, 22));
    TChildProcess flash(FlashProgram,
                        {"--jobs", "2", "127.0.0.2:" + ports[0], "127.0.0.3:" + ports[1],
                         "127.0.0.4:" + ports[2], work / "fw.bin"});
    ASSERT_NE(rack.WaitFor("transfer port "), "");
    ASSERT_NE(rack.WaitFor("transfer port "), "");
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Wait(5000), 130);
    flash.DrainOutput();
    EXPECT_EQ(flash.Stderr(), "zeb40-flash: interrupted\n");
    const std::vector<std::string>& lines = flash.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("  failed "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" s  interrupted"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" s  interrupted"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("  failed 0 bytes  0.00 s  not started: interrupted"),
              std::string::npos)
        << lines[2];
    // The devices saw their clients go silent; the third was never asked.
    EXPECT_NE(rack.WaitFor("abandoned "), "");
    EXPECT_NE(rack.WaitFor("abandoned "), "");
    const std::vector<std::string> log = rack.Log(300);
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const std::string& line) { return line.rfind("request WRQ", 0) == 0; }),
        2);
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
        EXPECT_TRUE(FolderEntries(rack.Dir() / address).empty()) << address;
    }
}

TEST(Fleet, WaitsForADeviceThatIsStillStarting) {
    // The device comes up two seconds after the run began; the request goes every second.
    const int32_t port = FreeUdpPort();
    TScratchDir work;
    const std::string bytes = TestBytes(50000, 23);
    WriteFile(work / "fw.bin", bytes);
    TChildProcess flash(FlashProgram,
                        {"--wait", "20", "127.0.0.1:" + std::to_string(port), work / "fw.bin"});
    std::this_thread::sleep_for(std::chrono::seconds(2));
    TSimPeer sim({"--port", std::to_string(port)});
    ASSERT_EQ(sim.Port(), port);
    EXPECT_EQ(flash.Wait(10000), 0) << flash.Stderr();
    EXPECT_TRUE(ReadFile(sim.Dir() / "firmware.bin") == bytes);
    flash.DrainOutput();
    EXPECT_EQ(flash.Lines().size(), 1u);
    EXPECT_EQ(flash.Lines()[0].rfind("sent 50000 bytes in ", 0), 0u);
}

} // namespace
