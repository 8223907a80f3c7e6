#include "Bench.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* NamePrefix = "zeb40-bench-";
constexpr int IpTimeoutMs = 10000;
constexpr const char* SetprivProgram = "/usr/bin/setpriv";
constexpr const char* EnvProgram = "/usr/bin/env";

// iproute2's ip, wherever this system keeps it; "" when it has none.
const std::string& IpProgram() {
    static const std::string program = [] {
        for (const char* candidate : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
            if (::access(candidate, X_OK) == 0) {
                return std::string(candidate);
            }
        }
        return std::string();
    }();
    return program;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

TRunResult RunIp(const std::vector<std::string>& args) {
    return RunProgram(IpProgram(), args, IpTimeoutMs);
}

// Kills whatever still runs in the namespace (a program the tested one left detached, say) and
// deletes it; its veth ends go with it.
void RemoveNamespace(const std::string& name) {
    const TRunResult pids = RunIp({"netns", "pids", name});
    std::istringstream lines(pids.Out);
    for (pid_t pid; lines >> pid;) {
        if (pid > 1 && pid != ::getpid()) {
            ::kill(pid, SIGKILL);
        }
    }
    RunIp({"netns", "delete", name});
}

// Benches whose test process no longer runs (killed at a time-out, so its destructor never ran).
void SweepAbandoned() {
    std::vector<std::string> abandoned;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(NamePrefix, 0) != 0) {
            continue;
        }
        const pid_t owner =
            pid_t(std::atol(name.c_str() + std::char_traits<char>::length(NamePrefix)));
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
            abandoned.push_back(name);
        }
    }
    for (const std::string& name : abandoned) {
        RemoveNamespace(name);
    }
}

} // namespace

std::string TBench::Unavailable() {
    static const std::string reason = []() -> std::string {
        if (::geteuid() != 0) {
            return "the bench needs root (it makes network namespaces)";
        }
        if (IpProgram().empty() || ::access(SetprivProgram, X_OK) != 0) {
            return "the bench needs iproute2's ip and util-linux's setpriv";
        }
        const std::string probe = NamePrefix + std::to_string(::getpid()) + "-probe";
        std::string failure;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"netns", "add", probe},
              {"-n", probe, "link", "add", "probe0", "type", "veth", "peer", "name", "probe1"},
              {"-n", probe, "link", "add", "br0", "type", "bridge"}}) {
            const TRunResult run = RunIp(args);
            if (run.Status != 0) {
                failure = "cannot make network namespaces, veth pairs and bridges here (ip " +
                          Joined(args) + ": " + run.Err + ")";
                break;
            }
        }
        RunIp({"netns", "delete", probe});
        return failure;
    }();
    return reason;
}

TBench::TBench(TBenchLink link, int units) : FLink(link), FUnits(units) {
    static std::atomic<int> made{0};
    SweepAbandoned();
    FPrefix = NamePrefix + std::to_string(::getpid()) + "-" + std::to_string(made++);
    FHost = FPrefix + "-host";
    FSwitch = FPrefix + "-switch";
    try {
        // Every interface is made inside its namespace, under a name of that namespace alone:
        // nothing of the bench ever appears in the system's own.
        for (const std::string& name : {FHost, FSwitch}) {
            Ip({"netns", "add", name});
            FMade.push_back(name);
        }
        Ip({"-n", FSwitch, "link", "add", "br0", "type", "bridge", "forward_delay", "0"});
        Ip({"-n", FSwitch, "link", "set", "br0", "up"});
        Ip({"-n", FSwitch, "link", "add", "host", "type", "veth", "peer", "name", "eth0", "netns",
            FHost});
        Ip({"-n", FSwitch, "link", "set", "host", "master", "br0", "up"});
        Ip({"-n", FHost, "link", "set", "lo", "up"});
        Ip({"-n", FHost, "addr", "add", std::string(HostAddress) + "/24", "dev", "eth0"});
        Ip({"-n", FHost, "link", "set", "eth0", "up"});
        for (int unit = 1; unit <= units; ++unit) {
            const std::string name = UnitNamespace(unit);
            const std::string port = "unit" + std::to_string(unit);
            Ip({"netns", "add", name});
            FMade.push_back(name);
            Ip({"-n", FSwitch, "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns",
                name});
            Ip({"-n", name, "link", "set", "eth0", "address", UnitMac(unit)});
            Ip({"-n", name, "addr", "add", std::string(UnitAddress) + "/24", "dev", "eth0"});
            Ip({"-n", name, "link", "set", "lo", "up"});
            Ip({"-n", name, "link", "set", "eth0", "up"});
        }
    } catch (...) {
        TearDown();
        throw;
    }
}

TBench::~TBench() {
    TearDown();
}

void TBench::TearDown() {
    FProcesses.clear(); // each killed and reaped
    for (auto name = FMade.rbegin(); name != FMade.rend(); ++name) {
        RemoveNamespace(*name);
    }
    FMade.clear();
}

std::string TBench::UnitMac(int unit) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "02:00:00:00:00:%02x", unit & 0xFF);
    return mac;
}

std::string TBench::UnitNamespace(int unit) const {
    return FPrefix + "-unit" + std::to_string(unit);
}

void TBench::Ip(const std::vector<std::string>& args) {
    const TRunResult run = RunIp(args);
    if (run.Status != 0) {
        throw std::runtime_error("bench: ip " + Joined(args) + " failed (" +
                                 std::to_string(run.Status) + "): " + run.Err);
    }
}

void TBench::CheckUnit(int unit) const {
    if (unit < 1 || unit > FUnits) {
        throw std::runtime_error("bench: no unit " + std::to_string(unit));
    }
}

void TBench::Plug(int unit) {
    CheckUnit(unit);
    const std::string port = "unit" + std::to_string(unit);
    Ip({"-n", FSwitch, "link", "set", port, "master", "br0"});
    Ip({"-n", FSwitch, "link", "set", port, "up"});
}

void TBench::Unplug(int unit) {
    CheckUnit(unit);
    const std::string port = "unit" + std::to_string(unit);
    Ip({"-n", FSwitch, "link", "set", port, "down"});
    Ip({"-n", FSwitch, "link", "set", port, "nomaster"});
}

void TBench::Swap(int off, int on) {
    if (FLink == TBenchLink::Cable) {
        HostLinkDown();
    }
    Unplug(off);
    Plug(on);
    if (FLink == TBenchLink::Cable) {
        HostLinkUp();
    }
}

void TBench::HostLinkDown() {
    // The far end down takes the carrier from the host's end; the kernel then forgets the
    // neighbours learnt on it (arp_evict_nocarrier), as on a real cable.
    Ip({"-n", FSwitch, "link", "set", "host", "down"});
    Ip({"-n", FHost, "addr", "del", std::string(HostAddress) + "/24", "dev", "eth0"});
}

void TBench::HostLinkUp() {
    Ip({"-n", FSwitch, "link", "set", "host", "up"});
    Ip({"-n", FHost, "addr", "add", std::string(HostAddress) + "/24", "dev", "eth0"});
}

std::vector<std::string> TBench::HostCommand(const std::vector<std::string>& command,
                                             const TRunAs& as) const {
    // Every process of the bench dies with the test process, even one killed at a time-out.
    std::vector<std::string> args = {"netns", "exec", FHost, SetprivProgram, "--pdeathsig", "KILL"};
    if (!as.User.empty()) {
        const passwd* user = ::getpwnam(as.User.c_str());
        if (user == nullptr) {
            throw std::runtime_error("bench: no user " + as.User);
        }
        args.insert(args.end(),
                    {"--reuid=" + std::to_string(user->pw_uid),
                     "--regid=" + std::to_string(user->pw_gid), "--init-groups", EnvProgram, "-i"});
    } else {
        args.push_back(EnvProgram);
    }
    if (!as.Folder.empty()) {
        args.insert(args.end(), {"--chdir", as.Folder});
    }
    args.insert(args.end(), as.Environment.begin(), as.Environment.end());
    args.insert(args.end(), command.begin(), command.end());
    return args;
}

TChildProcess& TBench::StartInHost(const std::vector<std::string>& command, const TRunAs& as) {
    return *FProcesses.emplace_back(
        std::make_unique<TChildProcess>(IpProgram(), HostCommand(command, as)));
}

TRunResult TBench::RunInHost(const std::vector<std::string>& command, int timeoutMs,
                             const TRunAs& as) {
    return RunProgram(IpProgram(), HostCommand(command, as), timeoutMs);
}

TChildProcess& TBench::StartInUnit(int unit, const std::vector<std::string>& command) {
    CheckUnit(unit);
    std::vector<std::string> args = {"netns",        "exec",        UnitNamespace(unit),
                                     SetprivProgram, "--pdeathsig", "KILL"};
    args.insert(args.end(), command.begin(), command.end());
    return *FProcesses.emplace_back(std::make_unique<TChildProcess>(IpProgram(), args));
}

TChildProcess* TBench::StartSim(int unit, const std::string& program, const std::string& folder,
                                const std::vector<std::string>& extraArgs) {
    std::vector<std::string> command = {program,  "--bind", UnitAddress, "--any-address",
                                        "--port", "69",     "--dir",     folder};
    command.insert(command.end(), extraArgs.begin(), extraArgs.end());
    TChildProcess& sim = StartInUnit(unit, command);
    return sim.WaitForLine("listening ", 5000).empty() ? nullptr : &sim;
}

bool TBench::WaitHostIdle(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const TRunResult pids = RunIp({"netns", "pids", FHost});
        if (pids.Status == 0 && pids.Out.find_first_not_of(" \n") == std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string TBench::HostNeighbourText() {
    return RunIp({"-n", FHost, "neigh", "show", "dev", "eth0"}).Out;
}

std::vector<TNeighbour> TBench::HostNeighbours() {
    // "10.77.0.2 lladdr 02:00:00:00:00:01 REACHABLE", or "10.77.0.2 INCOMPLETE".
    std::vector<TNeighbour> entries;
    std::istringstream lines(HostNeighbourText());
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        TNeighbour entry;
        entry.Text = line;
        words >> entry.Address;
        for (std::string word; words >> word;) {
            if (word == "lladdr") {
                words >> entry.Mac;
            } else {
                entry.State = word;
            }
        }
        if (!entry.Address.empty()) {
            entries.push_back(entry);
        }
    }
    return entries;
}

std::chrono::system_clock::time_point WrittenAt(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    using TWall = std::chrono::system_clock;
    return TWall::time_point(std::chrono::duration_cast<TWall::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}
