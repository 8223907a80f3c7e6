// A technician's bench built of network namespaces: the host, the computer the tool runs on, at
// 10.77.0.1/24, and units in recovery mode, each at the factory address 10.77.0.2/24 with a MAC of
// its own (02:00:00:00:00:0N for unit N), put on the bench and taken off it one at a time.
//
// The host's cable and every unit's are veth pairs whose far ends sit in a bridge, in a namespace
// of its own. On a switch the host's link stays up whatever the units do, as a switch keeps a
// laptop's link up; on a direct cable a swap takes the host's link down and up again, as unplugging
// the cable does, and the host's address goes with the link, as a desktop's network manager
// withdraws it while the cable has no carrier (so that a program sees an unreachable network, not a
// silent one).
//
// Linux only, as root: the namespaces are iproute2's named ones (ip netns), named after the test
// process and a counter, so that tests side by side never meet. The destructor kills every
// process inside them and deletes them, whatever the test did. The processes the bench starts die
// with the test process even when it is killed (setpriv --pdeathsig); the namespaces that such a
// process leaves behind are removed by the next bench.
#pragma once

#include "ChildProcess.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

enum class TBenchLink { Switch, Cable };

// Skips the test, with the reason, where no bench can be built.
#define SKIP_WITHOUT_BENCH()                                                                       \
    if (const std::string why = TBench::Unavailable(); !why.empty()) {                             \
        GTEST_SKIP() << why;                                                                       \
    }

// When a file was last written (a unit writes its image, then renames it into place), on the wall
// clock; the epoch when there is no such file.
std::chrono::system_clock::time_point WrittenAt(const std::string& path);

// One line of the host's neighbour table.
struct TNeighbour {
    std::string Address;
    std::string Mac; // empty while unresolved (INCOMPLETE, FAILED)
    std::string State;
    std::string Text; // the line as ip prints it
};

// Who runs a command in the host's namespace, and where: root, with the test's environment and
// the names given here added to it; or another user, through setpriv, with only the names given
// here.
struct TRunAs {
    std::string User;                     // empty: root
    std::vector<std::string> Environment; // NAME=VALUE
    std::string Folder;                   // the current directory; empty: the test's
};

class TBench {
public:
    static constexpr const char* HostAddress = "10.77.0.1";
    static constexpr const char* UnitAddress = "10.77.0.2";

    // Why no bench can be built here (not root, no network namespaces or veth pairs); empty when
    // one can. For GTEST_SKIP.
    static std::string Unavailable();

    // The host, its link up, and units 1 to units, all off the bench. Throws std::runtime_error
    // with the failing command when the bench cannot be built (having removed what it made).
    TBench(TBenchLink link, int units);
    ~TBench();
    TBench(const TBench&) = delete;
    TBench& operator=(const TBench&) = delete;

    static std::string UnitMac(int unit);

    // Every operation throws std::runtime_error with the failing command and its message.
    void Plug(int unit);   // the unit's cable into the bridge, its link up
    void Unplug(int unit); // the unit's cable out: its link down, off the bridge
    // Takes one unit off the bench and puts another on it; on a cable, with the host's link down
    // in between.
    void Swap(int off, int on);
    // The host's link without carrier, and its address withdrawn; then both back. Meant for a
    // cable: on a switch the host's link is what the switch keeps up.
    void HostLinkDown();
    void HostLinkUp();

    // A program started in the host's namespace, owned by the bench (killed with it at the latest).
    TChildProcess& StartInHost(const std::vector<std::string>& command, const TRunAs& as = {});
    // A command run there to its end, at most timeoutMs.
    TRunResult RunInHost(const std::vector<std::string>& command, int timeoutMs,
                         const TRunAs& as = {});
    // A program started in a unit's namespace, owned by the bench.
    TChildProcess& StartInUnit(int unit, const std::vector<std::string>& command);
    // The simulator playing the unit: program (zeb40-sim) on the factory address, port 69,
    // storing into folder; nullptr when it has not said it listens within a few seconds.
    TChildProcess* StartSim(int unit, const std::string& program, const std::string& folder,
                            const std::vector<std::string>& extraArgs = {});

    // Waits until no process runs in the host's namespace (one that a program started detached
    // has ended too); false when one still does after timeoutMs.
    bool WaitHostIdle(int timeoutMs);

    std::vector<TNeighbour> HostNeighbours();
    // The host's neighbour table as ip prints it, for a failure's message.
    std::string HostNeighbourText();

    const std::string& HostNamespace() const { return FHost; }
    std::string UnitNamespace(int unit) const;

private:
    void Ip(const std::vector<std::string>& args);
    std::vector<std::string> HostCommand(const std::vector<std::string>& command,
                                         const TRunAs& as) const;
    void CheckUnit(int unit) const;
    void TearDown();

    TBenchLink FLink;
    int FUnits = 0;
    std::string FPrefix;
    std::string FHost;
    std::string FSwitch;
    std::vector<std::string> FMade; // namespaces made, in order
    std::vector<std::unique_ptr<TChildProcess>> FProcesses;
};
