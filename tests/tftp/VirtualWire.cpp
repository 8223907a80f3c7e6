#include "VirtualWire.h"

#include "base/Exception.h"
#include "net/IdStack.h"
#include "net/Idexception.h"

#include <algorithm>
#include <cstring>

namespace tftptest {

namespace {

const TIdEndpoint Client = TIdEndpoint::IPv4({127, 0, 0, 1}, 5000);

// The image in memory, changed on disk (as its checks tell) after a number of checks.
class TChangingImage final : public TMemoryStream {
public:
    TChangingImage(std::string bytes, int unchanged)
        : TMemoryStream(std::move(bytes)), FUnchanged(unchanged) {}
    void CheckUnchanged() const override {
        if (FUnchanged-- <= 0) {
            throw EFileChanged("The file image.bin changed while it was being sent");
        }
    }

private:
    mutable int FUnchanged;
};

} // namespace

std::string PatternBytes(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + i / 251 + 3) & 0xFF);
    }
    return s;
}

TIdEndpoint VirtualUpload::EndpointOf(PeerSocket socket) {
    switch (socket) {
    case PeerSocket::Listen:
        return TIdEndpoint::IPv4({127, 0, 0, 1}, 69);
    case PeerSocket::Transfer:
        return TIdEndpoint::IPv4({127, 0, 0, 1}, 7001);
    case PeerSocket::Stranger:
        return TIdEndpoint::IPv4({127, 0, 0, 1}, 7002);
    case PeerSocket::StrangerAddress:
        return TIdEndpoint::IPv4({127, 0, 0, 2}, 7003);
    }
    return {};
}

VirtualUpload::VirtualUpload() {
    Settings.Server = EndpointOf(PeerSocket::Listen);
    Settings.RemoteName = "/";
}

VirtualUpload::Outcome VirtualUpload::Run(std::chrono::milliseconds limit) {
    if (!Script) {
        Script = Server.Script();
    }
    TChangingImage source(Image, ChecksUnchanged);
    Rules.emplace(Settings, source, *this);
    Outcome outcome;
    TIdTFTPTime now = Start;
    try {
        TIdTFTPStep step = Rules->Start(now);
        for (;;) {
            if (!step.Send.empty()) {
                const int32_t error = SendFailures.empty() ? 0 : SendFailures.front();
                if (!SendFailures.empty()) {
                    SendFailures.erase(SendFailures.begin());
                }
                if (error != 0) {
                    const EIdSocketError failure(error, "Socket Error # " + std::to_string(error));
                    step = Rules->SendFailed(now, error, std::make_exception_ptr(failure));
                    continue;
                }
                const PeerSocket sockets[] = {PeerSocket::Listen, PeerSocket::Transfer,
                                              PeerSocket::Stranger, PeerSocket::StrangerAddress};
                for (const PeerSocket socket : sockets) {
                    if (EndpointOf(socket) != step.To) {
                        continue;
                    }
                    PeerDatagram datagram{socket, Client.AddressText(), Client.Port,
                                          std::string(step.Send), now};
                    FReceived.push_back(datagram);
                    for (const PeerSend& answer : Script(datagram)) {
                        FInFlight.emplace(now + std::chrono::milliseconds(answer.DelayMs),
                                          Arrival{EndpointOf(answer.Via), answer.Bytes});
                    }
                }
                Rules->Sent();
            }
            if (step.Failure) {
                std::rethrow_exception(step.Failure);
            }
            if (step.Done) {
                outcome.Ok = true;
                break;
            }
            const auto next = FInFlight.begin();
            if (next != FInFlight.end() && next->first <= step.WakeAt) {
                now = std::max(now, next->first);
                const Arrival arrival = next->second;
                FInFlight.erase(next);
                const auto capacity = static_cast<size_t>(Rules->ReceiveCapacity());
                if (arrival.Bytes.size() > capacity) {
                    // As the binding reports a datagram cut short by the buffer.
                    if (std::optional<TIdTFTPStep> passed =
                            Rules->ReceiveFailed(now, arrival.From, Id_WSAEMSGSIZE)) {
                        step = *passed;
                        continue;
                    }
                    throw EIdSocketError(Id_WSAEMSGSIZE, "Socket Error # 10040");
                }
                std::memcpy(Rules->ReceiveBuffer(), arrival.Bytes.data(), arrival.Bytes.size());
                step =
                    Rules->Received(now, arrival.From, static_cast<int32_t>(arrival.Bytes.size()));
                continue;
            }
            if (step.WakeAt == TIdTFTPNever || step.WakeAt - Start > limit) {
                throw EIdException("hang");
            }
            now = step.WakeAt;
            step = Rules->Woken(now);
        }
    } catch (...) {
        outcome.Failure = std::current_exception();
        outcome.Message = FailureMessage(outcome.Failure);
    }
    outcome.End = Since(now);
    return outcome;
}

std::vector<PeerDatagram> VirtualUpload::ReceivedOn(PeerSocket socket) const {
    std::vector<PeerDatagram> on;
    std::copy_if(FReceived.begin(), FReceived.end(), std::back_inserter(on),
                 [socket](const PeerDatagram& d) { return d.Socket == socket; });
    return on;
}

std::vector<uint16_t> VirtualUpload::Blocks() const {
    std::vector<uint16_t> blocks;
    for (const PeerDatagram& d : ReceivedOn(PeerSocket::Transfer)) {
        if (NetBytesToWord(d.Bytes) == TFTP_DATA) {
            blocks.push_back(NetBytesToWord(std::string_view(d.Bytes).substr(2)));
        }
    }
    return blocks;
}

std::vector<std::chrono::milliseconds> VirtualUpload::TimesOf(uint16_t block) const {
    std::vector<std::chrono::milliseconds> times;
    for (const PeerDatagram& d : ReceivedOn(PeerSocket::Transfer)) {
        if (NetBytesToWord(d.Bytes) == TFTP_DATA &&
            NetBytesToWord(std::string_view(d.Bytes).substr(2)) == block) {
            times.push_back(Since(d.At));
        }
    }
    return times;
}

std::vector<std::chrono::milliseconds> VirtualUpload::RequestTimes() const {
    std::vector<std::chrono::milliseconds> times;
    for (const PeerDatagram& d : ReceivedOn(PeerSocket::Listen)) {
        times.push_back(Since(d.At));
    }
    return times;
}

void VirtualUpload::RequestDue() {
    Events.push_back("request");
}

void VirtualUpload::LinkWait(int32_t error) {
    Events.push_back("link " + std::to_string(error));
}

bool VirtualUpload::TransferPeer(const TIdEndpoint& peer, uint16_t& code, std::string& text) {
    Events.push_back("peer " + peer.Text());
    if (Decline.empty()) {
        return true;
    }
    code = 0;
    text = Decline;
    return false;
}

void VirtualUpload::BlockSizeAgreed(int32_t blockSize) {
    Events.push_back("size " + std::to_string(blockSize));
}

void VirtualUpload::BlockBuilt(int32_t count) {
    FTotal += count;
    Events.push_back("work " + std::to_string(FTotal));
}

void VirtualUpload::BlockAcknowledged(int32_t count) {
    Acknowledged += count;
}

void VirtualUpload::ErrorPacketCame(uint16_t code) {
    Events.push_back("error " + std::to_string(code));
}

} // namespace tftptest
