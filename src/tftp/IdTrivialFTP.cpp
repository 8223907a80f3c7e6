#include "tftp/IdTrivialFTP.h"

#include "net/Idexception.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

// The time left until deadline, in whole milliseconds rounded up, never below 0.
int32_t MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int32_t>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

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

void TIdTrivialFTP::UploadFile(const std::string& localFile, const std::string& remoteFile) {
    TFileStream file(localFile); // closed on every path when it goes out of scope
    file.SetPosition(0);
    UploadStream(file, remoteFile);
}

void TIdTrivialFTP::UploadStream(TStream& source, const std::string& remoteFile) {
    const int64_t toSend = std::max<int64_t>(source.Size() - source.Position(), 0);
    NotifyWorkBegin(WorkModeWrite, static_cast<int32_t>(std::min<int64_t>(
                                       toSend, std::numeric_limits<int32_t>::max())));
    const TUploadScope scope(*this, [this] {
        // The handle object stays; only its socket goes. No socket is opened just to close it.
        if (TIdSocketHandle* handle = ExistingSocketHandle()) {
            handle->Close(true);
        }
    });

    SetBufferSize(TFTPDefaultBlockSize + TFTPHeaderSize);
    // RFC 1350 section 4: the request is sent once; a lost request ends in the time-out.
    SendToHost(MakeWriteRequest(remoteFile, FTransferMode, FRequestedBlockSize));

    int32_t lastBuilt = 0; // 0 before any block: the request
    int32_t next = 1;
    bool finalSent = false;
    bool blockHeld = false;
    // The data packet in flight, built in place, and the receive buffer: both kept for the whole
    // upload and grown only when an option acknowledgement enlarges the block.
    std::vector<char> packet;
    int32_t packetLength = 0;
    std::vector<char> received;
    std::string fromIP;
    int32_t fromPort = 0;
    // RFC 1350 section 4: the first answer names the transfer identifier of the server; from
    // then on datagrams of any other sender are dropped.
    bool peerFixed = false;

    for (;;) {
        // Wait for one datagram from the peer. A stranger's datagram does not restart the wait:
        // the wait ends ReceiveTimeout after the last send, whatever arrives meanwhile.
        const int32_t timeout = ReceiveTimeout();
        const bool limited = timeout >= 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
        int32_t count = 0;
        bool arrived = false;
        // The first wait is the whole time-out (the deadline was just taken); each after a
        // stranger's datagram gets what is left of it.
        bool strangerSeen = false;
        for (;;) {
            const int32_t bufferSize = BufferSize();
            if (received.size() < static_cast<size_t>(bufferSize)) {
                received.resize(static_cast<size_t>(bufferSize));
            }
            arrived = ReceiveDatagram(
                received.data(), bufferSize, fromIP, fromPort,
                limited && strangerSeen ? MillisecondsLeft(deadline) : timeout, count);
            if (!arrived || !peerFixed || (fromIP == FPeerIP && fromPort == FPeerPort)) {
                break;
            }
            // A stranger's datagram is dropped whatever it holds, also when it is too long for
            // the buffer. Any other failed receive has no sender and is raised below.
            if (count < 0 && GlobalStack->LastSocketError() != Id_WSAEMSGSIZE) {
                break;
            }
            strangerSeen = true;
        }
        if (!arrived) {
            if (!peerFixed) {
                FPeerIP.clear();
                FPeerPort = 0;
            }
            if (finalSent) {
                return;
            }
            throw EIdTFTPException(IdText::TFTPTimeout);
        }
        GlobalStack->CheckSocketResult(count);
        if (count == 0) {
            throw EIdUDPReceiveErrorZeroBytes(IdText::UDPReceiveErrorZeroBytes);
        }
        if (!peerFixed) {
            FPeerIP = fromIP;
            FPeerPort = fromPort;
            peerFixed = true;
        }

        const std::string_view answer(received.data(), static_cast<size_t>(count));
        switch (NetBytesToWord(answer)) {
        case TFTP_ACK: {
            const uint16_t acked = NetBytesToWord(answer.size() > 2 ? answer.substr(2) : "");
            if (finalSent) {
                if (acked == static_cast<uint16_t>(lastBuilt)) {
                    return; // the final block is acknowledged: the image is complete
                }
                // Any other acknowledgement after the final block went out says the device has
                // not got that block (it was lost on the way): ending here would report an
                // incomplete image as sent. The final block is sent again, as for any duplicate
                // acknowledgement; its own acknowledgement or the time-out ends the upload.
                break;
            }
            // Once a block is held, only its own acknowledgement asks for the next one. Any
            // other number, an earlier block's or one never sent, is answered as a duplicate
            // (the held block again): taking a number ahead of the held block would skip
            // block numbers, and a device that checks them would then acknowledge the held
            // block's predecessor for ever.
            if (blockHeld && acked != static_cast<uint16_t>(lastBuilt)) {
                break;
            }
            if (acked < 65535) {
                next = acked + 1;
            } else {
                // Block numbers wrap: the block after 65535 is 0.
                next = 0;
                lastBuilt = -1;
            }
            break;
        }
        case TFTP_ERROR:
            RaiseErrorPacket(answer);
        case TFTP_OACK:
            // The options are agreed by the first answer to the request (RFC 2347 section 3).
            // A later option acknowledgement (a late duplicate, or a stray) must not change the
            // block size in mid-transfer: the device cuts the image by the size it agreed, and
            // a block shorter than that would end the image early on its side.
            if (!blockHeld) {
                ApplyOptionAck(answer);
            }
            break;
        default:
            break;
        }

        if (lastBuilt < next) {
            const int32_t blockSize = BufferSize() - TFTPHeaderSize;
            const int64_t left = std::max<int64_t>(source.Size() - source.Position(), 0);
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(blockSize, left));
            if (packet.size() < static_cast<size_t>(BufferSize())) {
                packet.resize(static_cast<size_t>(BufferSize()));
            }
            PutWord(packet.data(), TFTP_DATA);
            PutWord(packet.data() + 2, static_cast<uint16_t>(next));
            source.ReadBuffer(packet.data() + TFTPHeaderSize, static_cast<size_t>(n));
            packetLength = TFTPHeaderSize + n;
            blockHeld = true;
            NotifyWork(WorkModeWrite, n);
            finalSent = n < blockSize;
            lastBuilt = next;
        }
        SendBytesTo(FPeerIP, FPeerPort, packet.data(), packetLength);
    }
}
