// Standard error on Windows: a console, probed and moved by the console calls.
#include "ConsoleWin32.h"
#include "FlashTerminal.h"

#include <algorithm>

namespace {

class TSystemConsoleCalls : public TConsoleCalls {
public:
    HANDLE StandardError() override { return ::GetStdHandle(STD_ERROR_HANDLE); }
    bool GetMode(HANDLE console, DWORD& mode) override {
        return ::GetConsoleMode(console, &mode) != 0;
    }
    bool SetMode(HANDLE console, DWORD mode) override {
        return ::SetConsoleMode(console, mode) != 0;
    }
    bool ScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO& info) override {
        return ::GetConsoleScreenBufferInfo(console, &info) != 0;
    }
    bool SetCursorPosition(HANDLE console, COORD position) override {
        return ::SetConsoleCursorPosition(console, position) != 0;
    }
};

TConsoleCalls& SystemConsoleCalls() {
    static TSystemConsoleCalls calls;
    return calls;
}

// The cursor of a console without virtual terminal processing.
class TCalledCursor : public TConsoleCursor {
public:
    explicit TCalledCursor(HANDLE console) : FConsole(console) {}
    void Up(size_t lines) override {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (lines == 0 || !ConsoleCalls().ScreenBufferInfo(FConsole, info)) {
            return;
        }
        // The lines drawn last stand right above the cursor, however far the buffer scrolled.
        const auto up =
            static_cast<SHORT>(std::min<size_t>(lines, size_t(info.dwCursorPosition.Y)));
        ConsoleCalls().SetCursorPosition(
            FConsole, COORD{0, static_cast<SHORT>(info.dwCursorPosition.Y - up)});
    }

private:
    HANDLE FConsole;
};

} // namespace

TSeam<TConsoleCalls> ConsoleCalls(&SystemConsoleCalls);

TStderrTerminal::TStderrTerminal() {
    TConsoleCalls& calls = ConsoleCalls();
    HANDLE console = calls.StandardError();
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == nullptr || console == INVALID_HANDLE_VALUE || !calls.GetMode(console, mode) ||
        !calls.ScreenBufferInfo(console, info) || info.dwSize.X <= 0) {
        return;
    }
    FTerminal.Progress = true;
    FTerminal.Columns = size_t(info.dwSize.X);
    FTerminal.Rows = size_t(std::max(info.srWindow.Bottom - info.srWindow.Top + 1, 1));
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return;
    }
    // Consoles before Windows 10 refuse the mode.
    if (calls.SetMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        FRestoreMode = true;
        FMode = mode;
        return;
    }
    FCursor = std::make_unique<TCalledCursor>(console);
    FTerminal.Cursor = FCursor.get();
}

TStderrTerminal::~TStderrTerminal() {
    // The console is the one of the shell that started us, which may not expect the mode.
    if (FRestoreMode) {
        ConsoleCalls().SetMode(ConsoleCalls().StandardError(), FMode);
    }
}
