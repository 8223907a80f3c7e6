// The application object of the Qt window: its title, its message boxes and the one place where a
// failure that no handler caught is shown to the user.
#pragma once

#include "run/MessageBoxes.h"

#include <QApplication>

#include <exception>
#include <string>
#include <string_view>
#include <utility>

class QLineEdit;

// The toolkit's own message boxes. They stay on top like the main window, so they are never
// hidden behind it.
class TQtMessageBoxes : public TMessageBoxes {
public:
    void Show(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& caption, const std::string& text) override;
};

// Text of the program (8-bit, the system's encoding, UTF-8) and of the toolkit. ToQString shows
// every byte as well as it can: valid UTF-8 as such, and a byte that is no part of a valid
// sequence (a Latin-1 or code-page byte written on another system) as the Latin-1 character of
// that value, which is what it most likely meant. So FromQString need not give back the bytes of
// such a text; where they matter they are kept beside it (SetTextBytes).
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// An edit box that holds a value of the program: it shows the bytes as ToQString does, and
// TextBytes gives back exactly these bytes for as long as the box's text is the one shown, so a
// value the user did not replace is used and stored unchanged.
void SetTextBytes(QLineEdit* edit, const std::string& bytes);
// The value of the box: the bytes last set while its text is still the one they showed, else
// its text in the system's encoding.
std::string TextBytes(const QLineEdit* edit);

class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The running application, or nullptr.
    static TApplication* Instance();

    const std::string& Title() const { return FTitle; }
    void SetTitle(std::string title) { FTitle = std::move(title); }

    // The plain message box with the title as its caption.
    void MessageBox(const std::string& text);

    // The one failure handler: shows the failure in the error box with the title as its
    // caption. Never throws.
    void ShowException(const std::exception_ptr& failure) noexcept;

    // Last line of defence for a handler that let a failure out: shown, and the event counts as
    // not handled. Every handler of the program catches its own failures (Guarded), because a
    // failure must not pass through the toolkit's event dispatch.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    std::string FTitle;
};

// Runs a handler that the toolkit calls; a failure that escapes it is shown by the application's
// failure handler and goes no further, and the event loop goes on.
void ShowFailure(const std::exception_ptr& failure) noexcept;

template <class F>
void Guarded(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (...) {
        ShowFailure(std::current_exception());
    }
}
