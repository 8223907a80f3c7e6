// One upload driven by fuzzed datagrams: the upload's rules run on a clock of this target's own,
// so a time-out costs no time and every run is the same. Each datagram arrives a millisecond
// after the step before (or at the wake time, when that comes first); a time-out is the wake time
// of the last step coming; the steps' sends are recorded.
//
// Input: two bytes give the size of the image (0..16383); then records, each a header byte and a
// datagram. Header 0xFF is a time-out. Otherwise bit 7 says the datagram comes from a stranger
// (another address), bit 5 that it comes from another port of the device's address, bit 6 that
// two length bytes follow instead of one, and the datagram's bytes follow the length. The input
// ends in time-outs.
//
// Checked on every run, against a model of the exchange kept here:
// - the upload succeeds or fails with an exception of the network, TFTP or conversion family;
// - before the first answer only the request goes, to the device's address and port, again
//   only after a time-out; every later send goes to the sender of the first answer from the
//   device's address and is a data packet, but for "Unknown transfer ID" (error 5) told to
//   another port of that address for a packet of it that is not an error (RFC 1350 section 4);
// - the block size is 512 unless the first answer is an option acknowledgement naming another;
//   no block is larger, and every block before the last new one has exactly that size;
// - each new block's number is the previous one's plus one (mod 65536), and it follows the first
//   answer or the acknowledgement of the block before; a resend repeats the packet last sent and
//   follows a time-out, never a datagram (RFC 1123 section 4.2.3.1); a datagram that is not
//   taken is answered by nothing but that error; the new blocks carry the image's bytes in order;
// - a success has sent the whole image, ending with a short block.
#include "FuzzCheck.h"
#include "base/Streams.h"
#include "net/IdEndpoint.h"
#include "net/IdStack.h"
#include "net/Idexception.h"
#include "tftp/IdTrivialFTPBase.h"
#include "tftp/IdTrivialFTPRules.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* DeviceIP = "127.0.0.1";
constexpr int32_t RequestPort = 69;
constexpr int32_t DevicePort = 6001;
constexpr int32_t OtherDevicePort = 6003;
constexpr const char* StrangerIP = "127.0.0.3";
constexpr int32_t StrangerPort = 6002;

struct TDatagram {
    bool Timeout = false;
    bool Stranger = false;  // another address
    bool OtherPort = false; // the device's address, another port
    std::string Bytes;

    std::string IP() const { return Stranger ? StrangerIP : DeviceIP; }
    int32_t Port() const {
        return Stranger ? StrangerPort : OtherPort ? OtherDevicePort : DevicePort;
    }
};

struct TSend {
    std::string IP;
    int32_t Port;
    std::string Bytes;
};

// What ended a wait, a received datagram or a time-out, with the number of sends made before it.
struct TEvent {
    TDatagram Datagram; // Timeout set for a time-out
    size_t SendsBefore;
};

TIdEndpoint EndpointOf(const std::string& ip, int32_t port) {
    TIdInAddrBytes address{};
    FUZZ_CHECK(ParseDottedQuad(ip, address), "the fuzz target's addresses are dotted quads");
    return TIdEndpoint::IPv4(address, static_cast<uint16_t>(port));
}

// What the upload tells its component: nothing to do here, every transfer peer taken.
class TQuietEvents final : public TIdTFTPUploadEvents {
public:
    void RequestDue() override {}
    void LinkWait(int32_t) override {}
    bool TransferPeer(const TIdEndpoint&, uint16_t&, std::string&) override { return true; }
    void BlockSizeAgreed(int32_t) override {}
    void BlockBuilt(int32_t) override {}
    void BlockAcknowledged(int32_t) override {}
    void ErrorPacketCame(uint16_t) override {}
};

// Far more steps than an upload of 16 KiB can take; beyond them the upload does not end.
constexpr size_t MostSteps = 1000000;

struct TRun {
    std::vector<TSend> Sends;
    std::vector<TEvent> Events;
    bool Succeeded = false;
};

// Runs one upload of the image against the datagrams, to its end.
TRun RunUpload(const std::string& image, std::deque<TDatagram> pending) {
    TRun run;
    TIdTFTPUploadSettings settings;
    settings.Server = EndpointOf(DeviceIP, RequestPort);
    settings.RemoteName = "/";
    settings.ReceiveTimeout = 1000;
    TMemoryStream source(image);
    TQuietEvents events;
    TIdTFTPUploadRules rules(settings, source, events);
    TIdTFTPTime now{};
    try {
        TIdTFTPStep step = rules.Start(now);
        for (size_t steps = 0;; ++steps) {
            FUZZ_CHECK(steps < MostSteps, "the upload ends");
            if (!step.Send.empty()) {
                run.Sends.push_back({step.To.AddressText(), step.To.Port, std::string(step.Send)});
                rules.Sent();
            }
            if (step.Failure) {
                std::rethrow_exception(step.Failure);
            }
            if (step.Done) {
                run.Succeeded = true;
                break;
            }
            FUZZ_CHECK(step.WakeAt != TIdTFTPNever, "every wait of an upload has an end");
            const bool timeout = pending.empty() || pending.front().Timeout;
            if (!pending.empty() && pending.front().Timeout) {
                pending.pop_front();
            }
            if (timeout) {
                TDatagram d;
                d.Timeout = true;
                run.Events.push_back({d, run.Sends.size()});
                now = step.WakeAt;
                step = rules.Woken(now);
                continue;
            }
            TDatagram d = std::move(pending.front());
            pending.pop_front();
            now = std::min(now + std::chrono::milliseconds(1), step.WakeAt);
            const TIdEndpoint from = EndpointOf(d.IP(), d.Port());
            const size_t count = d.Bytes.size();
            run.Events.push_back({std::move(d), run.Sends.size()});
            const std::string& bytes = run.Events.back().Datagram.Bytes;
            if (count > static_cast<size_t>(rules.ReceiveCapacity())) {
                // As the socket reports a datagram cut short by the buffer.
                std::optional<TIdTFTPStep> next = rules.ReceiveFailed(now, from, Id_WSAEMSGSIZE);
                if (!next) {
                    break;
                }
                step = *next;
                continue;
            }
            std::copy(bytes.begin(), bytes.end(), rules.ReceiveBuffer());
            step = rules.Received(now, from, static_cast<int32_t>(count));
        }
    } catch (const EIdException&) {
    } catch (const EConvertError&) {
    } catch (...) {
        FUZZ_CHECK(false, "failures are of the known families");
    }
    return run;
}

uint16_t Word(const std::string& bytes, size_t at) {
    const auto byte = [&](size_t i) -> uint16_t {
        return i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0;
    };
    return static_cast<uint16_t>(byte(at) << 8 | byte(at + 1));
}

std::deque<TDatagram> CutDatagrams(const uint8_t* data, size_t size) {
    std::deque<TDatagram> datagrams;
    size_t i = 0;
    while (i < size) {
        const uint8_t header = data[i++];
        TDatagram d;
        if (header == 0xFF) {
            d.Timeout = true;
            datagrams.push_back(d);
            continue;
        }
        d.Stranger = (header & 0x80) != 0;
        d.OtherPort = (header & 0x20) != 0;
        size_t length = 0;
        if ((header & 0x40) != 0) {
            if (i + 2 > size) {
                break;
            }
            length = static_cast<size_t>(data[i] << 8 | data[i + 1]);
            i += 2;
        } else {
            if (i + 1 > size) {
                break;
            }
            length = data[i++];
        }
        length = std::min(length, size - i);
        d.Bytes.assign(reinterpret_cast<const char*>(data + i), length);
        i += length;
        datagrams.push_back(std::move(d));
    }
    return datagrams;
}

// The block size the device agreed to: an option acknowledgement as the first answer may name
// one; anything later cannot change what the device expects.
int32_t AgreedBlockSize(const TDatagram& first) {
    int32_t blockSize = TFTPDefaultBlockSize;
    if (Word(first.Bytes, 0) == TFTP_OACK) {
        try {
            OptionAckBlockSize(first.Bytes, blockSize);
        } catch (const Exception&) {
        }
    }
    return blockSize;
}

std::string Image(size_t size) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t imageSize = static_cast<size_t>((data[0] << 8 | data[1]) & 0x3FFF);
    const std::string image = Image(imageSize);
    const TRun run = RunUpload(image, CutDatagrams(data + 2, size - 2));
    const bool succeeded = run.Succeeded;

    FUZZ_CHECK(!run.Sends.empty(), "the request is sent");
    const TSend& request = run.Sends.front();
    FUZZ_CHECK(request.IP == DeviceIP && request.Port == RequestPort, "request to the device");
    FUZZ_CHECK(request.Bytes == MakeWriteRequest("/", tfOctet, 1500), "the request's bytes");

    // The first answer: the first datagram received from the device's address, whatever its port.
    const std::vector<TEvent>& events = run.Events;
    size_t first = 0;
    while (first < events.size() &&
           (events[first].Datagram.Timeout || events[first].Datagram.Stranger)) {
        ++first;
    }
    const bool answered = first < events.size();
    const std::string peerIP = answered ? events[first].Datagram.IP() : "";
    const int32_t peerPort = answered ? events[first].Datagram.Port() : 0;
    // A datagram taken by the upload: the first answer, and every later one of the transfer peer.
    const auto taken = [&](size_t k) {
        const TDatagram& d = events[k].Datagram;
        return answered && !d.Timeout &&
               (k == first || (k > first && d.IP() == peerIP && d.Port() == peerPort));
    };
    // A packet of another port of the peer's address, after the first answer: told it belongs to
    // no transfer of ours, unless it is an error packet itself.
    const std::string unknownTransfer = MakeErrorPacket(5, "Unknown transfer ID");
    const auto toldUnknown = [&](size_t k) {
        const TDatagram& d = events[k].Datagram;
        return answered && k > first && !d.Timeout && d.IP() == peerIP && d.Port() != peerPort &&
               d.Bytes.size() >= 4 && Word(d.Bytes, 0) != TFTP_ERROR;
    };
    // The event that each send follows: the last one before it.
    const auto causeOf = [&](size_t send) {
        size_t k = 0;
        while (k + 1 < events.size() && events[k + 1].SendsBefore <= send) {
            ++k;
        }
        return k;
    };
    size_t unknownTold = 0;
    for (size_t k = 0; k < events.size(); ++k) {
        const size_t before = events[k].SendsBefore;
        const size_t sendsAfter =
            k + 1 < events.size() ? events[k + 1].SendsBefore : run.Sends.size();
        if (events[k].Datagram.Timeout || taken(k) || sendsAfter == before) {
            continue;
        }
        const TDatagram& d = events[k].Datagram;
        FUZZ_CHECK(toldUnknown(k) && sendsAfter == before + 1 &&
                       run.Sends[before].Bytes == unknownTransfer &&
                       run.Sends[before].IP == d.IP() && run.Sends[before].Port == d.Port(),
                   "a datagram not taken is answered by nothing but \"Unknown transfer ID\"");
        ++unknownTold;
    }
    FUZZ_CHECK(unknownTold <= 16, "\"Unknown transfer ID\" is told a bounded number of times");
    // Before the first answer only the request goes, again after a time-out only.
    const size_t requests = answered ? events[first].SendsBefore : run.Sends.size();
    for (size_t i = 1; i < requests; ++i) {
        const TSend& s = run.Sends[i];
        FUZZ_CHECK(s.IP == request.IP && s.Port == request.Port && s.Bytes == request.Bytes,
                   "only the request goes before the first answer");
        FUZZ_CHECK(events[causeOf(i)].Datagram.Timeout, "the request goes again after a time-out");
    }
    if (!answered) {
        FUZZ_CHECK(!succeeded, "no success without an answer");
        return 0;
    }
    const int32_t blockSize = AgreedBlockSize(events[first].Datagram);

    std::string sent; // the image bytes of the new blocks, in order
    std::optional<uint16_t> lastBlock;
    bool lastShort = false;
    const TSend* lastData = nullptr;
    for (size_t i = requests; i < run.Sends.size(); ++i) {
        const size_t trigger = causeOf(i);
        const TDatagram& cause = events[trigger].Datagram;
        const TSend& s = run.Sends[i];
        if (s.Bytes == unknownTransfer && toldUnknown(trigger)) {
            continue; // checked above
        }
        FUZZ_CHECK(s.IP == peerIP && s.Port == peerPort, "data go to the transfer peer only");
        FUZZ_CHECK(s.Bytes.size() >= 4 && Word(s.Bytes, 0) == TFTP_DATA, "sends are data");
        const size_t payload = s.Bytes.size() - 4;
        FUZZ_CHECK(payload <= static_cast<size_t>(blockSize), "no block beyond the block size");
        const uint16_t number = Word(s.Bytes, 2);
        if (lastData != nullptr && s.Bytes == lastData->Bytes) {
            FUZZ_CHECK(cause.Timeout, "a block goes again after a time-out only");
            continue;
        }
        lastData = &s;
        FUZZ_CHECK(!cause.Timeout && taken(trigger), "a new block answers a datagram taken");
        if (lastBlock) {
            FUZZ_CHECK(!lastShort, "nothing new after the short block");
            FUZZ_CHECK(number == static_cast<uint16_t>(*lastBlock + 1), "blocks advance by one");
            FUZZ_CHECK(Word(cause.Bytes, 0) == TFTP_ACK && Word(cause.Bytes, 2) == *lastBlock,
                       "only the acknowledgement of the block held asks for the next");
        } else {
            FUZZ_CHECK(trigger == first, "the first block answers the first answer");
            const bool ack = Word(cause.Bytes, 0) == TFTP_ACK;
            FUZZ_CHECK(number == (ack ? static_cast<uint16_t>(Word(cause.Bytes, 2) + 1) : 1),
                       "the first block follows the block the first answer acknowledged");
        }
        lastBlock = number;
        lastShort = payload < static_cast<size_t>(blockSize);
        sent.append(s.Bytes, 4, std::string::npos);
    }
    FUZZ_CHECK(image.compare(0, sent.size(), sent) == 0, "the blocks carry the image in order");
    if (succeeded) {
        FUZZ_CHECK(lastShort && sent == image, "a success has sent the whole image");
    }
    return 0;
}
