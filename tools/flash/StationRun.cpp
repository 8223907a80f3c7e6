#include "StationRun.h"

#include "FlashProgress.h"
#include "FlashReport.h"
#include "FlashRun.h"
#include "FlashTargets.h"
#include "ImageFile.h"
#include "SafeText.h"
#include "Sha256.h"
#include "StationLog.h"
#include "StationNeighbours.h"
#include "StationReport.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTP.h"
#include "version/Version.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// The error packet a unit flashed already gets (code 0: "not defined, see error message").
constexpr uint16_t DeclineCode = 0;
constexpr const char* DeclineText = "this unit was flashed already; the station waits for the next";

// The source of one unit's upload: the image, and the digest of the bytes read from it, which are
// the bytes the unit got (the upload reads each block once, in order).
class THashedStream : public TStream {
public:
    explicit THashedStream(TStream& source) : FSource(source) {}
    int64_t Size() const override { return FSource.Size(); }
    int64_t Position() const override { return FSource.Position(); }
    void SetPosition(int64_t position) override { FSource.SetPosition(position); }
    size_t Read(void* buffer, size_t count) override {
        const size_t got = FSource.Read(buffer, count);
        FHash.Update(buffer, got);
        return got;
    }
    std::string Digest() { return FHash.FinishHex(); }

private:
    TStream& FSource;
    TSha256 FHash;
};

std::string ImageDigest(const TImageFile& image) {
    TImageReader reader(image);
    THashedStream hashed(reader);
    std::string buffer(TReadAheadStream::ReadAheadSize, '\0');
    for (int64_t left = image.Size(); left > 0;) {
        const size_t piece = static_cast<size_t>(std::min<int64_t>(left, int64_t(buffer.size())));
        hashed.ReadBuffer(buffer.data(), piece);
        left -= int64_t(piece);
    }
    return hashed.Digest();
}

class TStation {
public:
    TStation(const TFlashOptions& options, std::ostream& out, std::ostream& err,
             const TTerminal& terminal, const std::atomic<bool>& interrupted)
        : FOptions(options), FOut(options.Json ? err : out), FDocument(out), FErr(err),
          FTerminal(terminal), FInterrupted(interrupted),
          FDraw(terminal.Progress && !options.Quiet) {}

    int Run() {
        const TFlashTarget target = ParseTarget(FOptions.Hosts.front(), FOptions.Port);
        // The client first: it brings up the stack that the look-up uses.
        TIdTrivialFTP client(nullptr);
        std::unique_ptr<TImageFile> image;
        try {
            FHost = target.Host;
            FAddress = ResolveHost(target.Host);
            FPort = target.Port;
            image = std::make_unique<TImageFile>(FOptions.File);
            if (image->Size() == 0 && !FOptions.AllowEmpty) {
                return Refuse("the image " + FOptions.File +
                              " is empty (0 bytes); --allow-empty sends it");
            }
            FImage = image.get();
            FImageDigest = ImageDigest(*image);
        } catch (const Exception& e) {
            return Refuse(e.Message());
        }
        if (!FOptions.LogFile.empty()) {
            try {
                FLog = std::make_unique<TStationLog>(FOptions.LogFile);
            } catch (const EStationLogError& e) {
                return Refuse(e.Message() + "; no unit was flashed");
            }
        }
        FVersion = VersionLine("zeb40-flash");
        if (!FOptions.Quiet) {
            Note("station: " + TerminalText(FAddress) + " port " + std::to_string(FPort) +
                 ", image " + TerminalText(FOptions.File) + " (" + std::to_string(FImage->Size()) +
                 " bytes, sha256 " + FImageDigest + ")" +
                 (FLog ? ", log " + TerminalText(FLog->Path()) : std::string()) + "; Ctrl-C ends");
            Note("station: the neighbour entry of " + FAddress + " is cleared " +
                 UnitNeighbours().ClearMethod());
        }
        client.SetHost(FAddress);
        client.SetPort(FPort);
        client.SetReceiveTimeout(FOptions.TimeoutMs);
        client.SetRequestedBlockSize(FOptions.BlockSize);
        client.SetRequestWait(NoTimeLimit);
        client.SetRideOutLinkFailures(true);
        client.SetAbortFlag(&FInterrupted);
        bool pause = false;
        while (!FStop && !FInterrupted) {
            if (pause && !Pause(client.RequestRetryTime())) {
                break;
            }
            pause = !TakeUnit(client);
        }
        Erase();
        if (!FOptions.Quiet) {
            FOut << StationTotalLine(FUnits, SecondsSince(FStart)) << '\n' << std::flush;
        }
        const int status = FStatus          ? *FStatus
                           : FUnits.empty() ? ExitInterrupted
                                            : FUnits.back().Status;
        if (FOptions.Json) {
            FDocument << JsonReport(Reports(), FOptions.File, FImage->Size(), SecondsSince(FStart),
                                    status)
                      << std::flush;
        }
        return status;
    }

private:
    enum class TShown : uint8_t { Waiting, NoLink, Sending, Declined };

    int Refuse(const std::string& message) {
        FErr << "zeb40-flash: " << TerminalText(message) << '\n' << std::flush;
        return ExitFailed;
    }

    // One wait for a unit and its upload. True when the unit got the image.
    bool TakeUnit(TIdTrivialFTP& client) {
        TImageReader reader(*FImage);
        THashedStream hashed(reader);
        TUnitRecord unit;
        unit.Address = FAddress;
        unit.Port = FPort;
        unit.Image = FOptions.File;
        unit.Version = FVersion;
        bool inHand = false;
        int requests = 0;
        TClock::time_point started = TClock::now();
        FWaitStart = started;
        FShown = TShown::Waiting;
        Draw(true);

        // Takes the unit that answered, unless it is one flashed already.
        const auto take = [&](const std::string& mac) {
            if (const int already = FGate.FlashedAs(mac); already != 0) {
                Declined(mac, already);
                return false;
            }
            inHand = true;
            unit.Number = int(FUnits.size()) + 1;
            unit.Mac = mac;
            started = TClock::now();
            FShown = TShown::Sending;
            FDeclinedMac.reset();
            return true;
        };
        client.OnRequest = [&](TObject*) {
            // A request before this one got no answer: no unit was there to give one.
            if (++requests > 1) {
                FGate.Silence();
            }
            ClearEntry();
            Draw(false);
        };
        client.OnLinkWait = [&](TObject*, int32_t error) {
            FLinkError = error;
            FShown = error != 0 ? TShown::NoLink : TShown::Waiting;
            if (error != 0) {
                FGate.Silence();
            }
            Draw(true);
        };
        client.OnTransferPeer = [&](TObject*) {
            if (!take(UnitNeighbours().HardwareAddress(client.TransferPeerIP()))) {
                client.DeclineTransfer(DeclineCode, DeclineText);
            }
            Draw(true);
        };
        client.OnWork = [&](TObject*, TWorkMode, int32_t) {
            FBytes = reader.Position();
            FUnitSeconds = SecondsSince(started);
            Draw(false);
        };
        FBytes = 0;
        FUnitNumber = int(FUnits.size()) + 1;
        bool stopAfter = false;
        try {
            client.UploadStream(hashed, FOptions.Remote);
            unit.Status = ExitSent;
        } catch (const EIdTFTPDeclined&) {
        } catch (const EIdTFTPAborted&) {
            unit.Status = ExitInterrupted;
            unit.Message = "interrupted";
            FStop = true;
        } catch (const EIdTFTPException& e) {
            // An error packet in answer to the request comes from a unit as well.
            if (inHand || take(UnitNeighbours().HardwareAddress(FAddress))) {
                unit.Status = ExitRefused;
                unit.Message = DeviceErrorMessage(e.Message(), client.ErrorPacketCode());
            }
        } catch (const EStreamError& e) {
            // The image cannot be read: no unit after this one would get it either.
            unit.Status = ExitFailed;
            unit.Message = OneLine(e.Message());
            stopAfter = true;
        } catch (const std::exception& e) {
            unit.Status = ExitFailed;
            unit.Message = OneLine(e.what());
            // Before any unit answered, the failure is the host's own (a socket that cannot be
            // had, an address it cannot send to): it would come again at every try.
            stopAfter = !inHand;
        }
        client.OnRequest = nullptr;
        client.OnLinkWait = nullptr;
        client.OnTransferPeer = nullptr;
        client.OnWork = nullptr;
        if (!inHand) {
            if (stopAfter) {
                FStatus = Refuse(unit.Message);
                FStop = true;
            }
            return false;
        }
        unit.Bytes = reader.Position();
        unit.Seconds = SecondsSince(started);
        unit.Time = UtcTime(std::chrono::system_clock::now());
        unit.Sha256 = unit.Sent() || unit.Bytes == FImage->Size() ? hashed.Digest() : FImageDigest;
        if (unit.Sent() && unit.Sha256 != FImageDigest) {
            unit.Message = "the image changed on the disk since the station started";
        }
        Finish(unit);
        FStop = FStop || stopAfter;
        return unit.Sent();
    }

    // The unit's line and record; it counts as flashed once its record is stored.
    void Finish(const TUnitRecord& unit) {
        FUnits.push_back(unit);
        if (FLog) {
            try {
                FLog->Append(UnitLogRecord(unit));
            } catch (const EStationLogError& e) {
                Line(UnitLine(unit));
                Erase();
                FErr << "zeb40-flash: " << TerminalText(e.Message())
                     << "; the station stops. The record that is not stored:\n"
                     << UnitLogRecord(unit) << std::flush;
                FStatus = ExitFailed;
                FStop = true;
                return;
            }
        }
        Line(UnitLine(unit));
        if (unit.Sent()) {
            FGate.Sent(unit.Mac, unit.Number);
            ++FSent;
            FStop = FStop || (FOptions.Count > 0 && FSent >= FOptions.Count);
        }
    }

    void Declined(const std::string& mac, int already) {
        FShown = TShown::Declined;
        FDeclinedAs = already;
        // Told once for each time it is found still there.
        if (FDeclinedMac != mac) {
            FDeclinedMac = mac;
            if (!FOptions.Quiet) {
                Note("station: " + DeclinedText(mac, already));
            }
        }
    }

    static std::string DeclinedText(const std::string& mac, int already) {
        return (mac.empty() ? "the unit" : "unit " + mac) + " was flashed already (unit " +
               std::to_string(already) + "); waiting for the next unit";
    }

    // The entry goes before each request; a failure to clear it is told once for each reason.
    void ClearEntry() {
        const TClearResult result = UnitNeighbours().Clear(FAddress);
        if (result.Kind == TClearResult::Cleared || result.Message == FClearProblem) {
            return;
        }
        FClearProblem = result.Message;
        if (!FOptions.Quiet) {
            Note("zeb40-flash: the neighbour entry of " + FAddress +
                 " is not cleared: " + TerminalText(result.Message) +
                 "; a unit swapped in is reached only once the entry of the unit before has "
                 "aged out (some 30 s)");
        }
    }

    // Waits the normal interval between two requests before the next wait; false when
    // interrupted meanwhile.
    bool Pause(int32_t milliseconds) {
        const TClock::time_point end = TClock::now() + std::chrono::milliseconds(milliseconds);
        while (TClock::now() < end) {
            if (FInterrupted) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(TFTPAbortPollTime));
            Draw(false);
        }
        return !FInterrupted;
    }

    std::vector<TDeviceReport> Reports() const {
        std::vector<TDeviceReport> reports;
        for (const TUnitRecord& unit : FUnits) {
            TDeviceReport report;
            report.Label = "unit " + std::to_string(unit.Number);
            report.Host = FHost;
            report.Port = unit.Port;
            report.Address = unit.Address;
            report.Mac = unit.Mac;
            report.Status = unit.Status;
            report.Bytes = unit.Bytes;
            report.Seconds = unit.Seconds;
            report.Message = unit.Message;
            reports.push_back(report);
        }
        return reports;
    }

    std::string ProgressText() const {
        const std::string number = "unit " + std::to_string(FUnitNumber);
        switch (FShown) {
        case TShown::Waiting: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.0f s", SecondsSince(FWaitStart));
            return number + ": waiting at " + FAddress + "  " + seconds;
        }
        case TShown::NoLink:
            return number + ": waiting for the link: " + LinkErrorText(FLinkError);
        case TShown::Sending:
            return number + "  " + ProgressLine(FBytes, FImage->Size(), FUnitSeconds);
        case TShown::Declined:
            return DeclinedText(FDeclinedMac.value_or(""), FDeclinedAs);
        }
        return "";
    }

    void Draw(bool force) {
        if (!FDraw || (!FThrottle.Due(SecondsSince(FStart)) && !force)) {
            return;
        }
        FErr << RedrawLine(ProgressText(), FTerminal.Columns, FTerminal.Cursor == nullptr)
             << std::flush;
        FDrawn = true;
    }

    // Takes the progress line off the screen, so that a line can be written in its place.
    void Erase() {
        if (FDrawn) {
            FErr << RedrawLine("", FTerminal.Columns, FTerminal.Cursor == nullptr) << '\r'
                 << std::flush;
            FDrawn = false;
        }
    }

    void Line(const std::string& text) {
        if (!FOptions.Quiet) {
            Erase();
            FOut << text << '\n' << std::flush;
        }
    }

    void Note(const std::string& text) {
        Erase();
        FErr << text << '\n' << std::flush;
    }

    const TFlashOptions& FOptions;
    std::ostream& FOut;
    std::ostream& FDocument;
    std::ostream& FErr;
    const TTerminal FTerminal;
    const std::atomic<bool>& FInterrupted;
    const TClock::time_point FStart = TClock::now();
    std::string FHost;
    std::string FAddress;
    const TImageFile* FImage = nullptr;
    std::string FImageDigest;
    std::string FVersion;
    std::unique_ptr<TStationLog> FLog;
    TUnitGate FGate;
    std::vector<TUnitRecord> FUnits;
    std::string FClearProblem;
    std::optional<std::string> FDeclinedMac; // the unit found still there, told once
    // What the progress line shows.
    TClock::time_point FWaitStart;
    int64_t FBytes = 0;
    double FUnitSeconds = 0;
    TRedrawThrottle FThrottle{0.1};
    std::optional<int> FStatus; // set by a failure of the station's own
    int32_t FPort = 69;
    int32_t FSent = 0;
    int FDeclinedAs = 0;
    int FUnitNumber = 1;
    int32_t FLinkError = 0;
    TShown FShown = TShown::Waiting;
    const bool FDraw;
    bool FStop = false;
    bool FDrawn = false;
};

} // namespace

int RunStation(const TFlashOptions& options, std::ostream& out, std::ostream& err,
               const TTerminal& terminal, const std::atomic<bool>& interrupted) {
    return TStation(options, out, err, terminal, interrupted).Run();
}
