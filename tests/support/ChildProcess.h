// A child process for the end-to-end tests: started with its arguments, its stdout read line by
// line with a time bound, its stderr kept, and killed when the object goes. A thread drains both
// pipes all the time, so a chatty child never blocks on a full pipe while the test is busy.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TChildProcess {
public:
    // Starts program with args; stdout and stderr are captured.
    TChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~TChildProcess(); // SIGKILL and reap, if still running
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // The next line of stdout within timeoutMs; false at a time-out or at the end of output.
    bool ReadLine(std::string& line, int timeoutMs);
    // Reads lines until one starts with prefix; the line, or "" when none comes in time.
    std::string WaitForLine(const std::string& prefix, int timeoutMs);
    // Every line read so far, in order.
    const std::vector<std::string>& Lines() const { return FLines; }
    bool HasLine(const std::string& prefix) const;

    // The exit status (128 + signal for a killed child), or -1 when it has not ended in time.
    int Wait(int timeoutMs);
    void Signal(int signal);
    // stderr so far (all of it once the child has ended and DrainOutput has run).
    std::string Stderr();
    // Once the child has ended: waits for the end of its output, collected into Lines().
    void DrainOutput();

private:
    void Pump();

    int FPid = -1;
    int FOut = -1;
    int FErr = -1;
    int FStatus = -1;
    std::mutex FMutex;
    std::condition_variable FArrived;
    std::deque<std::string> FQueue; // lines not yet read
    std::string FPending;           // a line not yet ended
    std::string FErrText;
    bool FEnded = false; // both pipes at their end
    std::vector<std::string> FLines;
    std::thread FPump;
};

// Runs a program to its end (at most timeoutMs, then killed) and gives its status and output.
struct TRunResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      int timeoutMs);
