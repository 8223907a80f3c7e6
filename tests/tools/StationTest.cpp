// The flashing station of zeb40-flash on loopback: a simulated unit served in this process, the
// host's neighbour table and the log's file calls replaced by recording ones, so that which unit
// answers, and what reaches the disk when, is the test's to say.
#include "FlashOptions.h"
#include "FlashReport.h"
#include "FlashRun.h"
#include "SafeText.h"
#include "Scratch.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "StationLog.h"
#include "StationNeighbours.h"
#include "StationReport.h"
#include "tftp/IdTrivialFTP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

TEST(StationReport, MacTextAndTheGateOfUnitsFlashed) {
    EXPECT_EQ(MacText({0x02, 0, 0, 0, 0, 0xab}), "02:00:00:00:00:ab");
    EXPECT_EQ(MacText({0, 0, 0, 0, 0, 0}), ""); // an entry without an address
    EXPECT_EQ(MacText({1, 2, 3, 4, 5}), "");
    EXPECT_EQ(MacText({}), "");
    EXPECT_EQ(UtcTime(std::chrono::system_clock::time_point(
                  std::chrono::milliseconds(951782400007))), // the leap day of 2000
              "2000-02-29T00:00:00.007Z");

    TUnitGate gate;
    EXPECT_EQ(gate.FlashedAs(""), 0) << "the first unit is taken, MAC or not";
    gate.Sent("02:00:00:00:00:01", 1);
    gate.Sent("", 2);
    gate.Sent("02:00:00:00:00:03", 3);
    const std::pair<std::string, int> after[] = {
        {"02:00:00:00:00:01", 1}, // put back on the bench: not flashed twice
        {"02:00:00:00:00:03", 3},
        {"02:00:00:00:00:04", 0},
        {"", 3}, // not known, and the address never fell silent: the unit flashed last
    };
    for (const auto& [mac, number] : after) {
        EXPECT_EQ(gate.FlashedAs(mac), number) << mac;
    }
    gate.Silence();
    EXPECT_EQ(gate.FlashedAs(""), 0);
    EXPECT_EQ(gate.FlashedAs("02:00:00:00:00:03"), 3) << "the MAC tells, silence or not";
}

// What the station did, in order: "clear ADDRESS", "mac", "append", "sync".
struct TEvents {
    std::mutex Mutex;
    std::vector<std::string> List;
    void Add(const std::string& event) {
        const std::lock_guard<std::mutex> lock(Mutex);
        List.push_back(event);
    }
};

// The host's table as the test scripts it: the MAC each answer finds, in turn (the last one
// again when the script runs out).
class TScriptedNeighbours : public TUnitNeighbours {
public:
    TScriptedNeighbours(TEvents& events, std::vector<std::string> macs)
        : FEvents(events), FMacs(std::move(macs)) {}
    TClearResult Clear(const std::string& address) override {
        FEvents.Add("clear " + address);
        return {};
    }
    std::string HardwareAddress(const std::string&) override {
        FEvents.Add("mac");
        return FMacs[std::min(FNext++, FMacs.size() - 1)];
    }
    std::string ClearMethod() override { return "by the test"; }

private:
    TEvents& FEvents;
    std::vector<std::string> FMacs;
    size_t FNext = 0;
};

// The system's file calls, recorded; the appends from failAppend on fail as a full disk does.
class TRecordingLogCalls : public TLogFileCalls {
public:
    TRecordingLogCalls(TEvents& events, TLogFileCalls& system) : FEvents(events), FSystem(system) {}
    int FailAppend = 0; // the count of the first append that fails; 0: none
    bool FailReserve = false;
    intptr_t Open(const std::string& path, std::string& error) override {
        return FSystem.Open(path, error);
    }
    bool EndsLine(intptr_t file) override { return FSystem.EndsLine(file); }
    bool Reserve(intptr_t file, int64_t bytes, std::string& error) override {
        if (FailReserve) {
            error = "No space left on device";
            return false;
        }
        return FSystem.Reserve(file, bytes, error);
    }
    bool Append(intptr_t file, std::string_view bytes, std::string& error) override {
        FEvents.Add("append");
        if (FailAppend != 0 && ++FAppends >= FailAppend) {
            error = "No space left on device";
            return false;
        }
        return FSystem.Append(file, bytes, error);
    }
    bool Sync(intptr_t file, std::string& error) override {
        FEvents.Add("sync");
        return FSystem.Sync(file, error);
    }
    void Close(intptr_t file) override { FSystem.Close(file); }

private:
    TEvents& FEvents;
    TLogFileCalls& FSystem;
    int FAppends = 0;
};

// A simulated unit on 127.0.0.1, served on a thread of this process, and the station run against
// it with the neighbour table and log calls given.
class Station : public ::testing::Test {
protected:
    void SetUp() override {
        Image = std::string(100000, '\0');
        for (size_t i = 0; i < Image.size(); ++i) {
            Image[i] = char((i * 7919) >> 3);
        }
        WriteFileText(Work / "fw.bin", Image);
        std::filesystem::create_directory(Work / "unit");
        Sim = std::make_unique<TSimServer>(ParseSimArgs({"--port", "0", "--dir", Work / "unit"}),
                                           SimLog, SimStop);
        Sim->Open();
        const std::string listening = SimLog.str();
        Port = listening.substr(listening.rfind(':') + 1, 5);
        Port = Port.substr(0, Port.find_first_not_of("0123456789"));
        Server = std::thread([this] { Sim->Run(); });
    }
    void TearDown() override {
        SimStop = true;
        Server.join();
        Sim.reset();
    }

    int Run(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"--station"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"127.0.0.1:" + Port, Work / "fw.bin"});
        const std::atomic<bool> never{false};
        return RunFlash(ParseFlashArgs(args), Out, Err, TTerminal{}, never);
    }

    // Each request of the sim's log.
    size_t Requests() {
        std::istringstream lines(SimLog.str());
        size_t count = 0;
        for (std::string line; std::getline(lines, line);) {
            count += line.rfind("request WRQ", 0) == 0 ? 1 : 0;
        }
        return count;
    }

    TIdTrivialFTP Keeper{nullptr}; // keeps the stack that the sim's sockets use
    TScratch Work;
    std::string Image;
    std::ostringstream SimLog;
    std::atomic<bool> SimStop{false};
    std::unique_ptr<TSimServer> Sim;
    std::thread Server;
    std::string Port;
    std::ostringstream Out, Err;
    TEvents Events;
};

TEST_F(Station, EachUnitOnceEachRecordOnTheDiskBeforeTheNextUnit) {
    // Unit 1, then unit 1 still there, then units 2 and 3.
    TScriptedNeighbours neighbours(Events, {"02:00:00:00:00:01", "02:00:00:00:00:01",
                                            "02:00:00:00:00:02", "02:00:00:00:00:03"});
    const TSeamOverride<TUnitNeighbours> table(UnitNeighbours, neighbours);
    TRecordingLogCalls calls(Events, SystemLogFileCalls());
    const TSeamOverride<TLogFileCalls> files(LogFileCalls, calls);
    WriteFileText(Work / "station.log", "{\"cut short by a power cut"); // no line break

    EXPECT_EQ(Run({"--count", "3", "--log", Work / "station.log"}), ExitSent) << Err.str();

    std::vector<std::string> steps;
    for (const std::string& event : Events.List) {
        if (event.rfind("clear ", 0) == 0) {
            EXPECT_EQ(event, "clear 127.0.0.1");
            steps.emplace_back("clear");
        } else {
            steps.push_back(event);
        }
    }
    // The unit still there is refused after its answer, and asked again a second later.
    const std::vector<std::string> expected = {"clear", "mac",   "append", "sync",   "clear",
                                               "mac",   "clear", "mac",    "append", "sync",
                                               "clear", "mac",   "append", "sync"};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(Requests(), 4u);
    EXPECT_NE(SimLog.str().find("client sent error 0 \"this unit was flashed already"),
              std::string::npos)
        << SimLog.str();
    EXPECT_TRUE(ReadFileText(Work / "unit/firmware.bin") == Image);

    const std::string log = ReadFileText(Work / "station.log");
    std::istringstream lines(log);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "{\"cut short by a power cut");
    for (const char* mac : {"02:00:00:00:00:01", "02:00:00:00:00:02", "02:00:00:00:00:03"}) {
        ASSERT_TRUE(std::getline(lines, line)) << log;
        EXPECT_NE(line.find(std::string("\"mac\": \"") + mac + "\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"result\": \"sent\", \"status\": 0"), std::string::npos) << line;
        EXPECT_NE(line.find("\"bytes\": 100000"), std::string::npos) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
    EXPECT_NE(Out.str().find("unit 2  02:00:00:00:00:02  sent   100000 bytes"), std::string::npos)
        << Out.str();
    EXPECT_NE(Out.str().find("total: 3 units, 3 sent, 0 failed, 300000 bytes"), std::string::npos)
        << Out.str();
}

TEST_F(Station, ALogThatCannotBeWrittenStopsTheStation) {
    TScriptedNeighbours neighbours(Events, {"02:00:00:00:00:01", "02:00:00:00:00:02"});
    const TSeamOverride<TUnitNeighbours> table(UnitNeighbours, neighbours);
    TRecordingLogCalls calls(Events, SystemLogFileCalls());
    const TSeamOverride<TLogFileCalls> files(LogFileCalls, calls);

    // No room at the start: refused before any request.
    calls.FailReserve = true;
    EXPECT_EQ(Run({"--log", Work / "full.log"}), ExitFailed);
    // Paths as the terminal shows them (a Windows path's backslashes doubled).
    EXPECT_EQ(Err.str(), "zeb40-flash: cannot write the log " + TerminalText(Work / "full.log") +
                             ": No space left on device; no unit was flashed\n");
    EXPECT_EQ(Requests(), 0u);

    // The second record cannot be written: the station stops there, that record on standard
    // error, and takes no third unit.
    calls.FailReserve = false;
    calls.FailAppend = 2;
    Err.str("");
    EXPECT_EQ(Run({"--log", Work / "later.log"}), ExitFailed);
    EXPECT_EQ(Requests(), 2u);
    const std::string err = Err.str();
    EXPECT_NE(err.find("cannot write the log " + TerminalText(Work / "later.log") +
                       ": No space left on device; the station stops. The record that is not "
                       "stored:\n{\"time\": "),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("\"unit\": 2, "), std::string::npos) << err;
    const std::string stored = ReadFileText(Work / "later.log");
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 1) << stored;
}

} // namespace
