#include "tftp/IdTrivialFTP.h"

#include "net/Idexception.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The error by which Windows reports, on a later receive, that an earlier datagram met a closed
// port (an ICMP "port unreachable"): about the past, and nothing the transfer peer said.
constexpr int32_t WSAEConnReset = 10054;

// The most "Unknown transfer ID" answers of one upload: enough for every extra transfer that the
// repeated requests may have opened, and a bound on what a flood of the device's datagrams draws.
constexpr int TFTPMaxUnknownTransferAnswers = 16;

// Failures of a send or receive that say the way to the device is not there yet: the link is
// down or the interface has no address, no route leads to the network or the host, or the
// system has no buffer for the datagram (a link that is down keeps its queue full).
bool IsLinkFailure(int32_t error) {
    switch (error) {
    case 10049: // WSAEADDRNOTAVAIL
    case 10050: // WSAENETDOWN
    case 10051: // WSAENETUNREACH
    case 10055: // WSAENOBUFS
    case 10065: // WSAEHOSTUNREACH
        return true;
    default:
        return false;
    }
}

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

void PutWord(char* at, uint16_t value) {
    at[0] = static_cast<char>(value >> 8);
    at[1] = static_cast<char>(value & 0xFF);
}

uint16_t AckedBlock(std::string_view ack) {
    return NetBytesToWord(ack.size() > 2 ? ack.substr(2) : "");
}

// A point ms milliseconds after from; none (the end of time) for a negative ms, a wait without
// limit.
Clock::time_point After(Clock::time_point from, int32_t ms) {
    return ms < 0 ? Clock::time_point::max() : from + std::chrono::milliseconds(ms);
}

// The wait from now until due in whole milliseconds, rounded up, never below 0; NoTimeLimit
// when due is the end of time.
int32_t WaitUntil(Clock::time_point due, Clock::time_point now) {
    if (due == Clock::time_point::max()) {
        return NoTimeLimit;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    return static_cast<int32_t>(
        std::clamp<decltype(left)>(left, 0, std::numeric_limits<int32_t>::max()));
}

// The retransmission time-out of RFC 6298 section 2. The caller keeps Karn's rule: it measures
// only packets sent once, so a back-off stays until such a packet is acknowledged.
class TRetransmitTimer {
public:
    Clock::duration Timeout() const { return FTimeout; }

    void Measure(Clock::duration roundTrip) {
        if (!FMeasured) {
            // RFC 6298 section 2.2: the first measurement.
            FSmoothed = roundTrip;
            FVariation = roundTrip / 2;
            FMeasured = true;
        } else {
            // RFC 6298 section 2.3, with beta = 1/4 and alpha = 1/8; the variation first, from
            // the smoothed time before this measurement.
            const Clock::duration error =
                FSmoothed > roundTrip ? FSmoothed - roundTrip : roundTrip - FSmoothed;
            FVariation = (3 * FVariation + error) / 4;
            FSmoothed = (7 * FSmoothed + roundTrip) / 8;
        }
        // K = 4.
        FTimeout =
            Bounded(FSmoothed + std::max<Clock::duration>(TFTPClockGranularity, 4 * FVariation));
    }

    // RFC 6298 section 5.5: the same packet goes again after twice the time.
    void BackOff() { FTimeout = Bounded(2 * FTimeout); }

private:
    static Clock::duration Bounded(Clock::duration timeout) {
        return std::clamp<Clock::duration>(timeout, TFTPMinRetransmitTime, TFTPMaxRetransmitTime);
    }

    bool FMeasured = false;
    Clock::duration FSmoothed{};
    Clock::duration FVariation{};
    Clock::duration FTimeout = TFTPInitialRetransmitTime;
};

} // namespace

// One upload, from the request to the end. Waits and receives are in Await, which drops every
// datagram the upload must not hear; what is sent and what changes is decided in Decide alone,
// once per datagram taken and per time that has come. The buffers are made at the start and grown
// once, when the first answer agrees a larger block: nothing is allocated per block.
class TIdTrivialFTP::TUpload {
public:
    TUpload(TIdTrivialFTP& client, TStream& source, const std::string& remoteFile)
        : FClient(client), FSource(source),
          FRequest(MakeWriteRequest(remoteFile, client.FTransferMode, client.FRequestedBlockSize)),
          FUnknownTransfer(MakeErrorPacket(TFTPErrorUnknownTransferId, TFTPUnknownTransferIdText)),
          FPacket(static_cast<size_t>(TFTPDefaultBlockSize + TFTPHeaderSize)),
          FReceived(FPacket.size()) {}

    void Run() {
        FClient.SetBufferSize(TFTPDefaultBlockSize + TFTPHeaderSize);
        // Resolved once: the first answer must come from this address.
        FRequestIP = GlobalStack->HostToAddress(FClient.FHost);
        FNow = Clock::now();
        const int32_t requestWait = FClient.FRequestWait;
        FDeadline =
            After(FNow, requestWait > 0 || requestWait == NoTimeLimit ? requestWait
                                                                      : FClient.ReceiveTimeout());
        CheckAbort();
        SendRequest();
        while (FState != TState::Done) {
            Decide(Await());
        }
    }

private:
    enum class TState : uint8_t {
        RequestSent,    // waiting for the first answer to the write request
        BlockHeld,      // a data block is out, waiting for its acknowledgement
        FinalBlockHeld, // the block that ends the image is out
        Done,
    };
    // What ends a wait.
    enum class TEvent : uint8_t {
        Answer, // a datagram of the transfer peer, in FReceived
        ResendDue,
        WaitOver, // the deadline: nothing moved the transfer on for the whole wait
    };

    TEvent Await() {
        // A datagram that is not taken moves neither time: the wait goes on to the same one.
        const bool resendFirst = FResendAt < FDeadline;
        const Clock::time_point due = resendFirst ? FResendAt : FDeadline;
        for (;;) {
            CheckAbort();
            int32_t wait = WaitUntil(due, FNow);
            // With an abort flag the wait goes in pieces; a piece that ends is not the due time.
            const bool piece =
                FClient.FAbortFlag != nullptr && (wait == NoTimeLimit || wait > TFTPAbortPollTime);
            if (piece) {
                wait = TFTPAbortPollTime;
            }
            if (!FClient.ReceiveDatagram(FReceived.data(), static_cast<int32_t>(FReceived.size()),
                                         FFromIP, FFromPort, wait, FCount)) {
                if (piece) {
                    FNow = Clock::now();
                    continue;
                }
                return resendFirst ? TEvent::ResendDue : TEvent::WaitOver;
            }
            if (Taken()) {
                return TEvent::Answer;
            }
            FNow = Clock::now();
        }
    }

    void CheckAbort() const {
        if (FClient.FAbortFlag != nullptr && FClient.FAbortFlag->load()) {
            throw EIdTFTPAborted();
        }
    }

    // Judges the result of every receive, a failed one included: true for a datagram the upload
    // reads, false for one it drops; raises for a failure of the transfer's own.
    bool Taken() {
        // RFC 1350 section 4: the first answer comes from a new port of the host the request
        // went to; that port is the server's transfer identifier, and from then on only datagrams
        // of that address and port belong to the transfer.
        const bool fromPeer = FState == TState::RequestSent
                                  ? FFromIP == FRequestIP
                                  : FFromIP == FClient.FPeerIP && FFromPort == FClient.FPeerPort;
        if (FCount < 0) {
            const int32_t error = GlobalStack->LastSocketError();
            if (error == WSAEConnReset) {
                return false;
            }
            if (RidingOutLink() && IsLinkFailure(error)) {
                LinkWait(error);
                return false;
            }
            // A datagram too long for the buffer has a sender, and a stranger's is dropped like
            // any other of its datagrams. Every other failure is the socket's own.
            if (error != Id_WSAEMSGSIZE || fromPeer) {
                GlobalStack->CheckSocketResult(FCount);
            }
            return false;
        }
        if (!fromPeer) {
            AnswerUnknownTransfer();
            return false;
        }
        if (FCount == 0) {
            throw EIdUDPReceiveErrorZeroBytes(IdText::UDPReceiveErrorZeroBytes);
        }
        return true;
    }

    // RFC 1350 section 4: a datagram of another port of the transfer peer's host, once the
    // transfer is under way, belongs to a transfer that one of the repeated requests opened; it
    // is told "Unknown transfer ID", so that the device ends that transfer at once, and ours goes
    // on undisturbed. Other hosts, error packets and what comes before the first answer are not
    // answered.
    void AnswerUnknownTransfer() {
        if (FState == TState::RequestSent || FCount < TFTPHeaderSize ||
            FFromIP != FClient.FPeerIP ||
            FUnknownTransferAnswers >= TFTPMaxUnknownTransferAnswers ||
            NetBytesToWord(std::string_view(FReceived.data(), 2)) == TFTP_ERROR) {
            return;
        }
        ++FUnknownTransferAnswers;
        try {
            FClient.SendBytesTo(FFromIP, FFromPort, FUnknownTransfer.data(),
                                static_cast<int32_t>(FUnknownTransfer.size()));
        } catch (const EIdSocketError&) {
            // A courtesy to the device: its failure is not one of our transfer.
        }
    }

    bool RidingOutLink() const {
        return FClient.FRideOutLinkFailures && FState == TState::RequestSent;
    }

    void LinkWait(int32_t error) {
        if (FClient.OnLinkWait) {
            FClient.OnLinkWait(&FClient, error);
        }
    }

    void Decide(TEvent event) {
        FNow = Clock::now();
        switch (event) {
        case TEvent::WaitOver:
            // The last request could not leave: that, not the device, is why nothing came.
            if (FState == TState::RequestSent && FLinkFailure) {
                std::rethrow_exception(FLinkFailure);
            }
            // After the final block the device may have stored the image and restarted before
            // its last acknowledgement reached us: the silence ends the upload as a success.
            // Before it, the device has stopped answering.
            if (FState != TState::FinalBlockHeld) {
                throw EIdTFTPException(IdText::TFTPTimeout);
            }
            FState = TState::Done;
            return;
        case TEvent::ResendDue:
            if (FState == TState::RequestSent) {
                SendRequest();
            } else {
                // RFC 1123 section 4.2.3.2: the held block goes again when its acknowledgement is
                // late, and each further try of it waits twice as long.
                FTimer.BackOff();
                SendHeld();
            }
            return;
        case TEvent::Answer:
            break;
        }

        const std::string_view answer(FReceived.data(), static_cast<size_t>(FCount));
        const uint16_t opcode = NetBytesToWord(answer);
        if (opcode == TFTP_ERROR) {
            FClient.FErrorPacketCode = NetBytesToWord(answer.size() > 2 ? answer.substr(2) : "");
            RaiseErrorPacket(answer);
        }
        if (FState == TState::RequestSent) {
            TakeFirstAnswer(answer, opcode);
            return;
        }
        // RFC 1123 section 4.2.3.1: only the acknowledgement of the held block moves the transfer
        // on. Anything else of the peer (a duplicate acknowledgement, a late option
        // acknowledgement, an unknown opcode) is not answered: a block sent again for every
        // duplicate makes every duplicated datagram start a chain of sends that never ends.
        if (opcode != TFTP_ACK || AckedBlock(answer) != FBlock) {
            return;
        }
        if (FSends == 1) {
            FTimer.Measure(FNow - FSentAt);
        }
        if (FState == TState::FinalBlockHeld) {
            FState = TState::Done;
            return;
        }
        SendNewBlock(static_cast<uint16_t>(FBlock + 1));
    }

    void TakeFirstAnswer(std::string_view answer, uint16_t opcode) {
        FClient.FPeerIP = FFromIP;
        FClient.FPeerPort = FFromPort;
        FClient.FDeclined = false;
        if (FClient.OnTransferPeer) {
            FClient.OnTransferPeer(&FClient);
        }
        if (FClient.FDeclined) {
            const std::string packet = MakeErrorPacket(FClient.FDeclineCode, FClient.FDeclineText);
            FClient.SendBytesTo(FClient.FPeerIP, FClient.FPeerPort, packet.data(),
                                static_cast<int32_t>(packet.size()));
            throw EIdTFTPDeclined(FClient.FDeclineText);
        }
        if (FRequests == 1) {
            FTimer.Measure(FNow - FSentAt);
        }
        // A first acknowledgement of block n asks for block n + 1; any other answer (an option
        // acknowledgement among them) for block 1. The options are agreed here, once (RFC 2347
        // section 3): the device cuts the image by the block size it agreed to.
        uint16_t first = 1;
        if (opcode == TFTP_OACK) {
            FClient.ApplyOptionAck(answer);
        } else if (opcode == TFTP_ACK) {
            first = static_cast<uint16_t>(AckedBlock(answer) + 1); // 65535 is followed by 0
        }
        FBlockSize = FClient.BufferSize() - TFTPHeaderSize;
        const auto bufferSize = static_cast<size_t>(FClient.BufferSize());
        if (FPacket.size() < bufferSize) {
            FPacket.resize(bufferSize);
            FReceived.resize(bufferSize);
        }
        SendNewBlock(first);
    }

    void SendNewBlock(uint16_t number) {
        // The answer just taken is progress: the clock of the wait starts again.
        FDeadline = After(FNow, FClient.ReceiveTimeout());
        const int64_t left = std::max<int64_t>(FSource.Size() - FSource.Position(), 0);
        const auto n = static_cast<int32_t>(std::min<int64_t>(FBlockSize, left));
        PutWord(FPacket.data(), TFTP_DATA);
        PutWord(FPacket.data() + 2, number);
        FSource.ReadBuffer(FPacket.data() + TFTPHeaderSize, static_cast<size_t>(n));
        FPacketLength = TFTPHeaderSize + n;
        FBlock = number;
        // The first block shorter than the block size ends the image; when the image is a
        // multiple of the block size, that is a block of no data.
        FState = n < FBlockSize ? TState::FinalBlockHeld : TState::BlockHeld;
        FClient.NotifyWork(WorkModeWrite, n);
        FSends = 0;
        SendHeld();
    }

    void SendHeld() {
        FSentAt = Clock::now();
        FNow = FSentAt;
        FClient.SendBytesTo(FClient.FPeerIP, FClient.FPeerPort, FPacket.data(), FPacketLength);
        ++FSends;
        FResendAt = FSentAt + FTimer.Timeout();
    }

    void SendRequest() {
        if (FClient.OnRequest) {
            FClient.OnRequest(&FClient);
        }
        FSentAt = Clock::now();
        FNow = FSentAt;
        try {
            FClient.SendBytesTo(FRequestIP, FClient.FPort, FRequest.data(),
                                static_cast<int32_t>(FRequest.size()));
            if (FLinkFailure) {
                FLinkFailure = nullptr;
                LinkWait(0);
            }
        } catch (const EIdSocketError& e) {
            if (!RidingOutLink() || !IsLinkFailure(e.ErrorCode())) {
                throw;
            }
            FLinkFailure = std::current_exception();
            LinkWait(e.ErrorCode());
        }
        ++FRequests;
        // The next request: TFTPFirstRequestRetryTime after the first, then after twice the time
        // before, at most RequestRetryTime apart.
        const int32_t ceiling = FClient.FRequestRetryTime;
        if (ceiling <= 0) {
            FResendAt = Clock::time_point::max();
            return;
        }
        FRequestInterval =
            FRequests == 1
                ? TFTPFirstRequestRetryTime
                : static_cast<int32_t>(std::min<int64_t>(int64_t{2} * FRequestInterval, ceiling));
        FRequestInterval = std::min(FRequestInterval, ceiling);
        FResendAt = FSentAt + std::chrono::milliseconds(FRequestInterval);
    }

    TIdTrivialFTP& FClient;
    TStream& FSource;
    TState FState = TState::RequestSent;
    const std::string FRequest;
    const std::string FUnknownTransfer; // the error packet for another port of the peer's host
    std::string FRequestIP;
    int FRequests = 0;               // times the request was sent
    int32_t FRequestInterval = 0;    // from the last request to the next
    std::exception_ptr FLinkFailure; // why the last request could not leave, when it could not
    int FUnknownTransferAnswers = 0;
    int32_t FBlockSize = TFTPDefaultBlockSize;

    // The data packet held, built in place: its number, length, and the times it was sent.
    std::vector<char> FPacket;
    int32_t FPacketLength = 0;
    uint16_t FBlock = 0;
    int FSends = 0;

    // The receive buffer and the last receive's result and sender.
    std::vector<char> FReceived;
    int32_t FCount = 0;
    std::string FFromIP;
    int32_t FFromPort = 0;

    Clock::time_point FNow;      // the last clock reading
    Clock::time_point FSentAt;   // the last send
    Clock::time_point FDeadline; // of the wait: the last progress + ReceiveTimeout
    Clock::time_point FResendAt = Clock::time_point::max();
    TRetransmitTimer FTimer;
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
    TUpload(*this, source, remoteFile).Run();
}
