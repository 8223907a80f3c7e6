// zeb40-flash: uploads a firmware image to one or many ZEB40s (or any TFTP server) from scripts.
//
// Ctrl-C (on Windows also Ctrl-Break): the first one only sets a flag. Every upload looks at the
// flag before each wait and at least every 50 ms during one, and ends by an exception that closes
// its socket; queued devices are not started; the process then exits with status 130. A name
// look-up under way is not cut short (it holds no socket of ours); a second Ctrl-C ends the
// process at once, and the system releases what is left. Nothing is written locally, so no
// partial state can remain on this side.
#include "FlashOptions.h"
#include "FlashRun.h"
#include "FlashTerminal.h"
#include "Interrupts.h"
#include "ToolArgs.h"
#include "version/Version.h"

#include <atomic>
#include <iostream>

namespace {

std::atomic<bool> Interrupted{false};

int UsageFailure(const EUsageError& e) {
    std::cerr << "zeb40-flash: " << e.Message() << '\n' << FlashUsage;
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // The exit status stays the upload's own when the reader of our output has gone.
    IgnoreBrokenPipes();
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
    CatchInterrupt(Interrupted);
    try {
        const TStderrTerminal terminal;
        return RunFlash(options, std::cout, std::cerr, terminal.Terminal(), Interrupted);
    } catch (const EUsageError& e) {
        return UsageFailure(e);
    } catch (const std::exception& e) {
        std::cerr << "zeb40-flash: " << e.what() << '\n';
        return ExitFailed;
    }
}
