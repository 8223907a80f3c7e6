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
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
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
    fcntl(FErr, F_SETFL, fcntl(FErr, F_GETFL) | O_NONBLOCK);
}

TChildProcess::~TChildProcess() {
    if (FPid > 0 && FStatus < 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) {
        close(FOut);
    }
    if (FErr >= 0) {
        close(FErr);
    }
}

bool TChildProcess::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t newline = FPending.find('\n');
        if (newline != std::string::npos) {
            line = FPending.substr(0, newline);
            FPending.erase(0, newline + 1);
            FLines.push_back(line);
            return true;
        }
        // stderr is drained alongside so that a chatty child never blocks on a full pipe.
        char buffer[4096];
        for (ssize_t n; FErr >= 0 && (n = read(FErr, buffer, sizeof buffer)) > 0;) {
            FErrText.append(buffer, size_t(n));
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || FOut < 0) {
            return false;
        }
        pollfd fd{FOut, POLLIN, 0};
        if (poll(&fd, 1, int(std::min<long long>(left, 50))) > 0) {
            const ssize_t n = read(FOut, buffer, sizeof buffer);
            if (n <= 0) {
                if (!FPending.empty()) {
                    FPending += '\n';
                    continue;
                }
                return false;
            }
            FPending.append(buffer, size_t(n));
        }
    }
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
        // Keep the pipes flowing while waiting.
        std::string line;
        ReadLine(line, 10);
    }
}

void TChildProcess::Signal(int signal) {
    if (FPid > 0 && FStatus < 0) {
        kill(FPid, signal);
    }
}

void TChildProcess::DrainOutput() {
    std::string line;
    while (ReadLine(line, 200)) {
    }
}

std::string TChildProcess::Stderr() {
    char buffer[4096];
    for (ssize_t n; FErr >= 0 && (n = read(FErr, buffer, sizeof buffer)) > 0;) {
        FErrText.append(buffer, size_t(n));
    }
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
