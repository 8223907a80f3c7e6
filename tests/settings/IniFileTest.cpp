#include "settings/IniFile.h"

#include "Platform.h"
#include "Scratch.h"
#include "settings/FaultyCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

// What the folder holds: a temporary file left behind shows here.
std::vector<std::string> Entries(const TScratch& scratch) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The file's identity on its volume: the same after a rewrite in place, another after a
// replace.
uint64_t Identity(const std::string& name) {
#if defined(_WIN32)
    const HANDLE file = ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    return static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
#else
    struct stat st {};
    ::stat(name.c_str(), &st);
    return st.st_ino;
#endif
}

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
#if defined(_WIN32)
    const std::string device = scratch / "NUL"; // the null device, in any folder
#else
    const std::string device = scratch / "fifo.ini";
    ::mkfifo(device.c_str(), 0600);
#endif
    for (const std::string& name : {scratch / "DORVEX.ini", device, scratch / "none/DORVEX.ini"}) {
        EXPECT_EQ(TIniFile(name).ReadText("Data", "IP", "d"), "d") << name;
        EXPECT_EQ(TIniFile(name).ReadInt("Debug", "EnableWrite", 1), 1) << name;
    }
}

TEST(IniFile, CreatesAMissingFileWithTheDataSectionOnly) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
#if !defined(_WIN32)
    const mode_t mask = ::umask(022);
#endif
    {
        TIniFile ini(name);
        ini.WriteText("Data", "IP", "192.168.1.100");
        ini.WriteText("Data", "Path", "");
    }
    const std::string n = NewFileLineEnd;
    EXPECT_EQ(ReadFileText(name), "[Data]" + n + "IP=192.168.1.100" + n + "Path=" + n);
    EXPECT_EQ(Entries(scratch), std::vector<std::string>{"DORVEX.ini"});
#if defined(_WIN32)
    EXPECT_EQ(::GetFileAttributesA(name.c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              0u);
#else
    ::umask(mask);
    EXPECT_EQ(fs::status(name).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read);
#endif
}

TEST(IniFile, RewritesInPlaceKeepingForeignLinesCommentsEndingsAndPermissions) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "; settings of the tool\r\n[Debug]\r\nEnableWrite=0\r\n\r\n"
                        "[data]\r\n  ip = 10.0.0.1  \r\nnote without equals\r\n\r\n"
                        "[Other]\r\nPath=keep\r\n");
#if defined(_WIN32)
    ASSERT_TRUE(::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
    fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    {
        TIniFile ini(name);
        ini.WriteText("Data", "IP", "10.0.0.7");
        ini.WriteText("Data", "Path", "/fw/a b.bin");
    }
    EXPECT_EQ(ReadFileText(name), "; settings of the tool\r\n[Debug]\r\nEnableWrite=0\r\n\r\n"
                                  "[data]\r\nIP=10.0.0.7\r\nnote without equals\r\n"
                                  "Path=/fw/a b.bin\r\n\r\n[Other]\r\nPath=keep\r\n");
#if defined(_WIN32)
    EXPECT_EQ(::GetFileAttributesA(name.c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
#else
    EXPECT_EQ(fs::status(name).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    EXPECT_EQ(Entries(scratch), std::vector<std::string>{"DORVEX.ini"})
        << "no temporary file is left behind";
}

TEST(IniFile, WritesThroughASymbolicLinkAndRefusesOneThatLeadsNowhere) {
    TScratch scratch;
    fs::create_directory(scratch / "real");
    WriteFileText(scratch / "real/settings.ini", "[Data]\nIP=1\n");
    std::error_code error;
    fs::create_symlink(scratch / "real/settings.ini", scratch / "DORVEX.ini", error);
    if (error || ReadFileText(scratch / "DORVEX.ini") != "[Data]\nIP=1\n") {
        // Windows makes them for privileged users and in developer mode only; Wine makes none
        // that opens.
        GTEST_SKIP() << "no symbolic link that opens its target here";
    }
    Store(scratch / "DORVEX.ini", "IP", "2");
    EXPECT_TRUE(fs::is_symlink(scratch / "DORVEX.ini"));
    EXPECT_EQ(ReadFileText(scratch / "real/settings.ini"), "[Data]\nIP=2\n");

    fs::create_symlink(scratch / "gone.ini", scratch / "dangling.ini");
    EXPECT_THROW(Store(scratch / "dangling.ini", "IP", "3"), EIniFileException);
    EXPECT_TRUE(fs::is_symlink(scratch / "dangling.ini"));
    EXPECT_FALSE(fs::exists(scratch / "gone.ini"));
    EXPECT_EQ(Entries(scratch), (std::vector<std::string>{"DORVEX.ini", "dangling.ini", "real"}));
}

// Names no write can reach, even for a privileged process.
TEST(IniFile, ARefusedWriteRaisesAndLeavesEverythingAsItWas) {
    TScratch scratch;
    WriteFileText(scratch / "plain", "x");
    fs::create_directory(scratch / "DORVEX.ini");
    std::vector<std::string> names = {scratch / "plain/DORVEX.ini", scratch / "missing/DORVEX.ini",
                                      scratch / "DORVEX.ini"};
#if defined(_WIN32)
    // The null device, and a file that another program holds open for itself alone.
    WriteFileText(scratch / "held.ini", "[Data]\nIP=1\n");
    const HANDLE holder = ::CreateFileA((scratch / "held.ini").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    names.insert(names.end(), {scratch / "NUL", scratch / "held.ini"});
#else
    names.push_back("/proc/DORVEX.ini");
#endif
    const std::vector<std::string> before = Entries(scratch);
    for (const std::string& name : names) {
        try {
            Store(name, "IP", "1");
            ADD_FAILURE() << "written: " << name;
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "Unable to write to " + name);
        }
    }
#if defined(_WIN32)
    ::CloseHandle(holder);
    EXPECT_EQ(ReadFileText(scratch / "held.ini"), "[Data]\nIP=1\n");
#endif
    EXPECT_EQ(ReadFileText(scratch / "plain"), "x");
    EXPECT_TRUE(fs::is_directory(scratch / "DORVEX.ini"));
    EXPECT_TRUE(fs::is_empty(scratch / "DORVEX.ini"));
    EXPECT_EQ(Entries(scratch), before) << "nothing new in the folder";
}

// A file marked read-only for everyone stays as it is, also when the tool runs as root (or as a
// privileged user under Wine).
TEST(IniFile, AFileNobodyMayWriteIsKeptForEveryUser) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "[Data]\nIP=1\n");
#if defined(_WIN32)
    ASSERT_TRUE(::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
#else
    fs::permissions(name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#endif
    EXPECT_THROW(Store(name, "IP", "2"), EIniFileException);
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=1\n");
    EXPECT_EQ(Entries(scratch), std::vector<std::string>{"DORVEX.ini"});
#if defined(_WIN32)
    EXPECT_EQ(::GetFileAttributesA(name.c_str()), attributes);
    ::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL); // so that the scratch folder goes
#else
    EXPECT_EQ(fs::status(name).permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#endif
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
    EXPECT_EQ(Entries(scratch), std::vector<std::string>{"DORVEX.ini"})
        << "the unfinished new file is removed";
}

TEST(IniFileFault, AFolderRefusingNewFilesHasTheFileRewrittenInPlace) {
    TScratch scratch;
    const std::string name = scratch / "DORVEX.ini";
    WriteFileText(name, "[Data]\nIP=10.0.0.1\nPath=/a/longer/path\n");
    const uint64_t before = Identity(name);
    TFaultyCalls calls;
    calls.RefuseNewFiles = true;
    Store(name, "Path", "/b");
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=10.0.0.1\nPath=/b\n");
    EXPECT_EQ(Identity(name), before);
    Store(name, "Path", "/a/longer/path/again");
    EXPECT_EQ(ReadFileText(name), "[Data]\nIP=10.0.0.1\nPath=/a/longer/path/again\n");
    EXPECT_EQ(Identity(name), before);
    // With no file to rewrite, the write is refused.
    EXPECT_THROW(Store(scratch / "new.ini", "IP", "1"), EIniFileException);
    EXPECT_FALSE(fs::exists(scratch / "new.ini"));
}

// A root folder, which ends in its separator already, gives a doubled one.
TEST(SettingsPath, IsTheCurrentDirectoryFollowedByTheFileName) {
    TScratch scratch;
#if defined(_WIN32)
    // Windows gives a program a current directory of at most MAX_PATH characters unless it
    // declares itself aware of longer paths.
    const std::vector<std::string> folders = {scratch.Path(), "C:\\"};
#else
    std::string deep = scratch.Path();
    while (deep.size() < 600) {
        deep += "/a-folder-name-of-some-length";
    }
    fs::create_directories(deep);
    const std::vector<std::string> folders = {scratch.Path(), deep, "/"};
#endif
    for (const std::string& folder : folders) {
        TInFolder in(folder);
        EXPECT_EQ(SettingsPath(), folder + PathSeparator + "DORVEX.ini");
    }
}

TEST(SettingsPath, ARemovedCurrentDirectoryGivesARelativeName) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows holds a process's current directory: it cannot be removed";
#endif
    TScratch scratch;
    fs::create_directory(scratch / "gone");
    TInFolder in(scratch / "gone");
    fs::remove(scratch / "gone");
    EXPECT_EQ(SettingsPath(), "./DORVEX.ini");
    EXPECT_EQ(TIniFile(SettingsPath()).ReadText("Data", "IP", "d"), "d");
    EXPECT_THROW(Store(SettingsPath(), "IP", "1"), EIniFileException);
}

} // namespace
