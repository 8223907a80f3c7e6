// The upgrade run's own rules, on every platform: the percentage of the gauge, and which address
// texts reach the ARP command.
#include "run/RunSeams.h"
#include "run/UpgradeRun.h"
#include "tftp/IdTrivialFTP.h"

#include "RunSupport.h"
#include "Scratch.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace {

TEST(UploadPercent, IsTheTruncatedShareOfTheProbedSize) {
    constexpr int32_t Max = std::numeric_limits<int32_t>::max();
    const struct {
        int32_t Count;
        uint32_t Size;
        int32_t Percent;
    } cases[] = {
        {0, 0, 100}, // the whole of an empty image
        {7, 0, 100}, // an empty image that grew
        {0, 2048, 0},
        {512, 2048, 25},
        {2047, 2048, 99},
        {2048, 2048, 100},
        {1, 3, 33},
        {2, 3, 66},
        {3, 3, 100},
        {6, 3, 200}, // a file that grew: the gauge clamps it
        {Max, 0xFFFFFFFFu, 49},
        {1, 0xFFFFFFFFu, 0}, // the size of a file that could not be probed
        {Max, 1, Max},       // saturated, not undefined
        {21474837, 1, Max},
        {21474836, 1, 2147483600},
        {-1, 3, -33},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UploadPercent(c.Count, c.Size), c.Percent) << c.Count << " of " << c.Size;
    }
}

// The ARP tool takes "default" and a prefix as whole ranges of the host's entries, so only a
// dotted quad reaches it, in the plain form that the upload sends to; everything else starts
// nothing.
TEST(StartArpCommand, OnlyADottedQuadReachesTheArpCommandInItsPlainForm) {
    const TIdTrivialFTP keepsTheStack(nullptr); // the address is checked by GlobalStack
    TScratch scratch;
#if !defined(_WIN32)
    const TArpStandIn tool(scratch);
#endif
    const struct {
        const char* Address;
        const char* Arp; // the address the tool gets, or nullptr for no start
    } cases[] = {
        {"1.2.3.4", "1.2.3.4"},
        {"10.0.0.7", "10.0.0.7"},
        {" 10.0.0.7", "10.0.0.7"},
        {"010.0.0.7", "10.0.0.7"}, // decimal to the stack, octal to the tool
        {"0x0A.0.0.7", "10.0.0.7"},
        {"default", nullptr},
        {"10.0.0.0/8", nullptr},
        {"host name", nullptr},
        {"1.2.3.4 5", nullptr},
        {"1.2.3.4; rm -rf ~", nullptr},
        {"1.2.3.256", nullptr},
        {"", nullptr},
        {"$(reboot)", nullptr},
        {"-all", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Address);
        TRecordingLauncher launcher;
        StartArpCommand(c.Address);
        std::vector<TCommand> expected;
        if (c.Arp != nullptr) {
#if defined(_WIN32)
            expected.push_back({"arp.exe", {"-d", c.Arp}});
#else
            expected.push_back(tool.Command(c.Arp));
#endif
        }
        EXPECT_EQ(launcher.Started, expected);
    }
}

} // namespace
