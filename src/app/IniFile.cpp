#include "app/IniFile.h"

#include "app/IniFileSeam.h"
#include "app/IniText.h"
#include "base/Format.h"
#include "base/IntegerText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace IniFileSeam {

TCalls SystemCalls() {
    return TCalls{&::mkostemp, &::write};
}

TCalls& Calls() {
    static TCalls calls = SystemCalls();
    return calls;
}

} // namespace IniFileSeam

namespace {

constexpr const char* FileTitle = "/DORVEX.ini";

// Closes a descriptor when it goes out of scope.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    ~TDescriptor() { Close(); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // True when the descriptor closed cleanly (a deferred write error shows up here).
    bool Close() {
        if (FFd < 0) {
            return true;
        }
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

enum class ReadOutcome { Read, Missing, Failed };

// The whole file. A FIFO or a device must not block the open, and only a regular file counts.
ReadOutcome ReadWhole(const std::string& name, std::string& text, struct stat* info) {
    TDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return ReadOutcome::Failed;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ReadOutcome::Failed;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    if (info != nullptr) {
        *info = st;
    }
    return ReadOutcome::Read;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = IniFileSeam::Calls().Write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string FolderOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return name.substr(0, slash);
}

std::string BaseOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The file a write goes to: the target of a symbolic link, so the link stays a link.
std::string WriteTarget(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(name.c_str(), nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return name;
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// Rewrites an existing file where it stands: the fallback for a folder that takes no new file.
bool ReplaceInPlace(const std::string& target, const std::string& text) {
    TDescriptor fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        return false;
    }
    if (!WriteAll(fd.Get(), text) || ::ftruncate(fd.Get(), static_cast<off_t>(text.size())) != 0 ||
        ::fsync(fd.Get()) != 0) {
        return false;
    }
    return fd.Close();
}

// Writes text as the new content of target; old is the stat of the file it replaces.
bool Replace(const std::string& target, const std::string& text,
             const std::optional<struct stat>& old) {
    const std::string folder = FolderOf(target);
    std::string pattern = folder + "/." + BaseOf(target) + ".XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    TDescriptor fd(IniFileSeam::Calls().MakeTemporary(path.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return old.has_value() && ReplaceInPlace(target, text);
    }
    const std::string temporary(path.data());
    bool ok = true;
    if (old) {
        // Only a privileged process may give the file to its old owner; others keep it as their
        // own. The owner goes first, as changing it clears the set-id bits.
        if (::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
            errno = 0;
        }
        ok = ::fchmod(fd.Get(), old->st_mode & 07777) == 0;
    } else {
        ok = ::fchmod(fd.Get(), CreationMode()) == 0;
    }
    ok = ok && WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename is done and visible; syncing the folder makes it last across a power cut. Some
    // file systems cannot sync a folder, which changes nothing about the outcome.
    TDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        ::fsync(dir.Get());
    }
    return true;
}

std::string TrimTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::string SettingsPath() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            return std::string(buffer.data()) + FileTitle;
        }
        if (errno != ERANGE) {
            return std::string(".") + FileTitle;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    std::string text;
    if (ReadWhole(FFileName, text, nullptr) == ReadOutcome::Read) {
        if (std::optional<std::string> value = IniText::Lookup(text, section, key)) {
            return *value;
        }
    }
    std::string result = TrimTrailingBlanks(fallback);
    if (result.size() > IniText::MaxValueLength) {
        result.resize(IniText::MaxValueLength);
    }
    return result;
}

int32_t TIniFile::ReadInt(const std::string& section, const std::string& key,
                          int32_t fallback) const {
    std::string text = ReadText(section, key, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.replace(0, 2, "$");
    }
    return TextToIntDef(text, fallback);
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
    auto refused = [this]() {
        return EIniFileException(Format("Unable to write to %s", FFileName.c_str()));
    };
    if (IniText::HoldsLineBreak(section) || IniText::HoldsLineBreak(key) ||
        IniText::HoldsLineBreak(value)) {
        throw refused();
    }
    const std::string target = WriteTarget(FFileName);
    std::string text;
    struct stat info {};
    std::optional<struct stat> old;
    switch (ReadWhole(target, text, &info)) {
    case ReadOutcome::Read:
        old = info;
        break;
    case ReadOutcome::Missing:
        text.clear();
        break;
    case ReadOutcome::Failed:
        throw refused();
    }
    if (!Replace(target, IniText::Write(text, section, key, value), old)) {
        throw refused();
    }
}
