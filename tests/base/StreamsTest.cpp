#include "base/Streams.h"

#include "Scratch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

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
    TScratch dir;
    WriteFile(dir / "img", "0123456789");
    TFileStream s(dir / "img");
    EXPECT_EQ(s.Size(), 10);
    s.SetPosition(7);
    char buf[3];
    s.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t x = 0x9E3779B9u;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

// Reads in pieces of the given sizes round the read-ahead buffer's edges, each from where the
// last ended or from a position set before it, and compares every piece with the file.
TEST(FileStream, PiecesAcrossTheReadAheadEdgesMatchTheFile) {
    constexpr size_t R = TFileStream::ReadAheadSize;
    const std::string bytes = Pattern(3 * R + 123);
    TScratch dir;
    WriteFile(dir / "img", bytes);
    struct Step {
        int64_t position; // -1: go on from where the last piece ended
        size_t count;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"blocks of 512 to the end", {}},
        {"one byte at each edge", {{int64_t{R} - 1, 1}, {-1, 1}, {int64_t{2 * R} - 1, 2}}},
        {"a piece across the edge", {{int64_t{R} - 100, 200}, {-1, R}, {-1, R + 1}}},
        {"as large as the buffer", {{0, R}, {-1, R - 1}, {-1, R + 1}}},
        {"back into the buffer", {{1000, 10}, {10, 20}, {990, 30}, {5, R}}},
        {"ahead of the buffer", {{0, 8}, {int64_t{2 * R} + 7, 512}, {100, 512}}},
        {"the last bytes", {{static_cast<int64_t>(bytes.size()) - 512, 512}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFileStream s(dir / "img");
        std::vector<Step> steps = c.steps;
        if (steps.empty()) {
            for (size_t at = 0; at < bytes.size(); at += 512) {
                steps.push_back({-1, std::min<size_t>(512, bytes.size() - at)});
            }
        }
        for (const Step& step : steps) {
            if (step.position >= 0) {
                s.SetPosition(step.position);
            }
            const int64_t from = s.Position();
            std::string piece(step.count, '\0');
            s.ReadBuffer(piece.data(), piece.size());
            ASSERT_EQ(piece, bytes.substr(static_cast<size_t>(from), step.count)) << "at " << from;
            ASSERT_EQ(s.Position(), from + static_cast<int64_t>(step.count));
        }
        char one = 0;
        s.SetPosition(static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(s.Read(&one, 1), 0u) << "nothing past the end";
    }
}

TEST(FileStream, AFileCutShortUnderTheReaderEndsInAReadError) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows opens the file without sharing: nobody can cut it short under the "
                    "reader (FileStream.NoOtherOpenerWhileOpen)";
#else
    constexpr size_t R = TFileStream::ReadAheadSize;
    TScratch dir;
    const std::string name = dir / "img";
    WriteFile(name, Pattern(4 * R));
    TFileStream s(name);
    char buf[512];
    s.ReadBuffer(buf, sizeof buf);
    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(R + 10)), 0);
    EXPECT_EQ(s.Size(), static_cast<int64_t>(4 * R)) << "the size taken at open stands";
    s.SetPosition(static_cast<int64_t>(R));
    s.ReadBuffer(buf, 10); // still in the file
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
    s.SetPosition(static_cast<int64_t>(2 * R));
    EXPECT_THROW(s.ReadBuffer(buf, sizeof buf), EReadError);
#endif
}

TEST(FileStream, RefusesWhatIsNotAnExistingRegularFile) {
    TScratch dir;
    fs::create_directory(dir / "folder");
    WriteFile(dir / "img", "x");
    std::vector<std::string> names = {std::string(), dir / "missing", dir / "folder",
                                      // names the file before the NUL character
                                      (dir / "img") + std::string("\0.bak", 5)};
#if defined(_WIN32)
    names.push_back("NUL"); // a device
#else
    ::mkfifo((dir / "fifo").c_str(), 0600);
    names.push_back(dir / "fifo");
#endif
    for (const std::string& name : names) {
        // The message carries the name as far as a NUL character.
        EXPECT_EQ(OpenFailure(name), "Cannot open file " + std::string(name.c_str()));
    }
}

#if defined(_WIN32)

// Another program's open, with the most sharing it can offer; null when refused.
HANDLE OpenElsewhere(const std::string& name, DWORD access) {
    const HANDLE file =
        ::CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

TEST(FileStream, NoOtherOpenerWhileOpen) {
    TScratch dir;
    const std::string name = dir / "img";
    WriteFile(name, "x");
    const HANDLE other = OpenElsewhere(name, GENERIC_READ);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(OpenFailure(name), "Cannot open file " + name) << "refused while another reads";
    ::CloseHandle(other);
    {
        TFileStream first(name);
        for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
            EXPECT_EQ(OpenElsewhere(name, access), nullptr) << access;
            EXPECT_EQ(::GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
        }
        EXPECT_EQ(OpenFailure(name), "Cannot open file " + name);
    }
    EXPECT_EQ(OpenFailure(name), "opened") << "closing lets others in";
}

#else

TEST(FileStream, RefusedWhileAnotherOpenerHoldsTheLock) {
    TScratch dir;
    const std::string name = dir / "img";
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

#endif

} // namespace

#if !defined(_WIN32)
// A copy over the image (rewritten in place, the same size or not), a new file renamed over it, or
// only its times touched, or deleting it: any of these while the file is read is told, so that an
// upload never ends as a success with bytes of two images. (On Windows nobody may write, replace
// or delete the file while the stream holds it.)
TEST(FileStream, TellsAFileRewrittenOrReplacedWhileItIsRead) {
    const struct {
        const char* Name;
        std::function<void(const fs::path&)> Change;
        bool Changed;
    } cases[] = {
        {"left alone", [](const fs::path&) {}, false},
        {"rewritten in place, same size", [](const fs::path& p) { WriteFile(p, "zyxwvu"); }, true},
        {"rewritten longer", [](const fs::path& p) { WriteFile(p, "abcdefgh"); }, true},
        {"cut short", [](const fs::path& p) { fs::resize_file(p, 2); }, true},
        {"replaced by a rename",
         [](const fs::path& p) {
             WriteFile(p.string() + ".new", "abcdef");
             fs::rename(p.string() + ".new", p);
         },
         true},
        {"only its times touched",
         [](const fs::path& p) {
             fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(1));
         },
         true},
        // Its change time moves with its link count: the image is gone from under the upload.
        {"deleted", [](const fs::path& p) { fs::remove(p); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScratch scratch;
        const fs::path image = scratch / "image.bin";
        WriteFile(image, "abcdef");
        TFileStream stream(image.string());
        char first[3];
        stream.ReadBuffer(first, sizeof first);
        EXPECT_NO_THROW(stream.CheckUnchanged());
        c.Change(image);
        if (c.Changed) {
            try {
                stream.CheckUnchanged();
                ADD_FAILURE() << "no change told";
            } catch (const EFileChanged& e) {
                EXPECT_EQ(e.Message(),
                          "The file " + image.string() + " changed while it was being sent");
            }
        } else {
            EXPECT_NO_THROW(stream.CheckUnchanged());
        }
    }
}
#endif
