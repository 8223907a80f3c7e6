// Standard error on POSIX systems: isatty(3) and the TIOCGWINSZ request of ioctl(2).
#include "FlashTerminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

TStderrTerminal::TStderrTerminal() {
    FTerminal.Progress = ::isatty(STDERR_FILENO) == 1;
    winsize size{};
    if (FTerminal.Progress && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
        size.ws_col > 0) {
        FTerminal.Rows = size.ws_row;
        FTerminal.Columns = size.ws_col;
    }
}

TStderrTerminal::~TStderrTerminal() = default;
