// zeb40-flash: uploads a firmware image to a ZEB40 (or any TFTP server) from scripts.
//
// Ctrl-C: the first SIGINT only sets a flag and gives SIGINT back its default action. The upload
// checks the flag at every block and ends by an exception, so the client closes its socket and
// the file stream is closed by the unwinding before the process exits with status 130; a wait
// for an answer lasts at most --timeout. A second Ctrl-C ends the process at once: the kernel
// then releases the socket, the descriptor and the lock of the file. Nothing is written
// locally, so no partial state can remain on this side.
#include "FlashOptions.h"
#include "FlashRun.h"
#include "ToolArgs.h"
#include "version/Version.h"

#include <csignal>
#include <iostream>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t Interrupted = 0;

extern "C" void OnInterrupt(int) {
    Interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

// The one platform probe of the tool: whether stderr is a terminal the progress line can redraw.
bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

} // namespace

int main(int argc, char** argv) {
    TFlashOptions options;
    try {
        options = ParseFlashArgs(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        std::cerr << "zeb40-flash: " << e.Message() << '\n' << FlashUsage;
        return ExitUsage;
    }
    if (options.Help) {
        std::cout << FlashUsage;
        return 0;
    }
    if (options.Version) {
        std::cout << VersionLine("zeb40-flash") << "\n";
        return 0;
    }
    std::signal(SIGINT, OnInterrupt);
    return RunFlash(options, std::cout, std::cerr, StderrIsTerminal(), Interrupted);
}
