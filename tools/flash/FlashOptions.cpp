#include "FlashOptions.h"

#include "ToolArgs.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace {

// A day: a device that has not answered by then will not.
constexpr int32_t MaxWaitSeconds = 86400;

} // namespace

const char* const FlashUsage =
    "usage: zeb40-flash [options] HOST [HOST ...] FILE\n"
    "       zeb40-flash --station [--count N] [--log LOG] [options] HOST FILE\n"
    "  HOST is an address or name, HOST:PORT, or @LIST: a file of one HOST per line\n"
    "  --port N          server port of a HOST without one (69)\n"
    "  --remote NAME     remote file name (\"/\")\n"
    "  --blksize N       block size offered with the blksize option, 8..65464 (1500)\n"
    "  --timeout MS      wait for the first answer, in milliseconds (4000); see the manual\n"
    "  --wait SECONDS    wait that long for the device and its link to come up (0: --timeout)\n"
    "  --jobs N          transfers at once, 1..64 (all, at most 64)\n"
    "  --station         flash unit after unit at HOST, each unit (MAC) once, until Ctrl-C\n"
    "  --count N         with --station: stop after N units sent\n"
    "  --log LOG         with --station: append a JSON record per unit to LOG, synced\n"
    "  --allow-empty     send an empty image\n"
    "  --mode octet      the transfer mode; octet is the only one\n"
    "  --json            the summary as one JSON document\n"
    "  --quiet           no progress and no summary\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "Exit status: 0 every device got the image; otherwise the highest of theirs: 1 refused by\n"
    "the device or timed out, 2 other failure; 64 usage; 130 interrupted. A station exits\n"
    "with the status of its last unit (130 when it took none); 2 when its log fails.\n";

TFlashOptions ParseFlashArgs(const std::vector<std::string>& args) {
    TFlashOptions options;
    using Handler = std::function<void(const std::string&)>;
    const std::map<std::string, Handler> valued = {
        {"--port", [&](const std::string& v) { options.Port = IntOption("--port", v, 1, 65535); }},
        {"--remote", [&](const std::string& v) { options.Remote = v; }},
        // RFC 2348 section 2: the option's value lies in 8..65464.
        {"--blksize",
         [&](const std::string& v) { options.BlockSize = IntOption("--blksize", v, 8, 65464); }},
        {"--timeout",
         [&](const std::string& v) {
             options.TimeoutMs = IntOption("--timeout", v, 1, 0x7FFFFFFF);
         }},
        {"--wait",
         [&](const std::string& v) {
             options.WaitSeconds = IntOption("--wait", v, 0, MaxWaitSeconds);
         }},
        {"--jobs",
         [&](const std::string& v) { options.Jobs = IntOption("--jobs", v, 1, MaxJobs); }},
        {"--count",
         [&](const std::string& v) { options.Count = IntOption("--count", v, 1, 0x7FFFFFFF); }},
        {"--log", [&](const std::string& v) { options.LogFile = v; }},
        // A firmware image is binary. Netascii (RFC 1350) would turn every LF into CR LF and every
        // CR into CR NUL on the wire, and a device that takes the bytes as they come, as a
        // recovery loader does, would write that into its flash.
        {"--mode",
         [&](const std::string& v) {
             if (v != "octet") {
                 throw EUsageError("invalid value '" + v +
                                   "' for --mode: a firmware image goes in octet mode only");
             }
         }},
    };
    const std::map<std::string, bool*> flags = {
        {"--station", &options.Station}, {"--allow-empty", &options.AllowEmpty},
        {"--json", &options.Json},       {"--quiet", &options.Quiet},
        {"--help", &options.Help},       {"--version", &options.Version},
    };
    std::vector<std::string> positional;
    std::set<std::string> given;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        const bool inlineValue = SplitInlineValue(arg, name, value);
        if (const auto flag = flags.find(name); flag != flags.end() && !inlineValue) {
            *flag->second = true;
            continue;
        }
        const auto option = valued.find(name);
        if (option == valued.end()) {
            throw EUsageError("unknown option '" + arg + "'");
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                throw EUsageError("option " + name + " needs a value");
            }
            value = args[++i];
        }
        option->second(value);
        given.insert(name);
    }
    if (options.Help || options.Version) {
        return options;
    }
    if (positional.size() < 2) {
        throw EUsageError("HOST and FILE are required");
    }
    if (std::find(positional.begin(), positional.end(), "") != positional.end()) {
        throw EUsageError("HOST and FILE must not be empty");
    }
    options.File = positional.back();
    positional.pop_back();
    options.Hosts = positional;
    if (!options.Station) {
        for (const char* name : {"--count", "--log"}) {
            if (given.count(name) != 0) {
                throw EUsageError(std::string(name) + " goes with --station only");
            }
        }
        return options;
    }
    // A station serves one address, waits for each unit until it answers, and has one transfer
    // at a time.
    for (const char* name : {"--wait", "--jobs"}) {
        if (given.count(name) != 0) {
            throw EUsageError(std::string(name) +
                              " does not go with --station, which waits for every unit until "
                              "Ctrl-C and flashes one at a time");
        }
    }
    if (options.Hosts.size() != 1 || options.Hosts.front().front() == '@') {
        throw EUsageError("--station takes exactly one HOST, the units' address");
    }
    if (given.count("--log") != 0 && options.LogFile.empty()) {
        throw EUsageError("--log needs a file name");
    }
    return options;
}
