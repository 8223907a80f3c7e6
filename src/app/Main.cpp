#include "app/Main.h"

#include "app/Application.h"
#include "app/Icon.h"
#include "settings/IniText.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFontDatabase>
#include <QMimeData>
#include <QShowEvent>
#include <QUrl>

#include <algorithm>

TForm1* Form1 = nullptr;

namespace {

template <class T>
T* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new T(parent);
    widget->setObjectName(name);
    widget->setGeometry(left, top, width, height);
    return widget;
}

// The captions sized to their text in their own font, as the toolkit measures it, and ending
// together where the layout ends them, 8 pixels before their boxes. When the widest needs more
// room than there is left of that edge (keeping 2 pixels from the window's edge), they all end
// further right, into the gap before the boxes, as far as needed and never into the boxes.
void FitCaptions(std::initializer_list<QLabel*> captions, int layoutEnd, int boxesLeft) {
    constexpr int EdgeMargin = 2;
    int widest = 0;
    for (QLabel* caption : captions) {
        widest = std::max(widest, caption->sizeHint().width());
    }
    const int end = std::clamp(widest + EdgeMargin, layoutEnd, boxesLeft);
    for (QLabel* caption : captions) {
        const QSize natural = caption->sizeHint();
        caption->setGeometry(std::max(0, end - natural.width()), caption->y(), natural.width(),
                             natural.height());
    }
}

// The local path a drag carries, or an empty text when it carries no local file first.
QString DroppedPath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) {
        return {};
    }
    return urls.front().toLocalFile();
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setObjectName("Form1");
    setWindowTitle("Corvane ZEB40 Upgrade Tools");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setFixedSize(176, 148);
    move(239, 191);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    setFont(font);
    setWindowIcon(ToolIcon());

    Label1 = Make<QLabel>(this, "Label1", 40, 10, 16, 13);
    Label1->setText("IP :");
    cgPross = Make<TCGauge>(this, "cgPross", 0, 104, 175, 17);
    cgPross->SetForeColor(QColor(0, 0, 128));
    Label2 = Make<QLabel>(this, "Label2", 8, 40, 48, 13);
    Label2->setText("Firmware :");
    edIP = Make<QLineEdit>(this, "edIP", 64, 7, 105, 21);
    edIP->setToolTip("Please input ZEB40 IP Address.");
    edIP->setAcceptDrops(false);
    edFilename = Make<QLineEdit>(this, "edFilename", 64, 40, 105, 21);
    edFilename->setEnabled(false);
    edFilename->setAcceptDrops(false);
    FitCaptions({Label1, Label2}, 40 + 16, edIP->x());
    bt1 = Make<QPushButton>(this, "bt1", 64, 72, 75, 25);
    bt1->setText("&Upgrade");
    sb1 = Make<TStatusLine>(this, "sb1", 0, 129, 176, 19);
    sb1->setSizeGripEnabled(false);
    ppExit = new QMenu(this);
    ppExit->setObjectName("ppExit");
    Exit1 = ppExit->addAction("Exit");
    Exit1->setObjectName("Exit1");

    setTabOrder(bt1, edIP);
    setTabOrder(edIP, edFilename);
    bt1->setFocus();

    // The platform's close key; most window managers take it themselves and send a close.
    FCloseKey = new QAction(this);
    FCloseKey->setObjectName("CloseKey");
    FCloseKey->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    FCloseKey->setShortcutContext(Qt::WindowShortcut);
    addAction(FCloseKey);

    connect(bt1, &QPushButton::clicked, this, [this] { Guarded([this] { bt1Click(this); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Guarded([this] { Exit1Click(this); }); });
    connect(FCloseKey, &QAction::triggered, this, [this] { Guarded([this] { close(); }); });

    TApplication* application = TApplication::Instance();
    Created(SystemRunServices(application != nullptr ? application->Title() : std::string()));
}

TForm1::~TForm1() {
    Destroying();
}

void TForm1::FormCreate(TObject* /*Sender*/) {
    setAcceptDrops(true);
    FDropHook = new TDropHook(this);
    installEventFilter(FDropHook);
}

void TForm1::FormDestroy(TObject* /*Sender*/) {
    if (FDropHook != nullptr) {
        removeEventFilter(FDropHook);
        delete FDropHook;
        FDropHook = nullptr;
    }
}

void TForm1::Exit1Click(TObject* /*Sender*/) {
    close();
}

bool TForm1::FileDropped(const QString& path) {
    if (path.isEmpty() || IniText::HoldsLineBreak(FromQString(path))) {
        return false;
    }
    QString cut = path;
    if (cut.size() > MaxDroppedPath) {
        cut.truncate(MaxDroppedPath);
        // A character outside the basic plane takes two units; never keep half of one.
        if (cut.back().isHighSurrogate()) {
            cut.chop(1);
        }
    }
    SetTextBytes(edFilename, FromQString(cut));
    return true;
}

void TForm1::SetStatusText(const std::string& text, TStatusPace pace) {
    if (pace == TStatusPace::WhenDue) {
        sb1->SetText(ToQString(text));
        sb1->PaintWhenDue();
        FCountInStatus = true;
        return;
    }
    if (FCountInStatus) {
        // The last count reaches the screen before it is replaced.
        sb1->PaintNow();
        FCountInStatus = false;
    }
    sb1->SetText(ToQString(text));
    sb1->PaintNow();
}

void TForm1::CloseWindow() {
    close();
}

std::string TForm1::StatusText() const {
    return FromQString(sb1->Text());
}

void TForm1::ShowAtStart() {
    FStarting = true;
    show();
    FStarting = false;
    if (FStartFailure) {
        std::exception_ptr failure = std::exchange(FStartFailure, nullptr);
        std::rethrow_exception(failure);
    }
}

void TForm1::RunFormShow() {
    if (FStarting) {
        try {
            FormShow(this);
        } catch (...) {
            FStartFailure = std::current_exception();
        }
    } else {
        Guarded([this] { FormShow(this); });
    }
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!FShown) {
        FShown = true;
        RunFormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!MayClose()) {
        event->ignore();
        return;
    }
    event->accept();
    if (IsMainWindow()) {
        // The quit takes effect when control is back in the event loop.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    }
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
    // Reached for a right-click on the window itself and on every control that has no menu of
    // its own; the edit boxes keep their editing menu.
    Guarded([this, event] {
        ppExit->popup(event->globalPos());
        event->accept();
    });
}

bool TDropHook::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FForm) {
        Guarded([this, event] {
            switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!DroppedPath(drag->mimeData()).isEmpty()) {
                    // Only ever a copy: a move would have the drag's source delete the file.
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                const QString path = DroppedPath(drop->mimeData());
                if (FForm->FileDropped(path)) {
                    drop->setDropAction(Qt::CopyAction);
                    drop->accept();
                }
                break;
            }
            default:
                break;
            }
        });
    }
    // Every event goes on to the window's own handling.
    return false;
}
