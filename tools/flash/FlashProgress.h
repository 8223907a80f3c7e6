// The texts zeb40-flash shows while it runs: the progress line of one device, the block of lines
// of several, and the closing summary of one.
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

// Where a device's transfer stands.
enum class TDeviceState : uint8_t {
    Queued,     // waiting for a free job
    Resolving,  // its name is being looked up
    Requesting, // the request is out, no answer yet
    Sending,
    Sent,
    Failed,
};
const char* StateName(TDeviceState state);

// One device's line of the progress block, its label (already safe to show) padded to width:
// "127.0.0.2  sending     50%  524288/1048576 bytes  2.4 MiB/s".
std::string DeviceProgressLine(const std::string& label, size_t width, TDeviceState state,
                               int64_t done, int64_t total, double seconds);

// The text with blanks after it up to width bytes.
std::string PadRight(const std::string& text, size_t width);

// The line cut to at most columns characters (UTF-8 sequences counted as one), so that it never
// wraps and the block can be redrawn in place.
std::string FitWidth(const std::string& line, size_t columns);

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
