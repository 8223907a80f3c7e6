#include "FlashRun.h"

#include "FlashProgress.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTP.h"

#include <chrono>

namespace {

class EInterrupted : public Exception {
public:
    EInterrupted() : Exception("interrupted") {}
};

// The socket layer's texts hold CR LF between the code and its text; a terminal wants LF.
std::string PlainMessage(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            plain += text[i];
        }
    }
    return plain;
}

} // namespace

int RunFlash(const TFlashOptions& options, std::ostream& out, std::ostream& err, bool terminal,
             const volatile std::sig_atomic_t& interrupted) {
    using TClock = std::chrono::steady_clock;
    const auto start = TClock::now();
    auto seconds = [&] { return std::chrono::duration<double>(TClock::now() - start).count(); };
    int64_t total = 0;
    int64_t done = 0;
    bool drawn = false;
    TRedrawThrottle throttle(0.1);
    auto draw = [&](bool force) {
        const double now = seconds();
        if (terminal && !options.Quiet && (throttle.Due(now) || force)) {
            err << '\r' << ProgressLine(done, total, now) << "\033[K" << std::flush;
            drawn = true;
        }
    };
    int status = ExitSent;
    try {
        TIdTrivialFTP client(nullptr);
        client.SetHost(options.Host);
        client.SetPort(options.Port);
        client.SetReceiveTimeout(options.TimeoutMs);
        client.SetRequestedBlockSize(options.BlockSize);
        client.SetTransferMode(options.Mode);
        client.OnWorkBegin = [&](TObject*, TWorkMode, int32_t countMax) {
            total = countMax;
            draw(true);
        };
        client.OnWork = [&](TObject*, TWorkMode, int32_t count) {
            if (interrupted) {
                throw EInterrupted();
            }
            done = count;
            draw(false);
        };
        client.UploadFile(options.File, options.Remote);
    } catch (const EIdTFTPException& e) {
        status = ExitRefused;
        if (!interrupted) {
            if (drawn) {
                err << '\n';
                drawn = false;
            }
            err << "zeb40-flash: " << PlainMessage(e.Message()) << '\n';
        }
    } catch (const std::exception& e) {
        status = ExitFailed;
        if (!interrupted) {
            if (drawn) {
                err << '\n';
                drawn = false;
            }
            err << "zeb40-flash: " << PlainMessage(e.what()) << '\n';
        }
    }
    if (interrupted) {
        // The upload was cut short whatever the exception that ended it.
        err << (drawn ? "\n" : "") << "zeb40-flash: interrupted\n";
        return ExitInterrupted;
    }
    if (status == ExitSent) {
        done = total;
        draw(true);
        if (drawn) {
            err << '\n';
        }
        if (!options.Quiet) {
            out << SummaryLine(total, seconds()) << '\n';
        }
    }
    return status;
}
