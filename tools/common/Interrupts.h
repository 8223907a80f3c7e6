// How the tools hear that their user wants them to stop: Ctrl-C at the terminal (SIGINT on POSIX
// systems; on Windows the console's Ctrl-C and Ctrl-Break events), and for a server also
// SIGTERM. The flag is set from a signal handler or from the thread on which Windows runs a
// console's control handler; a lock-free atomic is safe in both, and the tools poll it.
#pragma once

#include <atomic>

static_assert(std::atomic<bool>::is_always_lock_free);

// zeb40-flash: the first interrupt sets flag; a second one ends the process at once by the
// system's default action, in case the first is not heeded soon enough.
void CatchInterrupt(std::atomic<bool>& flag);

// zeb40-sim: every interrupt sets flag, and on POSIX systems so does SIGTERM (what a service
// manager or kill(1) sends).
void CatchStopRequests(std::atomic<bool>& flag);

// A reader of the output that has gone (`| head`) makes writes fail instead of ending the process:
// SIGPIPE is ignored on POSIX systems; Windows has no such signal.
void IgnoreBrokenPipes();
