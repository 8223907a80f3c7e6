// The progress of zeb40-flash on a Windows console: what the probe of standard error makes of the
// console, what it puts back, and how it moves the cursor of a console that takes no sequences.
#include "ConsoleWin32.h"
#include "FlashTerminal.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr DWORD Sequences = ENABLE_VIRTUAL_TERMINAL_PROCESSING;

// A console of 120 columns whose window shows 30 rows, its cursor on line 500 of the buffer.
class TFakeConsole : public TConsoleCalls {
public:
    bool IsConsole = true;
    bool TakesSequences = true; // whether the mode with virtual terminal processing is taken
    DWORD Mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    SHORT CursorLine = 500;
    std::vector<COORD> Moves;

    HANDLE StandardError() override { return Handle; }
    bool GetMode(HANDLE console, DWORD& mode) override {
        mode = Mode;
        return IsConsole && console == Handle;
    }
    bool SetMode(HANDLE console, DWORD mode) override {
        if (console != Handle || (!TakesSequences && (mode & Sequences) != 0)) {
            return false;
        }
        Mode = mode;
        return true;
    }
    bool ScreenBufferInfo(HANDLE, CONSOLE_SCREEN_BUFFER_INFO& info) override {
        info = {};
        info.dwSize = {120, 9001};
        info.srWindow = {0, 480, 119, 509};
        info.dwCursorPosition = {17, CursorLine};
        return IsConsole;
    }
    bool SetCursorPosition(HANDLE, COORD position) override {
        Moves.push_back(position);
        return true;
    }

private:
    HANDLE Handle = reinterpret_cast<HANDLE>(intptr_t{0x1234});
};

TEST(ConsoleProgress, TheProbeAndWhatItPutsBack) {
    const DWORD plain = TFakeConsole().Mode;
    struct Case {
        const char* what;
        bool isConsole, takesSequences;
        DWORD mode;
        bool progress, moved; // progress drawn; by calls rather than sequences
        DWORD during, after;  // the console's mode during the run and after it
    } const cases[] = {
        {"a file or a pipe", false, true, plain, false, false, plain, plain},
        {"sequences switched on", true, true, plain, true, false, plain | Sequences, plain},
        {"sequences on already", true, true, plain | Sequences, true, false, plain | Sequences,
         plain | Sequences},
        {"a console before Windows 10", true, false, plain, true, true, plain, plain},
    };
    for (const Case& c : cases) {
        TFakeConsole console;
        console.IsConsole = c.isConsole;
        console.TakesSequences = c.takesSequences;
        console.Mode = c.mode;
        const TSeamOverride<TConsoleCalls> inUse(ConsoleCalls, console);
        {
            const TStderrTerminal probe;
            const TTerminal& terminal = probe.Terminal();
            EXPECT_EQ(terminal.Progress, c.progress) << c.what;
            EXPECT_EQ(terminal.Cursor != nullptr, c.moved) << c.what;
            if (c.progress) {
                EXPECT_EQ(terminal.Columns, 120u) << c.what;
                EXPECT_EQ(terminal.Rows, 30u) << c.what;
            }
            EXPECT_EQ(console.Mode, c.during) << c.what;
        }
        EXPECT_EQ(console.Mode, c.after) << c.what;
    }
}

TEST(ConsoleProgress, TheCursorGoesBackOverTheBlock) {
    TFakeConsole console;
    console.TakesSequences = false;
    const TSeamOverride<TConsoleCalls> inUse(ConsoleCalls, console);
    const TStderrTerminal probe;
    ASSERT_NE(probe.Terminal().Cursor, nullptr);
    probe.Terminal().Cursor->Up(3);
    console.CursorLine = 2; // near the top of the buffer: no further than its first line
    probe.Terminal().Cursor->Up(3);
    probe.Terminal().Cursor->Up(0);
    ASSERT_EQ(console.Moves.size(), 2u);
    EXPECT_EQ(console.Moves[0].X, 0);
    EXPECT_EQ(console.Moves[0].Y, 497);
    EXPECT_EQ(console.Moves[1].X, 0);
    EXPECT_EQ(console.Moves[1].Y, 0);
}

} // namespace
