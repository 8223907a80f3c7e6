// The tools and the window on a bench of simulated units in network namespaces, as a technician
// uses them: unit after unit at the one factory address, each unit with a MAC of its own, on a
// switch or on a cable straight to the unit. Root only; everything stays inside the bench.
#include "Bench.h"
#include "Peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TWallClock = std::chrono::system_clock;

// The Qt window of this build ("" when it is built without Qt), and zeb40-arp-clear, built beside
// it (the window finds it there).
const char* const UpgradeProgram = ZEB40_UPGRADE_PROGRAM;
const char* const ArpClearProgram = ZEB40_ARP_CLEAR_PROGRAM;
constexpr const char* WindowTitle = "Corvane ZEB40 Upgrade Tools";
constexpr const char* BoxCaption = "zeb40-upgrade"; // the application's title

long long Milliseconds(TWallClock::duration span) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(span).count();
}

std::string LogOf(TChildProcess& process) {
    std::string text;
    for (std::string line; process.ReadLine(line, 100);) {
    }
    for (const std::string& line : process.Lines()) {
        text += "  " + line + "\n";
    }
    return text;
}

// A display of its own for the window: Xvfb, which picks a free number itself. It and the
// xdotool runs die with the test process, even one killed at a time-out.
class TVirtualDisplay {
public:
    TVirtualDisplay()
        : FServer("/usr/bin/setpriv", {"--pdeathsig", "TERM", "/usr/bin/Xvfb", "-displayfd", "1",
                                       "-screen", "0", "640x480x24", "-nolisten", "tcp"}) {
        std::string number;
        if (FServer.ReadLine(number, 10000) && !number.empty()) {
            FName = ":" + number;
        }
    }
    ~TVirtualDisplay() {
        // Asked first, so that it removes its socket and lock file.
        FServer.Signal(SIGTERM);
        FServer.Wait(3000);
    }
    const std::string& Name() const { return FName; }
    TRunResult Xdotool(const std::vector<std::string>& args, int timeoutMs) {
        std::vector<std::string> command = {"--pdeathsig", "KILL", "/usr/bin/env",
                                            "DISPLAY=" + FName, "/usr/bin/xdotool"};
        command.insert(command.end(), args.begin(), args.end());
        return RunProgram("/usr/bin/setpriv", command, timeoutMs);
    }
    // The first window whose name is exactly name, waited for at most timeoutMs; "" when none.
    std::string FindWindow(const std::string& name, int timeoutMs) {
        const TRunResult found =
            Xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + name + "$"}, timeoutMs);
        return found.Out.substr(0, found.Out.find('\n'));
    }

private:
    TChildProcess FServer;
    std::string FName;
};

// One run of the window as a technician makes it: started in its folder, Upgrade pressed, the
// message that follows confirmed, the window closed. Each step has a generous bound, and the
// window is killed when one is passed. The failure, or "" when the window closed by itself
// after its message, as it does after "Upgrade Finish." (a failed upload leaves it open).
std::string FlashWithWindow(TBench& bench, TVirtualDisplay& display, const std::string& program,
                            const TRunAs& as, TWallClock::time_point& pressed) {
    TChildProcess& window = bench.StartInHost({program}, as);
    const std::string id = display.FindWindow(WindowTitle, 20000);
    if (id.empty()) {
        window.Signal(SIGKILL);
        return "the window did not appear: " + window.Stderr();
    }
    // The Upgrade button's middle, at 101,84 of the client area (176 x 148), which is the X
    // window; a moment first for the window to take input once it is shown.
    std::this_thread::sleep_for(300ms);
    const TRunResult geometry = display.Xdotool({"getwindowgeometry", "--shell", id}, 5000);
    int width = 0, height = 0;
    std::istringstream lines(geometry.Out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("WIDTH=", 0) == 0) {
            width = std::stoi(line.substr(6));
        } else if (line.rfind("HEIGHT=", 0) == 0) {
            height = std::stoi(line.substr(7));
        }
    }
    const int border = (width - 176) / 2;
    pressed = TWallClock::now();
    display.Xdotool({"mousemove", "--window", id, std::to_string(border + 101),
                     std::to_string(height - 148 - border + 84), "click", "1"},
                    5000);
    // The end of the upload: "Upgrade Finish.", or the failure ("Timeout" after the window's
    // wait, or the device's error). The same caption either way.
    const std::string box = display.FindWindow(BoxCaption, 30000);
    if (box.empty()) {
        window.Signal(SIGKILL);
        return "no message within 30 s of pressing Upgrade";
    }
    display.Xdotool({"windowfocus", "--sync", box, "key", "Return"}, 5000);
    const int status = window.Wait(5000);
    if (status < 0) {
        window.Signal(SIGKILL);
        return "the window stayed open after its message: the upload failed (\"Timeout\", or an "
               "error of the device)";
    }
    if (status != 0) {
        return "the window ended with status " + std::to_string(status) + ": " + window.Stderr();
    }
    return "";
}

// A user of the desktop: a home, a runtime folder and a station folder of its own, which the
// window is started in; no other environment than a session gives.
struct TDesktopUser {
    std::string Name; // empty: root
    std::string Home, Runtime, Station;
};

// The user's folders under folder, the station's settings naming the factory address and the
// image, all handed to the user.
TDesktopUser MakeDesktopUser(const std::string& folder, const std::string& name,
                             const std::string& image) {
    TDesktopUser user{name, folder + "/home", folder + "/runtime", folder + "/station"};
    for (const std::string& made : {folder, user.Home, user.Runtime, user.Station}) {
        fs::create_directory(made);
        fs::permissions(made, fs::perms::owner_all);
    }
    WriteFile(user.Station + "/DORVEX.ini",
              std::string("[Data]\nIP=") + TBench::UnitAddress + "\nPath=" + image + "\n");
    if (!name.empty()) {
        const TRunResult owned = RunProgram("/bin/chown", {"-R", name + ":", folder}, 5000);
        if (owned.Status != 0) {
            throw std::runtime_error("chown " + name + ": " + owned.Err);
        }
    }
    return user;
}

TRunAs SessionOf(const TDesktopUser& user, const std::string& display) {
    return TRunAs{user.Name,
                  {"HOME=" + user.Home, "XDG_RUNTIME_DIR=" + user.Runtime, "DISPLAY=" + display,
                   "QT_QPA_PLATFORM=xcb", "PATH=/usr/local/bin:/usr/bin:/bin"},
                  user.Station};
}

// Unit 1 flashed with the window, then swapped for unit 2 on a switch (the host's link stays
// up, so the host still holds unit 1's MAC for the factory address), and unit 2 flashed with the
// window started again. Prints the time from the swap to unit 2's stored image.
void FlashUnitAfterUnit(TBench& bench, const std::string& window, const TDesktopUser& user,
                        const std::string& bytes, const std::string& units) {
    TVirtualDisplay display;
    ASSERT_NE(display.Name(), "") << "Xvfb did not start";
    const std::string unitFolder[] = {"", units + "/unit1", units + "/unit2"};
    TChildProcess* sim[3] = {};
    for (int unit = 1; unit <= 2; ++unit) {
        fs::create_directory(unitFolder[unit]);
        sim[unit] = bench.StartSim(unit, SimProgram, unitFolder[unit]);
        ASSERT_NE(sim[unit], nullptr) << "unit " << unit << "'s simulator did not start";
    }
    const TRunAs as = SessionOf(user, display.Name());

    bench.Plug(1);
    TWallClock::time_point pressed;
    ASSERT_EQ(FlashWithWindow(bench, display, window, as, pressed), "")
        << "unit 1, the first on the bench; unit 1's log:\n"
        << LogOf(*sim[1]);
    const std::string stored1 = unitFolder[1] + "/firmware.bin";
    ASSERT_TRUE(ReadFile(stored1) == bytes) << "unit 1 does not hold the image";
    std::cout << "bench: unit 1 stored the image " << Milliseconds(WrittenAt(stored1) - pressed)
              << " ms after Upgrade was pressed\n";

    // What makes unit after unit hard: after unit 1's upload the host holds unit 1's MAC for the
    // factory address. A small image on a fast link can be stored before the window's ARP step,
    // started alongside the upload, has run and taken the entry the upload made; so once that
    // step has ended, a datagram to unit 1 makes sure the host holds the MAC, as after any
    // upload that outlasts the step.
    ASSERT_TRUE(bench.WaitHostIdle(5000)) << "the window's ARP step did not end";
    const auto holdsUnit1 = [&bench] {
        for (const TNeighbour& entry : bench.HostNeighbours()) {
            if (entry.Address == TBench::UnitAddress && entry.Mac == TBench::UnitMac(1)) {
                return true;
            }
        }
        return false;
    };
    bench.RunInHost({"/bin/bash", "-c", "echo >/dev/udp/$0/9", TBench::UnitAddress}, 5000);
    for (int tries = 0; tries < 100 && !holdsUnit1(); ++tries) {
        std::this_thread::sleep_for(20ms);
    }
    bench.Swap(1, 2);
    const TWallClock::time_point swapped = TWallClock::now();
    ASSERT_TRUE(holdsUnit1()) << "the host's neighbour table:\n" << bench.HostNeighbourText();

    const std::string failure = FlashWithWindow(bench, display, window, as, pressed);
    const std::string stored2 = unitFolder[2] + "/firmware.bin";
    EXPECT_EQ(failure, "") << "unit 2, after unit 1 at the same address; the host's neighbour "
                              "table:\n"
                           << bench.HostNeighbourText() << "unit 2's log:\n"
                           << LogOf(*sim[2]);
    ASSERT_TRUE(ReadFile(stored2) == bytes) << "unit 2 does not hold the image";
    const long long fromSwap = Milliseconds(WrittenAt(stored2) - swapped);
    const long long fromPress = Milliseconds(WrittenAt(stored2) - pressed);
    ::testing::Test::RecordProperty("swap_to_stored_ms", std::to_string(fromSwap));
    ::testing::Test::RecordProperty("press_to_stored_ms", std::to_string(fromPress));
    std::cout << "bench: unit 2 stored the image " << fromSwap << " ms after the swap, "
              << fromPress << " ms after Upgrade was pressed\n";
}

std::string WindowUnavailable() {
    if (std::string(UpgradeProgram).empty()) {
        return "this build has no Qt window";
    }
    for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/xdotool"}) {
        if (::access(program, X_OK) != 0) {
            return std::string(program) + " is missing (scripts/setup-deps.sh installs it)";
        }
    }
    return "";
}

// A technician who starts zeb40-flash and then powers the unit at the end of a cable straight to
// it: the host's link is down (and, with it, the host's address) when the tool starts.
TEST(Bench, FlashWaitsForTheCableToComeUp) {
    SKIP_WITHOUT_BENCH();
    TBench bench(TBenchLink::Cable, 1);
    TScratchDir work;
    const std::string bytes = TestBytes(300001, 41);
    WriteFile(work / "fw.bin", bytes);
    fs::create_directory(work / "unit1");
    ASSERT_NE(bench.StartSim(1, SimProgram, work / "unit1"), nullptr);
    bench.Plug(1);
    bench.HostLinkDown();

    TChildProcess& flash =
        bench.StartInHost({FlashProgram, "--wait", "20", TBench::UnitAddress, work / "fw.bin"});
    std::this_thread::sleep_for(3s);
    ASSERT_EQ(flash.Wait(0), -1) << "zeb40-flash gave up while the link was down:\n"
                                 << LogOf(flash) << flash.Stderr();
    bench.HostLinkUp();
    const TWallClock::time_point up = TWallClock::now();
    EXPECT_EQ(flash.Wait(25000), 0) << LogOf(flash) << flash.Stderr();
    ASSERT_TRUE(ReadFile(work / "unit1/firmware.bin") == bytes)
        << "the unit does not hold the image";
    std::cout << "bench: the unit stored the image "
              << Milliseconds(WrittenAt(work / "unit1/firmware.bin") - up)
              << " ms after the link came up\n";
}

// The window run as root, zeb40-arp-clear beside it (where the build puts both).
TEST(Bench, WindowFlashesUnitAfterUnitAsRoot) {
    SKIP_WITHOUT_BENCH();
    if (const std::string why = WindowUnavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    TBench bench(TBenchLink::Switch, 2);
    TScratchDir work;
    const std::string bytes = TestBytes(524289, 42);
    WriteFile(work / "fw.bin", bytes);
    FlashUnitAfterUnit(bench, UpgradeProgram, MakeDesktopUser(work / "root", "", work / "fw.bin"),
                       bytes, work.Path());
}

// The window run by a user without privileges, as from the desktop's menu: a copy of it and a
// copy of zeb40-arp-clear with the capability to change the neighbour table, side by side in a
// folder of root's (as an install has them), and a home and station folder of the user's own.
TEST(Bench, WindowFlashesUnitAfterUnitAsNormalUser) {
    SKIP_WITHOUT_BENCH();
    if (const std::string why = WindowUnavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    TBench bench(TBenchLink::Switch, 2);
    TScratchDir work;
    // Everybody may pass through the scratch folder and read the image; only root may change
    // the programs' folder.
    fs::permissions(work.Path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const std::string bytes = TestBytes(524289, 43);
    WriteFile(work / "fw.bin", bytes);
    fs::permissions(work / "fw.bin", fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read | fs::perms::others_read);
    const std::string programs = work / "programs";
    fs::create_directory(programs);
    fs::permissions(programs, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    fs::copy_file(UpgradeProgram, programs + "/zeb40-upgrade");
    fs::copy_file(ArpClearProgram, programs + "/zeb40-arp-clear");
    const TRunResult granted =
        RunProgram("/usr/sbin/setcap", {"cap_net_admin+ep", programs + "/zeb40-arp-clear"}, 5000);
    ASSERT_EQ(granted.Status, 0) << "setcap: " << granted.Err;
    FlashUnitAfterUnit(bench, programs + "/zeb40-upgrade",
                       MakeDesktopUser(work / "user", "nobody", work / "fw.bin"), bytes,
                       work.Path());
}

} // namespace
