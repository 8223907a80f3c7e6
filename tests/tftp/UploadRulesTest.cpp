// The upload's rules that span time, on a wire of virtual time against the scripted write server:
// retransmission, back-off and Karn's rule, the give-up clock, the request's schedule, the link
// ridden out, strays and floods. Times are exact, and seconds take no time.
#include "VirtualWire.h"

#include "net/IdStack.h"
#include "net/Idexception.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using namespace tftptest;
using std::chrono::milliseconds;
using Times = std::vector<milliseconds>;

// The running totals a source of size bytes in blocks of blockSize reports, one per new block.
std::vector<std::string> WorkOf(int64_t size, int64_t blockSize) {
    std::vector<std::string> works;
    for (int64_t sent = 0;;) {
        const int64_t n = std::min(blockSize, size - sent);
        sent += n;
        works.push_back("work " + std::to_string(sent));
        if (n < blockSize) {
            return works;
        }
    }
}

std::vector<std::string> Works(const std::vector<std::string>& events) {
    std::vector<std::string> works;
    for (const std::string& e : events) {
        if (e.rfind("work ", 0) == 0) {
            works.push_back(e);
        }
    }
    return works;
}

// The times of a block's copies, from its first.
Times FromFirst(const Times& times) {
    Times relative;
    for (const milliseconds t : times) {
        relative.push_back(t - times.front());
    }
    return relative;
}

// The copies of a block that is never acknowledged on a fast link, from its first, while the
// give-up time has not come: after the floor, then each interval twice the one before, up to a
// second.
Times BackedOff(milliseconds giveUp) {
    Times times;
    milliseconds interval = TFTPMinRetransmitTime;
    for (milliseconds t(0); t < giveUp; t += interval) {
        times.push_back(t);
        if (t > milliseconds(0)) {
            interval = std::min(2 * interval, TFTPMaxRetransmitTime);
        }
    }
    return times;
}

size_t UnknownTransferAnswers(const std::vector<PeerDatagram>& received) {
    for (const PeerDatagram& d : received) {
        EXPECT_EQ(d.Bytes, ErrorPacket(5, "Unknown transfer ID"));
    }
    return received.size();
}

// A data event's answer replaced by the sends given, for the events that match.
template <class Match>
std::function<std::optional<std::vector<PeerSend>>(const DataEvent&)>
AnswerWith(Match match, std::vector<PeerSend> sends) {
    return [match, sends](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
        if (match(e)) {
            return sends;
        }
        return std::nullopt;
    };
}

TEST(Rules, StrayAnswersInMidTransferNeitherSkipNorResize) {
    // Block 2 arrives and, instead of its acknowledgement, the device sends a stray answer. It is
    // not answered; the held block goes again when its retransmission time has passed (and is
    // acknowledged then); numbering and block size stay.
    const struct {
        const char* Name;
        std::string Stray;
    } cases[] = {
        {"acknowledgement of a block never sent", AckPacket(5)},
        {"acknowledgement of the block after it", AckPacket(3)},
        {"acknowledgement of 65535 before any wrap", AckPacket(65535)},
        {"option acknowledgement of a larger block", OptionAckPacket({{"blksize", "1024"}})},
        {"option acknowledgement of a smaller block", OptionAckPacket({{"blksize", "100"}})},
        {"option acknowledgement of no integer", OptionAckPacket({{"blksize", "many"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(3000);
        u.Server.OnData = AnswerWith([](const DataEvent& e) { return e.Index == 2; },
                                     {{PeerSocket::Transfer, c.Stray, 0}});
        ASSERT_TRUE(u.Run().Ok);
        EXPECT_EQ(u.Blocks(), (std::vector<uint16_t>{1, 2, 2, 3, 4, 5, 6}));
        EXPECT_EQ(FromFirst(u.TimesOf(2)), (Times{milliseconds(0), TFTPMinRetransmitTime}));
        EXPECT_EQ(u.Server.File(), u.Image);
        EXPECT_EQ(Works(u.Events), WorkOf(3000, 512));
        EXPECT_EQ(u.Rules->BlockSize(), 512);
    }
}

TEST(Rules, BlockNumbersWrapAfter65535) {
    // One-byte blocks: 65537 bytes make blocks 1..65535, 0, 1 and the empty block 2.
    VirtualUpload u;
    u.Image = PatternBytes(65537);
    u.Server.Open = WriteServer::Opening::OptionAck;
    u.Server.OfferedBlockSize = 1;
    // Block 0 arrived: acknowledge 65535 again, a duplicate.
    u.Server.OnData = AnswerWith([](const DataEvent& e) { return e.Index == 65536; },
                                 {{PeerSocket::Transfer, AckPacket(65535), 0}});
    ASSERT_TRUE(u.Run().Ok);
    const auto& data = u.Server.Data();
    ASSERT_EQ(data.size(), 65539u);
    EXPECT_EQ(data[65533].Block, 65534);
    EXPECT_EQ(data[65534].Block, 65535);
    EXPECT_EQ(data[65535].Block, 0);
    EXPECT_EQ(data[65536].Block, 0) << "the timer resends block 0, not the duplicate";
    EXPECT_TRUE(data[65536].Repeat);
    EXPECT_EQ(data[65537].Block, 1);
    EXPECT_EQ(data[65538].Block, 2);
    EXPECT_EQ(data[65538].Length, 0u);
    EXPECT_EQ(u.Server.File(), u.Image);
    // One work event per new block: 65538 of them, the last with every byte.
    const std::vector<std::string> works = Works(u.Events);
    ASSERT_EQ(works.size(), 65538u);
    EXPECT_EQ(works.back(), "work 65537");
    EXPECT_EQ(u.Rules->BlockSize(), 1);
}

TEST(Rules, SilenceEndsTheUploadAfterReceiveTimeoutOrTheGiveUpTime) {
    // From one data block on the device answers nothing. The block goes again at its
    // retransmission times (the floor after it, then twice as long each time). After the final
    // block, ReceiveTimeout of silence ends the upload as a success: the device may have stored the
    // image and restarted. Before it the upload ends with "Timeout" GiveUpTime after the block
    // first went: 15 s with the defaults, the bound of a device that has gone silent.
    const struct {
        const char* Name;
        int SilentAt; // data packet from which on nothing is answered
        int32_t GiveUpTime;
        bool Success;
        milliseconds End; // after the silent block first went
    } cases[] = {
        {"final block unanswered", 6, 15000, true, milliseconds(400)},
        {"block 3 unanswered", 3, 15000, false, milliseconds(15000)},
        {"block 3 unanswered, a shorter give-up", 3, 2000, false, milliseconds(2000)},
        {"block 3 unanswered, ReceiveTimeout longer", 3, 300, false, milliseconds(400)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(3000);
        u.Settings.ReceiveTimeout = 400;
        u.Settings.GiveUpTime = c.GiveUpTime;
        const int silentAt = c.SilentAt;
        u.Server.OnData =
            AnswerWith([silentAt](const DataEvent& e) { return e.Index >= silentAt; }, {});
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Ok, c.Success);
        EXPECT_EQ(outcome.Message, c.Success ? "" : "Timeout");
        const Times copies = u.TimesOf(static_cast<uint16_t>(c.SilentAt));
        EXPECT_EQ(FromFirst(copies), BackedOff(c.End));
        EXPECT_EQ(outcome.End - copies.front(), c.End);
        EXPECT_EQ(u.Blocks().size(), c.SilentAt - 1 + copies.size());
        EXPECT_EQ(u.Rules->Peer(), VirtualUpload::EndpointOf(PeerSocket::Transfer));
        if (c.Success) {
            EXPECT_EQ(u.Server.File(), u.Image);
        }
    }
}

TEST(Rules, TheFinalBlockIsASuccessOnlyWhenTheDeviceTookIt) {
    // The final block is out. A device that acknowledges it, or that falls silent (it stored the
    // image and restarted), has taken it. One that acknowledges the block before again (it never
    // got the final one, and re-acknowledges on its own timer) or block 0 (it restarted without
    // the image) has not: the final block is held like any other, and the upload ends with
    // "Timeout" when its own acknowledgement never comes, or succeeds when it comes late.
    const struct {
        const char* Name;
        std::vector<PeerSend> AtFinal; // the answers to the final block's first copy
        bool AnswerLater;              // its later copies acknowledged
        bool Success;
        milliseconds End; // after the final block first went
    } cases[] = {
        {"acknowledged", {{PeerSocket::Transfer, AckPacket(3), 0}}, false, true, milliseconds(0)},
        {"silence", {}, false, true, milliseconds(4000)},
        {"the block before acknowledged again, every 5 s",
         {{PeerSocket::Transfer, AckPacket(2), 1000},
          {PeerSocket::Transfer, AckPacket(2), 6000},
          {PeerSocket::Transfer, AckPacket(2), 11000}},
         false,
         false,
         milliseconds(15000)},
        {"acknowledgement 0",
         {{PeerSocket::Transfer, AckPacket(0), 20}},
         false,
         false,
         milliseconds(15000)},
        {"the block before again, then the final one",
         {{PeerSocket::Transfer, AckPacket(2), 100}},
         true,
         true,
         milliseconds(175)},
        {"unknown opcodes only",
         {{PeerSocket::Transfer, "\0\x63junk"s, 20}},
         false,
         true,
         milliseconds(4000)},
        {"an error packet",
         {{PeerSocket::Transfer, ErrorPacket(3, "Disk full"), 1000}},
         false,
         false,
         milliseconds(1000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(1100); // blocks 1, 2 and the final 3
        const auto atFinal = c.AtFinal;
        const bool later = c.AnswerLater;
        u.Server.OnData = [atFinal,
                           later](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
            if (e.Block != 3) {
                return std::nullopt;
            }
            if (!e.Repeat) {
                return atFinal;
            }
            // The copies sent after the device showed it lacks the block (at 100 ms): the
            // timer's from 175 ms on (the first copy is data packet 3, the timer's come at 25,
            // 75, 175 ms, ...).
            if (later && e.Index >= 6) {
                return std::vector<PeerSend>{{PeerSocket::Transfer, AckPacket(3), 0}};
            }
            return std::vector<PeerSend>{};
        };
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Ok, c.Success) << outcome.Message;
        if (!c.Success) {
            EXPECT_EQ(outcome.Message,
                      std::string(c.Name) == "an error packet" ? "Disk full" : "Timeout");
        } else {
            EXPECT_EQ(u.Server.File(), u.Image);
            EXPECT_EQ(Works(u.Events), WorkOf(1100, 512)) << "no work for a copy sent again";
        }
        const Times copies = u.TimesOf(3);
        ASSERT_FALSE(copies.empty());
        EXPECT_EQ(outcome.End - copies.front(), c.End);
    }
}

TEST(Rules, AReceiverThatAcknowledgesAgainOnlyOnItsOwnTimerIsWaitedFor) {
    // Some receivers take no notice of a block they already have, and send their last
    // acknowledgement again only when their own timer runs out (5 s and up to a second more).
    // The acknowledgement of block 3 is lost: the copies the client sends draw nothing, and the
    // upload goes on when the receiver's timer sends it again, or a second time when that one is
    // lost too; with the defaults, nothing but a device silent for 15 s is given up.
    const struct {
        const char* Name;
        Times Reacks; // the receiver's acknowledgements of block 3, from its arrival; lost ones
                      // left out
        bool Success;
    } cases[] = {
        {"again after 5 s", {milliseconds(5000)}, true},
        {"again after 6 s", {milliseconds(6000)}, true},
        {"that one lost too: after 12 s", {milliseconds(12000)}, true},
        {"only after 16 s", {milliseconds(16000)}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(3000);
        std::vector<PeerSend> reacks;
        for (const milliseconds at : c.Reacks) {
            reacks.push_back({PeerSocket::Transfer, AckPacket(3), static_cast<int>(at.count())});
        }
        u.Server.OnData = [reacks](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
            if (e.Block == 3) {
                return e.Repeat ? std::vector<PeerSend>{} : reacks;
            }
            return std::nullopt;
        };
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Ok, c.Success) << outcome.Message;
        EXPECT_EQ(u.Server.File(), c.Success ? u.Image : u.Image.substr(0, 3 * 512));
        const Times copies = u.TimesOf(3);
        EXPECT_EQ(FromFirst(copies),
                  BackedOff(std::min(c.Reacks.back(), milliseconds(15000)) + milliseconds(1)));
        EXPECT_EQ(u.TimesOf(4).size(), c.Success ? 1u : 0u);
    }
}

TEST(Rules, ASlowDeviceGetsEachBlockOnce) {
    // A device that answers every datagram after the same long delay. The request goes again
    // before the first answer (every request is answered), so the first block has no round trip
    // to go by: it waits twice the time since the first request (at most 3 s); from then on the
    // time-out follows the round trips, with a ceiling of twice the smoothed round trip.
    for (const int delay : {40, 1500, 2500}) {
        SCOPED_TRACE(delay);
        VirtualUpload u;
        u.Image = PatternBytes(20 * 512 + 100);
        u.Script = [&u, delay](const PeerDatagram& d) {
            std::vector<PeerSend> sends = u.Server.Script()(d);
            for (PeerSend& send : sends) {
                send.DelayMs += delay;
            }
            return sends;
        };
        ASSERT_TRUE(u.Run().Ok);
        EXPECT_EQ(u.Server.File(), u.Image);
        std::vector<uint16_t> once(21);
        std::iota(once.begin(), once.end(), 1);
        EXPECT_EQ(u.Blocks(), once) << "each block once";
        EXPECT_GE(u.Rules->RetransmitTimeout(), milliseconds(delay) + TFTPMinRetransmitTime);
    }
}

TEST(Rules, AnImageChangedWhileItIsSentIsNeverASuccess) {
    // The image is checked before the block that ends it goes, and at the end: a change found
    // then fails the upload with its message, and before the final block nothing of the new
    // image's end reaches the device.
    const struct {
        const char* Name;
        int ChecksUnchanged;
        std::vector<uint16_t> Blocks;
    } cases[] = {
        {"changed before the final block", 0, {1, 2}},
        {"changed before the end", 1, {1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(1100);
        u.ChecksUnchanged = c.ChecksUnchanged;
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_FALSE(outcome.Ok);
        EXPECT_THROW(std::rethrow_exception(outcome.Failure), EFileChanged);
        EXPECT_EQ(outcome.Message, "The file image.bin changed while it was being sent");
        EXPECT_EQ(u.Blocks(), c.Blocks);
    }
}

TEST(Rules, LostBlockGoesAgainAndIsNotMeasured) {
    // Block 2 goes unanswered but for one acknowledgement 650 ms after its first copy; block 4 is
    // lost once. Each goes again after the retransmission time. Karn's rule: block 2, sent more
    // than once (at 0, 25, 75, 175 and 375 ms), gives no round trip, so block 3 (acknowledged at
    // once) sets the time-out back to the floor and block 4 goes again 25 ms after it. Measured
    // from its last copy, block 2's round trip of 275 ms would have kept the time-out for block 4
    // near 0.3 s (from its first copy, above 0.65 s).
    VirtualUpload u;
    u.Image = PatternBytes(3000);
    u.Server.OnData = [](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
        if (e.Block == 2 && !e.Repeat) {
            return std::vector<PeerSend>{{PeerSocket::Transfer, AckPacket(2), 650}};
        }
        if (e.Block == 2 || (e.Block == 4 && !e.Repeat)) {
            return std::vector<PeerSend>{};
        }
        return std::nullopt;
    };
    ASSERT_TRUE(u.Run().Ok);
    EXPECT_EQ(u.Server.File(), u.Image);
    EXPECT_EQ(Works(u.Events), WorkOf(3000, 512));
    EXPECT_EQ(FromFirst(u.TimesOf(2)), BackedOff(milliseconds(650)));
    EXPECT_EQ(FromFirst(u.TimesOf(4)), (Times{milliseconds(0), TFTPMinRetransmitTime}));
    EXPECT_EQ(u.TimesOf(3).size(), 1u);
}

TEST(Rules, NoFloodRestartsTheWait) {
    // Once block 2 (or the final block) is out, the device falls silent and a flood begins: junk
    // from its own transfer port, or the very acknowledgement awaited from a stranger. Only
    // progress restarts the wait: the upload ends GiveUpTime after the block went out (after the
    // final block: ReceiveTimeout of silence, a success, unless the flood held acknowledgements
    // of other blocks), however long the flood lasts. None of it draws a data packet; another
    // port of the device is told "Unknown transfer ID" a bounded number of times.
    const std::vector<std::string> junk = {"\0\x63junk"s, AckPacket(1), AckPacket(0)};
    const struct {
        const char* Name;
        PeerSocket Via;
        size_t Size; // 3000: block 2 of 6; 1000: block 2 is the final one
        std::vector<std::string> Flood;
        bool Success;
        milliseconds End;
    } cases[] = {
        {"junk from the transfer port", PeerSocket::Transfer, 3000, junk, false,
         milliseconds(2000)},
        {"the awaited acknowledgement from another port",
         PeerSocket::Stranger,
         3000,
         {AckPacket(2)},
         false,
         milliseconds(2000)},
        {"the awaited acknowledgement from another address",
         PeerSocket::StrangerAddress,
         3000,
         {AckPacket(2)},
         false,
         milliseconds(2000)},
        {"unknown opcodes after the final block",
         PeerSocket::Transfer,
         1000,
         {"\0\x63junk"s},
         true,
         milliseconds(300)},
        {"junk with acknowledgements after the final block", PeerSocket::Transfer, 1000, junk,
         false, milliseconds(2000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(c.Size);
        u.Settings.ReceiveTimeout = 300;
        u.Settings.GiveUpTime = 2000;
        const auto flood = c.Flood;
        const PeerSocket via = c.Via;
        u.Server.OnData = [via, flood](const DataEvent& e) -> std::optional<std::vector<PeerSend>> {
            if (e.Block != 2) {
                return std::nullopt;
            }
            std::vector<PeerSend> sends;
            if (e.Repeat) {
                return sends;
            }
            for (int at = 0; at <= 3000; at += 5) {
                sends.push_back({via, flood[static_cast<size_t>(at / 5) % flood.size()], at});
            }
            return sends;
        };
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Ok, c.Success);
        const Times copies = u.TimesOf(2);
        EXPECT_EQ(FromFirst(copies), BackedOff(c.End));
        EXPECT_EQ(outcome.End - copies.front(), c.End);
        EXPECT_EQ(u.Blocks().size(), 1 + copies.size());
        EXPECT_EQ(UnknownTransferAnswers(u.ReceivedOn(PeerSocket::Stranger)),
                  c.Via == PeerSocket::Stranger ? size_t{TFTPMaxUnknownTransferAnswers} : 0u);
        EXPECT_EQ(u.ReceivedOn(PeerSocket::StrangerAddress).size(), 0u);
    }
}

TEST(Rules, OnlyTheRequestedAddressMayAnswerFirst) {
    // The request goes to 127.0.0.1. An answer from 127.0.0.2 is dropped and nothing is sent
    // there; the device's own answer, should it come later, opens the transfer.
    for (const bool deviceAnswers : {false, true}) {
        SCOPED_TRACE(deviceAnswers ? "127.0.0.2 first, then the device" : "only 127.0.0.2");
        VirtualUpload u;
        u.Image = PatternBytes(3000);
        u.Settings.ReceiveTimeout = 300;
        u.Server.Open = WriteServer::Opening::OptionAck;
        u.Server.OfferedBlockSize = 1024;
        u.Server.OpenVia = deviceAnswers ? PeerSocket::Transfer : PeerSocket::StrangerAddress;
        u.Script = [&u, deviceAnswers](const PeerDatagram& d) {
            std::vector<PeerSend> sends = u.Server.Script()(d);
            if (deviceAnswers && d.Socket == PeerSocket::Listen) {
                sends[0].DelayMs = 50;
                sends.insert(sends.begin(),
                             {PeerSocket::StrangerAddress, OptionAckPacket({{"blksize", "8"}}), 0});
            }
            return sends;
        };
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Ok, deviceAnswers);
        EXPECT_EQ(outcome.Message, deviceAnswers ? "" : "Timeout");
        EXPECT_EQ(u.ReceivedOn(PeerSocket::StrangerAddress).size(), 0u);
        if (deviceAnswers) {
            EXPECT_EQ(u.Rules->Peer(), VirtualUpload::EndpointOf(PeerSocket::Transfer));
            EXPECT_EQ(u.Server.File(), u.Image);
            EXPECT_EQ(u.Blocks(), (std::vector<uint16_t>{1, 2, 3}));
        } else {
            EXPECT_FALSE(u.Rules->Peer().Known());
            EXPECT_TRUE(u.Blocks().empty());
        }
    }
}

TEST(Rules, RequestScheduleAndTheWaitForTheFirstAnswer) {
    // No answer: the request goes 0.5 s after the first, then after twice the time before, at
    // most RequestRetryTime apart (0 or below: once), until the wait for the first answer is
    // over: RequestWait when set, ReceiveTimeout otherwise; then "Timeout".
    const auto ms = [](std::initializer_list<int> values) {
        Times times;
        for (const int v : values) {
            times.emplace_back(v);
        }
        return times;
    };
    const struct {
        const char* Name;
        int32_t ReceiveTimeout, RequestWait, RequestRetryTime;
        Times Requests;
        milliseconds End;
    } cases[] = {
        {"the defaults", 4000, 0, 1000, ms({0, 500, 1500, 2500, 3500}), milliseconds(4000)},
        {"a short time-out", 1600, 0, 1000, ms({0, 500, 1500}), milliseconds(1600)},
        {"the window's short one", 300, 0, 1000, ms({0}), milliseconds(300)},
        {"sent once", 4000, 0, 0, ms({0}), milliseconds(4000)},
        {"a ceiling below the first interval", 1000, 0, 300, ms({0, 300, 600, 900}),
         milliseconds(1000)},
        {"a longer ceiling", 9000, 0, 4000, ms({0, 500, 1500, 3500, 7500}), milliseconds(9000)},
        {"RequestWait over ReceiveTimeout", 400, 3000, 1000, ms({0, 500, 1500, 2500}),
         milliseconds(3000)},
        {"RequestWait every 100 ms", 400, 1000, 100,
         ms({0, 100, 200, 300, 400, 500, 600, 700, 800, 900}), milliseconds(1000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(10);
        u.Server.Open = WriteServer::Opening::Silent;
        u.Settings.ReceiveTimeout = c.ReceiveTimeout;
        u.Settings.RequestWait = c.RequestWait;
        u.Settings.RequestRetryTime = c.RequestRetryTime;
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Message, "Timeout");
        EXPECT_EQ(outcome.End, c.End);
        EXPECT_EQ(u.RequestTimes(), c.Requests);
        for (const PeerDatagram& request : u.ReceivedOn(PeerSocket::Listen)) {
            EXPECT_EQ(request.Bytes, MakeWriteRequest("/", tfOctet, 1500));
        }
    }
    // Without limit: still asking after a day.
    VirtualUpload u;
    u.Server.Open = WriteServer::Opening::Silent;
    u.Settings.RequestWait = NoTimeLimit;
    const VirtualUpload::Outcome outcome = u.Run(std::chrono::hours(24));
    EXPECT_EQ(outcome.Message, "hang");
    EXPECT_GT(u.RequestTimes().size(), 86000u);
}

TEST(Rules, ARequestAnsweredLaterOpensTheTransfer) {
    // For a device that is still starting, the third request is answered; a unit just swapped in
    // at the address is reached by the second (the first went to the hardware address of the
    // unit before). A late answer to the first, from a port of its own (a second transfer at the
    // device), is told "Unknown transfer ID" once.
    const struct {
        const char* Name;
        int SilentRequests;
        int32_t RequestWait, RequestRetryTime;
        bool LateAnswer;
        Times Requests;
    } cases[] = {
        {"third request answered",
         2,
         1000,
         100,
         false,
         {milliseconds(0), milliseconds(100), milliseconds(200)}},
        {"the first request lost", 1, 0, 1000, false, {milliseconds(0), milliseconds(500)}},
        {"the first request answered late", 1, 0, 1000, true, {milliseconds(0), milliseconds(500)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(3000);
        u.Settings.RequestWait = c.RequestWait;
        u.Settings.RequestRetryTime = c.RequestRetryTime;
        u.Server.SilentRequests = c.SilentRequests;
        // Block 1 is acknowledged 300 ms late, so that the late answer comes during the transfer.
        u.Server.OnData = AnswerWith([](const DataEvent& e) { return e.Index == 1; },
                                     {{PeerSocket::Transfer, AckPacket(1), 300}});
        int requests = 0;
        const bool late = c.LateAnswer;
        u.Script = [&u, &requests, late](const PeerDatagram& d) {
            std::vector<PeerSend> sends = u.Server.Script()(d);
            if (late && d.Socket == PeerSocket::Listen && ++requests == 1) {
                sends.push_back({PeerSocket::Stranger, AckPacket(0), 700});
            }
            return sends;
        };
        ASSERT_TRUE(u.Run().Ok);
        EXPECT_EQ(u.RequestTimes(), c.Requests);
        EXPECT_EQ(u.Server.File(), u.Image);
        EXPECT_EQ(u.Blocks(), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(u.Rules->Peer(), VirtualUpload::EndpointOf(PeerSocket::Transfer));
        EXPECT_EQ(UnknownTransferAnswers(u.ReceivedOn(PeerSocket::Stranger)), late ? 1u : 0u);
        // A block sent after a repeated request has no round trip to go by (Karn's rule).
        EXPECT_EQ(u.TimesOf(1).size(), 1u);
    }
}

TEST(Rules, ALinkThatIsNotUpYetIsRiddenOutWhileTheRequestWaits) {
    // A cable straight to a unit that is still powering up: sends fail with "network
    // unreachable" and the like. Ridden out, they are passed over until the link is there;
    // otherwise, and once the transfer runs, they end the upload.
    const struct {
        const char* Name;
        bool RideOut;
        std::vector<int32_t> SendFailures; // of the sends in order; 0 goes
        bool Silent;                       // the device never answers
        int32_t Raised;                    // the socket error the upload ends with; 0: none
        const char* Timeout;               // or this TFTP failure
        std::vector<std::string> Links;    // what OnLinkWait told
    } cases[] = {
        {"link comes up",
         true,
         {10051, 10065, 10050, 10049, 10055},
         false,
         0,
         nullptr,
         {"link 10051", "link 10065", "link 10050", "link 10049", "link 10055", "link 0"}},
        {"not ridden out", false, {10051}, false, 10051, nullptr, {}},
        {"never up", true, std::vector<int32_t>(20, 10051), false, 10051, nullptr,
         std::vector<std::string>(10, "link 10051")},
        {"up, device silent", true, {10051}, true, 0, "Timeout", {"link 10051", "link 0"}},
        {"other failure", true, {10013}, false, 10013, nullptr, {}},
        {"failure in mid-transfer", true, {0, 10051}, false, 10051, nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualUpload u;
        u.Image = PatternBytes(1000);
        if (c.Silent) {
            u.Server.Open = WriteServer::Opening::Silent;
        }
        u.Settings.RideOutLinkFailures = c.RideOut;
        u.Settings.RequestRetryTime = 20;
        u.Settings.RequestWait = 200;
        u.SendFailures = c.SendFailures;
        const VirtualUpload::Outcome outcome = u.Run();
        int32_t raised = 0;
        std::string failure;
        try {
            if (outcome.Failure) {
                std::rethrow_exception(outcome.Failure);
            }
        } catch (const EIdSocketError& e) {
            raised = e.ErrorCode();
        } catch (const EIdTFTPException& e) {
            failure = e.Message();
        }
        EXPECT_EQ(raised, c.Raised);
        EXPECT_EQ(failure, c.Timeout ? c.Timeout : "");
        EXPECT_EQ(u.Server.File(), c.Raised == 0 && !c.Timeout ? u.Image : "");
        std::vector<std::string> links;
        for (const std::string& e : u.Events) {
            if (e.rfind("link ", 0) == 0) {
                links.push_back(e);
            }
        }
        EXPECT_EQ(links, c.Links);
    }
}

TEST(Rules, EachRequestIsAnnouncedAndTheTransferPeerMayBeDeclined) {
    // A flashing station clears the neighbour entry before every request, and will not flash a
    // unit it has just flashed: that unit is told so and gets no data.
    for (const bool decline : {false, true}) {
        SCOPED_TRACE(decline ? "declined" : "taken");
        VirtualUpload u;
        u.Image = PatternBytes(1000);
        u.Server.SilentRequests = 1;
        u.Settings.RequestRetryTime = 50;
        if (decline) {
            u.Decline = "flashed already";
        }
        const VirtualUpload::Outcome outcome = u.Run();
        EXPECT_EQ(outcome.Ok, !decline);
        if (decline) {
            EXPECT_THROW(std::rethrow_exception(outcome.Failure), EIdTFTPDeclined);
            EXPECT_EQ(outcome.Message, "flashed already");
        }
        const std::vector<std::string> first = {"request", "request", "peer 127.0.0.1:7001"};
        ASSERT_GE(u.Events.size(), first.size());
        EXPECT_EQ(std::vector<std::string>(u.Events.begin(), u.Events.begin() + 3), first);
        if (decline) {
            EXPECT_EQ(u.Events.size(), 3u);
            const auto told = u.ReceivedOn(PeerSocket::Transfer);
            ASSERT_EQ(told.size(), 1u);
            EXPECT_EQ(told[0].Bytes, ErrorPacket(0, "flashed already"));
        } else {
            EXPECT_EQ(u.Blocks(), (std::vector<uint16_t>{1, 2}));
            EXPECT_EQ(u.Server.File(), u.Image);
        }
    }
}

} // namespace
