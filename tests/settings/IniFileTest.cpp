#include "settings/IniFile.h"

#include "Scratch.h"
#include "settings/FaultyCalls.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// One value written and flushed, so that a refusal is raised.
void Store(const std::string& name, const std::string& key, const std::string& value) {
    TIniFile ini(name);
    ini.WriteText("Data", key, value);
    ini.Flush();
}

struct IntCase {
    const char* Stored;
    int32_t Expected;
};

class IniReadInt : public testing::TestWithParam<IntCase> {};

TEST_P(IniReadInt, ReadsEnableWriteByTheIntegerRules) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, std::string("[Debug]\nEnableWrite=") + GetParam().Stored + "\n");
    EXPECT_EQ(TIniFile(name).ReadInt("Debug", "EnableWrite", 1), GetParam().Expected)
        << "stored '" << GetParam().Stored << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadInt,
    testing::Values(IntCase{"0", 0}, IntCase{"0x0", 0}, IntCase{"0X0", 0}, IntCase{"$0", 0},
                    IntCase{" 0", 0}, IntCase{"0 ", 0}, IntCase{"\"0\"", 0}, IntCase{"0 x", 1},
                    IntCase{"-5", -5}, IntCase{"+7", 7}, IntCase{"-$5", 1}, IntCase{"-0x5", 1},
                    IntCase{"0x", 1}, IntCase{"0x1f", 31}, IntCase{"x10", 16},
                    IntCase{"0xFFFFFFFF", -1}, IntCase{"$FFFFFFFF", -1}, IntCase{"$100000000", 1},
                    IntCase{"$000000001", 1}, IntCase{"2147483647", 2147483647},
                    IntCase{"-2147483648", INT32_MIN}, IntCase{"2147483648", 1}, IntCase{"", 1},
                    IntCase{"yes", 1}, IntCase{"' 0'", 0}, IntCase{"'0 '", 1}));

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefaultWithoutTrailingBlanks) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    struct {
        const char* Content; // nullptr: no file
        const char* Key;
        const char* Default;
        const char* Expected;
    } cases[] = {
        {nullptr, "IP", "192.168.1.100", "192.168.1.100"},
        {nullptr, "Path", " ", ""},
        {nullptr, "Path", " a b \t ", " a b"},
        {"[Debug]\nIP=1\n", "IP", "d", "d"},
        {"[Data]\nPath=p\n", "IP", "d", "d"},
        {"[Data]\nIP=\n", "IP", "192.168.1.100", ""},
        {"[DATA]\nip=10.0.0.7\n", "IP", "d", "10.0.0.7"},
    };
    for (const auto& c : cases) {
        fs::remove(name);
        if (c.Content != nullptr) {
            WriteFileText(name, c.Content);
        }
        EXPECT_EQ(TIniFile(name).ReadText("Data", c.Key, c.Default), c.Expected)
            << (c.Content ? c.Content : "(no file)") << c.Key;
    }
    fs::remove(name);
    EXPECT_EQ(TIniFile(name).ReadText("Data", "IP", std::string(3000, 'd')).size(), 2047u);
}

TEST(IniFile, SomethingThatIsNoRegularFileReadsAsMissing) {
    TScratch scratch;
    fs::create_directory(scratch / "DORVEX.ini");
    ::mkfifo((scratch / "fifo.ini").c_str(), 0600);
    for (const std::string& name :
         {scratch / "DORVEX.ini", scratch / "fifo.ini", scratch / "none/DORVEX.ini"}) {
        EXPECT_EQ(TIniFile(name).ReadText("Data", "IP", "d"), "d") << name;
        EXPECT_EQ(TIniFile(name).ReadInt("Debug", "EnableWrite", 1), 1) << name;
    }
}

TEST(IniFile, CreatesAMissingFileWithTheDataSectionOnly) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    const mode_t mask = ::umask(022);
    {
        TIniFile ini(name);
        ini.WriteText("Data", "IP", "192.168.1.100");
        ini.WriteText("Data", "Path", "");
    }
    ::umask(mask);
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=192.168.1.100\nPath=\n");
    EXPECT_EQ(fs::status(name).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read);
}

TEST(IniFile, RewritesInPlaceKeepingForeignLinesCommentsEndingsAndPermissions) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "; settings of the tool\r\n[Debug]\r\nEnableWrite=0\r\n\r\n"
                        "[data]\r\n  ip = 10.0.0.1  \r\nnote without equals\r\n\r\n"
                        "[Other]\r\nPath=keep\r\n");
    fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    {
        TIniFile ini(name);
        ini.WriteText("Data", "IP", "10.0.0.7");
        ini.WriteText("Data", "Path", "/fw/a b.bin");
    }
    EXPECT_EQ(ReadFileText(name), "; settings of the tool\r\n[Debug]\r\nEnableWrite=0\r\n\r\n"
                                  "[data]\r\nIP=10.0.0.7\r\nnote without equals\r\n"
                                  "Path=/fw/a b.bin\r\n\r\n[Other]\r\nPath=keep\r\n");
    EXPECT_EQ(fs::status(name).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.Path()), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
}

TEST(IniFile, WritesThroughASymbolicLink) {
    TScratch scratch;
    fs::create_directory(scratch / "real");
    WriteFileText(scratch / "real/settings.ini", "[Data]\nIP=1\n");
    fs::create_symlink(scratch / "real/settings.ini", scratch / "DORVEX.ini");
    Store(scratch / "DORVEX.ini", "IP", "2");
    EXPECT_TRUE(fs::is_symlink(scratch / "DORVEX.ini"));
    EXPECT_EQ(ReadFileText(scratch / "real/settings.ini"), "[Data]\nIP=2\n");
}

// Names no write can reach, even for a privileged process.
TEST(IniFile, ARefusedWriteRaisesAndLeavesEverythingAsItWas) {
    TScratch scratch;
    WriteFileText(scratch / "plain", "x");
    fs::create_directory(scratch / "DORVEX.ini");
    const std::string names[] = {scratch / "plain/DORVEX.ini", "/proc/DORVEX.ini",
                                 scratch / "missing/DORVEX.ini", scratch / "DORVEX.ini"};
    for (const std::string& name : names) {
        try {
            Store(name, "IP", "1");
            ADD_FAILURE() << "written: " << name;
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "Unable to write to " + name);
        }
    }
    EXPECT_EQ(ReadFileText(scratch / "plain"), "x");
    EXPECT_TRUE(fs::is_directory(scratch / "DORVEX.ini"));
    EXPECT_TRUE(fs::is_empty(scratch / "DORVEX.ini"));
}

// A file marked read-only for everyone stays as it is, also when the tool runs as root.
TEST(IniFile, AFileNobodyMayWriteIsKeptForEveryUser) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "[Data]\nIP=1\n");
    fs::permissions(name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_THROW(Store(name, "IP", "2"), EIniFileException);
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=1\n");
    EXPECT_EQ(fs::status(name).permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

TEST(IniFile, ALineBreakInAnyPartIsRefused) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "[Data]\nIP=1\nPath=old\n");
    struct {
        const char* Section;
        const char* Key;
        const char* Value;
    } cases[] = {{"Data", "Path", "/a\nIP=6.6.6.6"},
                 {"Data", "Path", "/a\rb"},
                 {"Data", "Path", "\n"},
                 {"Data", "Pa\nth", "v"},
                 {"Da\r\nta", "Path", "v"}};
    for (const auto& c : cases) {
        EXPECT_THROW(TIniFile(name).WriteText(c.Section, c.Key, c.Value), EIniFileException)
            << c.Value;
    }
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=1\nPath=old\n");
}

TEST(IniFileFault, AWriteFailingMidwayLeavesTheOldFileWhole) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    const std::string old = "[Data]\nIP=10.0.0.1\nPath=/a/long/enough/path/to/firmware.bin\n";
    WriteFileText(name, old);
    TFaultyCalls calls;
    calls.FullDisk = true;
    EXPECT_THROW(Store(name, "IP", "10.0.0.2"), EIniFileException);
    EXPECT_EQ(ReadFileText(name), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.Path()), fs::directory_iterator()), 1)
        << "the unfinished new file is removed";
}

TEST(IniFileFault, AFolderRefusingNewFilesHasTheFileRewrittenInPlace) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "[Data]\nIP=10.0.0.1\nPath=/a/longer/path\n");
    const auto inode = [&name]() {
        struct stat st {};
        ::stat(name.c_str(), &st);
        return st.st_ino;
    };
    const auto before = inode();
    TFaultyCalls calls;
    calls.RefuseNewFiles = true;
    Store(name, "Path", "/b");
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=10.0.0.1\nPath=/b\n");
    EXPECT_EQ(inode(), before);
    // With no file to rewrite, the write is refused.
    EXPECT_THROW(Store(scratch / "new.ini", "IP", "1"), EIniFileException);
    EXPECT_FALSE(fs::exists(scratch / "new.ini"));
}

TEST(SettingsPath, IsTheCurrentDirectoryFollowedByTheFileName) {
    TScratch scratch;
    std::string deep = scratch.Path();
    while (deep.size() < 600) {
        deep += "/a-folder-name-of-some-length";
    }
    fs::create_directories(deep);
    const std::string folders[] = {scratch.Path(), deep, "/"};
    for (const std::string& folder : folders) {
        TInFolder in(folder);
        const std::string expected = (folder == "/" ? "/" : folder) + "/DORVEX.ini";
        EXPECT_EQ(SettingsPath(), expected);
    }
}

TEST(SettingsPath, ARemovedCurrentDirectoryGivesARelativeName) {
    TScratch scratch;
    fs::create_directory(scratch / "gone");
    TInFolder in(scratch / "gone");
    fs::remove(scratch / "gone");
    EXPECT_EQ(SettingsPath(), "./DORVEX.ini");
    EXPECT_EQ(TIniFile(SettingsPath()).ReadText("Data", "IP", "d"), "d");
    EXPECT_THROW(Store(SettingsPath(), "IP", "1"), EIniFileException);
}

} // namespace
