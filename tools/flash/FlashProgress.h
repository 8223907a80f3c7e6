// The texts zeb40-flash shows: the progress line drawn on a terminal and the closing summary.
#pragma once

#include <cstdint>
#include <string>

// "512 B/s", "12.5 KiB/s", "2.4 MiB/s", "1.1 GiB/s"; 0 for a rate that is not a finite positive
// number.
std::string FormatRate(double bytesPerSecond);

// "[##########..........]  50%  524288/1048576 bytes  2.4 MiB/s"; an empty total counts as done.
std::string ProgressLine(int64_t done, int64_t total, double seconds);

// "sent 1048576 bytes in 0.42 s (2.4 MiB/s)".
std::string SummaryLine(int64_t bytes, double seconds);

// Lets a redraw through at most once per interval, and always the first one.
class TRedrawThrottle {
public:
    explicit TRedrawThrottle(double intervalSeconds) : FInterval(intervalSeconds) {}
    bool Due(double now) {
        if (FDrawn && now - FLast < FInterval) {
            return false;
        }
        FDrawn = true;
        FLast = now;
        return true;
    }

private:
    double FInterval;
    double FLast = 0;
    bool FDrawn = false;
};
