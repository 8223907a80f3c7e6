// The rules of one upload against a scripted peer on a wire of virtual time: what the rules send
// reaches the script at once, the script's answers arrive after their delays, and time jumps to
// the next arrival or to the time the rules asked to be woken. The scripts are those of the
// scripted peer (a WriteServer, or a test's own), so a rule that spans seconds is checked in no
// time, with exact times.
#pragma once

#include "tftp/IdTrivialFTPRules.h"
#include "tftp/ScriptedPeer.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tftptest {

class VirtualUpload final : public TIdTFTPUploadEvents {
public:
    VirtualUpload();

    TIdTFTPUploadSettings Settings; // the server is 127.0.0.1 at the listening socket's port
    std::string Image;
    PeerScript Script;                 // what the peer answers; a WriteServer's by default
    WriteServer Server;                // the default script's server
    std::vector<int32_t> SendFailures; // the errors the next sends fail with, in order; 0 goes
    std::string Decline;               // a text: the transfer peer is declined with error 0 and it
    // The image's checks for a change (CheckUnchanged) that pass; the next one tells a change.
    int ChecksUnchanged = 1000;

    // What an upload ended with: Ok, or the failure.
    struct Outcome {
        bool Ok = false;
        std::exception_ptr Failure;
        std::string Message;             // the failure's message
        std::chrono::milliseconds End{}; // since the start
    };
    // Runs the upload to its end; an upload still going at limit ends with a failure "hang".
    Outcome Run(std::chrono::milliseconds limit = std::chrono::hours(1));

    // Since the start, in whole milliseconds.
    std::chrono::milliseconds Since(TIdTFTPTime at) const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(at - Start);
    }
    // The datagrams the peer received, with the virtual time each arrived.
    const std::vector<PeerDatagram>& Received() const { return FReceived; }
    std::vector<PeerDatagram> ReceivedOn(PeerSocket socket) const;
    // The data packets on the transfer socket: their block numbers, and the times of one block.
    std::vector<uint16_t> Blocks() const;
    std::vector<std::chrono::milliseconds> TimesOf(uint16_t block) const;
    // The times of the requests, since the start.
    std::vector<std::chrono::milliseconds> RequestTimes() const;

    // What the rules told: "request", "link E", "peer A:P", "size N", "work TOTAL", "error C".
    // The bytes acknowledged come apart, in Acknowledged.
    std::vector<std::string> Events;
    int64_t Acknowledged = 0;
    std::optional<TIdTFTPUploadRules> Rules;
    const TIdTFTPTime Start = TIdTFTPTime{} + std::chrono::hours(1000);

    static TIdEndpoint EndpointOf(PeerSocket socket);

private:
    void RequestDue() override;
    void LinkWait(int32_t error) override;
    bool TransferPeer(const TIdEndpoint& peer, uint16_t& code, std::string& text) override;
    void BlockSizeAgreed(int32_t blockSize) override;
    void BlockBuilt(int32_t count) override;
    void BlockAcknowledged(int32_t count) override;
    void ErrorPacketCame(uint16_t code) override;

    struct Arrival {
        TIdEndpoint From;
        std::string Bytes;
    };
    std::multimap<TIdTFTPTime, Arrival> FInFlight;
    std::vector<PeerDatagram> FReceived;
    int64_t FTotal = 0;
};

// Bytes that show a shift, a repeat or a loss anywhere in a file.
std::string PatternBytes(size_t size);

} // namespace tftptest
