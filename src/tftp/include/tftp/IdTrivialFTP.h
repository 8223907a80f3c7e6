// The TFTP client: uploads a file or the rest of a stream to a TFTP server in lock step.
#pragma once

#include "base/Streams.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTPBase.h"
#include "tftp/IdTrivialFTPRules.h"
#include "tftp/IdUDPClient.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// The longest piece of a wait while an abort flag is set: the flag is looked at between pieces,
// so an abort ends the upload this soon, however long the wait.
inline constexpr int32_t TFTPAbortPollTime = 50;

// An upload ended by its abort flag. Not of the EIdTFTPException family: the device said nothing.
class EIdTFTPAborted : public EIdException {
public:
    EIdTFTPAborted() : EIdException("Upload aborted") {}
};

class TIdTrivialFTP : public TIdUDPClient {
public:
    // Port 69, ReceiveTimeout 4000, octet mode, blksize 1500 requested.
    explicit TIdTrivialFTP(TComponent* owner);

    TIdTFTPMode TransferMode() const { return FTransferMode; }
    void SetTransferMode(TIdTFTPMode mode) { FTransferMode = mode; }
    int32_t RequestedBlockSize() const { return FRequestedBlockSize; }
    void SetRequestedBlockSize(int32_t size) { FRequestedBlockSize = size; }

    // How long the first answer to the write request is awaited: RequestWait ms after the first
    // request when above 0 (for a device that may still be starting), without limit for
    // NoTimeLimit (until the abort flag ends the upload), ReceiveTimeout otherwise (0, the
    // default); then the upload gives up with "Timeout". Meanwhile the request goes again
    // TFTPFirstRequestRetryTime ms after the first, then after twice the time before, at most
    // RequestRetryTime ms apart; RequestRetryTime of 0 or below sends it once. Each request that
    // reaches the device may open a transfer there (RFC 1350 section 4): the first answer fixes
    // the transfer peer, and a later answer from another port of the same host is told "Unknown
    // transfer ID" (error 5), so that the device ends that second transfer at once.
    int32_t RequestWait() const { return FRequestWait; }
    void SetRequestWait(int32_t milliseconds) { FRequestWait = milliseconds; }
    int32_t RequestRetryTime() const { return FRequestRetryTime; }
    void SetRequestRetryTime(int32_t milliseconds) { FRequestRetryTime = milliseconds; }

    // Once the transfer runs, how long after its first send a data block that is not
    // acknowledged is given up with "Timeout" (ReceiveTimeout when that is longer; NoTimeLimit:
    // never): long enough for a receiver that sends its acknowledgement again only on its own
    // timer. The final block's silence still means success after ReceiveTimeout, unless the
    // device showed that it did not take that block (an acknowledgement of another block):
    // then only the final block's own acknowledgement ends the upload. TFTPTransferGiveUpTime
    // (15000) by default.
    int32_t GiveUpTime() const { return FGiveUpTime; }
    void SetGiveUpTime(int32_t milliseconds) { FGiveUpTime = milliseconds; }

    // For a device whose link is not up yet (a cable straight to a unit that is still powering
    // up): while the first answer is awaited, a request that cannot leave or a receive that fails
    // because the network or host is unreachable, the network is down, the address cannot be used
    // yet or the system is out of buffers, is passed over, OnLinkWait fires with the error, and
    // the request goes again at its next time (OnLinkWait fires with 0 when a request leaves
    // after a failed one). When the wait ends with the last request failed
    // that way, its failure ends the upload instead of "Timeout". Off by default: the failure then
    // ends the upload at once.
    bool RideOutLinkFailures() const { return FRideOutLinkFailures; }
    void SetRideOutLinkFailures(bool value) { FRideOutLinkFailures = value; }
    std::function<void(TObject* Sender, int32_t errorCode)> OnLinkWait;

    // Fired before each write request goes, the first and every repeat: the place to clear the
    // host's neighbour entry for a device that may have been swapped for another.
    std::function<void(TObject* Sender)> OnRequest;
    // Fired once the first answer has fixed the transfer peer (TransferPeerIP, TransferPeerPort),
    // before its options are applied and the first block is read. A handler that will not send
    // to this peer calls DeclineTransfer: the peer gets an error packet with the code and text
    // (RFC 1350 section 5), and the upload ends with EIdTFTPDeclined carrying the text.
    std::function<void(TObject* Sender)> OnTransferPeer;
    void DeclineTransfer(uint16_t code, const std::string& text);

    // A flag that another thread, or a signal handler, sets to end the upload: it is looked at
    // before every wait and at least every TFTPAbortPollTime ms during one, and once set the
    // upload ends with EIdTFTPAborted (its work scope closed, its socket closed). Null (the
    // default): no flag, and every wait is one piece. The flag must outlive the uploads.
    void SetAbortFlag(const std::atomic<bool>* flag) { FAbortFlag = flag; }
    // The bytes of the last upload that the device acknowledged, block by block: all of them
    // after a success the final block's acknowledgement ended, the rest without that block.
    int64_t BytesAcknowledged() const { return FBytesAcknowledged; }
    // The code of the error packet that ended the last upload, -1 when no error packet ended it:
    // the exception's class tells codes 1 to 8 apart, but not 0 from the codes above 8.
    int32_t ErrorPacketCode() const { return FErrorPacketCode; }

    // The transfer peer: the sender of the first answer to the request (RFC 1350 section 4),
    // which must come from the address the request was sent to; every data packet goes to it,
    // and datagrams of any other address or port are dropped. Empty and 0 when the request got
    // no answer.
    const std::string& TransferPeerIP() const { return FPeerIP; }
    int32_t TransferPeerPort() const { return FPeerPort; }

    // The settings an upload starts with, the server resolved: what UploadStream runs the rules
    // with.
    TIdTFTPUploadSettings UploadSettings(const std::string& remoteFile);

    // Opens the file read-only and exclusively (EFOpenError before any work event when it cannot)
    // and uploads it from its start.
    void UploadFile(const std::string& localFile, const std::string& remoteFile);
    // Uploads the source's remaining bytes; every failure is an exception. The wait for the first
    // answer ends with "Timeout" (see RequestWait); a data block is given up GiveUpTime after it
    // first went, whatever else arrives meanwhile; after the final block the device's silence for
    // ReceiveTimeout ends the upload as a success (see GiveUpTime).
    void UploadStream(TStream& source, const std::string& remoteFile);

    // Applies an option acknowledgement: "blksize" sets BufferSize to the block size + 4.
    void ApplyOptionAck(std::string_view packet);
    std::string ModeText() const { return ::ModeText(FTransferMode); }

private:
    class TUpload; // the engine of one upload, inside UploadStream

    TIdTFTPMode FTransferMode = tfOctet;
    int32_t FRequestedBlockSize = 1500;
    int32_t FRequestWait = 0;
    int32_t FRequestRetryTime = TFTPDefaultRequestRetryTime;
    bool FRideOutLinkFailures = false;
    int32_t FGiveUpTime = static_cast<int32_t>(TFTPTransferGiveUpTime.count());
    bool FDeclined = false;
    uint16_t FDeclineCode = 0;
    std::string FDeclineText;
    const std::atomic<bool>* FAbortFlag = nullptr;
    int32_t FErrorPacketCode = -1;
    int64_t FBytesAcknowledged = 0;
    std::string FPeerIP;
    int32_t FPeerPort = 0;
    TIdEndpoint FPeer;
};
