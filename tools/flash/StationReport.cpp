#include "StationReport.h"

#include "SafeText.h"

#include <cstdio>
#include <ctime>

std::string MacText(const std::vector<uint8_t>& bytes) {
    if (bytes.size() != 6) {
        return "";
    }
    bool zero = true;
    for (const uint8_t byte : bytes) {
        zero = zero && byte == 0;
    }
    if (zero) {
        return "";
    }
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
}

std::string UtcTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto milliseconds = duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const auto whole = floor<seconds>(milliseconds);
    const auto seconds = static_cast<std::time_t>(whole.count());
    std::tm utc{};
#if defined(_WIN32)
    ::gmtime_s(&utc, &seconds);
#else
    ::gmtime_r(&seconds, &utc);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>((milliseconds - whole).count()));
    return text;
}

namespace {

std::string JsonOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

std::string Fixed(const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string UnitLogRecord(const TUnitRecord& unit) {
    return "{\"time\": " + JsonString(unit.Time) + ", \"unit\": " + std::to_string(unit.Number) +
           ", \"address\": " + JsonString(unit.Address) +
           ", \"port\": " + std::to_string(unit.Port) + ", \"mac\": " + JsonOrNull(unit.Mac) +
           ", \"image\": " + JsonString(unit.Image) + ", \"sha256\": " + JsonString(unit.Sha256) +
           ", \"bytes\": " + std::to_string(unit.Bytes) +
           ", \"seconds\": " + Fixed("%.3f", unit.Seconds) +
           ", \"result\": " + (unit.Sent() ? "\"sent\"" : "\"failed\"") +
           ", \"status\": " + std::to_string(unit.Status) +
           ", \"message\": " + (unit.Sent() ? "null" : JsonString(unit.Message)) +
           ", \"version\": " + JsonString(unit.Version) + "}\n";
}

std::string UnitLine(const TUnitRecord& unit) {
    char text[128];
    std::snprintf(text, sizeof text, "unit %d  %-17s  %-6s %lld bytes  %.2f s", unit.Number,
                  unit.Mac.empty() ? "unknown" : unit.Mac.c_str(), unit.Sent() ? "sent" : "failed",
                  static_cast<long long>(unit.Bytes), unit.Seconds);
    std::string line = text;
    if (!unit.Sent()) {
        line += "  " + TerminalText(unit.Message);
    }
    return line;
}

std::string StationTotalLine(const std::vector<TUnitRecord>& units, double seconds) {
    size_t sent = 0;
    int64_t bytes = 0;
    for (const TUnitRecord& unit : units) {
        sent += unit.Sent() ? 1 : 0;
        bytes += unit.Bytes;
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "total: %zu units, %zu sent, %zu failed, %lld bytes in %.2f s (%.1f units/min)",
                  units.size(), sent, units.size() - sent, static_cast<long long>(bytes), seconds,
                  seconds > 0 ? double(sent) * 60 / seconds : 0.0);
    return text;
}

int TUnitGate::FlashedAs(const std::string& mac) const {
    if (!mac.empty()) {
        const auto found = FFlashed.find(mac);
        return found == FFlashed.end() ? 0 : found->second;
    }
    return FSilentSinceSent ? 0 : FLastSent;
}

void TUnitGate::Sent(const std::string& mac, int number) {
    if (!mac.empty()) {
        FFlashed[mac] = number;
    }
    FLastSent = number;
    FSilentSinceSent = false;
}
