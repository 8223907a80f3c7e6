#include "run/UpgradeRun.h"

#include "net/Idexception.h"
#include "settings/IniFile.h"

#include <cmath>
#include <exception>
#include <limits>
#include <utility>

int32_t WriteEnabled = 1;
uint32_t ImageSize = 0;

int32_t UploadPercent(int32_t workCount, uint32_t imageSize) {
    if (imageSize == 0) {
        return 100;
    }
    const double percent =
        std::trunc(static_cast<double>(workCount) / static_cast<double>(imageSize) * 100.0);
    // A file that grew after the probe can give more than the 32-bit range holds.
    if (percent >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    if (percent <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(percent);
}

TUpgradeRun::TUpgradeRun(TUpgradeView& view, TIdTrivialFTP& tftp, TRunServices services)
    : FView(view), FTftp(tftp), FServices(std::move(services)) {}

void TUpgradeRun::LoadStoredSettings(TIdTrivialFTP& tftp) {
    tftp.SetName("tftp1");
    tftp.SetPort(69);
    tftp.SetReceiveTimeout(4000);
}

void TUpgradeRun::Show() {
    {
        const TIniFile ini(SettingsPath());
        WriteEnabled = ini.ReadInt("Debug", "EnableWrite", 1);
        FView.SetAddressText(ini.ReadText("Data", "IP", "192.168.1.100"));
        FView.SetFileNameText(ini.ReadText("Data", "Path", " "));
    }
    if (WriteEnabled == 0) {
        FView.DisableEdits();
    }
}

void TUpgradeRun::CloseQuery(bool& /*canClose*/) {
    TIniFile ini(SettingsPath());
    ini.WriteText("Data", "IP", FView.AddressText());
    ini.WriteText("Data", "Path", FView.FileNameText());
    // Both values reach the file together or not at all.
    ini.Flush();
}

bool TUpgradeRun::MayClose(const std::function<void(bool& canClose)>& query) {
    if (FClosing) {
        return false;
    }
    FClosing = true;
    bool canClose = true;
    try {
        query(canClose);
    } catch (...) {
        // Told while the close is still under way, so that a close asked for meanwhile is
        // refused.
        ShowFailureBox(FServices.Boxes, FServices.Caption, std::current_exception());
    }
    FClosing = false;
    return canClose;
}

void TUpgradeRun::ShowMessage(const std::string& text) {
    FServices.Boxes.Show(FServices.Caption, text);
}

void TUpgradeRun::Upgrade() {
    // The ARP entry first, before anything else can fail: the device may have come up with a
    // new hardware address behind the same IP address.
    StartArpCommand(FServices.Launcher, FView.AddressText());
    ImageSize = FServices.Probe.Size(FView.FileNameText());
    if (ImageSize == 0) {
        ShowMessage("Error");
    }
    FView.SetButtonEnabled(false);
    FTftp.SetHost(FView.AddressText());
    FUnwindingAtUpload = std::uncaught_exceptions();
    try {
        FTftp.UploadFile(FView.FileNameText(), "/");
    } catch (const EIdTFTPException& e) {
        FView.SetStatusText(e.Message(), TStatusPace::Now);
        ShowMessage(e.Message());
        FView.SetButtonEnabled(true);
    }
    // Every other failure goes on to the failure handler, and the button stays disabled.
}

void TUpgradeRun::WorkBegin() {
    FView.SetStatusText("Starting upload ......", TStatusPace::Now);
}

void TUpgradeRun::Work(int32_t count) {
    FView.SetStatusText(std::to_string(count) + " Bytes", TStatusPace::WhenDue);
    FView.SetGaugeProgress(UploadPercent(count, ImageSize));
}

void TUpgradeRun::WorkEnd() {
    // The event carries no outcome. The upload ends normally only by returning; on a failure its
    // work scope closes while the failure unwinds the call, so a failure more on its way than
    // when UploadFile was called means the transfer failed, and Upgrade or the failure handler
    // tells the user.
    if (std::uncaught_exceptions() > FUnwindingAtUpload) {
        return;
    }
    FView.SetStatusText("Finish......", TStatusPace::Now);
    FView.SetButtonEnabled(true);
    ShowMessage("Upgrade Finish.");
    // Writes the settings and asks the application to quit, which happens once Upgrade has
    // returned to the event loop.
    FView.CloseWindow();
}
