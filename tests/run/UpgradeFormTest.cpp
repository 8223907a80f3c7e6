// The main window's side of the run on a front end of plain objects, written as a third toolkit
// would write its view: its controls, the three calls on them, its status line and its close.
#include "run/UpgradeForm.h"

#include "Platform.h"
#include "RunSupport.h"
#include "Scratch.h"
#include "tftp/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using namespace tftptest;

// As every front end does, this one names the boxes the program shows: none unless a test puts
// its own in place.
namespace {

class TNoBoxes : public TMessageBoxes {
public:
    void Show(const std::string&, const std::string& text) override {
        ADD_FAILURE() << "box " << text;
    }
    void ShowError(const std::string&, const std::string& text) override {
        ADD_FAILURE() << "error box " << text;
    }
};

TMessageBoxes& NoBoxes() {
    static TNoBoxes boxes;
    return boxes;
}

} // namespace

TSeam<TMessageBoxes> MessageBoxes(&NoBoxes);

namespace {

struct TPlainControl {
    std::string Text;
    bool Enabled = true;
};

struct TPlainGauge {
    int32_t Progress = 0;
    void SetProgress(int32_t value) { Progress = std::clamp(value, 0, 100); }
};

class TPlainForm;
TPlainForm* MainPlainForm = nullptr;

class TPlainForm : public TUpgradeWindow<TPlainForm, MainPlainForm> {
public:
    TPlainForm(TLog& log, TRunServices services) : FLog(log) { Created(std::move(services)); }
    ~TPlainForm() override { Destroying(); }

    TPlainControl Address, FileName, Button;
    TPlainControl* edIP = &Address;
    TPlainControl* edFilename = &FileName;
    TPlainControl* bt1 = &Button;
    TPlainGauge Gauge;
    TPlainGauge* cgPross = &Gauge;

    void FormCreate(TObject*) {
        FLog.push_back(tftp1 != nullptr ? "create after tftp1" : "create");
    }
    void FormDestroy(TObject*) { FLog.push_back("destroy"); }

    static std::string EditText(const TPlainControl* edit) { return edit->Text; }
    static void SetEditText(TPlainControl* edit, const std::string& text) { edit->Text = text; }
    static void EnableControl(TPlainControl* control, bool enabled) { control->Enabled = enabled; }
    void SetStatusText(const std::string& text, TStatusPace) override {
        FLog.push_back("status: " + text);
    }
    void CloseWindow() override {
        if (!MayClose()) {
            FLog.push_back("close refused");
            return;
        }
        FLog.push_back(IsMainWindow() ? "closed, quit" : "closed");
    }

private:
    TLog& FLog;
};

class TLoggedProbe : public TFileProbe {
public:
    explicit TLoggedProbe(TLog& log) : FLog(log) {}
    uint32_t Size(const std::string& fileName) override {
        FLog.push_back("probe");
        return ProbeImageSize(fileName);
    }

private:
    TLog& FLog;
};

TEST(UpgradeWindow, IsMadeWithTftp1AndItsRunAndTheFirstMadeIsTheMainWindow) {
    TScratch scratch;
    TInFolder in(scratch.Path()); // where a close writes the settings
    TLog log;
    TRecordingLauncher launcher;
    TLoggedProbe probe(log);
    TLoggedBoxes boxes(log);
    std::optional<TPlainForm> first;
    first.emplace(log, TRunServices{launcher, probe, boxes, "plain"});
    EXPECT_EQ(first->Name(), "Form1");
    ASSERT_NE(first->tftp1, nullptr);
    EXPECT_EQ(first->tftp1->Owner(), &*first);
    EXPECT_EQ(first->tftp1->Name(), "tftp1");
    EXPECT_EQ(first->tftp1->Port(), 69);
    EXPECT_EQ(first->tftp1->ReceiveTimeout(), 4000);
    EXPECT_FALSE(first->ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_EQ(MainPlainForm, &*first);
    {
        TPlainForm second(log, {launcher, probe, boxes, "plain"});
        EXPECT_EQ(MainPlainForm, &*first);
        second.CloseWindow();
    }
    EXPECT_EQ(MainPlainForm, &*first);
    first.reset();
    EXPECT_EQ(MainPlainForm, nullptr);
    EXPECT_EQ(log,
              (TLog{"create after tftp1", "create after tftp1", "closed", "destroy", "destroy"}));
}

// The whole run through the handlers that tftp1 is bound to, with the services the window was
// made with and never those in use.
TEST(UpgradeWindow, APressUploadsThroughTheHandlersWithTheServicesItWasMadeWith) {
    TScratch scratch;
    TInFolder in(scratch.Path());
#if !defined(_WIN32)
    const TArpStandIn arp(scratch);
#endif
    const std::string image = scratch / "image.bin";
    WriteFileText(image, std::string(1000, 'p'));
    WriteServer server;
    ScriptedPeer peer(server.Script());
    TLog log;
    TRecordingLauncher launcher;
    launcher.OnStart = [&] { log.push_back("arp " + launcher.Started.back().Arguments.back()); };
    TLoggedProbe probe(log);
    TLoggedBoxes boxes(log);
    const TRecordingLauncher inUse;
    TPlainForm form(log, {launcher, probe, boxes, "plain"});
    form.Address.Text = "127.0.0.1";
    form.FileName.Text = image;
    form.tftp1->SetPort(peer.ListenPort());

    form.bt1Click(&form);
    peer.Stop();
    EXPECT_EQ(log,
              (TLog{"create after tftp1", "arp 127.0.0.1", "probe",
                    "status: Starting upload ......", "status: 512 Bytes", "status: 1000 Bytes",
                    "status: Finish......", "box: Upgrade Finish.", "closed, quit"}));
    EXPECT_EQ(server.File(), std::string(1000, 'p'));
    EXPECT_TRUE(form.Button.Enabled);
    EXPECT_EQ(form.Gauge.Progress, 100);
    EXPECT_EQ(boxes.Captions, TLog{"plain"});
    EXPECT_TRUE(inUse.Started.empty());
    const std::string n = NewFileLineEnd;
    EXPECT_EQ(ReadFileText("DORVEX.ini"), "[Data]" + n + "IP=127.0.0.1" + n + "Path=" + image + n);
}

// The settings shown in the edit boxes, locked when writing is off; a close that cannot write
// them is told once in the boxes in use when the window was made, and goes on.
TEST(UpgradeWindow, ShowsTheSettingsAndTellsAFailedWriteOnceWhileTheCloseGoesOn) {
    TScratch scratch;
    TInFolder in(scratch.Path());
    const std::string n = NewFileLineEnd;
    WriteFileText("DORVEX.ini", "[Debug]" + n + "EnableWrite=0" + n + "[Data]" + n + "IP=10.0.0.9" +
                                    n + "Path=fw.bin" + n);
    TLog log;
    TLoggedBoxes boxes(log);
    const TSeamOverride<TMessageBoxes> boxesInUse(MessageBoxes, boxes);
    TPlainForm form(log, SystemRunServices("plain"));
    form.FormShow(&form);
    EXPECT_EQ(form.Address.Text, "10.0.0.9");
    EXPECT_EQ(form.FileName.Text, "fw.bin");
    EXPECT_FALSE(form.Address.Enabled);
    EXPECT_FALSE(form.FileName.Enabled);

    fs::remove("DORVEX.ini");
    fs::create_directory("DORVEX.ini");
    boxes.WhileOpen = [&form] { form.CloseWindow(); };
    form.CloseWindow();
    const std::string settings = fs::current_path().string() + PathSeparator + "DORVEX.ini";
    EXPECT_EQ(log, (TLog{"create after tftp1", "error: Unable to write to " + settings + ".",
                         "close refused", "closed, quit"}));
    EXPECT_EQ(boxes.Captions, TLog{"plain"});
}

} // namespace
