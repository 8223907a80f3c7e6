// The upgrade run on a view that records what the window is told, against a scripted TFTP peer on
// loopback: for each way a run can go, what the user sees, in order.
#include "run/UpgradeRun.h"
#include "run/MessageBoxes.h"
#include "run/RunSeams.h"

#include "Platform.h"
#include "RunSupport.h"
#include "Scratch.h"
#include "tftp/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tftptest;

namespace {

// The window as the run sees it: every change it is told is one line of the log. Its close is
// the close of a front end: the run's close query through MayClose, and the window closed in any
// case.
class TRecordingView : public TUpgradeView {
public:
    explicit TRecordingView(TLog& log) : FLog(log) {}

    TUpgradeRun* Run = nullptr;
    std::string Address = "127.0.0.1";
    std::string FileName;

    std::string AddressText() const override { return Address; }
    void SetAddressText(const std::string& text) override {
        Address = text;
        FLog.push_back("address: " + text);
    }
    std::string FileNameText() const override { return FileName; }
    void SetFileNameText(const std::string& text) override {
        FileName = text;
        FLog.push_back("file: " + text);
    }
    void DisableEdits() override { FLog.push_back("edits off"); }
    void SetButtonEnabled(bool enabled) override {
        FLog.push_back(enabled ? "button on" : "button off");
    }
    void SetStatusText(const std::string& text, TStatusPace pace) override {
        FLog.push_back((pace == TStatusPace::Now ? "status: " : "count: ") + text);
    }
    void SetGaugeProgress(int32_t value) override {
        FLog.push_back("gauge: " + std::to_string(value));
    }
    void CloseWindow() override {
        FLog.push_back("close");
        if (!Run->MayClose([this](bool& canClose) { Run->CloseQuery(canClose); })) {
            FLog.push_back("close refused");
        }
    }

private:
    TLog& FLog;
};

// Measures as the system's probe does, then, when asked to, changes the file, as a file that is
// still being copied would change.
class TChangingProbe : public TFileProbe {
public:
    explicit TChangingProbe(std::optional<std::string> after) : FAfter(std::move(after)) {}
    uint32_t Size(const std::string& fileName) override {
        const uint32_t size = ProbeImageSize(fileName);
        if (FAfter) {
            WriteFileText(fileName, *FAfter);
        }
        return size;
    }

private:
    std::optional<std::string> FAfter;
};

void Fill(std::string& line, const std::string& name, const std::string& value) {
    if (const size_t at = line.find(name); at != std::string::npos) {
        line.replace(at, name.size(), value);
    }
}

std::optional<std::vector<PeerSend>> AtBlock2(const DataEvent& data, const std::string& packet) {
    if (data.Block != 2) {
        return std::nullopt;
    }
    return std::vector<PeerSend>{{PeerSocket::Transfer, packet}};
}

struct TRunCase {
    const char* Name;
    std::optional<std::string> Image; // the firmware file's bytes; none: no file
    WriteServer::Opening Open = WriteServer::Opening::Ack0;
    int32_t Offered = 0;                   // the block size an option acknowledgement takes
    std::optional<std::string> AtBlock2{}; // sent instead of the acknowledgement of block 2
    std::optional<std::string> AfterProbe{};
    std::string Address = "127.0.0.1";
    bool ArpTool = true;
    bool SettingsRefused = false;   // DORVEX.ini is a folder
    int SilentRequests = 0;         // requests the device does not hear
    bool RewrittenAtBlock2 = false; // the image copied over while block 2 is on its way
    TLog Shown{};                   // "$image" and "$settings" stand for their paths
};

TLog Join(std::initializer_list<TLog> parts) {
    TLog all;
    for (const TLog& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(UpgradeRun, EveryWayARunCanGoShowsItsOwnSequence) {
    const TLog begin = {"arp: 127.0.0.1", "button off", "status: Starting upload ......"};
    const TLog finish = {"status: Finish......", "button on", "box: Upgrade Finish.", "close"};
    const std::string block(512, 'x');
    const TRunCase cases[] =
    { {.Name = "success, blocks of 512",
       .Image = std::string(2048, 'a'),
       .Shown = Join(
           {begin,
            {"count: 512 Bytes", "gauge: 25", "count: 1024 Bytes", "gauge: 50", "count: 1536 Bytes",
             "gauge: 75", "count: 2048 Bytes", "gauge: 100", "count: 2048 Bytes", "gauge: 100"},
            finish})},
      {.Name = "success, block size 1500 accepted",
       .Image = std::string(1000, 'b'),
       .Open = WriteServer::Opening::OptionAck,
       .Offered = 1500,
       .Shown = Join({begin, {"count: 1000 Bytes", "gauge: 100"}, finish})},
      {.Name = "empty file",
       .Image = "",
       .Shown = Join({{"arp: 127.0.0.1", "box: Error", "button off",
                       "status: Starting upload ......", "count: 0 Bytes", "gauge: 100"},
                      finish})},
      // The percentage is taken against the probed size.
      {.Name = "the file shrank after the probe",
       .Image = "abc",
       .AfterProbe = "a",
       .Shown = Join({begin, {"count: 1 Bytes", "gauge: 33"}, finish})},
      {.Name = "the file grew after the probe",
       .Image = "ab",
       .AfterProbe = "abc",
       .Shown = Join({begin, {"count: 3 Bytes", "gauge: 150"}, finish})},
#if !defined(_WIN32) // Windows always has its ARP tool, which the shell finds
      {.Name = "no ARP tool",
       .Image = "abc",
       .ArpTool = false,
       .Shown =
           Join({{"button off", "status: Starting upload ......", "count: 3 Bytes", "gauge: 100"},
                 finish})},
#endif
      {.Name = "device error to the request",
       .Image = block,
       .Open = WriteServer::Opening::Error,
       .Shown = Join({begin, {"status: Access violation", "box: Access violation", "button on"}})},
      {.Name = "device error at block 2",
       .Image = block + block + block,
       .AtBlock2 = ErrorPacket(3, "Disk full"),
       .Shown = Join({begin,
                      {"count: 512 Bytes", "gauge: 33", "count: 1024 Bytes", "gauge: 66",
                       "status: Disk full", "box: Disk full", "button on"}})},
      // A unit just swapped in at the address: the first request went to the hardware address
      // of the one before, the next one, half a second later, reaches it.
      {.Name = "the first request lost",
       .Image = std::string(1000, 'u'),
       .SilentRequests = 1,
       .Shown = Join(
           {begin, {"count: 512 Bytes", "gauge: 51", "count: 1000 Bytes", "gauge: 100"}, finish})},
      // Never a success with the first part of one image and the rest of another.
      {.Name = "the image rewritten during the upload",
       .Image = std::string(1100, 'v'),
       .RewrittenAtBlock2 = true,
       .Shown = Join({begin,
                      {"count: 512 Bytes", "gauge: 46", "count: 1024 Bytes", "gauge: 93",
                       "escaped: The file $image changed while it was being sent"}})},
      {.Name = "time-out",
       .Image = "abc",
       .Open = WriteServer::Opening::Silent,
       .Shown = Join({begin, {"status: Timeout", "box: Timeout", "button on"}})},
      // The ARP command comes before the probe; the button stays disabled.
      {.Name = "missing file",
       .Image = std::nullopt,
       .Shown = {"arp: 127.0.0.1", "button off", "escaped: Cannot open file $image"}},
      {.Name = "failure outside the family: a zero-byte datagram",
       .Image = block + block + block,
       .AtBlock2 = "",
       .Shown = Join({begin,
                      {"count: 512 Bytes", "gauge: 33", "count: 1024 Bytes", "gauge: 66",
                       "escaped: UDP Receive Error = 0."}})},
      // An address text that the resolver refuses by its form alone, without asking a name
      // server (an empty label); it is no dotted quad either.
      {.Name = "failure outside the family: an address that does not resolve",
       .Image = "abc",
       .Address = "192.168.1..100",
       .Shown = {"button off", "status: Starting upload ......",
                 "escaped: Socket Error # 11001\r\n"}},
      {.Name = "refused settings write",
       .Image = "abc",
       .SettingsRefused = true,
       .Shown = Join({begin,
                      {"count: 3 Bytes", "gauge: 100"},
                      finish,
                      {"error: Unable to write to $settings.", "close", "close refused"}})},
    };
    for (const TRunCase& c : cases) {
        SCOPED_TRACE(c.Name);
#if defined(_WIN32)
        if (c.RewrittenAtBlock2) {
            continue; // nobody may write the file while the upload holds it
        }
#endif
        TScratch scratch;
        TInFolder in(scratch.Path());
        const std::string image = scratch / "image.bin";
        const std::string settings = fs::current_path().string() + PathSeparator + "DORVEX.ini";
        if (c.Image) {
            WriteFileText(image, *c.Image);
        }
        if (c.SettingsRefused) {
            fs::create_directory(settings);
        }
#if !defined(_WIN32)
        std::optional<TArpStandIn> arp;
        if (c.ArpTool) {
            arp.emplace(scratch);
        } else {
            fs::create_directory(scratch / "nothing");
        }
        std::optional<TSearchPath> noTool;
        std::optional<THelperFoldersStandIn> noHelper;
        if (!c.ArpTool) {
            noTool.emplace(scratch / "nothing");
            noHelper.emplace();
        }
#endif
        TChangingProbe probe(c.AfterProbe);
        TLog log;
        TLoggedBoxes boxes(log);
        TRecordingLauncher launcher;
        launcher.OnStart = [&] {
            log.push_back("arp: " + launcher.Started.back().Arguments.back());
        };
        // The run starts only what it was handed, never the launcher in use.
        const TRecordingLauncher inUse;

        WriteServer server;
        server.Open = c.Open;
        server.OfferedBlockSize = c.Offered;
        server.SilentRequests = c.SilentRequests;
        if (c.AtBlock2) {
            server.OnData = [&c](const DataEvent& data) { return AtBlock2(data, *c.AtBlock2); };
        }
        if (c.RewrittenAtBlock2) {
            server.OnData =
                [&image](const DataEvent& data) -> std::optional<std::vector<PeerSend>> {
                if (data.Block == 2 && !data.Repeat) {
                    WriteFileText(image, std::string(1100, 'w'));
                }
                return std::nullopt;
            };
        }
        ScriptedPeer peer(server.Script());
        TIdTrivialFTP tftp(nullptr);
        TUpgradeRun::LoadStoredSettings(tftp);
        tftp.SetPort(peer.ListenPort());
        // Long enough for the second request when the first is lost.
        tftp.SetReceiveTimeout(c.SilentRequests > 0 ? 1000 : 300);
        TRecordingView view(log);
        TUpgradeRun run(view, tftp, {launcher, probe, boxes, "zeb40-upgrade"});
        view.Run = &run;
        // A close asked for while the error box of the first is open is refused; the first goes
        // on.
        boxes.WhileOpen = [&] {
            if (log.back().rfind("error: ", 0) == 0) {
                view.CloseWindow();
            }
        };
        view.Address = c.Address;
        view.FileName = image;
        tftp.OnWorkBegin = [&run](TObject*, TWorkMode, int32_t) { run.WorkBegin(); };
        tftp.OnWork = [&run](TObject*, TWorkMode, int32_t count) { run.Work(count); };
        tftp.OnWorkEnd = [&run](TObject*, TWorkMode) { run.WorkEnd(); };

        try {
            run.Upgrade();
        } catch (...) {
            log.push_back("escaped: " + FailureMessage(std::current_exception()));
        }
        peer.Stop();

        TLog expected = c.Shown;
        for (std::string& line : expected) {
            Fill(line, "$image", image);
            Fill(line, "$settings", settings);
        }
        EXPECT_EQ(log, expected);
        EXPECT_TRUE(inUse.Started.empty());
        EXPECT_EQ(boxes.Captions, std::vector<std::string>(boxes.Captions.size(), "zeb40-upgrade"));
        EXPECT_EQ(tftp.Host(), c.Address);
        EXPECT_EQ(ImageSize, c.Image ? c.Image->size() : 0xFFFFFFFFu);
        if (std::find(log.begin(), log.end(), "close") == log.end()) {
            EXPECT_FALSE(fs::exists(settings)) << "nothing closed the window";
            continue;
        }
        EXPECT_EQ(server.File(), c.AfterProbe ? *c.AfterProbe : *c.Image);
        if (!c.SettingsRefused) {
            const std::string n = NewFileLineEnd;
            EXPECT_EQ(ReadFileText(settings),
                      "[Data]" + n + "IP=127.0.0.1" + n + "Path=" + image + n);
        }
    }
}

} // namespace
