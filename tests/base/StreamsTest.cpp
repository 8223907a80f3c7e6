#include "base/Streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/zeb40-streams-XXXXXX";
        FPath = ::mkdtemp(pattern);
    }
    ~ScratchDir() { fs::remove_all(FPath); }
    fs::path operator/(const std::string& name) const { return FPath / name; }

private:
    fs::path FPath;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string OpenFailure(const std::string& name) {
    try {
        TFileStream s(name);
    } catch (const EFOpenError& e) {
        return e.Message();
    }
    return "opened";
}

TEST(MemoryStream, ReadBufferTakesExactlyOrRaises) {
    TMemoryStream s(std::string("abcdef"));
    char buf[4] = {};
    s.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(s.Position(), 4);
    try {
        s.ReadBuffer(buf, 3);
        FAIL() << "short read accepted";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
    s.SetPosition(6);
    s.ReadBuffer(buf, 0); // nothing asked, nothing refused
}

TEST(FileStream, ReadsARegularFileFromAnyPosition) {
    ScratchDir dir;
    WriteFile(dir / "img", "0123456789");
    TFileStream s((dir / "img").string());
    EXPECT_EQ(s.Size(), 10);
    s.SetPosition(7);
    char buf[3];
    s.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
}

TEST(FileStream, RefusesWhatIsNotAnExistingRegularFile) {
    ScratchDir dir;
    fs::create_directory(dir / "folder");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    for (const std::string& name : {std::string(), (dir / "missing").string(),
                                    (dir / "folder").string(), (dir / "fifo").string()}) {
        EXPECT_EQ(OpenFailure(name), "Cannot open file " + name);
    }
}

TEST(FileStream, RefusedWhileAnotherOpenerHoldsTheLock) {
    ScratchDir dir;
    const std::string name = (dir / "img").string();
    WriteFile(name, "x");
    const int other = ::open(name.c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenFailure(name), "Cannot open file " + name);
    ::close(other);
    {
        TFileStream first(name);
        EXPECT_EQ(OpenFailure(name), "Cannot open file " + name);
    }
    EXPECT_EQ(OpenFailure(name), "opened") << "closing releases the file";
}

} // namespace
