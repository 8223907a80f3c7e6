// Drives one upgrade run of the window headless and measures it: the application and TForm1 are
// created in a scratch folder of their own, bt1 is pressed, and the time from the press to the
// "Upgrade Finish." box is printed with the paint counts of the status line and the gauge.
//
//   zeb40-window-harness --port N IMAGE
//
// Run it with QT_QPA_PLATFORM=offscreen. The device is 127.0.0.1:N; the boxes are answered at
// once and recorded; the ARP tool is never started. Exit status 0 when the run ended with the
// one box "Upgrade Finish.", 1 when it did not, 64 for bad arguments.
#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "run/RunSeams.h"

#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TClock = std::chrono::steady_clock;

// A run that has not ended by then is stuck: far above any healthy 32 MiB upload on loopback.
constexpr int WatchdogMs = 120000;
constexpr const char* FinishText = "Upgrade Finish.";

// Answers every box at once, as a user pressing OK would, and remembers when the finish box
// came up.
class TAnsweringBoxes : public TMessageBoxes {
public:
    void Show(const std::string& /*caption*/, const std::string& text) override { Record(text); }
    void ShowError(const std::string& /*caption*/, const std::string& text) override {
        Record("error: " + text);
    }

    std::vector<std::string> Shown;
    std::optional<TClock::time_point> FinishedAt;

private:
    void Record(const std::string& text) {
        if (text == FinishText && !FinishedAt) {
            FinishedAt = TClock::now();
        }
        Shown.push_back(text);
    }
};

// The ARP entry of a loopback address needs no flushing, and the harness never runs the tool.
class TIdleLauncher : public TProcessLauncher {
public:
    void Start(const std::string& /*program*/,
               const std::vector<std::string>& /*arguments*/) override {}
};

// A folder of its own under the temporary folder, removed with everything in it at the end.
class TScratchFolder {
public:
    TScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "zeb40-window-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no scratch folder");
        }
        FPath = pattern;
    }
    ~TScratchFolder() {
        std::error_code ignored;
        fs::remove_all(FPath, ignored);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    const fs::path& Path() const { return FPath; }

private:
    fs::path FPath;
};

int Usage(const char* message) {
    std::fprintf(stderr, "zeb40-window-harness: %s\nusage: zeb40-window-harness --port N IMAGE\n",
                 message);
    return 64;
}

std::string Quoted(const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& text : texts) {
        out += (out.empty() ? "\"" : ", \"") + text + "\"";
    }
    return out.empty() ? "none" : out;
}

} // namespace

int main(int argc, char** argv) {
    int port = -1;
    std::string image;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 1 || value > 65535) {
                return Usage("--port takes 1..65535");
            }
            port = static_cast<int>(value);
        } else if (!arg.empty() && arg[0] != '-' && image.empty()) {
            image = arg;
        } else {
            return Usage(("unexpected argument " + arg).c_str());
        }
    }
    if (port < 0 || image.empty()) {
        return Usage("--port and IMAGE are needed");
    }
    std::error_code error;
    const fs::path imagePath = fs::absolute(image, error);
    if (error || !fs::is_regular_file(imagePath)) {
        return Usage(("no image file " + image).c_str());
    }
    const auto imageBytes = fs::file_size(imagePath);

    TScratchFolder scratch;
    const fs::path oldFolder = fs::current_path();
    fs::current_path(scratch.Path());
    {
        std::ofstream ini(scratch.Path() / "DORVEX.ini", std::ios::binary | std::ios::trunc);
        ini << "[Data]\nIP=127.0.0.1\nPath=" << imagePath.string() << "\n";
    }

    int exitCode = 1;
    {
        TApplication application(argc, argv);
        TAnsweringBoxes boxes;
        const TSeamOverride<TMessageBoxes> boxesInUse(MessageBoxes, boxes);
        TIdleLauncher launcher;
        const TSeamOverride<TProcessLauncher> launcherInUse(ProcessLauncher, launcher);

        bool timedOut = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&timedOut] {
            timedOut = true;
            QCoreApplication::quit();
        });

        TClock::time_point pressedAt{};
        int statusPaints = 0;
        int gaugePaints = 0;
        // Pressed once the window is on the screen (painting needs it there), as a user would.
        QTimer exposed;
        exposed.setInterval(10);
        RunMain(application, [&](TForm1& form) {
            form.tftp1->SetPort(port);
            QObject::connect(&exposed, &QTimer::timeout, &form, [&] {
                const QWindow* window = form.windowHandle();
                if (window == nullptr || !window->isExposed()) {
                    return;
                }
                exposed.stop();
                statusPaints = form.sb1->PaintCount();
                gaugePaints = form.cgPross->PaintCount();
                // The window closes itself at the finish box; its counts are read before that.
                QObject::connect(&application, &QCoreApplication::aboutToQuit, &form, [&] {
                    statusPaints = form.sb1->PaintCount() - statusPaints;
                    gaugePaints = form.cgPross->PaintCount() - gaugePaints;
                });
                pressedAt = TClock::now();
                form.bt1->click();
            });
            watchdog.start(WatchdogMs);
            exposed.start();
        });

        const bool finished =
            !timedOut && boxes.FinishedAt && boxes.Shown == std::vector<std::string>{FinishText};
        const double seconds =
            boxes.FinishedAt ? std::chrono::duration<double>(*boxes.FinishedAt - pressedAt).count()
                             : -1.0;
        std::printf("window %.0f MiB: %.3f s, status paints %d, gauge paints %d, boxes %s%s\n",
                    static_cast<double>(imageBytes) / (1024.0 * 1024.0), seconds, statusPaints,
                    gaugePaints, Quoted(boxes.Shown).c_str(), timedOut ? " (timed out)" : "");
        std::fflush(stdout);
        exitCode = finished ? 0 : 1;
    }
    fs::current_path(oldFolder, error);
    return exitCode;
}
