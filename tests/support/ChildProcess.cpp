#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args) {
    // Close-on-exec: only the child's own standard streams reach it. Tests start children side
    // by side, and a pipe end that leaked into another child (and on into the Wine server or a
    // daemon it starts) would hold the reader of this one open long after the child ended.
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        FPid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
    FPump = std::thread([this] { Pump(); });
}

TChildProcess::~TChildProcess() {
    if (FPid > 0 && FStatus < 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FPump.joinable()) {
        FPump.join();
    }
    if (FOut >= 0) {
        close(FOut);
    }
    if (FErr >= 0) {
        close(FErr);
    }
}

void TChildProcess::Pump() {
    bool outOpen = true, errOpen = true;
    char buffer[4096];
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outOpen ? FOut : -1, POLLIN, 0}, {errOpen ? FErr : -1, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            std::lock_guard<std::mutex> lock(FMutex);
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
                if (i == 0 && !FPending.empty()) {
                    FQueue.push_back(FPending);
                    FPending.clear();
                }
            } else if (i == 1) {
                FErrText.append(buffer, size_t(n));
            } else {
                FPending.append(buffer, size_t(n));
                for (size_t newline; (newline = FPending.find('\n')) != std::string::npos;) {
                    FQueue.push_back(FPending.substr(0, newline));
                    FPending.erase(0, newline + 1);
                }
            }
            FArrived.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(FMutex);
    FEnded = true;
    FArrived.notify_all();
}

bool TChildProcess::ReadLine(std::string& line, int timeoutMs) {
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !FQueue.empty() || FEnded; }) ||
        FQueue.empty()) {
        return false;
    }
    line = FQueue.front();
    FQueue.pop_front();
    FLines.push_back(line);
    return true;
}

std::string TChildProcess::WaitForLine(const std::string& prefix, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        std::string line;
        if (left <= 0 || !ReadLine(line, int(left))) {
            return "";
        }
        if (line.rfind(prefix, 0) == 0) {
            return line;
        }
    }
}

bool TChildProcess::HasLine(const std::string& prefix) const {
    for (const std::string& line : FLines) {
        if (line.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

int TChildProcess::Wait(int timeoutMs) {
    if (FStatus >= 0 || FPid <= 0) {
        return FStatus;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return FStatus;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void TChildProcess::Signal(int signal) {
    if (FPid > 0 && FStatus < 0) {
        kill(FPid, signal);
    }
}

void TChildProcess::DrainOutput() {
    std::string line;
    while (ReadLine(line, 1000)) {
    }
}

std::string TChildProcess::Stderr() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FErrText;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs) {
    TChildProcess child(program, args);
    TRunResult result;
    result.Status = child.Wait(timeoutMs);
    child.DrainOutput();
    for (const std::string& line : child.Lines()) {
        result.Out += line + "\n";
    }
    result.Err = child.Stderr();
    return result;
}
