// The upgrade run's services on a POSIX system: the detached start of a program and the ARP
// command, zeb40-arp-clear or iproute2's.
#include "run/RunSeams.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool IsExecutableFile(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(name.c_str(), X_OK) == 0;
}

class TSystemHelperFolders final : public THelperFolders {
public:
    std::vector<std::string> Folders() override {
        std::vector<std::string> folders;
        std::string self(4096, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
        if (length > 0 && static_cast<size_t>(length) < self.size()) {
            self.resize(static_cast<size_t>(length));
            const std::string own = self.substr(0, self.rfind('/'));
            folders.push_back(own);
            folders.push_back(own + "/" + ZEB40_HELPERS_FROM_BIN);
        }
        folders.emplace_back(ZEB40_HELPERS_DIR);
        return folders;
    }
};

THelperFolders& SystemHelperFolders() {
    static TSystemHelperFolders folders;
    return folders;
}

// The full name of a program found on the search path, or the empty text. Only absolute folders
// are searched: an empty or relative entry would find the program in whatever the current
// directory is (it is the settings file's folder, which anybody may have chosen).
std::string FindProgram(const std::string& name) {
    std::string path;
    if (const char* set = std::getenv("PATH")) {
        path = set;
    } else {
        // What the shell searches when no path is set.
        path.resize(::confstr(_CS_PATH, nullptr, 0));
        ::confstr(_CS_PATH, path.data(), path.size());
        path.resize(path.find('\0'));
    }
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find(':', at);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string folder = path.substr(at, end - at);
        at = end + 1;
        if (folder.empty() || folder.front() != '/') {
            continue;
        }
        std::string candidate = folder;
        candidate += '/';
        candidate += name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

// The program, in the grandchild: the null device on the standard descriptors, no other
// descriptor, no blocked signal. Only async-signal-safe calls: the parent may have other threads.
[[noreturn]] void ExecProgram(char* const* argv) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0) {
        ::_exit(127);
    }
    ::close_range(3, ~0U, 0);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv);
    ::_exit(127);
}

} // namespace

void TDetachedLauncher::Start(const std::string& program,
                              const std::vector<std::string>& arguments) {
    // Everything the children use is made before the fork.
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        return;
    }
    if (child == 0) {
        // A session of its own, so the program never takes a terminal of ours; then the program in
        // a child of this one, which ends at once and leaves the program to the system.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ExecProgram(argv.data());
        }
        ::_exit(grandchild < 0 ? 127 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

TSeam<THelperFolders> HelperFolders(&SystemHelperFolders);

std::optional<TCommand> ArpCommand(const std::string& address) {
    for (const std::string& folder : HelperFolders().Folders()) {
        if (const std::string helper = folder + "/zeb40-arp-clear"; IsExecutableFile(helper)) {
            return TCommand{helper, {address}};
        }
    }
    const std::string program = FindProgram("ip");
    if (program.empty()) {
        return std::nullopt;
    }
    return TCommand{program, {"neigh", "flush", "to", address}};
}
