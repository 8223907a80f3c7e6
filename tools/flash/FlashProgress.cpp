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

} // namespace

std::string ProgressLine(int64_t done, int64_t total, double seconds) {
    constexpr int width = 20;
    const double fraction = total <= 0 ? 1.0 : std::clamp(double(done) / double(total), 0.0, 1.0);
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
