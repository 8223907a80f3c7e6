#include "net/Idexception.h"

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#else
#include <thread>
#endif

// The narrow character set of this program is UTF-8 on Linux. In UTF-8 no byte of a multi-byte
// character lies in the ASCII range, and the first byte of a character never equals a
// continuation byte, so a match of a well-formed needle can begin only at the start of a
// character. The plain byte search is therefore correct for every text and every delimiter, the
// NUL character included, and no code-page-aware search is needed.
// On Windows the narrow set is the ANSI code page, which may be a double-byte one (Japanese,
// Chinese, Korean). In none of Windows's double-byte code pages is the second byte of a
// character below 0x31, so a needle whose first byte is below 0x31 cannot match inside a
// character either: that covers the "." and NUL delimiters, the only ones the network code cuts
// at.
int FindSubstring(const std::string& needle, const std::string& haystack) {
    if (needle.empty()) {
        return 0;
    }
    const std::string::size_type at = haystack.find(needle);
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string CutToken(std::string& input, const std::string& delimiter, bool remove) {
    const int position = FindSubstring(delimiter, input);
    if (position == 0) {
        std::string token = input;
        if (remove) {
            input.clear();
        }
        return token;
    }
    const auto length = static_cast<std::string::size_type>(position - 1);
    std::string token = input.substr(0, length);
    if (remove) {
        input.erase(0, length + delimiter.size());
    }
    return token;
}

#if defined(__linux__)
// The main thread's id is the process id; no start-up record is needed.
bool IsMainThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}
#else
namespace {
// Static initialisation runs on the thread that starts the process.
const std::thread::id MainThreadId = std::this_thread::get_id();
} // namespace

bool IsMainThread() {
    return std::this_thread::get_id() == MainThreadId;
}
#endif
