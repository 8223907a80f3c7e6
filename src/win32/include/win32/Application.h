// The application of the Win32 window: its title, the system's message boxes, the one place
// where a failure that no handler caught is shown, and the message loop.
#pragma once

#include "run/MessageBoxes.h"

#include <windows.h>

#include <exception>
#include <string>
#include <utility>

// The system's message boxes, owned by the main window while it is shown (so that it takes no
// input while a box is open), and kept above every other window as the main window is.
class TWin32MessageBoxes : public TMessageBoxes {
public:
    void Show(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& caption, const std::string& text) override;
};

namespace Application {

// The executable's name by the title rule: "zeb40-upgrade" for zeb40-upgrade.exe.
const std::string& Title();

// The plain message box with the title as its caption.
void MessageBox(const std::string& text);

// The one failure handler: shows the failure in the error box with the title as its caption.
// Never throws.
void ShowException(const std::exception_ptr& failure) noexcept;

// Dispatches the thread's messages, with the keyboard interface of a dialog (tab order,
// accelerators, the focused button pressed by Return or Space) for the main window, until the
// application is asked to quit.
void Run(HWND mainWindow);

// Makes the common controls (status bar, hint) usable.
void InitControls();

} // namespace Application

// Runs a handler that a window procedure calls; a failure that escapes it is shown by the failure
// handler and goes no further, and the message loop goes on. No failure may pass through the
// system's dispatch of a message.
template <class F>
void Guarded(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (...) {
        Application::ShowException(std::current_exception());
    }
}
