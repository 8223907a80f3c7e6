// The Corvane ZEB40 upgrade tool on Windows.
#include "version/Version.h"
#include "win32/Startup.h"

#include <windows.h>

#include <string>
#include <string_view>

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        TellVersion(VersionLine("zeb40-upgrade"));
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        // Told the same way, its lines ended by CR LF; the last one TellVersion ends.
        std::string text(UpgradeUsage);
        text.pop_back();
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
            text.insert(at, 1, '\r');
        }
        TellVersion(text);
        return 0;
    }
    // The transfer blocks the message loop while its progress is painted within the handlers;
    // the system must not put a "Not Responding" ghost in the window's place meanwhile.
    ::DisableProcessWindowsGhosting();
    return RunMain();
}
