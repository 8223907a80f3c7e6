// The main window of the upgrade tool and its handlers.
#pragma once

#include "base/Component.h"
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

// The value of "EnableWrite" read when the window was shown.
extern int32_t WriteEnabled;

class TForm1 : public QWidget, public TComponent {
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
    QStatusBar* sb1;
    QMenu* ppExit;
    QAction* Exit1;

    // Handlers.
    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void FormDestroy(TObject* Sender);
    void bt1Click(TObject* Sender);
    void Exit1Click(TObject* Sender);

    // What a drop hands to the window: the first file's path into edFilename, cut to 259
    // characters. A path holding a line break is not taken (it could not be stored in the
    // settings), nor an empty one. True when the path was taken.
    bool FileDropped(const QString& path);

    // Shows the window the first time, during start-up: a failure of FormShow passes out of this
    // call instead of going to the failure handler.
    void ShowAtStart();

    // The status line's one part.
    void SetStatusText(const std::string& text);
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
    std::exception_ptr FStartFailure;
};

// The application's main window while it exists.
extern TForm1* Form1;

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
