// zeb40-flash: uploads a firmware image to one or many ZEB40s (or any TFTP server) from scripts.
//
// Ctrl-C: the first SIGINT only sets a flag and gives SIGINT back its default action. Every
// upload looks at the flag before each wait and at least every 50 ms during one, and ends by an
// exception that closes its socket; queued devices are not started; the process then exits with
// status 130. A name look-up under way is not cut short (it holds no socket of ours); a second
// Ctrl-C ends the process at once, and the kernel releases what is left. Nothing is written
// locally, so no partial state can remain on this side.
#include "FlashOptions.h"
#include "FlashRun.h"
#include "ToolArgs.h"
#include "version/Version.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Set by the signal handler: a lock-free atomic is safe to store there.
std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    Interrupted = true;
    std::signal(SIGINT, SIG_DFL);
}

// The platform probe of the tool: whether stderr is a terminal the progress can be redrawn on,
// and its size.
TTerminal ProbeStderr() {
    TTerminal terminal;
    terminal.Progress = isatty(STDERR_FILENO) == 1;
    winsize size{};
    if (terminal.Progress && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
        size.ws_col > 0) {
        terminal.Rows = size.ws_row;
        terminal.Columns = size.ws_col;
    }
    return terminal;
}

int UsageFailure(const EUsageError& e) {
    std::cerr << "zeb40-flash: " << e.Message() << '\n' << FlashUsage;
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // A reader of our output that has gone (| head) makes the writes fail, not the process end:
    // the exit status stays the upload's own.
    std::signal(SIGPIPE, SIG_IGN);
    TFlashOptions options;
    try {
        options = ParseFlashArgs(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        return UsageFailure(e);
    }
    if (options.Help) {
        std::cout << FlashUsage << std::flush;
        return 0;
    }
    if (options.Version) {
        std::cout << VersionLine("zeb40-flash") << std::endl;
        return 0;
    }
    std::signal(SIGINT, OnInterrupt);
    try {
        return RunFlash(options, std::cout, std::cerr, ProbeStderr(), Interrupted);
    } catch (const EUsageError& e) {
        return UsageFailure(e);
    } catch (const std::exception& e) {
        std::cerr << "zeb40-flash: " << e.what() << '\n';
        return ExitFailed;
    }
}
