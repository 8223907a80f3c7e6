#include "app/Application.h"

#include "base/Exception.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace {

TApplication* Running = nullptr;

void ShowBox(QMessageBox::Icon icon, const std::string& caption, const std::string& text) {
    QMessageBox box(icon, ToQString(caption), ToQString(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setTextFormat(Qt::PlainText);
    // Placed in the middle of the screen, not over the window.
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = box.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        box.move(frame.topLeft());
    }
    box.exec();
}

} // namespace

void TQtMessageBoxes::Show(const std::string& caption, const std::string& text) {
    ShowBox(QMessageBox::NoIcon, caption, text);
}

void TQtMessageBoxes::ShowError(const std::string& caption, const std::string& text) {
    ShowBox(QMessageBox::Critical, caption, text);
}

std::string TitleFromExecutable(std::string_view executablePath) {
    const size_t slash = executablePath.find_last_of('/');
    std::string_view name =
        slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    std::string title(name);
    for (size_t i = 1; i < title.size(); ++i) {
        if (title[i] >= 'A' && title[i] <= 'Z') {
            title[i] = static_cast<char>(title[i] - 'A' + 'a');
        }
    }
    return title;
}

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

std::string FailureMessage(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unexpected failure";
    }
}

QString ToQString(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    Running = this;
    // The main window's close ends the program (TForm1); a message box closing while the window
    // is hidden must not.
    setQuitOnLastWindowClosed(false);
    std::string executable = FromQString(applicationFilePath());
    if (executable.empty() && argc > 0) {
        executable = argv[0];
    }
    FTitle = TitleFromExecutable(executable);
}

TApplication::~TApplication() {
    if (Running == this) {
        Running = nullptr;
    }
}

TApplication* TApplication::Instance() {
    return Running;
}

void TApplication::SetMessageBoxes(TMessageBoxes* boxes) {
    FMessageBoxes = boxes != nullptr ? boxes : &FQtBoxes;
}

void TApplication::MessageBox(const std::string& text) {
    FMessageBoxes->Show(FTitle, text);
}

void TApplication::ShowException(const std::exception_ptr& failure) noexcept {
    try {
        FMessageBoxes->ShowError(FTitle, ErrorBoxText(FailureMessage(failure)));
    } catch (...) {
        // Nothing is left to tell the user with; the loop goes on.
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

void ShowFailure(const std::exception_ptr& failure) noexcept {
    if (TApplication* app = TApplication::Instance()) {
        app->ShowException(failure);
    }
}
