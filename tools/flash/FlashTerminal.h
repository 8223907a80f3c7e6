// Standard error as the progress of zeb40-flash sees it: whether it is a terminal on which lines
// can be redrawn in place, its size, and how the cursor goes back over the lines drawn before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A console whose cursor is moved by calls, not by control sequences in the text: a Windows
// console that cannot take them.
class TConsoleCursor {
public:
    virtual ~TConsoleCursor() = default;
    // Puts the cursor that many lines up from its line (at most to the top), at the line's start.
    virtual void Up(size_t lines) = 0;
};

struct TTerminal {
    bool Progress = false; // a terminal on which progress lines can be redrawn in place
    size_t Rows = 24;
    size_t Columns = 80;
    // Null when the terminal obeys the control sequences of ECMA-48 in the text (cursor up, erase
    // in line); otherwise the console's cursor, and lines are padded with blanks instead.
    TConsoleCursor* Cursor = nullptr;
};

// Standard error, probed when the object is made; what the probe changed on the terminal is put
// back when it goes.
// - POSIX: a terminal when isatty(3) says so, its size by TIOCGWINSZ.
// - Windows: a console when GetConsoleMode succeeds on it (a file, a pipe, and the terminals of
//   MSYS2 and Cygwin, which are pipes to a Windows program, are none). Its size from
//   GetConsoleScreenBufferInfo: the width of the buffer, where lines wrap, and the height of the
//   window. Its virtual terminal processing is switched on for the sequences when it can be
//   (since Windows 10); otherwise the cursor is moved by SetConsoleCursorPosition.
class TStderrTerminal {
public:
    TStderrTerminal();
    ~TStderrTerminal();
    TStderrTerminal(const TStderrTerminal&) = delete;
    TStderrTerminal& operator=(const TStderrTerminal&) = delete;

    const TTerminal& Terminal() const { return FTerminal; }

private:
    TTerminal FTerminal;
    std::unique_ptr<TConsoleCursor> FCursor;
    bool FRestoreMode = false; // FMode is the console's mode before the probe
    uint32_t FMode = 0;
};
