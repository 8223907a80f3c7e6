#include "FlashReport.h"

#include "FlashProgress.h"
#include "SafeText.h"

#include <algorithm>
#include <cstdio>

const char* ErrorCodeMeaning(int32_t code) {
    static const char* const meanings[] = {
        "not defined",
        "file not found",
        "access violation",
        "disk full or allocation exceeded",
        "illegal TFTP operation",
        "unknown transfer ID",
        "file already exists",
        "no such user",
        "option negotiation failed",
    };
    return code >= 0 && code < int32_t(std::size(meanings)) ? meanings[code]
                                                            : "not a code of RFC 1350 or 2347";
}

std::string DeviceErrorMessage(const std::string& text, int32_t code) {
    if (code < 0 || !text.empty()) {
        return text;
    }
    return "error " + std::to_string(code) + " (" + ErrorCodeMeaning(code) + ") without a text";
}

std::string ResolveFailureMessage(const std::string& host, int32_t code,
                                  const std::string& socketText) {
    // The look-up codes of the Winsock numbering (11001..11004).
    static const char* const reasons[] = {
        "no such host is known",
        "the name service did not answer in time, try again",
        "the name service failed",
        "the name has no IPv4 address",
    };
    const std::string reason = code >= 11001 && code <= 11004 ? reasons[code - 11001] : socketText;
    return "cannot resolve '" + host + "': " + reason + " (Socket Error # " + std::to_string(code) +
           ")";
}

int RunStatus(const std::vector<TDeviceReport>& devices) {
    int status = ExitSent;
    for (const TDeviceReport& device : devices) {
        status = std::max(status, device.Status);
    }
    return status;
}

std::string DeviceSummaryLine(const TDeviceReport& device, size_t width) {
    const std::string label = TerminalText(device.Label);
    char text[96];
    std::snprintf(text, sizeof text, "  %-6s %lld bytes  %.2f s", device.Sent() ? "sent" : "failed",
                  static_cast<long long>(device.Bytes), device.Seconds);
    std::string line = PadRight(label, width) + text;
    if (!device.Sent()) {
        line += "  " + TerminalText(device.Message);
    }
    return line;
}

namespace {

// The devices' bytes together, and how many got the image.
struct TTotals {
    int64_t Bytes = 0;
    size_t Sent = 0;
};

TTotals TotalsOf(const std::vector<TDeviceReport>& devices) {
    TTotals totals;
    for (const TDeviceReport& device : devices) {
        totals.Bytes += device.Bytes;
        totals.Sent += device.Sent() ? 1 : 0;
    }
    return totals;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

} // namespace

std::string TotalLine(const std::vector<TDeviceReport>& devices, double seconds) {
    const TTotals totals = TotalsOf(devices);
    char text[160];
    std::snprintf(text, sizeof text,
                  "total: %zu devices, %zu sent, %zu failed, %lld bytes in %.2f s (",
                  devices.size(), totals.Sent, devices.size() - totals.Sent,
                  static_cast<long long>(totals.Bytes), seconds);
    return text + FormatRate(seconds > 0 ? double(totals.Bytes) / seconds : 0) + ")";
}

std::string JsonReport(const std::vector<TDeviceReport>& devices, const std::string& file,
                       int64_t size, double seconds, int status) {
    const TTotals totals = TotalsOf(devices);
    std::string json = "{\"file\": " + JsonString(file) + ", \"size\": " + std::to_string(size) +
                       ", \"status\": " + std::to_string(status) +
                       ", \"seconds\": " + Seconds(seconds) + ",\n \"devices\": [";
    for (size_t i = 0; i < devices.size(); ++i) {
        const TDeviceReport& d = devices[i];
        json += std::string(i == 0 ? "\n" : ",\n") + "  {\"host\": " + JsonString(d.Host) +
                ", \"port\": " + std::to_string(d.Port) + ", \"address\": " +
                (d.Address.empty() ? std::string("null") : JsonString(d.Address)) +
                (d.Mac ? ", \"mac\": " + (d.Mac->empty() ? std::string("null") : JsonString(*d.Mac))
                       : std::string()) +
                ", \"result\": " + (d.Sent() ? "\"sent\"" : "\"failed\"") +
                ", \"status\": " + std::to_string(d.Status) +
                ", \"bytes\": " + std::to_string(d.Bytes) + ", \"seconds\": " + Seconds(d.Seconds) +
                ", \"message\": " + (d.Sent() ? std::string("null") : JsonString(d.Message)) + "}";
    }
    json += "],\n \"total\": {\"devices\": " + std::to_string(devices.size()) +
            ", \"sent\": " + std::to_string(totals.Sent) +
            ", \"failed\": " + std::to_string(devices.size() - totals.Sent) +
            ", \"bytes\": " + std::to_string(totals.Bytes) + "}}\n";
    return json;
}
