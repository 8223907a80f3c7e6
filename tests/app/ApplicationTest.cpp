#include "app/Application.h"
#include "base/Exception.h"

#include "ChildProcess.h"
#include "RecordingBoxes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace {

TEST(ApplicationTitle, IsTheProgramsFileName) {
    EXPECT_EQ(TApplication::Instance()->Title(), "app_window_tests");
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

// Valid UTF-8 is read as such; every byte of anything else shows as its Latin-1 character.
TEST(ProgramText, ShowsUtf8AsSuchAndEveryOtherByteAsLatin1) {
    const auto latin1 = [](std::initializer_list<int> codes) {
        QString text;
        for (int code : codes) {
            text += QChar(code);
        }
        return text;
    };
    const struct {
        std::string Bytes;
        QString Shown;
    } cases[] = {
        {"/fw/a.bin", "/fw/a.bin"},
        {"fw_\xC3\xA9", QString("fw_") + QChar(0xE9)},          // UTF-8
        {"fw_\xE9.bin", QString("fw_") + QChar(0xE9) + ".bin"}, // Latin-1
        {"\xF0\x9F\x98\x80", QString::fromUtf8("\xF0\x9F\x98\x80")},
        {"\xC0\xAF", latin1({0xC0, 0xAF})},                     // overlong "/"
        {"\xED\xA0\x80", latin1({0xED, 0xA0, 0x80})},           // a surrogate
        {"\xF4\x90\x80\x80", latin1({0xF4, 0x90, 0x80, 0x80})}, // past U+10FFFF
        {"a\xE2\x82", latin1({'a', 0xE2, 0x82})},               // cut short
        {"\xE2\x82\xAC\xFF\xE2\x82\xAC",
         QString::fromUtf8("\xE2\x82\xAC") + QChar(0xFF) + QString::fromUtf8("\xE2\x82\xAC")},
        {std::string("a\0b", 3), QString(QChar('a')) + QChar(0) + 'b'},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToQString(c.Bytes), c.Shown) << c.Bytes;
    }
}

TEST(ProgramOptions, AnswerHelpAndVersionWithoutAnyDisplay) {
    // No display of any kind: the toolkit would abort the process if it were started.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        ::unsetenv(name);
    }
    const struct {
        const char* Option;
        std::string Start; // of stdout
    } cases[] = {
        {"--help", "usage: zeb40-upgrade [--help | --version]\n"},
        {"--version", "zeb40-upgrade "},
    };
    for (const auto& c : cases) {
        const TRunResult run = RunProgram(ZEB40_UPGRADE_PROGRAM, {c.Option}, 10000);
        EXPECT_EQ(run.Status, 0) << c.Option << "\n" << run.Err;
        EXPECT_EQ(run.Out.rfind(c.Start, 0), 0u) << run.Out;
        EXPECT_EQ(run.Err, "") << c.Option;
    }
}

} // namespace
