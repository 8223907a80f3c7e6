#include "FlashOptions.h"

#include "ToolArgs.h"

#include <functional>
#include <map>

const char* const FlashUsage =
    "usage: zeb40-flash [options] HOST FILE\n"
    "  --port N          server port (69)\n"
    "  --remote NAME     remote file name (\"/\")\n"
    "  --blksize N       block size offered with the blksize option, 8..65464 (1500)\n"
    "  --timeout MS      wait for each answer, in milliseconds (4000)\n"
    "  --mode MODE       octet or netascii (octet)\n"
    "  --quiet           no progress and no summary\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "Exit status: 0 sent, 1 refused by the device or timed out, 2 other failure, 64 usage.\n";

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
        {"--mode",
         [&](const std::string& v) {
             if (v == "octet") {
                 options.Mode = tfOctet;
             } else if (v == "netascii") {
                 options.Mode = tfNetAscii;
             } else {
                 throw EUsageError("invalid value '" + v +
                                   "' for --mode: expected octet or netascii");
             }
         }},
    };
    const std::map<std::string, bool*> flags = {
        {"--quiet", &options.Quiet}, {"--help", &options.Help}, {"--version", &options.Version}};
    std::vector<std::string> positional;
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
    }
    if (options.Help || options.Version) {
        return options;
    }
    if (positional.size() != 2) {
        throw EUsageError(positional.size() < 2 ? "HOST and FILE are required"
                                                : "unexpected argument '" + positional[2] + "'");
    }
    if (positional[0].empty() || positional[1].empty()) {
        throw EUsageError("HOST and FILE must not be empty");
    }
    options.Host = positional[0];
    options.File = positional[1];
    return options;
}
