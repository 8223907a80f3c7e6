// The main window of the upgrade tool and its handlers.
#pragma once

#include "app/StatusLine.h"
#include "base/Component.h"
#include "run/UpgradeRun.h"
#include "tftp/IdTrivialFTP.h"
#include "widgets/Cgauges.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

class TDropHook;

// The main window. The upgrade run and the settings are the run's (TUpgradeRun); the window is
// its view, and its handlers delegate to it.
class TForm1 : public QWidget, public TComponent, public TUpgradeView {
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
    TIdTrivialFTP* tftp1;

    // Handlers.
    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void FormDestroy(TObject* Sender);
    void bt1Click(TObject* Sender);
    void Exit1Click(TObject* Sender);
    void tftp1WorkBegin(TObject* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax);
    void tftp1Work(TObject* Sender, TWorkMode AWorkMode, int32_t AWorkCount);
    void tftp1WorkEnd(TObject* Sender, TWorkMode AWorkMode);

    // What a drop hands to the window: the first file's path into edFilename, cut to 259
    // characters. A path holding a line break is not taken (it could not be stored in the
    // settings), nor an empty one. True when the path was taken.
    bool FileDropped(const QString& path);

    // Shows the window the first time, during start-up: a failure of FormShow passes out of this
    // call instead of going to the failure handler.
    void ShowAtStart();

    // The view of the run.
    std::string AddressText() const override;
    void SetAddressText(const std::string& text) override;
    std::string FileNameText() const override;
    void SetFileNameText(const std::string& text) override;
    void DisableEdits() override;
    void SetButtonEnabled(bool enabled) override;
    void SetStatusText(const std::string& text, TStatusPace pace) override;
    void SetGaugeProgress(int32_t value) override;
    void ShowMessage(const std::string& text) override;
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
    // The stored settings of tftp1, applied as a stored layout is.
    void LoadTftp1();

    std::unique_ptr<TUpgradeRun> FRun;
    TDropHook* FDropHook = nullptr;
    QAction* FCloseKey = nullptr;
    bool FShown = false;
    bool FStarting = false;
    // The status line holds a running count set at the pace of the screen.
    bool FCountInStatus = false;
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
