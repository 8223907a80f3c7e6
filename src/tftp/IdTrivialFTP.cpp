#include "tftp/IdTrivialFTP.h"

#include "net/Idexception.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

namespace {

// Closes the upload on every path once its work scope is open: the work scope first, then the
// socket. A failure already on its way to the caller goes on unchanged; an exception of the
// OnWorkEnd handler is passed on only when the upload itself succeeded.
template <class CloseSocket>
class TUploadScope {
public:
    TUploadScope(TIdComponent& component, CloseSocket closeSocket)
        : FComponent(component), FCloseSocket(closeSocket),
          FExceptions(std::uncaught_exceptions()) {}
    TUploadScope(const TUploadScope&) = delete;
    TUploadScope& operator=(const TUploadScope&) = delete;

    ~TUploadScope() noexcept(false) {
        std::exception_ptr handlerFailure;
        try {
            FComponent.NotifyWorkEnd(WorkModeWrite);
        } catch (...) {
            handlerFailure = std::current_exception();
        }
        FCloseSocket();
        if (handlerFailure && std::uncaught_exceptions() == FExceptions) {
            std::rethrow_exception(handlerFailure);
        }
    }

private:
    TIdComponent& FComponent;
    CloseSocket FCloseSocket;
    int FExceptions;
};

// The wait from now until due in whole milliseconds, rounded up, never below 0; NoTimeLimit
// when due is the end of time.
int32_t WaitUntil(TIdTFTPTime due, TIdTFTPTime now) {
    if (due == TIdTFTPNever) {
        return NoTimeLimit;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    return static_cast<int32_t>(
        std::clamp<decltype(left)>(left, 0, std::numeric_limits<int32_t>::max()));
}

} // namespace

// One upload, from the request to the end: the rules on the socket and the system's clock. Run
// does what each step says; Await is the one place that waits, receives and reads the clock.
class TIdTrivialFTP::TUpload final : public TIdTFTPUploadEvents {
public:
    TUpload(TIdTrivialFTP& client, TStream& source, const TIdTFTPUploadSettings& settings)
        : FClient(client), FRules(settings, source, *this) {}

    void Run() {
        CheckAbort();
        TIdTFTPStep step = FRules.Start(TIdTFTPClock::now());
        for (;;) {
            if (!step.Send.empty()) {
                try {
                    FClient.SendBytesTo(step.To, step.Send.data(),
                                        static_cast<int32_t>(step.Send.size()));
                } catch (const EIdSocketError& e) {
                    step = FRules.SendFailed(TIdTFTPClock::now(), e.ErrorCode(),
                                             std::current_exception());
                    continue;
                }
                FRules.Sent();
            }
            if (step.Failure) {
                std::rethrow_exception(step.Failure);
            }
            if (step.Done) {
                return;
            }
            step = Await(step.WakeAt);
        }
    }

private:
    // Waits for a datagram until wakeAt and hands what happened to the rules. With an abort flag
    // the wait goes in pieces; a piece that ends is not the wake time.
    TIdTFTPStep Await(TIdTFTPTime wakeAt) {
        for (;;) {
            CheckAbort();
            int32_t wait = WaitUntil(wakeAt, TIdTFTPClock::now());
            const bool piece =
                FClient.FAbortFlag != nullptr && (wait == NoTimeLimit || wait > TFTPAbortPollTime);
            if (piece) {
                wait = TFTPAbortPollTime;
            }
            int32_t count = 0;
            if (!FClient.ReceiveDatagram(FRules.ReceiveBuffer(), FRules.ReceiveCapacity(), FFrom,
                                         wait, count)) {
                if (piece) {
                    continue;
                }
                return FRules.Woken(TIdTFTPClock::now());
            }
            if (count < 0) {
                const int32_t error = GlobalStack->LastSocketError();
                if (std::optional<TIdTFTPStep> step =
                        FRules.ReceiveFailed(TIdTFTPClock::now(), FFrom, error)) {
                    return *step;
                }
                GlobalStack->ThrowSocketError(error);
            }
            return FRules.Received(TIdTFTPClock::now(), FFrom, count);
        }
    }

    void CheckAbort() const {
        if (FClient.FAbortFlag != nullptr && FClient.FAbortFlag->load()) {
            throw EIdTFTPAborted();
        }
    }

    void RequestDue() override {
        if (FClient.OnRequest) {
            FClient.OnRequest(&FClient);
        }
    }

    void LinkWait(int32_t error) override {
        if (FClient.OnLinkWait) {
            FClient.OnLinkWait(&FClient, error);
        }
    }

    bool TransferPeer(const TIdEndpoint& peer, uint16_t& code, std::string& text) override {
        // The peer's text is made once, for those who show it.
        FClient.FPeer = peer;
        FClient.FPeerIP = GlobalStack->InAddrToText(peer.InAddr());
        FClient.FPeerPort = peer.Port;
        FClient.FDeclined = false;
        if (FClient.OnTransferPeer) {
            FClient.OnTransferPeer(&FClient);
        }
        if (!FClient.FDeclined) {
            return true;
        }
        code = FClient.FDeclineCode;
        text = FClient.FDeclineText;
        return false;
    }

    void BlockSizeAgreed(int32_t blockSize) override {
        FClient.SetBufferSize(blockSize + TFTPHeaderSize);
    }

    void BlockBuilt(int32_t count) override { FClient.NotifyWork(WorkModeWrite, count); }

    void ErrorPacketCame(uint16_t code) override { FClient.FErrorPacketCode = code; }

    TIdTrivialFTP& FClient;
    TIdTFTPUploadRules FRules;
    TIdEndpoint FFrom; // the sender of the last receive
};

TIdTrivialFTP::TIdTrivialFTP(TComponent* owner) : TIdUDPClient(owner) {
    FTransferMode = tfOctet;
    FRequestedBlockSize = 1500;
    FPort = 69;
    SetReceiveTimeout(4000);
}

void TIdTrivialFTP::ApplyOptionAck(std::string_view packet) {
    int32_t blockSize = 0;
    if (OptionAckBlockSize(packet, blockSize)) {
        SetBufferSize(blockSize + TFTPHeaderSize);
    }
}

void TIdTrivialFTP::DeclineTransfer(uint16_t code, const std::string& text) {
    FDeclined = true;
    FDeclineCode = code;
    FDeclineText = text;
}

void TIdTrivialFTP::UploadFile(const std::string& localFile, const std::string& remoteFile) {
    TFileStream file(localFile); // closed on every path when it goes out of scope
    file.SetPosition(0);
    UploadStream(file, remoteFile);
}

TIdTFTPUploadSettings TIdTrivialFTP::UploadSettings(const std::string& remoteFile) {
    TIdTFTPUploadSettings settings;
    settings.Server = GlobalStack->ResolveEndpoint(FHost, FPort);
    settings.RemoteName = remoteFile;
    settings.Mode = FTransferMode;
    settings.RequestedBlockSize = FRequestedBlockSize;
    settings.ReceiveTimeout = ReceiveTimeout();
    settings.RequestWait = FRequestWait;
    settings.RequestRetryTime = FRequestRetryTime;
    settings.RideOutLinkFailures = FRideOutLinkFailures;
    settings.GiveUpTime = FGiveUpTime;
    return settings;
}

void TIdTrivialFTP::UploadStream(TStream& source, const std::string& remoteFile) {
    FErrorPacketCode = -1;
    const int64_t toSend = std::max<int64_t>(source.Size() - source.Position(), 0);
    NotifyWorkBegin(WorkModeWrite, static_cast<int32_t>(std::min<int64_t>(
                                       toSend, std::numeric_limits<int32_t>::max())));
    const TUploadScope scope(*this, [this] {
        // The handle object stays; only its socket goes. No socket is opened just to close it.
        if (TIdSocketHandle* handle = ExistingSocketHandle()) {
            handle->Close(true);
        }
    });
    FPeerIP.clear();
    FPeerPort = 0;
    FPeer = TIdEndpoint();
    SetBufferSize(TFTPDefaultBlockSize + TFTPHeaderSize);
    // Resolved once, inside the work scope: a name that does not resolve ends the transfer.
    TUpload(*this, source, UploadSettings(remoteFile)).Run();
}
