#include "SimOptions.h"

#include "ToolArgs.h"
#include "base/IntegerText.h"
#include "net/IdEndpoint.h"
#include "tftp/IdTrivialFTPBase.h"

#include <functional>
#include <map>

const char* const SimUsage =
    "usage: zeb40-sim [options]\n"
    "  --bind ADDR            address to listen on (127.0.0.1; loopback only); again for\n"
    "                         more devices, each storing into the subfolder ADDR\n"
    "  --any-address          allow a --bind address outside 127.0.0.0/8\n"
    "  --port N               port to listen on (69; 0 picks a free one)\n"
    "  --dir DIR              folder the images are stored in (current folder; made when\n"
    "                         missing)\n"
    "  --once                 exit after one upload\n"
    "  --blksize accept|ignore|cap:N  how the blksize option is answered (accept)\n"
    "  --no-final-ack         never acknowledge the final block (reboots at once)\n"
    "  --error-at B:CODE:TEXT answer data block B with an error packet\n"
    "  --same-port            answer from the listening port, not a new one\n"
    "  --loss P               drop sends and receipts with probability P\n"
    "  --dup P                duplicate sends and receipts with probability P\n"
    "  --seed S               seed of the loss, duplication and jitter decisions (1)\n"
    "  --retransmit MS        resend the last packet after MS without answer (1000)\n"
    "  --jitter MS            add 0..MS, drawn from the seed, to each such wait (0)\n"
    "  --reack duplicate|timer  answer a repeated data block at once, or ignore it and\n"
    "                         acknowledge again only when the --retransmit wait runs out\n"
    "                         (duplicate)\n"
    "  --retries N            resends before giving a transfer up (5)\n"
    "  --delay MS             wait MS before each answer (0)\n"
    "  --help                 this text\n"
    "  --version              the program's version\n";

bool IsLoopbackAddress(const std::string& address) {
    TIdInAddrBytes bytes{};
    return ParseDottedQuad(address, bytes) && bytes[0] == 127;
}

namespace {

void ParseBlockSize(const std::string& value, TSimOptions& options) {
    if (value == "accept") {
        options.BlockSize = TBlockSizeAnswer::Accept;
    } else if (value == "ignore") {
        options.BlockSize = TBlockSizeAnswer::Ignore;
    } else if (value.rfind("cap:", 0) == 0) {
        options.BlockSize = TBlockSizeAnswer::Cap;
        // RFC 2348 section 2: a block size lies in 8..65464 octets.
        options.BlockSizeCap =
            IntOption("--blksize cap", value.substr(4), TFTPMinRequestBlockSize, TFTPMaxBlockSize);
    } else {
        throw EUsageError("invalid value '" + value +
                          "' for --blksize: expected accept, ignore or cap:N");
    }
}

TReackAnswer ParseReack(const std::string& value) {
    if (value == "duplicate") {
        return TReackAnswer::Duplicate;
    }
    if (value == "timer") {
        return TReackAnswer::Timer;
    }
    throw EUsageError("invalid value '" + value + "' for --reack: expected duplicate or timer");
}

void ParseErrorAt(const std::string& value, TSimOptions& options) {
    const size_t first = value.find(':');
    const size_t second = first == std::string::npos ? first : value.find(':', first + 1);
    if (second == std::string::npos) {
        throw EUsageError("invalid value '" + value + "' for --error-at: expected BLOCK:CODE:TEXT");
    }
    options.ErrorAtBlock = IntOption("--error-at block", value.substr(0, first), 1, 0x7FFFFFFF);
    options.ErrorCode =
        IntOption("--error-at code", value.substr(first + 1, second - first - 1), 0, 65535);
    options.ErrorText = value.substr(second + 1);
}

} // namespace

TSimOptions ParseSimArgs(const std::vector<std::string>& args) {
    TSimOptions options;
    options.BindAddresses.clear();
    using Handler = std::function<void(const std::string&)>;
    const std::map<std::string, Handler> valued = {
        {"--bind", [&](const std::string& v) { options.BindAddresses.push_back(v); }},
        {"--port", [&](const std::string& v) { options.Port = IntOption("--port", v, 0, 65535); }},
        {"--dir",
         [&](const std::string& v) {
             if (v.empty()) {
                 throw EUsageError("invalid value '' for --dir");
             }
             options.Directory = v;
         }},
        {"--blksize", [&](const std::string& v) { ParseBlockSize(v, options); }},
        {"--error-at", [&](const std::string& v) { ParseErrorAt(v, options); }},
        {"--loss", [&](const std::string& v) { options.Loss = ProbabilityOption("--loss", v); }},
        {"--dup", [&](const std::string& v) { options.Duplicate = ProbabilityOption("--dup", v); }},
        {"--seed",
         [&](const std::string& v) {
             options.Seed = uint32_t(IntOption("--seed", v, INT32_MIN, INT32_MAX));
         }},
        {"--retransmit",
         [&](const std::string& v) {
             options.RetransmitMs = IntOption("--retransmit", v, 1, 600000);
         }},
        {"--jitter",
         [&](const std::string& v) { options.JitterMs = IntOption("--jitter", v, 0, 600000); }},
        {"--reack", [&](const std::string& v) { options.Reack = ParseReack(v); }},
        {"--retries",
         [&](const std::string& v) { options.Retries = IntOption("--retries", v, 0, 1000); }},
        {"--delay",
         [&](const std::string& v) { options.DelayMs = IntOption("--delay", v, 0, 600000); }},
    };
    const std::map<std::string, bool*> flags = {
        {"--once", &options.Once},          {"--no-final-ack", &options.NoFinalAck},
        {"--same-port", &options.SamePort}, {"--any-address", &options.AnyAddress},
        {"--help", &options.Help},          {"--version", &options.Version},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        const bool inlineValue = SplitInlineValue(args[i], name, value);
        if (const auto flag = flags.find(name); flag != flags.end() && !inlineValue) {
            *flag->second = true;
            continue;
        }
        const auto option = valued.find(name);
        if (option == valued.end()) {
            throw EUsageError("unknown option '" + args[i] + "'");
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                throw EUsageError("option " + name + " needs a value");
            }
            value = args[++i];
        }
        option->second(value);
    }
    if (options.BindAddresses.empty()) {
        options.BindAddresses.emplace_back("127.0.0.1");
    }
    if (options.BindAddresses.size() > MaxBindAddresses) {
        throw EUsageError("at most " + std::to_string(MaxBindAddresses) + " --bind addresses");
    }
    for (size_t i = 0; i < options.BindAddresses.size(); ++i) {
        std::string& address = options.BindAddresses[i];
        if (address == "localhost") {
            address = "127.0.0.1";
        }
        if (!options.AnyAddress && !IsLoopbackAddress(address)) {
            throw EUsageError("refusing to bind to '" + address +
                              "': not a loopback address (127.0.0.0/8); add --any-address to "
                              "allow it");
        }
        for (size_t j = 0; j < i; ++j) {
            if (options.BindAddresses[j] == address) {
                throw EUsageError("--bind " + address + " is given twice");
            }
        }
    }
    return options;
}
