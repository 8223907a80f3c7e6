// The TFTP client: uploads a file or the rest of a stream to a TFTP server in lock step.
#pragma once

#include "base/Streams.h"
#include "tftp/IdTrivialFTPBase.h"
#include "tftp/IdUDPClient.h"

#include <cstdint>
#include <string>

class TIdTrivialFTP : public TIdUDPClient {
public:
    // Port 69, ReceiveTimeout 4000, octet mode, blksize 1500 requested.
    explicit TIdTrivialFTP(TComponent* owner);

    TIdTFTPMode TransferMode() const { return FTransferMode; }
    void SetTransferMode(TIdTFTPMode mode) { FTransferMode = mode; }
    int32_t RequestedBlockSize() const { return FRequestedBlockSize; }
    void SetRequestedBlockSize(int32_t size) { FRequestedBlockSize = size; }

    // The transfer peer: the sender of the first answer to the request (RFC 1350 section 4),
    // which every data packet goes to; datagrams of other senders are dropped. Empty and 0 when
    // the request got no answer.
    const std::string& TransferPeerIP() const { return FPeerIP; }
    int32_t TransferPeerPort() const { return FPeerPort; }

    // Opens the file read-only and exclusively (EFOpenError before any work event when it cannot)
    // and uploads it from its start.
    void UploadFile(const std::string& localFile, const std::string& remoteFile);
    // Uploads the source's remaining bytes; every failure is an exception.
    void UploadStream(TStream& source, const std::string& remoteFile);

    // Applies an option acknowledgement: "blksize" sets BufferSize to the block size + 4.
    void ApplyOptionAck(std::string_view packet);
    std::string ModeText() const { return ::ModeText(FTransferMode); }

private:
    TIdTFTPMode FTransferMode = tfOctet;
    int32_t FRequestedBlockSize = 1500;
    std::string FPeerIP;
    int32_t FPeerPort = 0;
};
