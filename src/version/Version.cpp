#include "version/Version.h"

#include "VersionStamp.h"

const char* const UpgradeUsage =
    "usage: zeb40-upgrade [--help | --version]\n"
    "Opens the window \"Corvane ZEB40 Upgrade Tools\", which sends a firmware image to a\n"
    "Corvane ZEB40 over the local network. Its settings are kept in DORVEX.ini in the\n"
    "current folder.\n"
    "  --help                 this text\n"
    "  --version              the program's version\n";

std::string VersionLine(std::string_view program) {
    std::string line(program);
    line += " " ZEB40_VERSION;
    if constexpr (sizeof(ZEB40_COMMIT) > 1) {
        line += " (commit " ZEB40_COMMIT ")";
    }
    return line;
}
