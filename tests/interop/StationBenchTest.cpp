// zeb40-flash --station on a bench of simulated units in network namespaces, as a technician runs
// it: unit after unit at the one factory address, swapped on a switch or at the end of a cable,
// with a log of what each got. Root only; everything stays inside the bench, and the log's file
// systems inside mount namespaces of their own.
#include "Bench.h"
#include "Peers.h"
#include "Sha256.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TWallClock = std::chrono::system_clock;

const char* const ArpClearProgram = ZEB40_ARP_CLEAR_PROGRAM;

double SecondsBetween(TWallClock::time_point from, TWallClock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The log's records once it holds count of them, waited for at most timeoutMs (fewer after).
std::vector<std::string> WaitForRecords(const std::string& log, size_t count, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto read = [&] { return FileExists(log) ? Lines(ReadFile(log)) : Lines(""); };
    std::vector<std::string> records = read();
    while (records.size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(20ms);
        records = read();
    }
    return records;
}

std::string Field(const std::string& record, const std::string& name) {
    const std::string key = "\"" + name + "\": ";
    const size_t at = record.find(key);
    if (at == std::string::npos) {
        return "<none>";
    }
    const size_t start = at + key.size();
    return record.substr(start, record.find_first_of(",}", start) - start);
}

size_t Count(TChildProcess& sim, const std::string& prefix) {
    for (std::string line; sim.ReadLine(line, 100);) {
    }
    size_t count = 0;
    for (const std::string& line : sim.Lines()) {
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

std::string Output(TChildProcess& process) {
    process.DrainOutput();
    std::string text;
    for (const std::string& line : process.Lines()) {
        text += "  " + line + "\n";
    }
    return text + process.Stderr();
}

// The units' simulators, each storing into a folder of its own under work.
std::vector<TChildProcess*> StartUnits(TBench& bench, const TScratchDir& work, int units,
                                       const std::vector<std::string>& extra = {}) {
    std::vector<TChildProcess*> sims(size_t(units) + 1, nullptr);
    for (int unit = 1; unit <= units; ++unit) {
        const std::string folder = work / ("unit" + std::to_string(unit));
        fs::create_directory(folder);
        sims[size_t(unit)] = bench.StartSim(unit, SimProgram, folder, extra);
        if (sims[size_t(unit)] == nullptr) {
            ADD_FAILURE() << "unit " << unit << "'s simulator did not start";
        }
    }
    return sims;
}

// Units 1 to units flashed by one station, each swapped for the next once its record is in the
// log. The station's run, its log's records, and for each unit after the first the seconds from
// its swap to its stored image.
struct TStationDay {
    int Status = -1;
    std::vector<std::string> Records;
    std::vector<double> SwapToStored;
    double FirstPlugToLastStored = 0;
    std::string Output;
};

TStationDay FlashUnitAfterUnit(TBench& bench, const TScratchDir& work, int units,
                               const std::string& flash, const std::string& log, const TRunAs& as,
                               int leftPluggedMs) {
    TStationDay day;
    const std::string image = work / "fw.bin";
    bench.Plug(1);
    const TWallClock::time_point plugged = TWallClock::now();
    TChildProcess& station =
        bench.StartInHost({flash, "--station", "--count", std::to_string(units), "--log", log,
                           TBench::UnitAddress, image},
                          as);
    for (int unit = 1; unit <= units; ++unit) {
        day.Records = WaitForRecords(log, size_t(unit), 30000);
        if (day.Records.size() < size_t(unit)) {
            day.Output = Output(station);
            return day;
        }
        if (unit == units) {
            break;
        }
        // The unit flashed, still plugged in and in recovery mode, answers every request.
        std::this_thread::sleep_for(std::chrono::milliseconds(leftPluggedMs));
        bench.Swap(unit, unit + 1);
        const TWallClock::time_point swapped = TWallClock::now();
        day.Records = WaitForRecords(log, size_t(unit) + 1, 30000);
        const std::string stored = work / ("unit" + std::to_string(unit + 1)) + "/firmware.bin";
        day.SwapToStored.push_back(SecondsBetween(swapped, WrittenAt(stored)));
        if (day.Records.size() < size_t(unit) + 1) {
            day.Output = Output(station);
            return day;
        }
    }
    day.FirstPlugToLastStored = SecondsBetween(
        plugged, WrittenAt(work / ("unit" + std::to_string(units)) + "/firmware.bin"));
    day.Status = station.Wait(10000);
    day.Output = Output(station);
    return day;
}

void ExpectEachUnitItsImage(const TStationDay& day, const TScratchDir& work, int units,
                            const std::string& bytes) {
    ASSERT_EQ(day.Records.size(), size_t(units)) << day.Output;
    EXPECT_EQ(day.Status, 0) << day.Output;
    for (int unit = 1; unit <= units; ++unit) {
        const std::string& record = day.Records[size_t(unit) - 1];
        EXPECT_EQ(Field(record, "unit"), std::to_string(unit)) << record;
        EXPECT_EQ(Field(record, "mac"), "\"" + TBench::UnitMac(unit) + "\"") << record;
        EXPECT_EQ(Field(record, "result"), "\"sent\"") << record;
        EXPECT_EQ(Field(record, "sha256"), "\"" + TSha256::HexDigest(bytes) + "\"") << record;
        EXPECT_TRUE(ReadFile(work / ("unit" + std::to_string(unit)) + "/firmware.bin") == bytes)
            << "unit " << unit << " does not hold the image";
    }
}

// Three units swapped in turn on a switch, by a user without privileges: a copy of zeb40-flash
// beside a copy of zeb40-arp-clear with the capability to change the neighbour table, as an
// install has them. Unit 1 stays plugged in for 3 s after its upload, answering every request.
TEST(StationBench, ThreeUnitsSwappedInTurnEachFlashedOnce) {
    SKIP_WITHOUT_BENCH();
    TBench bench(TBenchLink::Switch, 3);
    TScratchDir work;
    fs::permissions(work.Path(), fs::perms::owner_all | fs::perms::others_exec);
    const std::string bytes = TestBytes(400001, 51);
    WriteFile(work / "fw.bin", bytes);
    fs::permissions(work / "fw.bin", fs::perms::owner_all | fs::perms::others_read);
    const std::string programs = work / "programs";
    fs::create_directory(programs);
    fs::permissions(programs,
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::copy_file(FlashProgram, programs + "/zeb40-flash");
    fs::copy_file(ArpClearProgram, programs + "/zeb40-arp-clear");
    const TRunResult granted =
        RunProgram("/usr/sbin/setcap", {"cap_net_admin+ep", programs + "/zeb40-arp-clear"}, 5000);
    ASSERT_EQ(granted.Status, 0) << "setcap: " << granted.Err;
    const std::string logs = work / "logs";
    fs::create_directory(logs);
    ASSERT_EQ(RunProgram("/bin/chown", {"nobody:", logs}, 5000).Status, 0);
    std::vector<TChildProcess*> sims = StartUnits(bench, work, 3);
    ASSERT_FALSE(HasFailure());

    const TStationDay day =
        FlashUnitAfterUnit(bench, work, 3, programs + "/zeb40-flash", logs + "/station.log",
                           TRunAs{"nobody", {}, logs}, 3000);
    ExpectEachUnitItsImage(day, work, 3, bytes);
    EXPECT_EQ(Count(*sims[1], "received "), 1u) << "unit 1 was flashed more than once";
    EXPECT_GE(Count(*sims[1], "abandoned firmware.bin: client sent error 0"), 1u)
        << "unit 1, left plugged in, was not told it is flashed already";
    EXPECT_LE(Count(*sims[1], "request WRQ"), 1u + 3u + 1u)
        << "unit 1 got more than a request a second while it was left plugged in";
    EXPECT_EQ(day.Output.find("is not cleared"), std::string::npos) << day.Output;
    for (size_t i = 0; i < day.SwapToStored.size(); ++i) {
        std::cout << "bench: unit " << i + 2 << " stored the image " << day.SwapToStored[i]
                  << " s after the swap\n";
    }
}

// A cable straight to each unit: the host's link goes down and up between units, as root (the
// entry cleared over rtnetlink by zeb40-flash itself).
TEST(StationBench, UnitAfterUnitOnADirectCable) {
    SKIP_WITHOUT_BENCH();
    TBench bench(TBenchLink::Cable, 2);
    TScratchDir work;
    const std::string bytes = TestBytes(300007, 52);
    WriteFile(work / "fw.bin", bytes);
    StartUnits(bench, work, 2);
    ASSERT_FALSE(HasFailure());
    const TStationDay day =
        FlashUnitAfterUnit(bench, work, 2, FlashProgram, work / "station.log", {}, 500);
    ExpectEachUnitItsImage(day, work, 2, bytes);
}

// The figures of a day at the bench: ten units of 1 MiB, each simulator writing every block to
// its flash for 2 ms (--delay 2), each unit swapped for the next as soon as its record is in the
// log. Printed and kept as the test's properties, never asserted.
TEST(StationBench, TenUnitsFigures) {
    SKIP_WITHOUT_BENCH();
    constexpr int units = 10;
    TBench bench(TBenchLink::Switch, units);
    TScratchDir work;
    const std::string bytes = TestBytes(1 << 20, 53);
    WriteFile(work / "fw.bin", bytes);
    StartUnits(bench, work, units, {"--delay", "2"});
    ASSERT_FALSE(HasFailure());
    const TStationDay day =
        FlashUnitAfterUnit(bench, work, units, FlashProgram, work / "station.log", {}, 0);
    ExpectEachUnitItsImage(day, work, units, bytes);
    std::vector<double> swaps = day.SwapToStored;
    std::sort(swaps.begin(), swaps.end());
    ASSERT_FALSE(swaps.empty());
    const double median = swaps[swaps.size() / 2];
    const double perMinute = units * 60 / day.FirstPlugToLastStored;
    char figures[256];
    std::snprintf(figures, sizeof figures,
                  "bench: %d units of 1 MiB (--delay 2) in %.1f s: %.1f units/min; swap to "
                  "stored image %.2f s median, %.2f s min, %.2f s max",
                  units, day.FirstPlugToLastStored, perMinute, median, swaps.front(), swaps.back());
    std::cout << figures << "\n" << day.Output;
    ::testing::Test::RecordProperty("units_per_minute", std::to_string(perMinute));
    ::testing::Test::RecordProperty("swap_to_stored_median_s", std::to_string(median));
}

// A log on a file system that takes no records: read-only, or full (where the file opens and the
// first write would fail). Either is refused before any request, in a mount namespace of its own
// against a simulator on loopback.
TEST(StationLog, ReadOnlyOrFullFileSystemRefusedBeforeAnyUpload) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a file system for the log needs root";
    }
    if (::access("/usr/bin/unshare", X_OK) != 0) {
        GTEST_SKIP() << "util-linux's unshare is missing";
    }
    TSimPeer sim({});
    ASSERT_TRUE(sim.Started());
    TScratchDir work;
    WriteFile(work / "fw.bin", TestBytes(5000, 54));
    fs::create_directory(work / "mnt");
    const std::pair<std::string, std::string> cases[] = {
        {"mount -t tmpfs -o ro,size=1m none \"$1\"", "Read-only file system"},
        {"mount -t tmpfs -o size=256k none \"$1\" && { cat /dev/zero >\"$1/fill\" 2>/dev/null; "
         "true; }",
         "No space left on device"},
    };
    for (const auto& [mount, reason] : cases) {
        const TRunResult run =
            RunProgram("/usr/bin/unshare",
                       {"--mount", "--propagation", "private", "/bin/sh", "-c",
                        mount + " && exec \"$2\" --station --log \"$1/station.log\" \"$3\" \"$4\"",
                        "sh", work / "mnt", FlashProgram, "127.0.0.1:" + std::to_string(sim.Port()),
                        work / "fw.bin"},
                       10000);
        EXPECT_EQ(run.Status, 2) << run.Err;
        EXPECT_EQ(run.Err, "zeb40-flash: cannot write the log " + work / "mnt/station.log" + ": " +
                               reason + "; no unit was flashed\n");
    }
    for (const std::string& line : sim.Log()) {
        EXPECT_NE(line.rfind("request", 0), 0u) << line;
    }
}

} // namespace
