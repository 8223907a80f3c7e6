#include "win32/Application.h"

#include "win32/Main.h"

#include <commctrl.h>

#include <vector>

namespace {

// The main window while it is shown: the owner of the boxes.
HWND BoxOwner() {
    if (Form1 != nullptr && ::IsWindowVisible(Form1->Handle())) {
        return Form1->Handle();
    }
    return nullptr;
}

void ShowBox(UINT icon, const std::string& caption, const std::string& text) {
    ::MessageBoxA(BoxOwner(), text.c_str(), caption.c_str(), MB_OK | MB_TOPMOST | icon);
}

TMessageBoxes& SystemBoxes() {
    static TWin32MessageBoxes boxes;
    return boxes;
}

std::string ExecutablePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

TSeam<TMessageBoxes> MessageBoxes(&SystemBoxes);

void TWin32MessageBoxes::Show(const std::string& caption, const std::string& text) {
    ShowBox(0, caption, text);
}

void TWin32MessageBoxes::ShowError(const std::string& caption, const std::string& text) {
    ShowBox(MB_ICONERROR, caption, text);
}

namespace Application {

const std::string& Title() {
    static const std::string title = TitleFromExecutable(ExecutablePath());
    return title;
}

void MessageBox(const std::string& text) {
    MessageBoxes().Show(Title(), text);
}

void ShowException(const std::exception_ptr& failure) noexcept {
    ShowFailureBox(MessageBoxes(), Title(), failure);
}

void Run(HWND mainWindow) {
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (mainWindow != nullptr && ::IsDialogMessageA(mainWindow, &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

void InitControls() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
}

} // namespace Application
