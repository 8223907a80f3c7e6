// The upgrade run: the settings read when the window is shown and written when it closes, the
// press of the Upgrade button and the progress of the transfer, the same for every front end. The
// run reaches the window only through TUpgradeView and the system only through the services it
// is made with; the window's handlers delegate to it (UpgradeForm.h).
#pragma once

#include "run/MessageBoxes.h"
#include "run/RunSeams.h"
#include "tftp/IdTrivialFTP.h"

#include <cstdint>
#include <functional>
#include <string>

// The value of "EnableWrite" read when the window was shown.
extern int32_t WriteEnabled;

// The size in bytes of the firmware file as the last press of the Upgrade button measured it; all
// ones when the file could not be opened.
extern uint32_t ImageSize;

// The percentage that the run shows for a running total: the total as a share of the probed
// size, truncated toward zero, saturated to the 32-bit range (the gauge clamps it to 0..100). An
// empty image is whole once its one total of 0 bytes has been sent: 100.
int32_t UploadPercent(int32_t workCount, uint32_t imageSize);

// How soon a status text must reach the screen. The loop is blocked during the transfer, so a
// text reaches it only through a paint the front end makes within the call.
enum class TStatusPace {
    // Painted within the call. A running count that was left for a later paint is painted first,
    // so that the last count is seen before another text replaces it.
    Now,
    // A running count: it may wait for a later paint while the status line was painted a moment
    // ago (a count for every block of a fast transfer is more than a screen shows).
    WhenDue,
};

// What the run asks of the main window. Texts are the program's 8-bit texts, byte for byte.
class TUpgradeView {
public:
    virtual ~TUpgradeView() = default;

    // edIP: the device's address.
    virtual std::string AddressText() const = 0;
    virtual void SetAddressText(const std::string& text) = 0;
    // edFilename: the firmware file's path.
    virtual std::string FileNameText() const = 0;
    virtual void SetFileNameText(const std::string& text) = 0;
    // Disables edIP and edFilename.
    virtual void DisableEdits() = 0;
    // bt1.
    virtual void SetButtonEnabled(bool enabled) = 0;
    // sb1's one part.
    virtual void SetStatusText(const std::string& text, TStatusPace pace) = 0;
    // cgPross: SetProgress, which clamps and redraws at once when the percentage changes.
    virtual void SetGaugeProgress(int32_t value) = 0;
    // Closes the window as the user's close does: through MayClose, whose CloseQuery writes the
    // settings, and the window closes in any case; the application quits once control is back in
    // the event loop.
    virtual void CloseWindow() = 0;
};

// The system's services that the run uses, handed to it where it is made; each outlives the run.
struct TRunServices {
    // Starts the ARP command.
    TProcessLauncher& Launcher;
    // Measures the firmware file.
    TFileProbe& Probe;
    // The run's plain boxes ("Error", a failure of the TFTP family, "Upgrade Finish.") and the
    // error box of a close whose settings cannot be written, with their caption: the
    // application's title.
    TMessageBoxes& Boxes;
    std::string Caption;
};

class TUpgradeRun {
public:
    // The window's view and its TFTP client tftp1, which both outlive the run.
    TUpgradeRun(TUpgradeView& view, TIdTrivialFTP& tftp, TRunServices services);

    // The stored settings of tftp1: its name, port 69 and the receive time-out of 4000 ms. The
    // window applies them, and binds tftp1's events to its handlers, while it loads its stored
    // layout.
    static void LoadStoredSettings(TIdTrivialFTP& tftp);

    // FormShow: the settings file read into the window.
    void Show();
    // FormCloseQuery: both values written to the settings file, together or not at all; a
    // refused write raises EIniFileException. The close is never refused by the run.
    void CloseQuery(bool& canClose);
    // Whether a close the user asked for goes on. query runs FormCloseQuery; its failure is shown
    // once in the error box. A close asked for while one is under way (its message is open) is
    // refused and left to that one. Settings that cannot be written do not stop the close: the
    // file is left as it was, and a window that cannot be closed would leave the user only to
    // kill the program.
    bool MayClose(const std::function<void(bool& canClose)>& query);

    // bt1Click: the ARP command, the probe, the upload to the address with its progress. A
    // failure of the TFTP family is shown in the status line and a box, and the button comes
    // back; any other failure passes on to the front end's failure handler, the button left
    // disabled.
    void Upgrade();
    // tftp1WorkBegin, tftp1Work, tftp1WorkEnd.
    void WorkBegin();
    void Work(int32_t count);
    // After a successful transfer only: "Finish......", the button back, "Upgrade Finish.", and
    // the window closed.
    void WorkEnd();

private:
    void ShowMessage(const std::string& text);

    TUpgradeView& FView;
    TIdTrivialFTP& FTftp;
    TRunServices FServices;
    // Failures on their way out when Upgrade called UploadFile: more than these while the
    // transfer's work scope closes means the transfer is ending with a failure.
    int FUnwindingAtUpload = 0;
    bool FClosing = false;
};
