// Interrupts on POSIX systems: signal handlers that only store into the flag.
#include "Interrupts.h"

#include <csignal>

namespace {

std::atomic<bool>* Flag = nullptr;

extern "C" void OnInterrupt(int) {
    *Flag = true;
    std::signal(SIGINT, SIG_DFL);
}

extern "C" void OnStopSignal(int) {
    *Flag = true;
}

} // namespace

void CatchInterrupt(std::atomic<bool>& flag) {
    Flag = &flag;
    std::signal(SIGINT, OnInterrupt);
}

void CatchStopRequests(std::atomic<bool>& flag) {
    Flag = &flag;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}
