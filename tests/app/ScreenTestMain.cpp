// The screen tests run the window on a real X server: a virtual display (Xvfb) that this program
// starts on a display number the server picks itself, and ends when the tests have run.
#include "app/Application.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The server, started with -displayfd: it writes its display number to the pipe once it
// listens. Started before the toolkit makes any thread, so the fork is plain.
class TVirtualDisplay {
public:
    TVirtualDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        const std::string fd = std::to_string(fds[1]);
        const pid_t parent = ::getpid();
        FPid = ::fork();
        if (FPid == 0) {
            // The server ends with this program, however this program ends.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) {
                ::_exit(127);
            }
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::close(fds[0]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x960x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (FPid < 0) {
            ::close(fds[0]);
            return;
        }
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        char c = 0;
        // The server is up within seconds; ten is the bound.
        while (::poll(&wait, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            FDisplay = ":" + number;
        }
    }
    ~TVirtualDisplay() {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            int status = 0;
            while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    TVirtualDisplay(const TVirtualDisplay&) = delete;
    TVirtualDisplay& operator=(const TVirtualDisplay&) = delete;

    // ":N", or empty when the server did not start.
    const std::string& Display() const { return FDisplay; }

private:
    pid_t FPid = -1;
    std::string FDisplay;
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    TVirtualDisplay display;
    if (display.Display().empty()) {
        std::fprintf(stderr,
                     "screen tests: Xvfb did not start (scripts/setup-deps.sh installs it)\n");
        return 1;
    }
    ::setenv("DISPLAY", display.Display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Nothing here needs a session bus; without one the toolkit would try to start it.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
