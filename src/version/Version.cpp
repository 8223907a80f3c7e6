#include "version/Version.h"

#include "VersionStamp.h"

std::string VersionLine(std::string_view program) {
    std::string line(program);
    line += " " ZEB40_VERSION;
    if constexpr (sizeof(ZEB40_COMMIT) > 1) {
        line += " (commit " ZEB40_COMMIT ")";
    }
    return line;
}
