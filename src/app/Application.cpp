#include "app/Application.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

namespace {

TApplication* Running = nullptr;

// A message box placed in the middle of the screen, not over the window. Its size is known only
// once it is shown, so it is placed then.
class TCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
};

void ShowBox(QMessageBox::Icon icon, const std::string& caption, const std::string& text) {
    TCentredBox box(icon, ToQString(caption), ToQString(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void TQtMessageBoxes::Show(const std::string& caption, const std::string& text) {
    ShowBox(QMessageBox::NoIcon, caption, text);
}

void TQtMessageBoxes::ShowError(const std::string& caption, const std::string& text) {
    ShowBox(QMessageBox::Critical, caption, text);
}

namespace {

TMessageBoxes& QtBoxes() {
    static TQtMessageBoxes boxes;
    return boxes;
}

} // namespace

TSeam<TMessageBoxes> MessageBoxes(&QtBoxes);

namespace {

// The length of the valid UTF-8 sequence that starts at text[at], or 0 when none does: a byte
// that starts no sequence, a sequence cut short, an overlong form, a surrogate or a value past
// U+10FFFF.
size_t Utf8SequenceAt(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    uint32_t value = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
        return 0;
    }
    return length;
}

// The properties of an edit box that SetTextBytes fills.
constexpr const char* BytesProperty = "zeb40Bytes";
constexpr const char* ShownProperty = "zeb40Shown";

} // namespace

QString ToQString(const std::string& text) {
    QString shown;
    shown.reserve(static_cast<qsizetype>(text.size()));
    size_t run = 0; // the start of the valid UTF-8 not yet taken
    size_t at = 0;
    const auto takeRun = [&] {
        shown += QString::fromUtf8(text.data() + run, static_cast<qsizetype>(at - run));
    };
    while (at < text.size()) {
        const size_t length = Utf8SequenceAt(text, at);
        if (length > 0) {
            at += length;
            continue;
        }
        takeRun();
        shown += QChar(static_cast<unsigned char>(text[at]));
        run = ++at;
    }
    takeRun();
    return shown;
}

std::string FromQString(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

void SetTextBytes(QLineEdit* edit, const std::string& bytes) {
    const QString shown = ToQString(bytes);
    edit->setText(shown);
    edit->setProperty(BytesProperty,
                      QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    edit->setProperty(ShownProperty, shown);
}

std::string TextBytes(const QLineEdit* edit) {
    const QString text = edit->text();
    const QVariant shown = edit->property(ShownProperty);
    if (shown.isValid() && shown.toString() == text) {
        return edit->property(BytesProperty).toByteArray().toStdString();
    }
    return FromQString(text);
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

void TApplication::MessageBox(const std::string& text) {
    MessageBoxes().Show(FTitle, text);
}

void TApplication::ShowException(const std::exception_ptr& failure) noexcept {
    ShowFailureBox(MessageBoxes(), FTitle, failure);
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
