// The main window's side of the run on a front end of plain objects, written as a third toolkit
// would write its view: its controls, the three calls on them, its status line and its close.
#include "run/UpgradeForm.h"

#include "Platform.h"
#include "RunSupport.h"
#include "Scratch.h"
#include "tftp/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using namespace tftptest;

// As every front end does, this one names its standard boxes: boxes that only log.
namespace {

TMessageBoxes& LoggingBoxes() {
    static TLog log;
    static TLoggedBoxes boxes(log);
    return boxes;
}

} // namespace

TSeam<TMessageBoxes> MessageBoxes(&LoggingBoxes);

namespace {

struct TPlainControl {
    std::string Text;
    bool Enabled = true;
};

struct TPlainGauge {
    int32_t Progress = 0;
    void SetProgress(int32_t value) { Progress = value; }
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

struct TLoggedProbe : TFileProbe {
    explicit TLoggedProbe(TLog& log) : Log(log) {}
    uint32_t Size(const std::string& fileName) override {
        Log.push_back("probe");
        return ProbeImageSize(fileName);
    }
    TLog& Log;
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
    ASSERT_NE(first->tftp1, nullptr);
    EXPECT_EQ(first->tftp1->Owner(), &*first);
    EXPECT_EQ(first->tftp1->Port(), 69);
    EXPECT_EQ(MainPlainForm, &*first);
    {
        TPlainForm second(log, {launcher, probe, boxes, "plain"});
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

// A close that cannot write the settings is told once, in the boxes in use when the window was
// made, while a second close asked for meanwhile is refused; the first goes on.
TEST(UpgradeWindow, TellsAFailedWriteOnceAndRefusesASecondCloseMeanwhile) {
    TScratch scratch;
    TInFolder in(scratch.Path());
    fs::create_directory("DORVEX.ini");
    TLog log;
    TLoggedBoxes boxes(log);
    const TSeamOverride<TMessageBoxes> boxesInUse(MessageBoxes, boxes);
    TPlainForm form(log, SystemRunServices("plain"));
    boxes.WhileOpen = [&form] { form.CloseWindow(); };
    form.CloseWindow();
    const std::string settings = fs::current_path().string() + PathSeparator + "DORVEX.ini";
    EXPECT_EQ(log, (TLog{"create after tftp1", "error: Unable to write to " + settings + ".",
                         "close refused", "closed, quit"}));
    EXPECT_EQ(boxes.Captions, TLog{"plain"});
}

} // namespace
