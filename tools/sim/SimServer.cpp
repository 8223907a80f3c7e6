#include "SimServer.h"

#include "SafeName.h"
#include "StoreFile.h"
#include "base/TextCase.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTPBase.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr size_t DatagramLimit = 65536;

// Bytes of a client's text as \xHH: those outside 0x20..0x7E and the ones in also.
std::string Escaped(const std::string& text, const char* also) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = uint8_t(c);
        if (byte < 0x20 || byte > 0x7E || std::strchr(also, c) != nullptr) {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// Printable form of a name from the wire, in quotes.
std::string Quoted(const std::string& text) {
    return "\"" + Escaped(text, "\"\\") + "\"";
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return text;
}

// The options of a request as the log shows them: "none", or "name=value" each, in order.
std::string OptionsField(const TIdTFTPOptions& options) {
    std::string field;
    for (const TIdTFTPOption& option : options) {
        field += (field.empty() ? "" : " ") + LogField(option.Name) + "=" + LogField(option.Value);
    }
    return field.empty() ? "none" : field;
}

// The block size a request names with its first "blksize" option (any case): 0 without one, -1
// for a value that is not a plain positive number.
int32_t RequestedBlockSize(const TIdTFTPOptions& options) {
    for (const TIdTFTPOption& option : options) {
        if (SameTextIgnoringCase(option.Name, TFTPBlockSizeOption)) {
            const std::string& value = option.Value;
            const bool digits = !value.empty() && value.size() <= 9 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            return digits && std::stoi(value) > 0 ? std::stoi(value) : -1;
        }
    }
    return 0;
}

} // namespace

std::string LogField(const std::string& text) {
    return Escaped(text, " \"\\=");
}

std::string DescribePacket(const std::string& packet) {
    if (packet.empty()) {
        return "empty datagram";
    }
    const std::string second = std::to_string(NetBytesToWordAt(packet, 2));
    switch (const uint16_t opcode = NetBytesToWordAt(packet, 0)) {
    case TFTP_RRQ:
        return "RRQ";
    case TFTP_WRQ:
        return "WRQ";
    case TFTP_DATA:
        return "DATA " + second;
    case TFTP_ACK:
        return "ACK " + second;
    case TFTP_ERROR:
        return "ERROR " + second;
    case TFTP_OACK:
        return "OACK";
    default:
        return "opcode " + std::to_string(opcode);
    }
}

TSimServer::TSimServer(const TSimOptions& options, std::ostream& log, const std::atomic<bool>& stop)
    : FOptions(options), FLog(log), FStop(stop), FBuffer(DatagramLimit, '\0') {}

TSimServer::~TSimServer() {
    EndWorkers();
    for (const TListener& listener : FListeners) {
        if (listener.Socket != InvalidSocketId) {
            GlobalStack->SockClose(listener.Socket);
        }
    }
}

void TSimServer::Log(const std::string& line) {
    const std::lock_guard<std::mutex> lock(FLogMutex);
    FLog << line << '\n';
    FLog.flush();
}

void TSimServer::Open() {
    const bool several = FOptions.BindAddresses.size() > 1;
    for (const std::string& address : FOptions.BindAddresses) {
        TListener& listener = FListeners.emplace_back();
        listener.Address = address;
        listener.Folder = FOptions.Directory;
        if (several) {
            listener.Folder = (std::filesystem::path(FOptions.Directory) / address).string();
            listener.Prefix = address + "/";
            std::filesystem::create_directories(listener.Folder);
        }
        listener.Socket = GlobalStack->OpenSocket(Id_SOCK_DGRAM, 0);
        GlobalStack->CheckSocketResult(
            GlobalStack->SockBind(listener.Socket, Id_PF_INET, address, FOptions.Port));
        int32_t family = 0;
        std::string ip;
        GlobalStack->LocalAddressOf(listener.Socket, family, ip, listener.Port);
        Log("listening " + ip + ":" + std::to_string(listener.Port));
    }
}

bool TSimServer::Receive(TSocketId socket, int32_t waitMs, std::string& buffer, std::string& packet,
                         std::string& ip, int32_t& port) {
    const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    if (buffer.size() < DatagramLimit) {
        buffer.resize(DatagramLimit);
    }
    for (;;) {
        if (Stopping()) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        TIdSocketList readable{socket};
        // Short slices, so that a stop request is seen within 100 ms.
        const int32_t slice = int32_t(std::clamp<int64_t>(left, 0, 100));
        const int32_t ready = GlobalStack->SockSelect(&readable, nullptr, nullptr, slice);
        if (ready > 0 && !readable.empty()) {
            const int32_t count = GlobalStack->SockRecvFrom(socket, buffer.data(),
                                                            int32_t(buffer.size()), 0, ip, port);
            if (count >= 0) {
                packet.assign(buffer.data(), size_t(count));
                return true;
            }
            Log("receive failed: error " + std::to_string(GlobalStack->LastSocketError()));
        }
        if (left <= 0) {
            return false;
        }
    }
}

void TSimServer::SendRaw(TSocketId socket, const std::string& ip, int32_t port,
                         const std::string& packet) {
    GlobalStack->CheckSocketResult(
        GlobalStack->SockSendTo(socket, packet.data(), int32_t(packet.size()), 0, ip, port));
}

void TSimServer::SendFaulty(TTransfer& transfer, const std::string& packet) {
    if (FOptions.DelayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(FOptions.DelayMs));
        // A slow device's own timer runs from when it answers: the time it took to answer does
        // not count against it (else it would send every acknowledgement twice).
        transfer.Deadline += std::chrono::milliseconds(FOptions.DelayMs);
    }
    if (transfer.Dice.Chance(FOptions.Loss)) {
        Log("dropped send " + DescribePacket(packet));
        return;
    }
    SendRaw(transfer.Socket, transfer.PeerIP, transfer.PeerPort, packet);
    if (transfer.Dice.Chance(FOptions.Duplicate)) {
        Log("duplicated send " + DescribePacket(packet));
        SendRaw(transfer.Socket, transfer.PeerIP, transfer.PeerPort, packet);
    }
}

void TSimServer::SendError(TSocketId socket, const std::string& ip, int32_t port, uint16_t code,
                           const std::string& text) {
    SendRaw(socket, ip, port, MakeErrorPacket(code, text));
}

int TSimServer::Run() {
    TIdSocketList sockets;
    for (const TListener& listener : FListeners) {
        sockets.push_back(listener.Socket);
    }
    while (!Stopping()) {
        Reap();
        TIdSocketList readable = sockets;
        // Short slices, so that a stop request is seen within 100 ms.
        if (GlobalStack->SockSelect(&readable, nullptr, nullptr, 100) <= 0) {
            continue;
        }
        for (const TListener& listener : FListeners) {
            if (Stopping() ||
                std::find(readable.begin(), readable.end(), listener.Socket) == readable.end()) {
                continue;
            }
            std::string ip;
            int32_t port = 0;
            const int32_t count = GlobalStack->SockRecvFrom(listener.Socket, FBuffer.data(),
                                                            int32_t(FBuffer.size()), 0, ip, port);
            if (count < 0) {
                Log("receive failed: error " + std::to_string(GlobalStack->LastSocketError()));
                continue;
            }
            const std::string packet(FBuffer.data(), size_t(count));
            if (NetBytesToWordAt(packet, 0) != TFTP_WRQ) {
                Log("refused " + DescribePacket(packet) + " from " + ip + ":" +
                    std::to_string(port));
                // A device in recovery mode takes images only.
                SendError(listener.Socket, ip, port, TFTPErrorIllegalOperation,
                          "only write requests are served");
                continue;
            }
            Accept(listener, packet, ip, port);
        }
    }
    EndWorkers();
    Log("stopped");
    const std::lock_guard<std::mutex> lock(FOnceMutex);
    return FOptions.Once && FOnceEnded && !FOnceStored ? 1 : 0;
}

void TSimServer::Accept(const TListener& listener, const std::string& request,
                        const std::string& ip, int32_t port) {
    const uint64_t ordinal = FOrdinal++;
    if (FOptions.SamePort) {
        // The transfer answers from the listening socket, which only one reader may serve:
        // one transfer at a time, here.
        Ended(Serve(listener, request, ip, port, ordinal));
        return;
    }
    if (FWorkers.size() >= MaxTransfers) {
        Log("refused WRQ from " + ip + ":" + std::to_string(port) + ": " +
            std::to_string(MaxTransfers) + " transfers under way");
        SendError(listener.Socket, ip, port, TFTPErrorDiskFull, "too many transfers at once");
        return;
    }
    TWorker& worker = FWorkers.emplace_back();
    try {
        worker.Thread = std::thread([this, &worker, &listener, request, ip, port, ordinal] {
            Ended(Serve(listener, request, ip, port, ordinal));
            worker.Ended = true;
        });
    } catch (const std::system_error&) {
        FWorkers.pop_back();
        Log("refused WRQ from " + ip + ":" + std::to_string(port) + ": no thread for it");
        SendError(listener.Socket, ip, port, TFTPErrorDiskFull, "too many transfers at once");
    }
}

void TSimServer::EndWorkers() {
    FQuit = true;
    for (TWorker& worker : FWorkers) {
        worker.Thread.join();
    }
    FWorkers.clear();
}

void TSimServer::Reap() {
    for (auto worker = FWorkers.begin(); worker != FWorkers.end();) {
        if (worker->Ended) {
            worker->Thread.join();
            worker = FWorkers.erase(worker);
        } else {
            ++worker;
        }
    }
}

void TSimServer::Ended(bool stored) {
    if (!FOptions.Once) {
        return;
    }
    const std::lock_guard<std::mutex> lock(FOnceMutex);
    if (!FOnceEnded) {
        FOnceEnded = true;
        FOnceStored = stored;
        FQuit = true;
    }
}

bool TSimServer::Serve(const TListener& listener, const std::string& packet, const std::string& ip,
                       int32_t port, uint64_t ordinal) {
    const std::optional<TIdTFTPRequest> request = TakeRequest(listener, packet, ip, port);
    if (!request) {
        return false;
    }
    TTransfer transfer(TFaultDice::SeedOf(FOptions.Seed, ordinal));
    transfer.PeerIP = ip;
    transfer.PeerPort = port;
    const std::string name = SafeImageName(request->Name);
    transfer.Name = listener.Prefix + name;
    const std::filesystem::path dir(listener.Folder);
    transfer.FinalPath = (dir / name).string();
    // Numbered by the request: two transfers of one name at once each write their own, and one
    // that is given up removes only its own.
    transfer.TempPath = (dir / ("." + name + "." + std::to_string(ordinal) + ".part")).string();
    const std::string answer = Negotiate(transfer, request->Options);
    const TStep step = Start(transfer, listener, answer);
    // For the soak: how many data packets the client sent for the blocks taken.
    Log("data packets " + std::to_string(transfer.DataPackets) + " for " +
        std::to_string(transfer.Received) + " blocks");
    return step == TStep::Stored;
}

std::optional<TIdTFTPRequest> TSimServer::TakeRequest(const TListener& listener,
                                                      const std::string& packet,
                                                      const std::string& ip, int32_t port) {
    const std::string from = ip + ":" + std::to_string(port);
    std::optional<TIdTFTPRequest> request = TIdTFTPRequest::Read(packet);
    if (!request) {
        Log("refused malformed WRQ from " + from);
        SendError(listener.Socket, ip, port, TFTPErrorIllegalOperation, "malformed request");
        return std::nullopt;
    }
    request->Mode = Lower(request->Mode);
    Log("request WRQ from " + from + " name " + Quoted(request->Name) + " mode " +
        LogField(request->Mode) + " options " + OptionsField(request->Options));
    if (request->Mode != ModeText(tfOctet) && request->Mode != ModeText(tfNetAscii)) {
        Log("refused mode " + LogField(request->Mode));
        SendError(listener.Socket, ip, port, TFTPErrorIllegalOperation, "unsupported mode");
        return std::nullopt;
    }
    return request;
}

std::string TSimServer::Negotiate(TTransfer& transfer, const TIdTFTPOptions& options) {
    const int32_t requested = RequestedBlockSize(options);
    // RFC 2348 section 2: a request for fewer than 8 octets, or for none, is not answered with an
    // option acknowledgement; nor, with --blksize ignore, is any.
    if (requested < TFTPMinRequestBlockSize || FOptions.BlockSize == TBlockSizeAnswer::Ignore) {
        Log("answer ACK 0 blksize " + std::to_string(TFTPDefaultBlockSize) +
            (requested != 0 ? " (option ignored)" : ""));
        return MakeAck(0);
    }
    transfer.BlockSize = std::min(requested, TFTPMaxBlockSize);
    std::string note;
    if (FOptions.BlockSize == TBlockSizeAnswer::Cap && transfer.BlockSize > FOptions.BlockSizeCap) {
        transfer.BlockSize = FOptions.BlockSizeCap;
        note = " (capped from " + std::to_string(requested) + ")";
    }
    Log("answer OACK blksize " + std::to_string(transfer.BlockSize) + note);
    return MakeOptionAck({{TFTPBlockSizeOption, std::to_string(transfer.BlockSize)}});
}

TSimServer::TStep TSimServer::Start(TTransfer& transfer, const TListener& listener,
                                    const std::string& answer) {
    TStep step = TStep::Abandoned;
    try {
        OpenTransferSocket(transfer, listener);
        transfer.File.open(transfer.TempPath, std::ios::binary | std::ios::trunc);
        if (!transfer.File) {
            SendError(transfer.Socket, transfer.PeerIP, transfer.PeerPort, TFTPErrorAccessViolation,
                      "cannot create the image file");
            step = Abandon(transfer, "cannot create " + transfer.TempPath);
        } else {
            transfer.Last = answer;
            SendFaulty(transfer, answer);
            step = RunTransfer(transfer);
        }
    } catch (const std::exception& e) {
        step = Abandon(transfer, e.what());
    }
    if (transfer.Socket != listener.Socket && transfer.Socket != InvalidSocketId) {
        GlobalStack->SockClose(transfer.Socket);
    }
    return step;
}

void TSimServer::OpenTransferSocket(TTransfer& transfer, const TListener& listener) {
    if (FOptions.SamePort) {
        transfer.Socket = listener.Socket;
    } else {
        // RFC 1350 section 4: a transfer of its own has a port of its own.
        transfer.Socket = GlobalStack->OpenSocket(Id_SOCK_DGRAM, 0);
        GlobalStack->CheckSocketResult(
            GlobalStack->SockBind(transfer.Socket, Id_PF_INET, listener.Address, 0));
    }
    int32_t family = 0, port = 0;
    std::string ip;
    GlobalStack->LocalAddressOf(transfer.Socket, family, ip, port);
    Log("transfer port " + std::to_string(port));
}

TSimServer::TStep TSimServer::RunTransfer(TTransfer& transfer) {
    transfer.Deadline = TimerEnd(transfer);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(transfer.Deadline - TClock::now())
                .count();
        std::string packet, ip;
        int32_t port = 0;
        if (!Receive(transfer.Socket, int32_t(std::max<int64_t>(left, 0)), transfer.Buffer, packet,
                     ip, port)) {
            if (Stopping()) {
                return Abandon(transfer, "stopped");
            }
            if (transfer.Tries >= FOptions.Retries) {
                return Abandon(transfer, "no answer after " + std::to_string(transfer.Tries) +
                                             " retransmissions");
            }
            Retransmit(transfer);
            transfer.Deadline = TimerEnd(transfer);
            continue;
        }
        if (ip != transfer.PeerIP || port != transfer.PeerPort) {
            // RFC 1350 section 4: a packet from an unknown transfer ID is answered with error 5
            // to its sender, and the transfer goes on undisturbed.
            Log("stranger " + ip + ":" + std::to_string(port) + " sent " + DescribePacket(packet) +
                ", answered error " + std::to_string(TFTPErrorUnknownTransferId));
            SendError(transfer.Socket, ip, port, TFTPErrorUnknownTransferId,
                      TFTPUnknownTransferIdText);
            continue;
        }
        transfer.DataPackets += NetBytesToWordAt(packet, 0) == TFTP_DATA ? 1 : 0;
        if (transfer.Dice.Chance(FOptions.Loss)) {
            Log("dropped receive " + DescribePacket(packet));
            continue;
        }
        int copies = 1;
        if (transfer.Dice.Chance(FOptions.Duplicate)) {
            Log("duplicated receive " + DescribePacket(packet));
            copies = 2;
        }
        for (int copy = 0; copy < copies; ++copy) {
            const TStep step = Handle(transfer, packet);
            if (step != TStep::Continue) {
                return step;
            }
        }
    }
}

TSimServer::TStep TSimServer::Handle(TTransfer& transfer, const std::string& packet) {
    const uint16_t opcode = NetBytesToWordAt(packet, 0);
    if (opcode == TFTP_DATA && packet.size() >= size_t(TFTPHeaderSize)) {
        return TakeData(transfer, packet);
    }
    if (opcode == TFTP_ERROR) {
        const TIdTFTPErrorPacket error = TIdTFTPErrorPacket::Read(packet);
        return Abandon(transfer, "client sent error " + std::to_string(error.Code) + " " +
                                     Quoted(error.Text));
    }
    if (opcode == TFTP_WRQ && transfer.Received == 0) {
        // With --same-port a client's repeated request reaches the transfer's socket.
        Log("repeated WRQ answered again");
        SendFaulty(transfer, transfer.Last);
        return TStep::Continue;
    }
    Log("illegal " + DescribePacket(packet) + " answered error " +
        std::to_string(TFTPErrorIllegalOperation));
    SendError(transfer.Socket, transfer.PeerIP, transfer.PeerPort, TFTPErrorIllegalOperation,
              "Illegal TFTP operation");
    return Abandon(transfer, "illegal " + DescribePacket(packet));
}

TSimServer::TStep TSimServer::TakeData(TTransfer& transfer, const std::string& packet) {
    const uint16_t block = NetBytesToWordAt(packet, 2);
    if (block != transfer.Expected) {
        // Lock step: the only other block a client sends is the one acknowledged last, sent
        // again because our acknowledgement was lost or late.
        if (transfer.Received > 0 && block == uint16_t(transfer.Expected - 1)) {
            AnswerDuplicate(transfer, block);
        } else {
            Log("ignored DATA " + std::to_string(block) + ", expected " +
                std::to_string(transfer.Expected));
        }
        return TStep::Continue;
    }
    const uint64_t ordinal = transfer.Received + 1;
    if (FOptions.ErrorAtBlock > 0 && uint64_t(FOptions.ErrorAtBlock) == ordinal) {
        Log("error-at DATA " + std::to_string(block) + " code " +
            std::to_string(FOptions.ErrorCode) + " " + Quoted(FOptions.ErrorText));
        if (FOptions.DelayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(FOptions.DelayMs));
        }
        SendError(transfer.Socket, transfer.PeerIP, transfer.PeerPort, uint16_t(FOptions.ErrorCode),
                  FOptions.ErrorText);
        return Abandon(transfer, "error sent at block " + std::to_string(ordinal));
    }
    const size_t length = packet.size() - TFTPHeaderSize;
    if (length > size_t(transfer.BlockSize)) {
        Log("oversized DATA " + std::to_string(block) + " of " + std::to_string(length) +
            " bytes answered error " + std::to_string(TFTPErrorIllegalOperation));
        SendError(transfer.Socket, transfer.PeerIP, transfer.PeerPort, TFTPErrorIllegalOperation,
                  "block larger than the block size");
        return Abandon(transfer, "oversized block");
    }
    const char* const data = packet.data() + TFTPHeaderSize;
    transfer.File.write(data, std::streamsize(length));
    if (!transfer.File) {
        SendError(transfer.Socket, transfer.PeerIP, transfer.PeerPort, TFTPErrorDiskFull,
                  "Disk full");
        return Abandon(transfer, "cannot write " + transfer.TempPath);
    }
    transfer.Hash.Update(data, length);
    transfer.Bytes += length;
    transfer.Received = ordinal;
    transfer.Tries = 0;
    transfer.DuplicateSeen = false;
    transfer.Last = MakeAck(block);
    transfer.Expected = uint16_t(block + 1); // 65535 is followed by 0
    transfer.Deadline = TimerEnd(transfer);
    if (length == size_t(transfer.BlockSize)) {
        SendFaulty(transfer, transfer.Last);
        return TStep::Continue;
    }

    // A short block ends the transfer: the image is complete, so it is stored under its name.
    transfer.File.close();
    if (transfer.File.fail() || !MoveIntoPlace(transfer.TempPath, transfer.FinalPath)) {
        SendError(transfer.Socket, transfer.PeerIP, transfer.PeerPort, TFTPErrorDiskFull,
                  "cannot store the image");
        return Abandon(transfer, "cannot store " + transfer.FinalPath);
    }
    Log("received " + transfer.Name + " " + std::to_string(transfer.Bytes) + " bytes sha256 " +
        transfer.Hash.FinishHex());
    if (FOptions.NoFinalAck) {
        Log("final ack withheld");
        return TStep::Stored;
    }
    SendFaulty(transfer, transfer.Last);
    Dally(transfer);
    return TStep::Stored;
}

void TSimServer::AnswerDuplicate(TTransfer& transfer, uint16_t block) {
    if (FOptions.Reack == TReackAnswer::Timer) {
        // Like a device whose one way to retransmit is its timer: the acknowledgement goes again
        // when the timer runs out, not now.
        Log("duplicate DATA " + std::to_string(block) + " ignored");
        transfer.DuplicateSeen = true;
        return;
    }
    Log("duplicate DATA " + std::to_string(block) + " acknowledged again");
    SendFaulty(transfer, transfer.Last);
}

void TSimServer::Retransmit(TTransfer& transfer) {
    ++transfer.Tries;
    transfer.DuplicateSeen = false;
    Log("retransmit " + DescribePacket(transfer.Last));
    SendFaulty(transfer, transfer.Last);
}

TSimServer::TClock::time_point TSimServer::TimerEnd(TTransfer& transfer) {
    int64_t ms = FOptions.RetransmitMs;
    if (FOptions.JitterMs > 0) {
        ms += int64_t(transfer.Jitter.Next() * double(FOptions.JitterMs + 1)); // 0..JitterMs
    }
    return TClock::now() + std::chrono::milliseconds(ms);
}

void TSimServer::Dally(TTransfer& transfer) {
    // RFC 1350 section 6: the final acknowledgement may be lost, and the client then sends its
    // last block again; it is acknowledged again for one period of the timer. With --reack timer
    // the acknowledgement goes again when the period ends, if the last block came again in it,
    // and another period follows, as many as --retries.
    auto end = TimerEnd(transfer);
    for (;;) {
        if (Stopping()) {
            return;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
        if (left <= 0) {
            if (!transfer.DuplicateSeen || transfer.Tries >= FOptions.Retries) {
                return;
            }
            Retransmit(transfer);
            end = TimerEnd(transfer);
            continue;
        }
        std::string packet, ip;
        int32_t port = 0;
        if (!Receive(transfer.Socket, int32_t(std::min<int64_t>(left, 20)), transfer.Buffer, packet,
                     ip, port)) {
            continue;
        }
        if (ip != transfer.PeerIP || port != transfer.PeerPort) {
            SendError(transfer.Socket, ip, port, TFTPErrorUnknownTransferId,
                      TFTPUnknownTransferIdText);
            continue;
        }
        const bool data = NetBytesToWordAt(packet, 0) == TFTP_DATA;
        transfer.DataPackets += data ? 1 : 0;
        const uint16_t block = NetBytesToWordAt(packet, 2);
        if (data && block == uint16_t(transfer.Expected - 1)) {
            AnswerDuplicate(transfer, block);
        }
    }
}

TSimServer::TStep TSimServer::Abandon(TTransfer& transfer, const std::string& reason) {
    if (transfer.File.is_open()) {
        transfer.File.close();
    }
    std::error_code ignored;
    std::filesystem::remove(transfer.TempPath, ignored);
    Log("abandoned " + transfer.Name + ": " + reason);
    return TStep::Abandoned;
}
