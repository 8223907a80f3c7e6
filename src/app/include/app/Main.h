// The main window of the upgrade tool and its handlers.
#pragma once

#include "app/Application.h"
#include "app/StatusLine.h"
#include "run/UpgradeForm.h"
#include "widgets/Cgauges.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <string>

class TDropHook;
class TForm1;

// The application's main window while it exists.
extern TForm1* Form1;

// The main window. The upgrade run and the settings are the run's (TUpgradeRun); the window is
// its view, and its handlers delegate to it (TUpgradeWindow).
class TForm1 : public QWidget, public TUpgradeWindow<TForm1, Form1> {
    Q_OBJECT

public:
    // Creates the window with its fixed layout, then runs FormCreate.
    explicit TForm1(QWidget* parent = nullptr);
    // Runs FormDestroy.
    ~TForm1() override;

    QLabel* Label1;
    TCGauge* cgPross;
    QLabel* Label2;
    QLineEdit* edIP;
    QLineEdit* edFilename;
    QPushButton* bt1;
    TStatusLine* sb1;
    QMenu* ppExit;
    QAction* Exit1;

    // The handlers of the window itself; the run's are TUpgradeForm's.
    void FormCreate(TObject* Sender);
    void FormDestroy(TObject* Sender);
    void Exit1Click(TObject* Sender);

    // What a drop hands to the window: the first file's path into edFilename, cut to 259
    // characters. A path holding a line break is not taken (it could not be stored in the
    // settings), nor an empty one. True when the path was taken.
    bool FileDropped(const QString& path);

    // Shows the window the first time, during start-up: a failure of FormShow passes out of this
    // call instead of going to the failure handler.
    void ShowAtStart();

    // The controls as the view reads and sets them: the edit boxes' values as SetTextBytes and
    // TextBytes keep them.
    static std::string EditText(const QLineEdit* edit) { return TextBytes(edit); }
    static void SetEditText(QLineEdit* edit, const std::string& text) { SetTextBytes(edit, text); }
    static void EnableControl(QWidget* control, bool enabled) { control->setEnabled(enabled); }
    // The rest of the view.
    void SetStatusText(const std::string& text, TStatusPace pace) override;
    void CloseWindow() override;

    // The status line's one part.
    std::string StatusText() const;

    // The action behind the platform's close key.
    QAction* CloseKey() const { return FCloseKey; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void RunFormShow();

    TDropHook* FDropHook = nullptr;
    QAction* FCloseKey = nullptr;
    bool FShown = false;
    bool FStarting = false;
    // The status line holds a running count set at the pace of the screen.
    bool FCountInStatus = false;
    std::exception_ptr FStartFailure;
};

// The drop hook of the main window: put in place by FormCreate, it sees every event that reaches
// the window first, takes file drags and drops, and passes every event on.
class TDropHook : public QObject {
    Q_OBJECT

public:
    explicit TDropHook(TForm1* form) : QObject(form), FForm(form) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TForm1* FForm;
};

// The longest dropped path that edFilename takes.
inline constexpr int MaxDroppedPath = 259;
