// The neighbour table on Linux: rtnetlink for reading it, and for clearing the entry when this
// process holds CAP_NET_ADMIN (root, say); zeb40-arp-clear otherwise.
#include "StationNeighbours.h"

#include "ArpClearRules.h"
#include "Neighbours.h"
#include "StationReport.h"
#include "run/RunSeams.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <memory>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// A helper that has not ended by then is stuck: it is killed, and the clearing counts as failed.
constexpr int HelperTimeoutMs = 3000;

bool HoldsNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, sets) != 0) {
        return false;
    }
    return (sets[CAP_TO_INDEX(CAP_NET_ADMIN)].effective & CAP_TO_MASK(CAP_NET_ADMIN)) != 0;
}

std::string FindHelper() {
    for (const std::string& folder : HelperFolders().Folders()) {
        std::string helper = folder + "/zeb40-arp-clear";
        struct stat st {};
        if (::stat(helper.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(helper.c_str(), X_OK) == 0) {
            return helper;
        }
    }
    return "";
}

struct THelperRun {
    int Status = -1; // the exit status; -1 when it did not start, ended by a signal or hung
    std::string Err; // its standard error, the last line break cut
};

// Runs the program with the argument to its end, at most HelperTimeoutMs; its standard input and
// output on the null device, its standard error read back. No shell reads the argument.
THelperRun RunHelper(const std::string& program, const std::string& argument) {
    THelperRun run;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return run;
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, pipe[1], 2);
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()),
                          nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        ::close(pipe[0]);
        return run;
    }
    int status = 0;
    pid_t ended = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(HelperTimeoutMs);
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ::close(pipe[0]);
        return run;
    }
    // What it wrote is in the pipe now: a line or two, far below the pipe's capacity.
    ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
    char buffer[1024];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
        run.Err.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipe[0]);
    while (!run.Err.empty() && (run.Err.back() == '\n' || run.Err.back() == '\r')) {
        run.Err.pop_back();
    }
    if (ended > 0 && WIFEXITED(status)) {
        run.Status = WEXITSTATUS(status);
    }
    return run;
}

class TLinuxNeighbours final : public TUnitNeighbours {
public:
    TClearResult Clear(const std::string& address) override {
        const std::optional<uint32_t> parsed = ParsePlainDottedQuad(address);
        if (!parsed) {
            return {TClearResult::Refused, address + " is not a plain dotted quad"};
        }
        if (HoldsNetAdmin()) {
            return ClearOverNetlink(*parsed);
        }
        const std::string helper = FindHelper();
        if (helper.empty()) {
            return {TClearResult::Unavailable,
                    "zeb40-arp-clear is not installed beside this program nor in "
                    "libexec/zeb40-upgrade, and this process lacks cap_net_admin"};
        }
        const THelperRun run = RunHelper(helper, address);
        switch (run.Status) {
        case acCleared:
            return {};
        case acNoPermission:
            return {TClearResult::Unavailable, helper + " lacks the capability cap_net_admin"};
        case acRefused:
            return {TClearResult::Refused, Said(run, helper)};
        default:
            return {TClearResult::Failed, Said(run, helper)};
        }
    }

    std::string HardwareAddress(const std::string& address) override {
        const std::optional<uint32_t> parsed = ParsePlainDottedQuad(address);
        if (!parsed) {
            return "";
        }
        try {
            for (const TNeighbour& entry : NeighboursOf(*parsed)) {
                // An entry being resolved, or one that failed, holds no address of a unit.
                if ((entry.State & (NUD_INCOMPLETE | NUD_FAILED | NUD_NOARP)) == 0) {
                    if (std::string mac = MacText(entry.HardwareAddress); !mac.empty()) {
                        return mac;
                    }
                }
            }
        } catch (const ENetlinkError&) {
        }
        return "";
    }

    std::string ClearMethod() override {
        if (HoldsNetAdmin()) {
            return "over rtnetlink (this process holds cap_net_admin)";
        }
        const std::string helper = FindHelper();
        return helper.empty() ? "not at all: no zeb40-arp-clear and no cap_net_admin"
                              : "by " + helper;
    }

private:
    // What zeb40-arp-clear does, with its rules.
    static TClearResult ClearOverNetlink(uint32_t address) {
        try {
            if (const char* refusal = RefusalOf(address, LocalAddresses(), RouteGateways())) {
                return {TClearResult::Refused,
                        "refuses " + DottedQuad(address) + ": it is " + refusal};
            }
            for (const TNeighbour& entry : NeighboursOf(address)) {
                if (IsDynamic(entry.State)) {
                    DeleteNeighbour(entry.InterfaceIndex, address);
                }
            }
            return {};
        } catch (const ENetlinkError& e) {
            return {e.Code() == EPERM ? TClearResult::Refused : TClearResult::Failed, e.what()};
        }
    }

    static std::string Said(const THelperRun& run, const std::string& helper) {
        if (!run.Err.empty()) {
            return run.Err;
        }
        return run.Status < 0 ? helper + " did not end normally within 3 s"
                              : helper + " ended with status " + std::to_string(run.Status);
    }
};

} // namespace

std::unique_ptr<TUnitNeighbours> NewPlatformNeighbours() {
    return std::make_unique<TLinuxNeighbours>();
}

TUnitNeighbours& SystemUnitNeighbours() {
    static const std::unique_ptr<TUnitNeighbours> neighbours = NewPlatformNeighbours();
    return *neighbours;
}

TSeam<TUnitNeighbours> UnitNeighbours(&SystemUnitNeighbours);
