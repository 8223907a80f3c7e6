// The rules of one upload by a write request, apart from the socket and the clock. They are told
// what happened (a datagram, a failed receive or send, a time that has come) and the time now, and
// say what to do: send these bytes to this endpoint, wake at this time, done; a failure is raised.
// TIdTrivialFTP runs them on the socket and the system's clock; tests run them on a clock of their
// own, so that rules spanning seconds are checked in no time.
#pragma once

#include "base/Streams.h"
#include "net/IdEndpoint.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTPBase.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TIdTFTPClock = std::chrono::steady_clock;
using TIdTFTPTime = TIdTFTPClock::time_point;
// No time at all: a wait without end.
inline constexpr TIdTFTPTime TIdTFTPNever = TIdTFTPTime::max();

// Retransmission of a data block whose acknowledgement is late (RFC 1123 section 4.2.3.2: an
// adaptive time-out with exponential back-off). The time-out follows the measured round trips as
// RFC 6298 section 2 computes it, from blocks sent once only (Karn's rule), and doubles for each
// further send of the same block (RFC 6298 section 5.5), always within these bounds.
//
// RFC 6298 section 2.1: the time-out before any round trip has been measured. Only a request
// sent more than once leaves the first block without a measurement.
inline constexpr std::chrono::milliseconds TFTPInitialRetransmitTime{1000};
// The floor, and the least margin above the smoothed round trip (it stands for RFC 6298's clock
// granularity G in SRTT + max(G, 4 RTTVAR)). The device sits on the local link, where a round
// trip takes well under a millisecond; the margin covers what the estimate cannot foresee: a
// busy desktop scheduling us late, the 15.6 ms tick of Windows timers, and the jitter of a slow
// device whose round trips are all alike (its variation vanishes, and a time-out of the round trip
// alone would fire on every small delay). A time-out that fires too early costs one datagram each
// way (the duplicate acknowledgement it draws is not answered, RFC 1123 section 4.2.3.1), so the
// floor can sit far below the 1 s that RFC 6298 section 2.4 asks of TCP on the Internet; a device
// that pauses for a few hundred milliseconds to write flash costs a handful of such datagrams
// while the back-off doubles. Measured (bench/rto_floor.py, bench/results.md): at 3 % loss each
// way the median upload took 1.95 s with a floor of 100 ms, 1.04 s with 50 ms and 0.56 s with
// 25 ms; a device pausing 300 ms before 2 % of its answers drew 1.02, 1.04 and 1.06 data packets
// per block, in the same time. 25 ms, a little over the Windows tick, wins overall.
inline constexpr std::chrono::milliseconds TFTPMinRetransmitTime{25};
// RFC 6298 section 5.7, for the write request as for TCP's first segment: when the request had to
// be sent again, the answer may belong to any of its copies and gives no round trip; the first
// data block then waits twice the time since the first request, at least the initial time-out
// and at most this. A device that answered the first request late (a slow one) is not sent its
// first block twice; one that lost the first request (a unit just swapped in) keeps the initial
// second.
inline constexpr std::chrono::milliseconds TFTPRepeatedRequestRetransmitTime{3000};
// The ceiling of the back-off for a device on a fast link. Doubling relieves a congested path; a
// local link that has lost several datagrams in a row is not helped by longer silences: from the
// floor the tries come after 25, 75, 175, 375 and 775 ms, then every second. A device that has
// shown longer round trips gets a ceiling of twice its smoothed round trip, so that a block is
// not sent again while its acknowledgement is merely on its way.
inline constexpr std::chrono::milliseconds TFTPMaxRetransmitTime{1000};
// Once the transfer runs, a data block that is not acknowledged is given up this long after it
// first went (or ReceiveTimeout after, when that is longer): the default of GiveUpTime. Some
// receivers ignore a block they already have and send their last acknowledgement again only when
// their own timer runs out, after 5 to 6 s: when that acknowledgement is lost as well, the next one
// comes after 12 s. A device that has gone silent costs at most this long; a flood of anything but
// progress does not make it longer.
inline constexpr std::chrono::milliseconds TFTPTransferGiveUpTime{15000};

// The write request goes again while its first answer is awaited (RFC 1350 section 2: the sender
// of a packet that got no answer times out and sends it again): first this long after it went,
// then after twice the time before, at most RequestRetryTime apart. Half a second is far above the
// round trip of a device on the local link (a few milliseconds), so a device that answers at all
// seldom gets a second request; and it is soon enough to reach a unit that was just swapped in at
// the same address: the first request may leave before the ARP command has removed the old
// unit's hardware address (it goes to a unit that is no longer there), the next one is resolved
// afresh.
inline constexpr int32_t TFTPFirstRequestRetryTime = 500;
// The longest interval between two requests: for a device that is still starting, one request a
// second.
inline constexpr int32_t TFTPDefaultRequestRetryTime = 1000;
// The most "Unknown transfer ID" answers of one upload: enough for every extra transfer that the
// repeated requests may have opened, and a bound on what a flood of the device's datagrams draws.
inline constexpr int TFTPMaxUnknownTransferAnswers = 16;

// An upload whose transfer peer was declined (TIdTFTPUploadEvents::TransferPeer): the peer was
// told so by an error packet. Not of the EIdTFTPException family: the device did not fail.
class EIdTFTPDeclined : public EIdException {
public:
    using EIdException::EIdException;
};

// What one upload is run with; the rest it learns from the device.
struct TIdTFTPUploadSettings {
    TIdEndpoint Server; // where the write request goes, resolved once
    std::string RemoteName;
    TIdTFTPMode Mode = tfOctet;
    int32_t RequestedBlockSize = 1500; // offered with "blksize"
    int32_t ReceiveTimeout = 4000;     // ms without progress before the upload gives up
    // ms the first answer is awaited: above 0 that long, NoTimeLimit without limit, otherwise
    // ReceiveTimeout.
    int32_t RequestWait = 0;
    int32_t RequestRetryTime = TFTPDefaultRequestRetryTime; // 0 or below: the request goes once
    // ms after its first send that a data block is given up once the transfer runs (ReceiveTimeout
    // when that is longer); the final block's silence means success after ReceiveTimeout, unless
    // the device showed it did not take it.
    int32_t GiveUpTime = static_cast<int32_t>(TFTPTransferGiveUpTime.count());
    bool RideOutLinkFailures = false;
};

// The options a request offers, made from the settings: one row each of the client's option
// table, in the order they are written.
TIdTFTPOptions RequestOptions(const TIdTFTPUploadSettings& settings);

// What the rules tell the component that runs them, as it happens; each may raise, and the
// failure ends the upload.
class TIdTFTPUploadEvents {
public:
    virtual ~TIdTFTPUploadEvents() = default;
    // Before each write request is sent, the first and every repeat.
    virtual void RequestDue() = 0;
    // A request could not leave for the link (error), or left again after such a failure (0).
    virtual void LinkWait(int32_t error) = 0;
    // The first answer fixed the transfer peer. False declines the transfer, with the code and
    // text of the error packet the peer is then sent.
    virtual bool TransferPeer(const TIdEndpoint& peer, uint16_t& code, std::string& text) = 0;
    // The options the device agreed to; the block size the transfer runs with.
    virtual void BlockSizeAgreed(int32_t blockSize) = 0;
    // A new block of count bytes is about to be sent.
    virtual void BlockBuilt(int32_t count) = 0;
    // The device acknowledged the block held, of count bytes.
    virtual void BlockAcknowledged(int32_t count) = 0;
    // The transfer peer sent an error packet with this code; the upload ends with its exception.
    virtual void ErrorPacketCame(uint16_t code) = 0;
};

enum class TIdTFTPUploadState : uint8_t {
    RequestSent,    // waiting for the first answer to the write request
    BlockHeld,      // a data block is out, waiting for its acknowledgement
    FinalBlockHeld, // the block that ends the image is out
    Done,
};

// What to do next: send (when Send is not empty), then end with Failure when there is one, or
// with success when Done, or wait for a datagram until WakeAt.
struct TIdTFTPStep {
    std::string_view Send; // valid until the rules are called again
    TIdEndpoint To;
    TIdTFTPTime WakeAt = TIdTFTPNever;
    bool Done = false;
    std::exception_ptr Failure;
};

// One object per upload, so the padding between its members, grouped by what they hold, costs
// nothing.
// NOLINTNEXTLINE(clang-analyzer-optin.performance.Padding)
class TIdTFTPUploadRules {
public:
    // The source is read from its current position to its end. Buffers are made here and grown
    // once, when the first answer agrees a larger block: nothing is allocated per block.
    TIdTFTPUploadRules(const TIdTFTPUploadSettings& settings, TStream& source,
                       TIdTFTPUploadEvents& events);

    TIdTFTPStep Start(TIdTFTPTime now);
    // A datagram of count bytes arrived in ReceiveBuffer from the endpoint.
    TIdTFTPStep Received(TIdTFTPTime now, const TIdEndpoint& from, int32_t count);
    // A receive failed with error; the sender is what the system reported. None: the failure is
    // the transfer's own and ends it (the caller raises it).
    std::optional<TIdTFTPStep> ReceiveFailed(TIdTFTPTime now, const TIdEndpoint& from,
                                             int32_t error);
    // The send of the last step went out.
    void Sent();
    // The send of the last step failed with error; failure is the exception, which goes on to
    // the caller unless the rules pass it over.
    TIdTFTPStep SendFailed(TIdTFTPTime now, int32_t error, const std::exception_ptr& failure);
    // The wake time of the last step has come (or a wait ended early: nothing is due then).
    TIdTFTPStep Woken(TIdTFTPTime now);

    // Where the next datagram is received, and how much it may hold.
    char* ReceiveBuffer() { return FReceived.data(); }
    int32_t ReceiveCapacity() const { return static_cast<int32_t>(FReceived.size()); }

    TIdTFTPUploadState State() const { return FState; }
    const TIdEndpoint& Peer() const { return FPeer; }
    // The final block is out and the device has shown that it did not take it (it acknowledged
    // an earlier block): only the final block's own acknowledgement ends the upload now.
    bool FinalBlockRefused() const { return FFinalRefused; }
    int32_t BlockSize() const { return FBlockSize; }
    // The retransmission time-out the next send of a block would wait.
    TIdTFTPClock::duration RetransmitTimeout() const { return FTimeout; }

private:
    // What the last step sent: the request, a data block, "Unknown transfer ID" to another
    // port, or the error packet that ends the transfer.
    enum class TSent : uint8_t { Nothing, Request, Block, Courtesy, Refusal };

    TIdTFTPStep Wait() const;
    TIdTFTPStep SendRequest(TIdTFTPTime now);
    TIdTFTPStep SendHeld(TIdTFTPTime now);
    TIdTFTPStep SendNewBlock(TIdTFTPTime now, uint16_t number);
    TIdTFTPStep TakeFirstAnswer(TIdTFTPTime now, const TIdEndpoint& from, std::string_view answer,
                                uint16_t opcode);
    TIdTFTPStep AnswerUnknownTransfer(const TIdEndpoint& from, std::string_view datagram);
    bool RidingOutLink() const {
        return FSettings.RideOutLinkFailures && FState == TIdTFTPUploadState::RequestSent;
    }
    // RFC 6298 section 2: a round trip measured on a packet sent once.
    void Measure(TIdTFTPClock::duration roundTrip);
    void BackOff();
    // The ceiling of the retransmission time-out: TFTPMaxRetransmitTime, or twice the smoothed
    // round trip of a slower device, never beyond the give-up time.
    TIdTFTPClock::duration Ceiling() const;
    // The time a held block is given up after it first went.
    TIdTFTPTime GiveUp(TIdTFTPTime firstSent) const;

    const TIdTFTPUploadSettings FSettings;
    TStream& FSource;
    TIdTFTPUploadEvents& FEvents;
    TIdTFTPUploadState FState = TIdTFTPUploadState::RequestSent;
    const TIdTFTPOptions FOptions;
    const std::string FRequest;
    const std::string FUnknownTransfer; // the error packet for another port of the peer's host
    std::string FRefusal; // the error packet sent before the upload ends with FRefusalFailure
    std::exception_ptr FRefusalFailure;
    TIdEndpoint FPeer;
    int32_t FBlockSize = TFTPDefaultBlockSize;

    int FRequests = 0;               // times the request was sent
    TIdTFTPTime FFirstRequestAt;     // when it was sent first
    int32_t FRequestInterval = 0;    // from the last request to the next
    std::exception_ptr FLinkFailure; // why the last request could not leave, when it could not
    int FUnknownTransferAnswers = 0;
    TSent FLastSent = TSent::Nothing;

    // The data packet held, built in place: its number, length, and the times it was sent.
    std::vector<char> FPacket;
    int32_t FPacketLength = 0;
    uint16_t FBlock = 0;
    int FSends = 0;
    TIdTFTPTime FBlockSentAt; // the first copy of the block held
    bool FFinalRefused = false;
    std::vector<char> FReceived;

    TIdTFTPTime FSentAt;   // the last send
    TIdTFTPTime FDeadline; // of the wait: the last progress + ReceiveTimeout
    TIdTFTPTime FResendAt = TIdTFTPNever;

    // RFC 6298 section 2: the smoothed round trip, its variation and the time-out.
    bool FMeasured = false;
    TIdTFTPClock::duration FSmoothed{};
    TIdTFTPClock::duration FVariation{};
    TIdTFTPClock::duration FTimeout = TFTPInitialRetransmitTime;
};
