// The upgrade run's own rules, on every platform: the percentage of the gauge, which address
// texts reach the ARP command, and the caption and text of the message boxes.
#include "run/MessageBoxes.h"
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
        StartArpCommand(launcher, c.Address);
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

TEST(ApplicationTitle, IsTheFileNameUpToItsFirstDotWithTheRestInLowerCase) {
    const struct {
        const char* Path;
        const char* Title;
    } cases[] = {
        {"/usr/local/bin/zeb40-upgrade", "zeb40-upgrade"},
        {"C:/Tools/ZEB40UPG.EXE", "Zeb40upg"},
        {"ZEB40.tar.gz", "Zeb40"},
        {"/opt/My.Tool/Upgrade", "Upgrade"},
        {"relative/UpGrade.", "Upgrade"},
        {"/bin/.hidden", ""},
        {"X", "X"},
        {"", ""},
        {"/ends/with/slash/", ""},
        {"/x/\xC4RGER", "\xC4rger"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TitleFromExecutable(c.Path), c.Title) << c.Path;
    }
#if defined(_WIN32)
    EXPECT_EQ(TitleFromExecutable("C:\\Tools\\ZEB40UPG.EXE"), "Zeb40upg");
#else
    EXPECT_EQ(TitleFromExecutable("/x/a\\b"), "a\\b"); // a name of its own here
#endif
}

TEST(ErrorBox, AppendsAPeriodOnlyAfterACharacterAboveIt) {
    const struct {
        const char* Message;
        const char* Shown;
    } cases[] = {
        {"Timeout", "Timeout."},
        {"Unable to write to /a/DORVEX.ini", "Unable to write to /a/DORVEX.ini."},
        {"Upgrade Finish.", "Upgrade Finish."},
        {"", ""},
        {"ends in a blank ", "ends in a blank "},
        {"(closed)", "(closed)"},
        {"dash-", "dash-"},
        {"slash/", "slash/."},
        {"digit 0", "digit 0."},
        {"line\n", "line\n"},
        {"byte \xE9", "byte \xE9."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorBoxText(c.Message), c.Shown) << c.Message;
    }
}

} // namespace
