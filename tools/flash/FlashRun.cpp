#include "FlashRun.h"

#include "FlashProgress.h"
#include "FlashTargets.h"
#include "ImageFile.h"
#include "SafeText.h"
#include "StationRun.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTP.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

std::string OneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c != '\r') {
            line += c == '\n' ? ' ' : c;
        }
    }
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

std::string LinkErrorText(int32_t error) {
    std::string text = GlobalStack->SocketErrorText(error);
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text + " (Socket Error # " + std::to_string(error) + ")";
}

std::string ResolveHost(const std::string& host) {
    try {
        return GlobalStack->HostToAddress(host);
    } catch (const EIdSocketError& e) {
        const std::string& message = e.Message();
        const size_t lineBreak = message.find("\r\n");
        const std::string detail =
            lineBreak == std::string::npos ? "" : message.substr(lineBreak + 2);
        throw EResolveFailure(ResolveFailureMessage(host, e.ErrorCode(), OneLine(detail)));
    }
}

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// A device of the run: what its worker shares with the display while it runs.
struct TDevice {
    explicit TDevice(const TFlashTarget& target) : Target(target) {}
    TFlashTarget Target;
    std::atomic<TDeviceState> State{TDeviceState::Queued};
    std::atomic<int64_t> Bytes{0};
    std::atomic<int64_t> StartedNs{0}; // since the start of the run
    std::atomic<int32_t> LinkError{0}; // why the request cannot leave, in NoLink
    // The worker's until State is Sent or Failed; the run's afterwards.
    TDeviceReport Report;
};

class TFleetRun {
public:
    TFleetRun(const TFlashOptions& options, const std::vector<TFlashTarget>& targets,
              std::ostream& err, const TTerminal& terminal, const std::atomic<bool>& interrupted)
        : FOptions(options), FErr(err), FTerminal(terminal), FInterrupted(interrupted),
          FDraw(terminal.Progress && !options.Quiet) {
        for (const TFlashTarget& target : targets) {
            FDevices.push_back(std::make_unique<TDevice>(target));
            TDeviceReport& report = FDevices.back()->Report;
            report.Label = target.Label;
            report.Host = target.Host;
            report.Port = target.Port;
            FLabelWidth =
                std::max(FLabelWidth, std::min<size_t>(TerminalText(target.Label).size(), 40));
        }
    }

    // Every device fails with the same message, before anything is sent.
    void FailAll(const std::string& message) {
        for (auto& device : FDevices) {
            device->Report.Message = message;
            device->State = TDeviceState::Failed;
        }
    }

    void Run(const TImageFile& image) {
        FImage = &image;
        // Network components count themselves in a plain variable that makes and frees the
        // stack: they are made here, on this thread, and freed here once every worker is done.
        std::vector<std::unique_ptr<TIdTrivialFTP>> clients;
        for (size_t i = 0; i < FDevices.size(); ++i) {
            clients.push_back(std::make_unique<TIdTrivialFTP>(nullptr));
        }
        std::atomic<size_t> next{0};
        auto worker = [&] {
            for (size_t i = next++; i < FDevices.size(); i = next++) {
                if (FInterrupted) {
                    FDevices[i]->Report.Status = ExitInterrupted;
                    FDevices[i]->Report.Message = "not started: interrupted";
                    FDevices[i]->State = TDeviceState::Failed;
                } else {
                    Upload(*FDevices[i], *clients[i]);
                }
                {
                    const std::lock_guard<std::mutex> lock(FMutex);
                    ++FFinished;
                }
                FEnded.notify_one();
            }
        };
        std::vector<std::thread> threads;
        const size_t jobs = std::min<size_t>(FDevices.size(), size_t(FOptions.Jobs));
        for (size_t j = 0; j < jobs; ++j) {
            try {
                threads.emplace_back(worker);
            } catch (const std::system_error&) {
                break; // the threads already running take the devices in turn
            }
        }
        if (threads.empty()) {
            worker();
        }
        Draw(true);
        {
            std::unique_lock<std::mutex> lock(FMutex);
            while (FFinished < FDevices.size()) {
                // Woken by every device's end, and at least every tenth of a second to redraw.
                FEnded.wait_for(lock, std::chrono::milliseconds(100));
                lock.unlock();
                Draw(false);
                lock.lock();
            }
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        Draw(true);
        if (FDraw && FDevices.size() == 1) {
            FErr << '\n' << std::flush;
        }
    }

    std::vector<TDeviceReport> Reports() const {
        std::vector<TDeviceReport> reports;
        for (const auto& device : FDevices) {
            reports.push_back(device->Report);
        }
        return reports;
    }
    size_t LabelWidth() const { return FLabelWidth; }
    double Seconds() const { return SecondsSince(FStart); }

private:
    void Upload(TDevice& device, TIdTrivialFTP& client) {
        TDeviceReport& report = device.Report;
        const TClock::time_point started = TClock::now();
        device.StartedNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(started - FStart).count();
        device.State = TDeviceState::Resolving;
        TImageReader reader(*FImage);
        try {
            report.Address = ResolveHost(device.Target.Host);
            client.SetHost(report.Address);
            client.SetPort(device.Target.Port);
            client.SetReceiveTimeout(FOptions.TimeoutMs);
            client.SetRequestedBlockSize(FOptions.BlockSize);
            client.SetRequestWait(FOptions.WaitSeconds * 1000);
            // A unit on a cable of its own may be powered after the run starts: its link comes
            // up within the wait.
            client.SetRideOutLinkFailures(FOptions.WaitSeconds > 0);
            client.SetAbortFlag(&FInterrupted);
            client.OnWorkBegin = [&device](TObject*, TWorkMode, int32_t) {
                device.State = TDeviceState::Requesting;
            };
            client.OnLinkWait = [&device](TObject*, int32_t error) {
                device.LinkError = error;
                device.State = error != 0 ? TDeviceState::NoLink : TDeviceState::Requesting;
            };
            // The engine's counts are 32-bit; the reader's position is the whole count.
            client.OnWork = [&device, &reader](TObject*, TWorkMode, int32_t) {
                device.Bytes = reader.Position();
                device.State = TDeviceState::Sending;
            };
            client.UploadStream(reader, FOptions.Remote);
            report.Status = ExitSent;
        } catch (const EIdTFTPAborted&) {
            report.Status = ExitInterrupted;
            report.Message = "interrupted";
        } catch (const EIdTFTPException& e) {
            report.Status = ExitRefused;
            report.Message = DeviceErrorMessage(e.Message(), client.ErrorPacketCode());
        } catch (const std::exception& e) {
            report.Status = ExitFailed;
            report.Message = OneLine(e.what());
        }
        // The handlers hold this upload's reader and device.
        client.OnWorkBegin = nullptr;
        client.OnWork = nullptr;
        client.OnLinkWait = nullptr;
        report.Bytes = reader.Position();
        report.Seconds = SecondsSince(started);
        device.Bytes = report.Bytes;
        device.State = report.Sent() ? TDeviceState::Sent : TDeviceState::Failed;
    }

    // The line of one device as it stands.
    std::string LineOf(const TDevice& device, double now) const {
        const double started = double(device.StartedNs.load()) / 1e9;
        return DeviceProgressLine(TerminalText(device.Target.Label), FLabelWidth, device.State,
                                  device.Bytes, FImage->Size(), std::max(now - started, 0.0));
    }

    // The lines of the block: one per device when they fit the terminal; otherwise one per
    // running device and a line of counts.
    std::vector<std::string> BlockLines(double now) const {
        std::vector<std::string> lines;
        const size_t fit = std::max<size_t>(FTerminal.Rows > 1 ? FTerminal.Rows - 1 : 1, 2);
        if (FDevices.size() <= fit) {
            for (const auto& device : FDevices) {
                lines.push_back(LineOf(*device, now));
            }
            return lines;
        }
        size_t counts[size_t(TDeviceState::Failed) + 1] = {};
        for (const auto& device : FDevices) {
            const TDeviceState state = device->State;
            ++counts[size_t(state)];
            const bool running = state != TDeviceState::Queued && state != TDeviceState::Sent &&
                                 state != TDeviceState::Failed;
            if (running && lines.size() < fit - 1) {
                lines.push_back(LineOf(*device, now));
            }
        }
        lines.resize(fit - 1);
        lines.push_back(std::to_string(FDevices.size()) + " devices: " +
                        std::to_string(counts[size_t(TDeviceState::Sent)]) + " sent, " +
                        std::to_string(counts[size_t(TDeviceState::Failed)]) + " failed, " +
                        std::to_string(counts[size_t(TDeviceState::Queued)]) + " queued");
        return lines;
    }

    void Draw(bool force) {
        const double now = SecondsSince(FStart);
        if (!FDraw || FImage == nullptr || (!FThrottle.Due(now) && !force)) {
            return;
        }
        const bool sequences = FTerminal.Cursor == nullptr;
        std::string text;
        if (FDevices.size() == 1) {
            const TDevice& device = *FDevices.front();
            const std::string line =
                device.State == TDeviceState::NoLink
                    ? "waiting for the link: " + LinkErrorText(device.LinkError)
                    : ProgressLine(device.Bytes, FImage->Size(), now);
            text = RedrawLine(line, FTerminal.Columns, sequences);
        } else {
            const std::vector<std::string> lines = BlockLines(now);
            if (!sequences && FLinesDrawn > 0) {
                FErr.flush();
                FTerminal.Cursor->Up(FLinesDrawn);
            }
            text = RedrawBlock(lines, FLinesDrawn, FTerminal.Columns, sequences);
            FLinesDrawn = lines.size();
        }
        FErr << text << std::flush;
    }

    const TFlashOptions& FOptions;
    std::ostream& FErr;
    const TTerminal FTerminal;
    const std::atomic<bool>& FInterrupted;
    const bool FDraw;
    const TClock::time_point FStart = TClock::now();
    std::vector<std::unique_ptr<TDevice>> FDevices;
    const TImageFile* FImage = nullptr;
    size_t FLabelWidth = 0;
    std::mutex FMutex;
    std::condition_variable FEnded;
    size_t FFinished = 0;
    TRedrawThrottle FThrottle{0.1};
    size_t FLinesDrawn = 0;
};

std::string ReadHostList(const std::string& path) {
    // A list of addresses: a megabyte is tens of thousands of them.
    constexpr size_t limit = size_t{1} << 20;
    return TImageFile(path).ReadAll(limit);
}

} // namespace

int RunFlash(const TFlashOptions& options, std::ostream& out, std::ostream& err,
             const TTerminal& terminal, const std::atomic<bool>& interrupted) {
    if (options.Station) {
        return RunStation(options, out, err, terminal, interrupted);
    }
    std::vector<TFlashTarget> targets;
    try {
        targets = ExpandTargets(options.Hosts, options.Port, ReadHostList);
    } catch (const EFOpenError& e) {
        err << "zeb40-flash: host list: " << TerminalText(e.Message()) << '\n';
        return ExitFailed;
    }
    TFleetRun run(options, targets, err, terminal, interrupted);
    std::unique_ptr<TImageFile> image;
    try {
        image = std::make_unique<TImageFile>(options.File);
        if (image->Size() == 0 && !options.AllowEmpty) {
            run.FailAll("the image " + options.File +
                        " is empty (0 bytes); --allow-empty sends it");
        } else {
            run.Run(*image);
        }
    } catch (const EFOpenError& e) {
        run.FailAll(e.Message());
    }
    const std::vector<TDeviceReport> reports = run.Reports();
    const int status = RunStatus(reports);
    const int64_t size = image != nullptr ? image->Size() : 0;
    if (options.Json) {
        out << JsonReport(reports, options.File, size, run.Seconds(), status);
    }
    if (reports.size() == 1) {
        const TDeviceReport& device = reports.front();
        if (device.Sent() && !options.Json && !options.Quiet) {
            out << SummaryLine(device.Bytes, device.Seconds) << '\n';
        } else if (!device.Sent() && device.Status != ExitInterrupted) {
            err << "zeb40-flash: " << TerminalText(device.Message) << '\n';
        }
    } else if (!options.Json && !options.Quiet) {
        for (const TDeviceReport& device : reports) {
            out << DeviceSummaryLine(device, run.LabelWidth()) << '\n';
        }
        out << TotalLine(reports, run.Seconds()) << '\n';
    }
    if (status == ExitInterrupted) {
        err << "zeb40-flash: interrupted\n";
    }
    out.flush();
    return status;
}
