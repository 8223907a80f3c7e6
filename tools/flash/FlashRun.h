// One run of zeb40-flash: the devices of the command line, the image opened once and shared, the
// uploads side by side with their progress, and the report of how each ended.
#pragma once

#include "FlashOptions.h"
#include "FlashReport.h"
#include "FlashTerminal.h"

#include "base/Exception.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

// With options.Station, RunStation (StationRun.h). Otherwise uploads options.File to every device
// of options.Hosts, at most options.Jobs at once, each on a thread of its own. Progress goes to err
// when terminal.Progress is set: one redrawn line for one device, one line per device for several,
// at most ten redraws a second. The report goes to out at the end: for one device the summary line
// of a success (its failure goes to err), for several a summary line per device and a total line;
// with options.Json one JSON document instead. Returns the exit status. When interrupted becomes
// true every transfer ends within TFTPAbortPollTime (its socket closed), no queued one starts, and
// ExitInterrupted is returned. EUsageError for a bad host or host list, before anything is sent.
int RunFlash(const TFlashOptions& options, std::ostream& out, std::ostream& err,
             const TTerminal& terminal, const std::atomic<bool>& interrupted);

// A failure message on one line: the socket layer's texts hold CR LF between the code and its
// text, and a look-up's text ends there.
std::string OneLine(const std::string& text);

// "Network is unreachable (Socket Error # 10051)".
std::string LinkErrorText(int32_t error);

class EResolveFailure : public Exception {
public:
    using Exception::Exception;
};

// The host's address (GlobalStack must exist); EResolveFailure naming the host and the reason.
std::string ResolveHost(const std::string& host);
