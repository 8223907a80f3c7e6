#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"

#include "RecordingBoxes.h"
#include "Scratch.h"
#include "settings/FaultyCalls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A window made and shown in a scratch folder of its own, as the program does at start.
class Window : public testing::Test {
protected:
    Window() : FIn(Scratch.Path()) {}
    ~Window() override {
        Form.reset();
        QCoreApplication::processEvents();
    }

    // Writes the settings file of the scratch folder.
    void Settings(const std::string& text) { WriteFileText(Scratch / "DORVEX.ini", text); }

    TForm1& Show() {
        Form = std::make_unique<TForm1>();
        Form->show();
        return *Form;
    }

    std::string SettingsText() const { return ReadFileText(Scratch / "DORVEX.ini"); }

    TScratch Scratch;
    TRecordingBoxes Boxes;
    std::unique_ptr<TForm1> Form;

private:
    TInFolder FIn;
};

TEST_F(Window, EveryControlStandsWhereTheLayoutPutsIt) {
    TForm1& form = Show();
    // A caption's size is its text's in the window's font (the screen tests look at its
    // pixels): here only its place, on its row and clear of its box.
    const struct {
        const char* Name;
        const char* Class;
        QRect Geometry; // a caption: its top and the left of its box
        const char* Text;
    } layout[] = {
        {"Label1", "QLabel", {64, 10, 0, 0}, "IP :"},
        {"cgPross", "TCGauge", {0, 104, 175, 17}, nullptr},
        {"Label2", "QLabel", {64, 40, 0, 0}, "Firmware :"},
        {"edIP", "QLineEdit", {64, 7, 105, 21}, "192.168.1.100"},
        {"edFilename", "QLineEdit", {64, 40, 105, 21}, ""},
        {"bt1", "QPushButton", {64, 72, 75, 25}, "&Upgrade"},
        {"sb1", "TStatusLine", {0, 129, 176, 19}, nullptr},
    };
    for (const auto& c : layout) {
        auto* widget = form.findChild<QWidget*>(c.Name);
        ASSERT_NE(widget, nullptr) << c.Name;
        EXPECT_STREQ(widget->metaObject()->className(), c.Class) << c.Name;
        if (c.Geometry.isEmpty()) {
            EXPECT_EQ(widget->y(), c.Geometry.y()) << c.Name;
            EXPECT_GE(widget->x(), 0) << c.Name;
            EXPECT_LE(widget->x() + widget->width(), c.Geometry.x()) << c.Name;
        } else {
            EXPECT_EQ(widget->geometry(), c.Geometry) << c.Name;
        }
        EXPECT_EQ(widget->font().pointSize(), 8) << c.Name;
        if (c.Text == nullptr) {
            continue;
        }
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            text = edit->text();
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
        }
        EXPECT_EQ(text.toStdString(), c.Text) << c.Name;
    }
    EXPECT_EQ(form.edIP->toolTip(), "Please input ZEB40 IP Address.");
    EXPECT_TRUE(form.edIP->isEnabled());
    EXPECT_FALSE(form.edFilename->isEnabled());
    EXPECT_EQ(form.cgPross->ForeColor(), QColor(0, 0, 128));
    EXPECT_EQ(form.cgPross->Progress(), 0);
    EXPECT_FALSE(form.sb1->isSizeGripEnabled());
    EXPECT_EQ(form.StatusText(), "");
    ASSERT_EQ(form.ppExit->actions().size(), 1);
    EXPECT_EQ(form.ppExit->actions().front(), form.Exit1);
    EXPECT_EQ(form.Exit1->text(), "Exit");
    EXPECT_EQ(form.Exit1->objectName(), "Exit1");
    EXPECT_EQ(form.ppExit->objectName(), "ppExit");
}

TEST_F(Window, IsAFixedDialogFrameOnTopAtItsStoredPlace) {
    TForm1& form = Show();
    EXPECT_EQ(form.windowTitle(), "Corvane ZEB40 Upgrade Tools");
    EXPECT_EQ(form.pos(), QPoint(239, 191));
    EXPECT_EQ(form.size(), QSize(176, 148));
    EXPECT_EQ(form.minimumSize(), QSize(176, 148));
    EXPECT_EQ(form.maximumSize(), QSize(176, 148));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
    EXPECT_EQ(form.font().pointSize(), 8);
    const QList<QSize> sizes = form.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_EQ(Form1, &form);
}

TEST_F(Window, FocusStartsOnTheButtonAndTabSkipsTheDisabledBox) {
    TForm1& form = Show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 2000));
    EXPECT_EQ(QApplication::focusWidget(), form.bt1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.edIP);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.bt1) << "the disabled box is skipped";
    form.edFilename->setEnabled(true);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.edFilename);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.edIP);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.bt1);
    form.edFilename->setEnabled(false);

    QSignalSpy clicks(form.bt1, &QPushButton::clicked);
    QTest::keyClick(&form, Qt::Key_U, Qt::AltModifier);
    // The accelerator shows the button pressed for a moment before it clicks.
    for (int waited = 0; clicks.count() == 0 && waited < 1000; waited += 20) {
        QTest::qWait(20);
    }
    EXPECT_EQ(clicks.count(), 1) << "Alt+U presses the button";
    // The run of that press found no file (the path is " ") and left the button disabled.
    EXPECT_FALSE(form.bt1->isEnabled());
    form.bt1->setEnabled(true);
    form.bt1->setFocus();
    QTest::keyClick(form.bt1, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 2) << "the focused button takes the first key press";
    EXPECT_TRUE(form.isVisible());
}

// The menu a right-click at the middle of the widget opens, closed again.
QWidget* MenuOnRightClick(QWidget* widget) {
    const QPoint at = widget->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    QWidget* popup = QApplication::activePopupWidget();
    if (popup != nullptr) {
        popup->close();
    }
    QCoreApplication::processEvents();
    return popup;
}

TEST_F(Window, ARightClickOpensExitEverywhereButInAnEditBox) {
    TForm1& form = Show();
    for (QWidget* widget : std::initializer_list<QWidget*>{&form, form.Label1, form.Label2,
                                                           form.bt1, form.cgPross, form.sb1}) {
        EXPECT_EQ(MenuOnRightClick(widget), form.ppExit) << widget->objectName().toStdString();
    }
    form.edFilename->setEnabled(true);
    for (QWidget* widget : std::initializer_list<QWidget*>{form.edIP, form.edFilename}) {
        QWidget* menu = MenuOnRightClick(widget);
        EXPECT_NE(menu, nullptr) << widget->objectName().toStdString();
        EXPECT_NE(menu, form.ppExit) << widget->objectName().toStdString();
    }
}

// Drags the URLs over the window and drops them; true when the window took the drop.
bool DropOn(TForm1& form, const QList<QUrl>& urls, Qt::DropActions actions = Qt::CopyAction) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at(100, 80);
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    EXPECT_EQ(drop.dropAction(), drop.isAccepted() ? Qt::CopyAction : drop.dropAction());
    return drop.isAccepted();
}

QUrl File(const QString& path) {
    return QUrl::fromLocalFile(path);
}

TEST_F(Window, ADropPutsTheFirstFilesPathIntoTheDisabledBox) {
    TForm1& form = Show();
    fs::create_directory(Scratch / "folder");
    const QString folder = QString::fromStdString(Scratch / "folder");
    const QString long300 = "/" + QString(299, 'p');
    const QString at258 = "/" + QString(257, 'q');
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const struct {
        const char* Name;
        QList<QUrl> Urls;
        Qt::DropActions Actions;
        bool Taken;
        QString Expected; // the box's text afterwards
    } cases[] = {
        {"three files",
         {File("/fw/a.bin"), File("/fw/b.bin"), File("/fw/c.bin")},
         Qt::CopyAction,
         true,
         "/fw/a.bin"},
        {"missing file, no test",
         {File("/no/such/file.img")},
         Qt::CopyAction,
         true,
         "/no/such/file.img"},
        {"a folder", {File(folder)}, Qt::CopyAction, true, folder},
        {"300 characters", {File(long300)}, Qt::CopyAction, true, long300.left(259)},
        {"259 characters", {File(long300.left(259))}, Qt::CopyAction, true, long300.left(259)},
        {"a pair cut at the limit", {File(at258 + emoji + "x")}, Qt::CopyAction, true, at258},
        {"blanks kept", {File("/fw/a b .bin")}, Qt::CopyAction, true, "/fw/a b .bin"},
        {"offered as a move, taken as a copy",
         {File("/fw/moved.bin")},
         Qt::MoveAction | Qt::CopyAction,
         true,
         "/fw/moved.bin"},
        {"a line feed", {File("/fw/x\nIP=6.6.6.6")}, Qt::CopyAction, false, "/fw/moved.bin"},
        {"a carriage return", {File("/fw/x\r")}, Qt::CopyAction, false, "/fw/moved.bin"},
        {"a web address",
         {QUrl("http://example.invalid/fw.bin")},
         Qt::CopyAction,
         false,
         "/fw/moved.bin"},
        {"a web address first",
         {QUrl("http://example.invalid/a"), File("/fw/b.bin")},
         Qt::CopyAction,
         false,
         "/fw/moved.bin"},
        {"no address at all", {}, Qt::CopyAction, false, "/fw/moved.bin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DropOn(form, c.Urls, c.Actions), c.Taken) << c.Name;
        EXPECT_EQ(form.edFilename->text(), c.Expected) << c.Name;
        EXPECT_FALSE(form.edFilename->isEnabled()) << c.Name;
    }
    EXPECT_TRUE(form.acceptDrops());
    EXPECT_FALSE(form.edIP->acceptDrops());
    EXPECT_FALSE(form.edFilename->acceptDrops());
}

TEST_F(Window, AfterFormDestroyTheHookIsGone) {
    TForm1& form = Show();
    form.FormDestroy(&form);
    DropOn(form, {File("/fw/a.bin")});
    EXPECT_EQ(form.edFilename->text(), "");
}

TEST_F(Window, ShowingReadsTheSettings) {
    const struct {
        const char* Name;
        const char* File; // nullptr: none
        const char* Ip;
        const char* Path;
        int32_t Enable;
        bool EditsLocked;
    } cases[] = {
        {"no file", nullptr, "192.168.1.100", "", 1, false},
        {"values", "[Data]\nIP=10.0.0.7\nPath=/fw/a.bin\n", "10.0.0.7", "/fw/a.bin", 1, false},
        {"other letter case", "[DATA]\nip=10.0.0.8\nPATH=/b\n", "10.0.0.8", "/b", 1, false},
        {"present and empty", "[Data]\nIP=\nPath=\n", "", "", 1, false},
        {"locked", "[Debug]\nEnableWrite=0\n", "192.168.1.100", "", 0, true},
        {"locked by 0x0", "[Debug]\nEnableWrite=0x0\n", "192.168.1.100", "", 0, true},
        {"locked by $0", "[Debug]\nEnableWrite=$0\n", "192.168.1.100", "", 0, true},
        {"locked by blank 0", "[Debug]\nEnableWrite= 0\n", "192.168.1.100", "", 0, true},
        {"0 and more text", "[Debug]\nEnableWrite=0 x\n", "192.168.1.100", "", 1, false},
        {"minus five", "[Debug]\nEnableWrite=-5\n", "192.168.1.100", "", -5, false},
        {"minus hex", "[Debug]\nEnableWrite=-$5\n", "192.168.1.100", "", 1, false},
    };
    for (const auto& c : cases) {
        fs::remove(Scratch / "DORVEX.ini");
        if (c.File != nullptr) {
            Settings(c.File);
        }
        WriteEnabled = 77;
        TForm1& form = Show();
        EXPECT_EQ(form.edIP->text().toStdString(), c.Ip) << c.Name;
        EXPECT_EQ(form.edFilename->text().toStdString(), c.Path) << c.Name;
        EXPECT_EQ(WriteEnabled, c.Enable) << c.Name;
        EXPECT_EQ(form.edIP->isEnabled(), !c.EditsLocked) << c.Name;
        EXPECT_FALSE(form.edFilename->isEnabled()) << c.Name;
        EXPECT_TRUE(form.bt1->isEnabled()) << c.Name;
        form.hide();
        form.show();
        EXPECT_EQ(WriteEnabled, c.Enable) << "read once only: " << c.Name;
    }
}

TEST_F(Window, EveryRouteOfClosingWritesTheSettings) {
    const struct {
        const char* Name;
        void (*Close)(TForm1&);
    } routes[] = {
        {"Exit in the menu", [](TForm1& f) { f.Exit1->trigger(); }},
        {"the close key", [](TForm1& f) { f.CloseKey()->trigger(); }},
        {"close()", [](TForm1& f) { f.close(); }},
        {"the close box",
         [](TForm1& f) {
             QCloseEvent event;
             QApplication::sendEvent(&f, &event);
             EXPECT_TRUE(event.isAccepted());
             f.hide();
         }},
    };
    for (const auto& route : routes) {
        fs::remove(Scratch / "DORVEX.ini");
        TForm1& form = Show();
        route.Close(form);
        EXPECT_FALSE(form.isVisible()) << route.Name;
        EXPECT_EQ(SettingsText(), "[Data]\nIP=192.168.1.100\nPath=\n") << route.Name;
    }
    EXPECT_EQ(Form->CloseKey()->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(Window, ALockedWindowStillTakesADropAndWritesIt) {
    Settings("[Debug]\r\nEnableWrite=0\r\n[Data]\r\nIP=10.0.0.7\r\nPath=/old\r\n");
    TForm1& form = Show();
    EXPECT_FALSE(form.edIP->isEnabled());
    EXPECT_TRUE(DropOn(form, {File("/fw/new.bin")}));
    EXPECT_TRUE(form.close());
    EXPECT_EQ(SettingsText(),
              "[Debug]\r\nEnableWrite=0\r\n[Data]\r\nIP=10.0.0.7\r\nPath=/fw/new.bin\r\n");
}

// Everything in a folder, entry by entry: its kind, permissions, owner and group, then its bytes
// or its link's target.
using TSnapshot = std::map<std::string, std::pair<std::string, std::string>>;

TSnapshot Snapshot(const std::string& folder) {
    TSnapshot entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().string();
        struct stat st {};
        ::lstat(name.c_str(), &st);
        std::ostringstream attributes;
        attributes << std::oct << (st.st_mode & 0177777) << std::dec << ' ' << st.st_uid << ':'
                   << st.st_gid;
        std::string content;
        if (S_ISLNK(st.st_mode)) {
            content = "-> " + fs::read_symlink(entry.path()).string();
        } else if (S_ISREG(st.st_mode)) {
            content = ReadFileText(name);
        }
        entries[name.substr(folder.size())] = {attributes.str(), content};
    }
    return entries;
}

// Root passes every permission check, so as root the close runs with the file credentials of an
// ordinary user (the nobody account owning the scratch folder): the file system then refuses the
// writer what it would refuse a technician. Only the calling thread's credentials change.
class TOrdinaryUser {
public:
    static constexpr uid_t User = 65534;
    static constexpr gid_t Group = 65534;
    static bool Needed() { return ::geteuid() == 0; }
    // Gives the folder and everything in it to the user.
    static void Own(const std::string& folder) {
        ::lchown(folder.c_str(), User, Group);
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            ::lchown(entry.path().c_str(), User, Group);
        }
    }
    TOrdinaryUser() {
        if (Needed()) {
            ::setfsgid(Group);
            ::setfsuid(User);
        }
    }
    ~TOrdinaryUser() {
        if (Needed()) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    TOrdinaryUser(const TOrdinaryUser&) = delete;
    TOrdinaryUser& operator=(const TOrdinaryUser&) = delete;
};

// Settings files as a technician's machine holds them: the window shows their values, and a close
// after the address was changed leaves exactly the bytes below, or, when the file cannot be
// written, tells so once, closes all the same and leaves every byte and every entry as it was.
TEST_F(Window, SettingsFilesRoundTripByteForByteAndEveryCloseCloses) {
    const std::string lf = "[Data]\nIP=10.0.0.1\nPath=/fw/a.bin\n";
    const std::string lf9 = "[Data]\nIP=10.0.0.9\nPath=/fw/a.bin\n";
    const QString latin1 = QString("/tmp/fw_") + QChar(0xE9) + ".bin";
    const struct {
        const char* Name;
        std::function<void()> Make; // lays out the current folder
        const char* Ip;             // shown
        QString Path;               // shown
        const char* Written;        // the entry whose bytes change, or nullptr: refused
        std::string After;          // its bytes afterwards
        bool OtherOwner = false;    // DORVEX.ini belongs to root, writable for its group
    } rows[] = {
        {"byte-order mark, CR LF",
         [] {
             WriteFileText("DORVEX.ini", "\xEF\xBB\xBF[Data]\r\nIP=10.0.0.1\r\nPath=/fw/a.bin\r\n");
         },
         "10.0.0.1", "/fw/a.bin", "/DORVEX.ini",
         "\xEF\xBB\xBF[Data]\r\nIP=10.0.0.9\r\nPath=/fw/a.bin\r\n"},
        {"LF", [&] { WriteFileText("DORVEX.ini", lf); }, "10.0.0.1", "/fw/a.bin", "/DORVEX.ini",
         lf9},
        {"CR only", [] { WriteFileText("DORVEX.ini", "[Data]\rIP=10.0.0.1\rPath=/fw/a.bin\r"); },
         "10.0.0.1", "/fw/a.bin", "/DORVEX.ini", "[Data]\rIP=10.0.0.9\rPath=/fw/a.bin\r"},
        {"mixed, a key added",
         [] {
             WriteFileText("DORVEX.ini",
                           "[Debug]\rEnableWrite=1\r\n[Data]\nIP=10.0.0.1\r\n\r[Other]\rX=1");
         },
         "10.0.0.1", "", "/DORVEX.ini",
         "[Debug]\rEnableWrite=1\r\n[Data]\nIP=10.0.0.9\r\nPath=\r\n\r[Other]\rX=1"},
        {"last line ending in a lone CR",
         [] { WriteFileText("DORVEX.ini", "[Data]\nIP=10.0.0.1\nPath=/tmp/x.bin\r"); }, "10.0.0.1",
         "/tmp/x.bin", "/DORVEX.ini", "[Data]\nIP=10.0.0.9\nPath=/tmp/x.bin\r"},
        {"Latin-1 path",
         [] { WriteFileText("DORVEX.ini", "[Data]\nIP=10.0.0.1\nPath=/tmp/fw_\xE9.bin\n"); },
         "10.0.0.1", latin1, "/DORVEX.ini", "[Data]\nIP=10.0.0.9\nPath=/tmp/fw_\xE9.bin\n"},
        {"read-only file",
         [&] {
             WriteFileText("DORVEX.ini", lf);
             fs::permissions("DORVEX.ini", fs::perms(0444));
         },
         "10.0.0.1", "/fw/a.bin", nullptr, ""},
        {"read-only folder, no file", [] { fs::permissions(".", fs::perms(0555)); },
         "192.168.1.100", "", nullptr, ""},
        {"read-only folder, writable file",
         [&] {
             WriteFileText("DORVEX.ini", lf);
             fs::permissions(".", fs::perms(0555));
         },
         "10.0.0.1", "/fw/a.bin", "/DORVEX.ini", lf9},
        {"a folder", [] { fs::create_directory("DORVEX.ini"); }, "192.168.1.100", "", nullptr, ""},
        {"a FIFO", [] { ::mkfifo("DORVEX.ini", 0644); }, "192.168.1.100", "", nullptr, ""},
        {"a symbolic link",
         [&] {
             fs::create_directory("real");
             WriteFileText("real/settings.ini", lf);
             fs::create_symlink("real/settings.ini", "DORVEX.ini");
         },
         "10.0.0.1", "/fw/a.bin", "/real/settings.ini", lf9},
        {"a dangling link", [] { fs::create_symlink("gone.ini", "DORVEX.ini"); }, "192.168.1.100",
         "", nullptr, ""},
        {"a link to /dev/zero", [] { fs::create_symlink("/dev/zero", "DORVEX.ini"); },
         "192.168.1.100", "", nullptr, ""},
        {"another owner's file, writable for its group",
         [&] {
             WriteFileText("DORVEX.ini", lf);
             fs::permissions("DORVEX.ini", fs::perms(0664));
         },
         "10.0.0.1", "/fw/a.bin", "/DORVEX.ini", lf9, true},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        if (row.OtherOwner && !TOrdinaryUser::Needed()) {
            continue; // a file of another owner takes root to make
        }
        const std::string folder = Scratch / ("row" + std::to_string(index++));
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms(0755));
        {
            TInFolder in(folder);
            row.Make();
        }
        if (TOrdinaryUser::Needed()) {
            TOrdinaryUser::Own(Scratch.Path());
            if (row.OtherOwner) {
                ::lchown((folder + "/DORVEX.ini").c_str(), 0, TOrdinaryUser::Group);
            }
        }
        TSnapshot expected = Snapshot(folder);
        TInFolder in(folder);
        Boxes.Shown.clear();
        TForm1& form = Show();
        EXPECT_EQ(form.edIP->text().toStdString(), row.Ip);
        EXPECT_EQ(form.edFilename->text(), row.Path);
        form.edIP->setText("10.0.0.9");
        bool closed = false;
        {
            TOrdinaryUser user;
            closed = form.close();
        }
        EXPECT_TRUE(closed);
        EXPECT_FALSE(form.isVisible());
        if (row.Written != nullptr) {
            EXPECT_TRUE(Boxes.Shown.empty());
            expected[row.Written].second = row.After;
        } else {
            EXPECT_EQ(Boxes.Shown,
                      (std::vector<TShownBox>{{true, TApplication::Instance()->Title(),
                                               "Unable to write to " + folder + "/DORVEX.ini."}}));
        }
        EXPECT_EQ(Snapshot(folder), expected);
        fs::permissions(folder, fs::perms(0755));
    }
}

TEST_F(Window, AWriteFailingMidwayLeavesTheFileAsItWasAndTheWindowCloses) {
    const std::string old = "[Data]\nIP=10.0.0.1\nPath=/fw/a.bin\n";
    Settings(old);
    TForm1& form = Show();
    form.edIP->setText("10.0.0.2");
    form.edFilename->setText("/fw/b.bin");
    TFaultyCalls calls;
    calls.FullDisk = true;
    EXPECT_TRUE(form.close());
    EXPECT_EQ(SettingsText(), old) << "neither value was written";
    EXPECT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(Scratch.Path()), fs::directory_iterator()), 1);
}

TEST_F(Window, TheSettingsOfTheCurrentDirectoryAtEachMomentAreUsed) {
    Settings("[Data]\nIP=10.0.0.1\n");
    TForm1& form = Show();
    fs::create_directory(Scratch / "other");
    TInFolder other(Scratch / "other");
    form.edIP->setText("10.0.0.2");
    EXPECT_TRUE(form.close());
    EXPECT_EQ(SettingsText(), "[Data]\nIP=10.0.0.1\n");
    EXPECT_EQ(ReadFileText(Scratch / "other/DORVEX.ini"), "[Data]\nIP=10.0.0.2\nPath=\n");
}

TEST_F(Window, ADroppedPathWithALineBreakCannotReachTheFile) {
    TForm1& form = Show();
    form.edFilename->setText("/a\nIP=6.6.6.6");
    EXPECT_TRUE(form.close());
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_TRUE(Boxes.Shown.front().Error);
    EXPECT_FALSE(fs::exists(Scratch / "DORVEX.ini")) << "not even the address was written";
}

// The whole program, its event loop included; a watchdog ends a loop that would not end.
class Program : public testing::Test {
protected:
    Program() : FIn(Scratch.Path()) { QCoreApplication::processEvents(); }
    ~Program() override { QCoreApplication::processEvents(); }

    int Run(const std::function<void(TForm1&)>& created) {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            TimedOut = true;
            QCoreApplication::quit();
        });
        watchdog.start(5000);
        return RunMain(*TApplication::Instance(), created);
    }

    TScratch Scratch;
    TRecordingBoxes Boxes;
    bool TimedOut = false;

private:
    TInFolder FIn;
};

TEST_F(Program, RunsUntilTheWindowIsClosedAndWritesTheSettings) {
    const int code = Run([](TForm1& form) {
        QTimer::singleShot(0, &form, [&form] {
            form.edIP->setText("10.0.0.7");
            form.Exit1->trigger();
        });
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(TimedOut);
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(ReadFileText(Scratch / "DORVEX.ini"), "[Data]\nIP=10.0.0.7\nPath=\n");
    EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(Program, ACloseThatCannotWriteTheSettingsIsToldOnceAndEndsTheProgram) {
    fs::create_directory(Scratch / "DORVEX.ini");
    const int code =
        Run([](TForm1& form) { QTimer::singleShot(0, &form, [&form] { form.close(); }); });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(TimedOut);
    EXPECT_EQ(Boxes.Shown,
              (std::vector<TShownBox>{
                  {true, TApplication::Instance()->Title(),
                   "Unable to write to " + fs::current_path().string() + "/DORVEX.ini."}}));
    EXPECT_TRUE(fs::is_empty(Scratch / "DORVEX.ini"));
}

TEST_F(Program, AFailureDuringStartUpIsShownAndEndsWithCodeZero) {
    const int code = Run([](TForm1&) { throw Exception("No window today"); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Boxes.Shown, (std::vector<TShownBox>{
                               {true, TApplication::Instance()->Title(), "No window today."}}));
    EXPECT_EQ(Form1, nullptr);
    EXPECT_FALSE(fs::exists(Scratch / "DORVEX.ini"));
}

} // namespace
