#include "win32/Startup.h"

#include "win32/Application.h"
#include "win32/Main.h"

#include <memory>

namespace {

bool WriteAll(HANDLE out, const std::string& text) {
    DWORD written = 0;
    return out != nullptr && out != INVALID_HANDLE_VALUE &&
           ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

} // namespace

int RunMain() {
    std::unique_ptr<TForm1> form;
    try {
        Application::InitControls();
        form = std::make_unique<TForm1>();
        form->ShowAtStart();
    } catch (...) {
        Application::ShowException(std::current_exception());
        return 0;
    }
    Application::Run(form->Handle());
    return 0;
}

void TellVersion(const std::string& line) {
    const std::string text = line + "\r\n";
    if (WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), text)) {
        return;
    }
    // A program of the window subsystem gets no console of its own; the Command Prompt it was
    // started from lends its console. Its prompt may already stand there: the line follows it.
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        HANDLE console = ::CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
        const bool told = WriteAll(console, text);
        if (console != INVALID_HANDLE_VALUE) {
            ::CloseHandle(console);
        }
        ::FreeConsole();
        if (told) {
            return;
        }
    }
    ::MessageBoxA(nullptr, line.c_str(), Application::Title().c_str(), MB_OK | MB_TOPMOST);
}
