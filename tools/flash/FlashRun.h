// One run of zeb40-flash: the upload with progress and the mapping of its end to an exit status.
#pragma once

#include "FlashOptions.h"

#include <csignal>
#include <ostream>

inline constexpr int ExitSent = 0;
inline constexpr int ExitRefused = 1; // EIdTFTPException family: time-out, device error packet
inline constexpr int ExitFailed = 2;  // file, name resolution, socket, conversion
inline constexpr int ExitInterrupted = 130; // 128 + SIGINT, as a shell reports it

// Uploads options.File to options.Host. Progress goes to err as one redrawn line when terminal is
// set; the summary goes to out at the end unless options.Quiet. Failures are written to err.
// When interrupted becomes non-zero the upload is ended at its next block: the socket is closed
// and the file released by the unwinding, and ExitInterrupted is returned.
int RunFlash(const TFlashOptions& options, std::ostream& out, std::ostream& err, bool terminal,
             const volatile std::sig_atomic_t& interrupted);
