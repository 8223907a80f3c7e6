// The texts zeb40-flash shows while it runs: the progress line of one device, the block of lines
// of several, and the closing summary of one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    NoLink,     // the request cannot leave yet: no link to the device (--wait rides it out)
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

// The text that draws progress over what was drawn before, each line cut to columns - 1
// characters so that it never wraps. With sequences (ECMA-48): a carriage return, the line and
// EL for what is left of the older one, and for a block first CUU up over the linesBefore lines
// drawn last. Without: each line padded with blanks to the width, and the cursor moved up over a
// block by the caller. A line of a block ends with a line break; the one line of RedrawLine
// does not.
std::string RedrawLine(const std::string& line, size_t columns, bool sequences);
std::string RedrawBlock(const std::vector<std::string>& lines, size_t linesBefore, size_t columns,
                        bool sequences);

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
