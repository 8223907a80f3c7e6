// The console calls of zeb40-flash's progress on Windows, behind a seam that tests replace (a
// test program has no console of its own).
#pragma once

#include "base/Seam.h"

#include <windows.h>

// GetStdHandle, GetConsoleMode, SetConsoleMode, GetConsoleScreenBufferInfo and
// SetConsoleCursorPosition.
class TConsoleCalls {
public:
    virtual ~TConsoleCalls() = default;
    virtual HANDLE StandardError() = 0;
    virtual bool GetMode(HANDLE console, DWORD& mode) = 0;
    virtual bool SetMode(HANDLE console, DWORD mode) = 0;
    virtual bool ScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO& info) = 0;
    virtual bool SetCursorPosition(HANDLE console, COORD position) = 0;
};

extern TSeam<TConsoleCalls> ConsoleCalls;
