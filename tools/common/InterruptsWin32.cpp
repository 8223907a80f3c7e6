// Interrupts on Windows: a console control handler, which the system runs on a thread of its own.
// Closing the console, logging off and shutting down are left to the system's default handling.
#include "Interrupts.h"

#include <windows.h>

namespace {

std::atomic<bool>* Flag = nullptr;
bool SecondEndsTheProcess = false;

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    const bool again = Flag->exchange(true);
    // Not handled: the next handler, the system's own, ends the process.
    return again && SecondEndsTheProcess ? FALSE : TRUE;
}

void Catch(std::atomic<bool>& flag, bool secondEnds) {
    Flag = &flag;
    SecondEndsTheProcess = secondEnds;
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

} // namespace

void CatchInterrupt(std::atomic<bool>& flag) {
    Catch(flag, true);
}

void CatchStopRequests(std::atomic<bool>& flag) {
    Catch(flag, false);
}

void IgnoreBrokenPipes() {}
