#include "FlashProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string FormatRate(double bytesPerSecond) {
    if (!std::isfinite(bytesPerSecond) || bytesPerSecond <= 0) {
        return "0 B/s";
    }
    static const char* const units[] = {"KiB/s", "MiB/s", "GiB/s"};
    char text[32];
    if (bytesPerSecond < 1024) {
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
        return text;
    }
    double value = bytesPerSecond / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 2) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

namespace {

double Rate(int64_t bytes, double seconds) {
    return seconds > 0 ? double(bytes) / seconds : 0;
}

// The part done, from 0 to 1; an empty total counts as done.
double Fraction(int64_t done, int64_t total) {
    return total <= 0 ? 1.0 : std::clamp(double(done) / double(total), 0.0, 1.0);
}

} // namespace

std::string ProgressLine(int64_t done, int64_t total, double seconds) {
    constexpr int width = 20;
    const double fraction = Fraction(done, total);
    const int filled = int(fraction * width);
    std::string bar =
        "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '.') + "]";
    char text[128];
    std::snprintf(text, sizeof text, " %3d%%  %lld/%lld bytes  ", int(fraction * 100),
                  static_cast<long long>(done), static_cast<long long>(total));
    return bar + text + FormatRate(Rate(done, seconds));
}

std::string SummaryLine(int64_t bytes, double seconds) {
    char text[96];
    std::snprintf(text, sizeof text, "sent %lld bytes in %.2f s (", static_cast<long long>(bytes),
                  seconds);
    return text + FormatRate(Rate(bytes, seconds)) + ")";
}

const char* StateName(TDeviceState state) {
    switch (state) {
    case TDeviceState::Queued:
        return "queued";
    case TDeviceState::Resolving:
        return "resolving";
    case TDeviceState::Requesting:
        return "requesting";
    case TDeviceState::NoLink:
        return "no link";
    case TDeviceState::Sending:
        return "sending";
    case TDeviceState::Sent:
        return "sent";
    case TDeviceState::Failed:
        return "failed";
    }
    return "";
}

std::string DeviceProgressLine(const std::string& label, size_t width, TDeviceState state,
                               int64_t done, int64_t total, double seconds) {
    char text[128];
    std::snprintf(text, sizeof text, "  %-10s %3d%%  %lld/%lld bytes  ", StateName(state),
                  int(Fraction(done, total) * 100), static_cast<long long>(done),
                  static_cast<long long>(total));
    return PadRight(label, width) + text + FormatRate(Rate(done, seconds));
}

std::string PadRight(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

namespace {

// A byte that does not continue a UTF-8 sequence starts a character.
bool StartsCharacter(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

} // namespace

std::string FitWidth(const std::string& line, size_t columns) {
    size_t characters = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (StartsCharacter(line[i]) && ++characters > columns) {
            return line.substr(0, i);
        }
    }
    return line;
}

std::string RedrawLine(const std::string& line, size_t columns, bool sequences) {
    const size_t width = columns > 1 ? columns - 1 : 1;
    const std::string fitted = FitWidth(line, width);
    if (sequences) {
        return '\r' + fitted + "\033[K";
    }
    const auto characters = size_t(std::count_if(fitted.begin(), fitted.end(), StartsCharacter));
    return '\r' + fitted + std::string(width - characters, ' ');
}

std::string RedrawBlock(const std::vector<std::string>& lines, size_t linesBefore, size_t columns,
                        bool sequences) {
    std::string text;
    if (sequences && linesBefore > 0) {
        text = "\033[" + std::to_string(linesBefore) + "A";
    }
    for (const std::string& line : lines) {
        text += RedrawLine(line, columns, sequences) + '\n';
    }
    return text;
}
