#include "app/Application.h"
#include "base/Exception.h"

#include "RecordingBoxes.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

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
    EXPECT_EQ(TApplication::Instance()->Title(), "app_window_tests");
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

TEST(FailureHandler, ShowsWhatAHandlerLetOutAndReturns) {
    TRecordingBoxes boxes;
    Guarded([] { throw Exception("Cannot open file /fw.bin"); });
    Guarded([] { throw std::runtime_error("plain"); });
    Guarded([] { throw 42; });
    bool ran = false;
    Guarded([&ran] { ran = true; });
    const std::string title = TApplication::Instance()->Title();
    EXPECT_TRUE(ran);
    EXPECT_EQ(boxes.Shown, (std::vector<TShownBox>{{true, title, "Cannot open file /fw.bin."},
                                                   {true, title, "plain."},
                                                   {true, title, "Unexpected failure."}}));
}

TEST(FailureHandler, AFailingMessageBoxStaysInsideTheHandler) {
    TRecordingBoxes boxes;
    boxes.WhileOpen = [](const TShownBox&) { throw std::runtime_error("box"); };
    Guarded([] { throw Exception("first"); });
    EXPECT_EQ(boxes.Shown.size(), 1u);
}

TEST(MessageBox, CarriesTheTitle) {
    TRecordingBoxes boxes;
    TApplication::Instance()->MessageBox("Upgrade Finish.");
    EXPECT_EQ(boxes.Shown, (std::vector<TShownBox>{
                               {false, TApplication::Instance()->Title(), "Upgrade Finish."}}));
}

} // namespace
