// The Corvane ZEB40 upgrade tool on Windows.
#include "version/Version.h"
#include "win32/Startup.h"

#include <windows.h>

#include <string_view>

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        TellVersion(VersionLine("zeb40-upgrade"));
        return 0;
    }
    // The transfer blocks the message loop while its progress is painted within the handlers;
    // the system must not put a "Not Responding" ghost in the window's place meanwhile.
    ::DisableProcessWindowsGhosting();
    return RunMain();
}
