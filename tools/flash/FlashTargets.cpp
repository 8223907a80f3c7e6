#include "FlashTargets.h"

#include "SafeText.h"
#include "ToolArgs.h"
#include "base/TextCase.h"

#include <algorithm>

TFlashTarget ParseTarget(const std::string& text, int32_t defaultPort) {
    // An IPv4 address or name holds no colon but the one before a port: "::1", "[::1]:69" and
    // "2001:db8::1" are IPv6, which the device's recovery mode does not speak.
    if (text.find('[') == 0 || std::count(text.begin(), text.end(), ':') > 1) {
        throw EUsageError("'" + TerminalText(text) + "': IPv6 addresses are not supported");
    }
    TFlashTarget target;
    target.Label = text;
    target.Host = text;
    target.Port = defaultPort;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        target.Host = text.substr(0, colon);
        target.Port =
            IntOption("the port of '" + TerminalText(text) + "'", text.substr(colon + 1), 1, 65535);
    }
    if (target.Host.empty()) {
        throw EUsageError("no host in '" + TerminalText(text) + "'");
    }
    return target;
}

std::vector<std::string> ParseHostList(const std::string& content, const std::string& listName) {
    std::vector<std::string> entries;
    // A byte-order mark, as some editors write at the start of a text saved as UTF-8.
    const std::string_view mark = "\xEF\xBB\xBF";
    size_t start = content.compare(0, mark.size(), mark) == 0 ? mark.size() : 0;
    for (int line = 1; start <= content.size(); ++line) {
        const size_t end = std::min(content.find('\n', start), content.size());
        std::string text = content.substr(start, end - start);
        start = end + 1;
        text = text.substr(0, text.find('#'));
        const char* const blanks = " \t\r";
        const size_t first = text.find_first_not_of(blanks);
        if (first == std::string::npos) {
            continue;
        }
        text = text.substr(first, text.find_last_not_of(blanks) + 1 - first);
        if (text.find_first_of(blanks) != std::string::npos) {
            throw EUsageError("host list " + TerminalText(listName) + ", line " +
                              std::to_string(line) + ": '" + TerminalText(text) +
                              "' is more than one address");
        }
        entries.push_back(text);
    }
    return entries;
}

std::vector<TFlashTarget>
ExpandTargets(const std::vector<std::string>& hosts, int32_t defaultPort,
              const std::function<std::string(const std::string& path)>& readList) {
    std::vector<TFlashTarget> targets;
    for (const std::string& host : hosts) {
        if (host.size() > 1 && host[0] == '@') {
            const std::string path = host.substr(1);
            const std::vector<std::string> entries = ParseHostList(readList(path), path);
            if (entries.empty()) {
                throw EUsageError("host list " + TerminalText(path) + " names no host");
            }
            for (const std::string& entry : entries) {
                targets.push_back(ParseTarget(entry, defaultPort));
            }
        } else {
            targets.push_back(ParseTarget(host, defaultPort));
        }
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (targets[j].Port == targets[i].Port &&
                SameTextIgnoringCase(targets[j].Host, targets[i].Host)) {
                throw EUsageError("'" + TerminalText(targets[i].Label) +
                                  "' is named twice: it would get two transfers at once");
            }
        }
    }
    return targets;
}
