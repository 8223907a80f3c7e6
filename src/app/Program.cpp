// The Corvane ZEB40 upgrade tool.
#include "app/Application.h"
#include "app/Startup.h"
#include "version/Version.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so that they work without a display (the toolkit
    // aborts the process when it finds none).
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << VersionLine("zeb40-upgrade") << '\n';
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::cout << UpgradeUsage;
        return 0;
    }
    try {
        TApplication application(argc, argv);
        return RunMain(application);
    } catch (...) {
        // Nothing to show a failure with before the application exists.
        return 0;
    }
}
