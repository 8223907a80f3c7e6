// The devices of a run: HOST, HOST:PORT or @LIST arguments turned into one target each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TFlashTarget {
    std::string Label; // as written: HOST or HOST:PORT
    std::string Host;
    int32_t Port = 69;
};

// HOST or HOST:PORT (IPv4 only, so the last ':' can only start a port); defaultPort without one.
// EUsageError for an empty host, a port outside 1..65535, or an IPv6 text ("IPv6 addresses are
// not supported").
TFlashTarget ParseTarget(const std::string& text, int32_t defaultPort);

// The entries of a host list: one HOST or HOST:PORT per line; a leading UTF-8 byte-order mark,
// blank lines, and everything from a '#' to the end of its line, are skipped; blanks and tabs
// around an entry do not count. listName names the list in the EUsageError for a line that holds
// more than one word.
std::vector<std::string> ParseHostList(const std::string& content, const std::string& listName);

// Every argument's targets in order, an @LIST read by readList (which raises what it raises for
// a list it cannot read). EUsageError for a list without entries, or for a device named twice
// (the same host in any letter case and the same port): it would get two transfers at once.
std::vector<TFlashTarget>
ExpandTargets(const std::vector<std::string>& hosts, int32_t defaultPort,
              const std::function<std::string(const std::string& path)>& readList);
