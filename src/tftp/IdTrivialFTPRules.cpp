#include "tftp/IdTrivialFTPRules.h"

#include "net/IdStack.h"
#include "net/Idexception.h"

#include <algorithm>
#include <limits>

namespace {

// The error by which Windows reports, on a later receive, that an earlier datagram met a closed
// port (an ICMP "port unreachable"): about the past, and nothing the transfer peer said.
constexpr int32_t WSAEConnReset = 10054;

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

// What the transfer runs with once the device has answered the options.
struct TAgreed {
    int32_t BlockSize = TFTPDefaultBlockSize;
};

// The options the client offers (RFC 2347), one row each: the value offered, made from the
// settings, and how the value the device acknowledged is taken (raising for one the client cannot
// take). Offering another option is one more row.
struct TOptionRow {
    const char* Name;
    std::string (*Offer)(const TIdTFTPUploadSettings& settings);
    void (*Take)(std::string_view value, TAgreed& agreed);
};

constexpr TOptionRow OptionRows[] = {
    // RFC 2348: the device cuts the image by the block size it agreed to.
    {TFTPBlockSizeOption,
     [](const TIdTFTPUploadSettings& settings) {
         return std::to_string(settings.RequestedBlockSize);
     },
     [](std::string_view value, TAgreed& agreed) {
         agreed.BlockSize = BlockSizeOptionValue(value);
     }},
};

void PutWord(char* at, uint16_t value) {
    at[0] = static_cast<char>(value >> 8);
    at[1] = static_cast<char>(value & 0xFF);
}

uint16_t WordAt(std::string_view packet, size_t offset) {
    return NetBytesToWord(packet.size() > offset ? packet.substr(offset) : "");
}

// A point ms milliseconds after from; none (the end of time) for a negative ms, a wait without
// limit.
TIdTFTPTime After(TIdTFTPTime from, int32_t ms) {
    return ms < 0 ? TIdTFTPNever : from + std::chrono::milliseconds(ms);
}

} // namespace

TIdTFTPOptions RequestOptions(const TIdTFTPUploadSettings& settings) {
    TIdTFTPOptions options;
    for (const TOptionRow& row : OptionRows) {
        options.push_back({row.Name, row.Offer(settings)});
    }
    return options;
}

TIdTFTPUploadRules::TIdTFTPUploadRules(const TIdTFTPUploadSettings& settings, TStream& source,
                                       TIdTFTPUploadEvents& events)
    : FSettings(settings), FSource(source), FEvents(events), FOptions(RequestOptions(settings)),
      FRequest(MakeWriteRequest(settings.RemoteName, settings.Mode, FOptions)),
      FUnknownTransfer(MakeErrorPacket(TFTPErrorUnknownTransferId, TFTPUnknownTransferIdText)),
      FPacket(static_cast<size_t>(TFTPDefaultBlockSize + TFTPHeaderSize)),
      FReceived(FPacket.size()) {}

TIdTFTPStep TIdTFTPUploadRules::Start(TIdTFTPTime now) {
    const int32_t requestWait = FSettings.RequestWait;
    FDeadline =
        After(now, requestWait > 0 || requestWait == NoTimeLimit ? requestWait
                                                                 : FSettings.ReceiveTimeout);
    return SendRequest(now);
}

TIdTFTPStep TIdTFTPUploadRules::Wait() const {
    TIdTFTPStep step;
    step.WakeAt = std::min(FResendAt, FDeadline);
    return step;
}

void TIdTFTPUploadRules::Sent() {
    if (FLastSent == TSent::Request && FLinkFailure) {
        FLinkFailure = nullptr;
        FEvents.LinkWait(0);
    }
}

TIdTFTPStep TIdTFTPUploadRules::SendFailed(TIdTFTPTime /*now*/, int32_t error,
                                           const std::exception_ptr& failure) {
    switch (FLastSent) {
    case TSent::Courtesy:
        // A courtesy to the device: its failure is not one of our transfer.
        return Wait();
    case TSent::Refusal: {
        // The transfer ends with its own failure, told or not.
        TIdTFTPStep step;
        step.Failure = FRefusalFailure;
        return step;
    }
    case TSent::Request:
        if (RidingOutLink() && IsLinkFailure(error)) {
            FLinkFailure = failure;
            FEvents.LinkWait(error);
            return Wait();
        }
        break;
    case TSent::Nothing:
    case TSent::Block:
        break;
    }
    std::rethrow_exception(failure);
}

TIdTFTPStep TIdTFTPUploadRules::Woken(TIdTFTPTime now) {
    if (now >= FDeadline) {
        // The last request could not leave: that, not the device, is why nothing came.
        if (FState == TIdTFTPUploadState::RequestSent && FLinkFailure) {
            std::rethrow_exception(FLinkFailure);
        }
        // After the final block the device may have stored the image and restarted before its
        // last acknowledgement reached us: the silence ends the upload as a success, unless the
        // device has shown that it did not take that block. Before it, the device has stopped
        // answering.
        if (FState != TIdTFTPUploadState::FinalBlockHeld || FFinalRefused) {
            throw EIdTFTPException(IdText::TFTPTimeout);
        }
        FSource.CheckUnchanged();
        FState = TIdTFTPUploadState::Done;
        TIdTFTPStep step;
        step.Done = true;
        return step;
    }
    if (now < FResendAt) {
        return Wait(); // woken early: nothing is due
    }
    if (FState == TIdTFTPUploadState::RequestSent) {
        return SendRequest(now);
    }
    // RFC 1123 section 4.2.3.2: the held block goes again when its acknowledgement is late, and
    // each further try of it waits twice as long.
    BackOff();
    return SendHeld(now);
}

std::optional<TIdTFTPStep>
TIdTFTPUploadRules::ReceiveFailed(TIdTFTPTime /*now*/, const TIdEndpoint& from, int32_t error) {
    if (error == WSAEConnReset) {
        return Wait();
    }
    if (RidingOutLink() && IsLinkFailure(error)) {
        FEvents.LinkWait(error);
        return Wait();
    }
    // A datagram too long for the buffer has a sender, and a stranger's is dropped like any
    // other of its datagrams. Every other failure is the socket's own.
    const bool fromPeer =
        FState == TIdTFTPUploadState::RequestSent ? from.SameHost(FSettings.Server) : from == FPeer;
    if (error == Id_WSAEMSGSIZE && !fromPeer) {
        return Wait();
    }
    return std::nullopt;
}

TIdTFTPStep TIdTFTPUploadRules::Received(TIdTFTPTime now, const TIdEndpoint& from, int32_t count) {
    const std::string_view datagram(FReceived.data(), static_cast<size_t>(std::max(count, 0)));
    // RFC 1350 section 4: the first answer comes from a new port of the host the request went
    // to; that port is the server's transfer identifier, and from then on only datagrams of that
    // address and port belong to the transfer.
    const bool first = FState == TIdTFTPUploadState::RequestSent;
    if (first ? !from.SameHost(FSettings.Server) : from != FPeer) {
        return AnswerUnknownTransfer(from, datagram);
    }
    if (datagram.empty()) {
        throw EIdUDPReceiveErrorZeroBytes(IdText::UDPReceiveErrorZeroBytes);
    }
    const uint16_t opcode = NetBytesToWord(datagram);
    if (opcode == TFTP_ERROR) {
        FEvents.ErrorPacketCame(WordAt(datagram, 2));
        RaiseErrorPacket(datagram);
    }
    if (first) {
        return TakeFirstAnswer(now, from, datagram, opcode);
    }
    // RFC 1123 section 4.2.3.1: only the acknowledgement of the held block moves the transfer
    // on. Anything else of the peer (a duplicate acknowledgement, a late option acknowledgement,
    // an unknown opcode) is not answered: a block sent again for every duplicate makes every
    // duplicated datagram start a chain of sends that never ends.
    if (opcode != TFTP_ACK || WordAt(datagram, 2) != FBlock) {
        // An acknowledgement of another block while the final one is out (of the block before,
        // sent again on the device's own timer, or of block 0 from a device that restarted): the
        // device did not take the final block, and its silence will mean no success. The block
        // is held like any other until its own acknowledgement comes.
        if (opcode == TFTP_ACK && FState == TIdTFTPUploadState::FinalBlockHeld && !FFinalRefused) {
            FFinalRefused = true;
            FDeadline = GiveUp(FBlockSentAt);
        }
        return Wait();
    }
    if (FSends == 1) {
        Measure(now - FSentAt);
    }
    FEvents.BlockAcknowledged(FPacketLength - TFTPHeaderSize);
    if (FState == TIdTFTPUploadState::FinalBlockHeld) {
        FSource.CheckUnchanged();
        FState = TIdTFTPUploadState::Done;
        TIdTFTPStep step;
        step.Done = true;
        return step;
    }
    return SendNewBlock(now, static_cast<uint16_t>(FBlock + 1));
}

TIdTFTPStep TIdTFTPUploadRules::AnswerUnknownTransfer(const TIdEndpoint& from,
                                                      std::string_view datagram) {
    // RFC 1350 section 4: a datagram of another port of the transfer peer's host, once the
    // transfer is under way, belongs to a transfer that one of the repeated requests opened; it
    // is told "Unknown transfer ID", so that the device ends that transfer at once, and ours goes
    // on undisturbed. Other hosts, error packets and what comes before the first answer are not
    // answered.
    TIdTFTPStep step = Wait();
    if (FState == TIdTFTPUploadState::RequestSent ||
        datagram.size() < static_cast<size_t>(TFTPHeaderSize) || !from.SameHost(FPeer) ||
        FUnknownTransferAnswers >= TFTPMaxUnknownTransferAnswers ||
        NetBytesToWord(datagram) == TFTP_ERROR) {
        return step;
    }
    ++FUnknownTransferAnswers;
    FLastSent = TSent::Courtesy;
    step.Send = FUnknownTransfer;
    step.To = from;
    return step;
}

TIdTFTPStep TIdTFTPUploadRules::TakeFirstAnswer(TIdTFTPTime now, const TIdEndpoint& from,
                                                std::string_view answer, uint16_t opcode) {
    FPeer = from;
    uint16_t code = 0;
    std::string text;
    if (!FEvents.TransferPeer(FPeer, code, text)) {
        FState = TIdTFTPUploadState::Done;
        FRefusal = MakeErrorPacket(code, text);
        FRefusalFailure = std::make_exception_ptr(EIdTFTPDeclined(text));
        FLastSent = TSent::Refusal;
        TIdTFTPStep step;
        step.Send = FRefusal;
        step.To = FPeer;
        step.Failure = FRefusalFailure;
        return step;
    }
    if (FRequests == 1) {
        Measure(now - FSentAt);
    } else {
        FTimeout = std::clamp<TIdTFTPClock::duration>(2 * (now - FFirstRequestAt),
                                                      TFTPInitialRetransmitTime,
                                                      TFTPRepeatedRequestRetransmitTime);
    }
    // A first acknowledgement of block n asks for block n + 1; any other answer (an option
    // acknowledgement among them) for block 1. The options are agreed here, once (RFC 2347
    // section 3): the device cuts the image by the block size it agreed to.
    uint16_t firstBlock = 1;
    TAgreed agreed;
    if (opcode == TFTP_OACK) {
        const TIdTFTPOptionAck ack = TIdTFTPOptionAck::Read(answer, FOptions);
        for (const TOptionRow& row : OptionRows) {
            if (const std::string* value = ack.Find(row.Name)) {
                row.Take(*value, agreed);
            }
        }
    } else if (opcode == TFTP_ACK) {
        firstBlock = static_cast<uint16_t>(WordAt(answer, 2) + 1); // 65535 is followed by 0
    }
    FBlockSize = agreed.BlockSize;
    FEvents.BlockSizeAgreed(FBlockSize);
    const size_t bufferSize = static_cast<size_t>(FBlockSize) + TFTPHeaderSize;
    if (FPacket.size() < bufferSize) {
        FPacket.resize(bufferSize);
        FReceived.resize(bufferSize);
    }
    return SendNewBlock(now, firstBlock);
}

TIdTFTPStep TIdTFTPUploadRules::SendNewBlock(TIdTFTPTime now, uint16_t number) {
    const int64_t left = std::max<int64_t>(FSource.Size() - FSource.Position(), 0);
    const auto n = static_cast<int32_t>(std::min<int64_t>(FBlockSize, left));
    PutWord(FPacket.data(), TFTP_DATA);
    PutWord(FPacket.data() + 2, number);
    FSource.ReadBuffer(FPacket.data() + TFTPHeaderSize, static_cast<size_t>(n));
    FPacketLength = TFTPHeaderSize + n;
    FBlock = number;
    // The first block shorter than the block size ends the image; when the image is a multiple
    // of the block size, that is a block of no data.
    FState = n < FBlockSize ? TIdTFTPUploadState::FinalBlockHeld : TIdTFTPUploadState::BlockHeld;
    // The image must be the one it was when the upload began, whole: a file rewritten meanwhile
    // would give the device its first part old and the rest new. Checked before the block that
    // ends it goes, and again at the end.
    if (FState == TIdTFTPUploadState::FinalBlockHeld) {
        FSource.CheckUnchanged();
    }
    // The answer just taken is progress: the clock of the wait starts again. The final block's
    // silence means success after ReceiveTimeout; any other block is given up later.
    FBlockSentAt = now;
    FDeadline = FState == TIdTFTPUploadState::FinalBlockHeld ? After(now, FSettings.ReceiveTimeout)
                                                             : GiveUp(now);
    FEvents.BlockBuilt(n);
    FSends = 0;
    return SendHeld(now);
}

TIdTFTPStep TIdTFTPUploadRules::SendHeld(TIdTFTPTime now) {
    FSentAt = now;
    ++FSends;
    FResendAt = now + FTimeout;
    FLastSent = TSent::Block;
    TIdTFTPStep step = Wait();
    step.Send = std::string_view(FPacket.data(), static_cast<size_t>(FPacketLength));
    step.To = FPeer;
    return step;
}

TIdTFTPStep TIdTFTPUploadRules::SendRequest(TIdTFTPTime now) {
    FEvents.RequestDue();
    FSentAt = now;
    if (FRequests++ == 0) {
        FFirstRequestAt = now;
    }
    FLastSent = TSent::Request;
    // The next request: TFTPFirstRequestRetryTime after the first, then after twice the time
    // before, at most RequestRetryTime apart.
    const int32_t ceiling = FSettings.RequestRetryTime;
    if (ceiling <= 0) {
        FResendAt = TIdTFTPNever;
    } else {
        FRequestInterval =
            FRequests == 1
                ? TFTPFirstRequestRetryTime
                : static_cast<int32_t>(std::min<int64_t>(int64_t{2} * FRequestInterval, ceiling));
        FRequestInterval = std::min(FRequestInterval, ceiling);
        FResendAt = now + std::chrono::milliseconds(FRequestInterval);
    }
    TIdTFTPStep step = Wait();
    step.Send = FRequest;
    step.To = FSettings.Server;
    return step;
}

void TIdTFTPUploadRules::Measure(TIdTFTPClock::duration roundTrip) {
    if (!FMeasured) {
        // RFC 6298 section 2.2: the first measurement.
        FSmoothed = roundTrip;
        FVariation = roundTrip / 2;
        FMeasured = true;
    } else {
        // RFC 6298 section 2.3, with beta = 1/4 and alpha = 1/8; the variation first, from the
        // smoothed time before this measurement.
        const TIdTFTPClock::duration error =
            FSmoothed > roundTrip ? FSmoothed - roundTrip : roundTrip - FSmoothed;
        FVariation = (3 * FVariation + error) / 4;
        FSmoothed = (7 * FSmoothed + roundTrip) / 8;
    }
    // K = 4, with the floor as the least margin above the smoothed round trip.
    FTimeout = std::clamp<TIdTFTPClock::duration>(
        FSmoothed + std::max<TIdTFTPClock::duration>(TFTPMinRetransmitTime, 4 * FVariation),
        TFTPMinRetransmitTime, Ceiling());
}

void TIdTFTPUploadRules::BackOff() {
    // RFC 6298 section 5.5: the same packet goes again after twice the time.
    FTimeout = std::clamp<TIdTFTPClock::duration>(2 * FTimeout, TFTPMinRetransmitTime, Ceiling());
}

TIdTFTPClock::duration TIdTFTPUploadRules::Ceiling() const {
    // Before any round trip is known, the time-out the transfer started with.
    const TIdTFTPClock::duration ceiling = std::max<TIdTFTPClock::duration>(
        TFTPMaxRetransmitTime, FMeasured ? 2 * FSmoothed : FTimeout);
    if (FSettings.GiveUpTime < 0) {
        return ceiling;
    }
    return std::max<TIdTFTPClock::duration>(
        std::min<TIdTFTPClock::duration>(ceiling, std::chrono::milliseconds(FSettings.GiveUpTime)),
        TFTPMinRetransmitTime);
}

TIdTFTPTime TIdTFTPUploadRules::GiveUp(TIdTFTPTime firstSent) const {
    if (FSettings.ReceiveTimeout < 0 || FSettings.GiveUpTime < 0) {
        return TIdTFTPNever;
    }
    return After(firstSent, std::max(FSettings.GiveUpTime, FSettings.ReceiveTimeout));
}
