// The upgrade run in the window against a scripted TFTP peer on loopback: what the window shows
// and paints while the transfer blocks the loop, how it tells failures, and how the program ends.
// The run's own sequences for every way a run can go are the run's tests (tests/run).
#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "net/Idexception.h"
#include "run/RunSeams.h"

#include "RecordingBoxes.h"
#include "Scratch.h"
#include "run/RunSupport.h"
#include "tftp/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tftptest;

namespace {

using TLog = std::vector<std::string>;

std::string RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// The probe of the system, each probe logged; or a size reported instead of measuring.
class TLoggedProbe : public TFileProbe {
public:
    explicit TLoggedProbe(std::vector<std::string>& log) : FLog(log) {}
    uint32_t Size(const std::string& fileName) override {
        FLog.push_back("probe");
        return Probed ? *Probed : FInUse.Previous().Size(fileName);
    }
    std::optional<uint32_t> Probed;

private:
    std::vector<std::string>& FLog;
    TSeamOverride<TFileProbe> FInUse{FileProbe, *this};
};

// A window shown in a scratch folder, with the ARP tool standing in on the search path, the
// launcher and the boxes recording, and everything the run shows written to one log.
class UpgradeRun : public testing::Test {
protected:
    UpgradeRun() : FIn(Scratch.Path()), FArp(Scratch) {
        Launcher.OnStart = [this] { Log.push_back("arp"); };
        Boxes.WhileOpen = [this](const TShownBox& box) {
            Log.push_back((box.Error ? "error: " : "box: ") + box.Text);
            if (WhileBoxOpen) {
                WhileBoxOpen(box);
            }
        };
    }
    ~UpgradeRun() override {
        Form.reset();
        QCoreApplication::processEvents();
    }

    TForm1& Show() {
        Form = std::make_unique<TForm1>();
        Form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        QCoreApplication::processEvents();
        TIdTrivialFTP& tftp = *Form->tftp1;
        auto begin = tftp.OnWorkBegin;
        tftp.OnWorkBegin = [this, begin](TObject* sender, TWorkMode mode, int32_t max) {
            begin(sender, mode, max);
            Log.push_back("begin: " + Form->StatusText());
        };
        auto work = tftp.OnWork;
        tftp.OnWork = [this, work](TObject* sender, TWorkMode mode, int32_t count) {
            work(sender, mode, count);
            Log.push_back("work: " + Form->StatusText() + " " +
                          std::to_string(Form->cgPross->Progress()));
        };
        auto end = tftp.OnWorkEnd;
        tftp.OnWorkEnd = [this, end](TObject* sender, TWorkMode mode) {
            Log.push_back("end");
            end(sender, mode);
        };
        return *Form;
    }

    // Points the window at the peer and at a firmware file holding the bytes.
    void Prepare(const ScriptedPeer& peer, const std::string& bytes,
                 const std::string& address = "127.0.0.1") {
        TForm1& form = Form ? *Form : Show();
        WriteFileText(Image, bytes);
        form.edIP->setText(ToQString(address));
        form.edFilename->setText(ToQString(Image));
        form.tftp1->SetPort(peer.ListenPort());
    }

    void Press() {
        Log.clear();
        QTest::mouseClick(Form->bt1, Qt::LeftButton);
    }

    std::string SettingsText() const { return ReadFileText(Scratch / "DORVEX.ini"); }

    TScratch Scratch;
    TRecordingBoxes Boxes;
    TRecordingLauncher Launcher;
    std::unique_ptr<TForm1> Form;
    TLog Log;
    TLoggedProbe Probe{Log};
    std::string Image = Scratch / "image.bin";
    std::function<void(const TShownBox&)> WhileBoxOpen;

private:
    TInFolder FIn;
    TArpStandIn FArp;
};

TEST_F(UpgradeRun, Tftp1IsOwnedByTheWindowWithItsStoredSettings) {
    TForm1& form = Show();
    ASSERT_NE(form.tftp1, nullptr);
    EXPECT_EQ(form.tftp1->Owner(), &form);
    bool listed = false;
    for (int i = 0; i < form.ComponentCount(); ++i) {
        listed = listed || form.Components(i) == form.tftp1;
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(form.tftp1->Name(), "tftp1");
    EXPECT_EQ(form.tftp1->Port(), 69);
    EXPECT_EQ(form.tftp1->ReceiveTimeout(), 4000);
    EXPECT_EQ(form.tftp1->TransferMode(), tfOctet);
    EXPECT_EQ(form.tftp1->RequestedBlockSize(), 1500);
    EXPECT_EQ(form.tftp1->Host(), "");
    EXPECT_FALSE(form.tftp1->ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_FALSE(form.ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_TRUE(form.tftp1->OnWorkBegin && form.tftp1->OnWork && form.tftp1->OnWorkEnd);
    EXPECT_FALSE(form.tftp1->Active());
}

TEST_F(UpgradeRun, ASuccessfulUploadShowsEveryCountThenFinishesAndClosesTheWindow) {
    const struct {
        const char* Name;
        size_t Size;
        WriteServer::Opening Open;
        int32_t Offered;
        TLog Shown;
    } cases[] = {
        {"empty file",
         0,
         WriteServer::Opening::Ack0,
         0,
         {"arp", "probe", "box: Error", "begin: Starting upload ......", "work: 0 Bytes 100", "end",
          "box: Upgrade Finish."}},
        {"2048 bytes at 512",
         2048,
         WriteServer::Opening::Ack0,
         0,
         {"arp", "probe", "begin: Starting upload ......", "work: 512 Bytes 25",
          "work: 1024 Bytes 50", "work: 1536 Bytes 75", "work: 2048 Bytes 100",
          "work: 2048 Bytes 100", "end", "box: Upgrade Finish."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(Scratch / "DORVEX.ini");
        Form.reset();
        const std::string bytes = RandomBytes(c.Size, 7);
        WriteServer server;
        server.Open = c.Open;
        server.OfferedBlockSize = c.Offered;
        ScriptedPeer peer(server.Script());
        Prepare(peer, bytes);
        bool visibleAtFinish = false;
        bool enabledAtFinish = false;
        std::string statusAtFinish;
        WhileBoxOpen = [&](const TShownBox& box) {
            if (box.Text == "Upgrade Finish.") {
                visibleAtFinish = Form->isVisible();
                enabledAtFinish = Form->bt1->isEnabled();
                statusAtFinish = Form->sb1->PaintedText().toStdString();
            }
        };
        Press();
        peer.Stop();
        EXPECT_EQ(Log, c.Shown);
        EXPECT_EQ(ImageSize, c.Size);
        EXPECT_EQ(server.File(), bytes);
        EXPECT_TRUE(visibleAtFinish) << "the window closes after the box";
        EXPECT_TRUE(enabledAtFinish);
        EXPECT_EQ(statusAtFinish, "Finish......") << "on the screen";
        EXPECT_EQ(Form->StatusText(), "Finish......");
        EXPECT_FALSE(Form->isVisible());
        EXPECT_TRUE(Form->bt1->isEnabled());
        EXPECT_EQ(Form->tftp1->Host(), "127.0.0.1");
        EXPECT_EQ(SettingsText(), "[Data]\nIP=127.0.0.1\nPath=" + Image + "\n");
        for (const TShownBox& box : Boxes.Shown) {
            EXPECT_FALSE(box.Error) << box;
            EXPECT_EQ(box.Caption, TApplication::Instance()->Title());
        }
        Boxes.Shown.clear();
        WhileBoxOpen = nullptr;
    }
}

TEST_F(UpgradeRun, ATftpFailureIsShownInTheStatusLineAndABoxAndTheButtonComesBack) {
    const struct {
        const char* Name;
        WriteServer::Opening Open;
        int ErrorAtBlock; // 0: none
        TLog Shown;
    } cases[] = {
        {"disk full at block 2",
         WriteServer::Opening::Ack0,
         2,
         {"arp", "probe", "begin: Starting upload ......", "work: 512 Bytes 33",
          "work: 1024 Bytes 66", "end", "box: Disk full"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form.reset();
        WriteServer server;
        server.Open = c.Open;
        if (c.ErrorAtBlock != 0) {
            server.OnData = [&c](const DataEvent& data) -> std::optional<std::vector<PeerSend>> {
                if (data.Block != c.ErrorAtBlock) {
                    return std::nullopt;
                }
                return std::vector<PeerSend>{{PeerSocket::Transfer, ErrorPacket(3, "Disk full")}};
            };
        }
        ScriptedPeer peer(server.Script());
        Prepare(peer, std::string(1536, 'x'));
        Form->tftp1->SetReceiveTimeout(300);
        std::string paintedAtBox;
        WhileBoxOpen = [&](const TShownBox&) {
            paintedAtBox = Form->sb1->PaintedText().toStdString();
        };
        Press();
        peer.Stop();
        EXPECT_EQ(Log, c.Shown);
        const std::string text = Log.back().substr(5);
        EXPECT_EQ(Form->StatusText(), text);
        EXPECT_EQ(paintedAtBox, text);
        EXPECT_FALSE(Boxes.Shown.back().Error);
        EXPECT_TRUE(Form->bt1->isEnabled());
        EXPECT_TRUE(Form->isVisible());
        EXPECT_FALSE(fs::exists(Scratch / "DORVEX.ini")) << "nothing closed the window";
        Boxes.Shown.clear();
    }
}

TEST_F(UpgradeRun, AFailureOutsideTftpGoesToTheFailureHandlerAndTheButtonStaysDisabled) {
    const struct {
        const char* Name;
        std::string Address;
        bool ZeroBytesAtBlock2;
        TLog Shown;
    } cases[] = {
        {"zero-byte datagram",
         "127.0.0.1",
         true,
         {"arp", "probe", "begin: Starting upload ......", "work: 512 Bytes 33",
          "work: 1024 Bytes 66", "end", "error: UDP Receive Error = 0."}},
        // An address text that the resolver refuses by its form alone, without asking a name
        // server (an empty label).
        {"address that does not resolve",
         "192.168.1..100",
         false,
         {"probe", "begin: Starting upload ......", "end"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form.reset();
        WriteServer server;
        if (c.ZeroBytesAtBlock2) {
            server.OnData = [](const DataEvent& data) -> std::optional<std::vector<PeerSend>> {
                if (data.Block != 2) {
                    return std::nullopt;
                }
                return std::vector<PeerSend>{{PeerSocket::Transfer, ""}};
            };
        }
        ScriptedPeer peer(server.Script());
        Prepare(peer, std::string(1536, 'x'), c.Address);
        const auto started = std::chrono::steady_clock::now();
        Press();
        const auto took = std::chrono::steady_clock::now() - started;
        peer.Stop();
        ASSERT_GE(Log.size(), c.Shown.size());
        EXPECT_EQ(TLog(Log.begin(), Log.begin() + static_cast<long>(c.Shown.size())), c.Shown);
        ASSERT_EQ(Boxes.Shown.size(), 1u);
        EXPECT_TRUE(Boxes.Shown.front().Error);
        if (!c.ZeroBytesAtBlock2) {
            EXPECT_EQ(Boxes.Shown.front().Text.rfind("Socket Error # ", 0), 0u)
                << Boxes.Shown.front().Text;
            EXPECT_TRUE(peer.Received().empty());
            EXPECT_LT(took, std::chrono::seconds(3)) << "the resolver did not hang";
        }
        EXPECT_EQ(Form->tftp1->Host(), c.Address);
        EXPECT_FALSE(Form->bt1->isEnabled());
        EXPECT_TRUE(Form->isVisible());
        Boxes.Shown.clear();
    }
}

// A path that is not UTF-8 names its file by its bytes: shown as well as it can be, it is still
// the file that is measured and sent.
TEST_F(UpgradeRun, APathThatIsNotUtf8IsSentByItsOwnBytes) {
    const std::string latin1 = Scratch / "fw_\xE9.bin";
    WriteFileText(latin1, "abc");
    WriteFileText(Scratch / "DORVEX.ini", "[Data]\nIP=127.0.0.1\nPath=" + latin1 + "\n");
    WriteServer server;
    ScriptedPeer peer(server.Script());
    TForm1& form = Show();
    EXPECT_EQ(form.edFilename->text(),
              QString::fromStdString(Scratch / "fw_") + QChar(0xE9) + ".bin");
    form.tftp1->SetPort(peer.ListenPort());
    Press();
    peer.Stop();
    EXPECT_EQ(Log, (TLog{"arp", "probe", "begin: Starting upload ......", "work: 3 Bytes 100",
                         "end", "box: Upgrade Finish."}));
    EXPECT_EQ(server.File(), "abc");
    EXPECT_EQ(ReadFileText(Scratch / "DORVEX.ini"), "[Data]\nIP=127.0.0.1\nPath=" + latin1 + "\n");
}

TEST_F(UpgradeRun, TheScreenFollowsTheTransferWhileTheLoopIsBlocked) {
    using std::chrono::milliseconds;
    const struct {
        const char* Name;
        milliseconds Interval;
        std::optional<uint32_t> Probed;
        std::vector<std::string> Painted;
        int GaugePaints;
    } cases[] = {
        // Every count is painted, the last once more before it is replaced.
        {"every block",
         milliseconds(0),
         0xFFFFFFFFu,
         {"Starting upload ......", "512 Bytes", "1024 Bytes", "1536 Bytes", "2048 Bytes",
          "2048 Bytes", "2048 Bytes", "Finish......"},
         0},
        // No count is due within the hour and the gauge stays at 0, yet the last count reaches
        // the screen before "Finish......" replaces it.
        {"nothing due",
         std::chrono::hours(1),
         0xFFFFFFFFu,
         {"Starting upload ......", "2048 Bytes", "Finish......"},
         0},
        // The gauge paints the window's changed parts with its own, the status line included.
        {"nothing due, gauge moving",
         std::chrono::hours(1),
         std::nullopt,
         {"Starting upload ......", "512 Bytes", "1024 Bytes", "1536 Bytes", "2048 Bytes",
          "2048 Bytes", "Finish......"},
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Form.reset();
        WriteServer server;
        ScriptedPeer peer(server.Script());
        Prepare(peer, std::string(2048, 'g'));
        Probe.Probed = c.Probed;
        Form->sb1->SetPaintInterval(c.Interval);
        std::vector<std::string> painted;
        Form->sb1->OnPainted = [&](const QString& text) { painted.push_back(text.toStdString()); };
        const int gaugePaints = Form->cgPross->PaintCount();
        Press();
        peer.Stop();
        EXPECT_EQ(painted, c.Painted);
        EXPECT_EQ(Form->cgPross->PaintCount() - gaugePaints, c.GaugePaints);
        Form->sb1->OnPainted = nullptr;
    }
}

// The real simulator, at the port the window keeps (69), on a loopback address of its own. Port
// 69 needs root; a test run without it, or with the port taken, skips.
TEST_F(UpgradeRun, TheSimulatorAtPort69GetsTheImageIntact) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "port 69 needs root";
    }
    fs::create_directory(Scratch / "device");
    QProcess sim;
    sim.setProgram(ZEB40_SIM_PROGRAM);
    sim.setArguments(
        {"--bind", "127.0.0.2", "--port", "69", "--once", "--dir", ToQString(Scratch / "device")});
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.start();
    ASSERT_TRUE(sim.waitForStarted(5000));
    QByteArray output;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!output.contains("listening") && sim.state() == QProcess::Running &&
           std::chrono::steady_clock::now() < until) {
        sim.waitForReadyRead(100);
        output += sim.readAll();
    }
    if (!output.contains("listening")) {
        sim.kill();
        sim.waitForFinished(2000);
        GTEST_SKIP() << "127.0.0.2:69 is not free: " << output.toStdString();
    }
    TForm1& form = Show();
    const std::string bytes = RandomBytes(100000, 11);
    WriteFileText(Image, bytes);
    form.edIP->setText("127.0.0.2");
    form.edFilename->setText(ToQString(Image));
    ASSERT_EQ(form.tftp1->Port(), 69);
    Press();
    const bool ended = sim.waitForFinished(5000);
    output += sim.readAll();
    if (!ended) {
        sim.kill();
        sim.waitForFinished(2000);
    }
    EXPECT_TRUE(ended) << "one upload ends the simulator";
    EXPECT_EQ(Log.back(), "box: Upgrade Finish.");
    EXPECT_EQ(Log[Log.size() - 3], "work: 100000 Bytes 100");
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
            .toHex();
    EXPECT_TRUE(output.contains(" 100000 bytes sha256 " + digest)) << output.toStdString();
}

// Not run by default (speed is for benchmarks): the cost of painting the status line on every
// block of a 32 MiB upload at 512-byte blocks, against painting it at the display's pace.
TEST_F(UpgradeRun, DISABLED_Benchmark32MiBStatusLinePainting) {
    const std::string bytes = RandomBytes(32u << 20, 5);
    for (const auto interval : {std::chrono::milliseconds(15), std::chrono::milliseconds(0)}) {
        Form.reset();
        WriteServer server;
        ScriptedPeer peer(server.Script());
        Prepare(peer, bytes);
        Form->sb1->SetPaintInterval(interval);
        const int statusPaints = Form->sb1->PaintCount();
        const int gaugePaints = Form->cgPross->PaintCount();
        const auto started = std::chrono::steady_clock::now();
        Press();
        const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
        peer.Stop();
        EXPECT_EQ(server.File().size(), bytes.size());
        std::printf("interval %lld ms: %.2f s, status line painted %d times, gauge %d times\n",
                    static_cast<long long>(interval.count()), took.count(),
                    Form->sb1->PaintCount() - statusPaints,
                    Form->cgPross->PaintCount() - gaugePaints);
    }
}

// The whole program: the close asked for inside the transfer ends the event loop only after
// bt1Click has returned.
TEST(UpgradeProgram, ASuccessfulRunEndsTheProgramAfterTheButtonHandlerReturned) {
    TScratch scratch;
    TInFolder in(scratch.Path());
    const TArpStandIn arp(scratch);
    TRecordingLauncher launcher;
    TRecordingBoxes boxes;
    WriteServer server;
    ScriptedPeer peer(server.Script());
    const std::string image = scratch / "image.bin";
    const std::string bytes = RandomBytes(5000, 3);
    WriteFileText(image, bytes);
    WriteFileText(scratch / "DORVEX.ini", "[Data]\nIP=127.0.0.1\nPath=" + image + "\n");
    bool handlerReturned = false;
    bool returnedAtQuit = false;
    bool timedOut = false;
    QMetaObject::Connection quitting =
        QObject::connect(TApplication::Instance(), &QCoreApplication::aboutToQuit,
                         [&] { returnedAtQuit = handlerReturned; });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::quit();
    });
    watchdog.start(10000);
    RunMain(*TApplication::Instance(), [&](TForm1& form) {
        form.tftp1->SetPort(peer.ListenPort());
        QTimer::singleShot(0, &form, [&form, &handlerReturned] {
            form.bt1->click();
            handlerReturned = true;
        });
    });
    QObject::disconnect(quitting);
    peer.Stop();
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(returnedAtQuit);
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(server.File(), bytes);
    EXPECT_EQ(boxes.Shown, (std::vector<TShownBox>{
                               {false, TApplication::Instance()->Title(), "Upgrade Finish."}}));
    EXPECT_EQ(ReadFileText(scratch / "DORVEX.ini"), "[Data]\nIP=127.0.0.1\nPath=" + image + "\n");
    ASSERT_EQ(launcher.Started.size(), 1u);
    EXPECT_EQ(launcher.Started.front().Arguments,
              (std::vector<std::string>{"neigh", "flush", "to", "127.0.0.1"}));
}

} // namespace
