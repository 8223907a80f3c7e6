// Servers and scratch space for the end-to-end tests: zeb40-sim and Debian's tftpd-hpa run as
// child processes on ports picked at run time, with a scratch folder each, all on loopback.
#pragma once

#include "ChildProcess.h"
#include "Scratch.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A folder of its own under the system's temporary folder, removed with the object.
using TScratchDir = TScratch;

// count bytes of a fixed pseudo-random sequence: the same seed gives the same bytes.
std::string TestBytes(size_t count, uint64_t seed);
void WriteFile(const std::string& path, const std::string& bytes);
// The whole file, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// The names of the entries of a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& path);

// A UDP port on 127.0.0.1 that was free a moment ago (bound to port 0, then released).
int32_t FreeUdpPort();

// zeb40-sim with --port 0 on a scratch folder of its own. A command, when given, starts another
// build of it: the program and the arguments that come before the sim's own (Wine's runner and
// the .exe); folderPrefix goes before the folder's path, as that build names it.
class TSimPeer {
public:
    explicit TSimPeer(const std::vector<std::string>& extraArgs,
                      const std::vector<std::string>& command = {},
                      const std::string& folderPrefix = "");
    ~TSimPeer(); // SIGTERM, then SIGKILL if it does not end within a second
    bool Started() const { return FPort > 0; }
    int32_t Port() const { return FPort; }
    TChildProcess& Process() { return *FProcess; }
    const TScratchDir& Dir() const { return FDir; }
    // Reads log lines until one starts with prefix (at most timeoutMs); "" when none comes.
    std::string WaitFor(const std::string& prefix, int timeoutMs = 3000) {
        return FProcess->WaitForLine(prefix, timeoutMs);
    }
    // The log so far plus whatever comes within settleMs.
    std::vector<std::string> Log(int settleMs = 100);

private:
    TScratchDir FDir;
    std::unique_ptr<TChildProcess> FProcess;
    int32_t FPort = 0;
};

// in.tftpd in the foreground, writes allowed (-c), on a free port and a scratch folder.
class TTftpdPeer {
public:
    static bool Installed();
    TTftpdPeer();
    ~TTftpdPeer();
    bool Started() const { return FPort > 0; }
    int32_t Port() const { return FPort; }
    const TScratchDir& Dir() const { return FDir; }

private:
    TScratchDir FDir;
    std::unique_ptr<TChildProcess> FProcess;
    int32_t FPort = 0;
};

extern const char* const SimProgram;
extern const char* const FlashProgram;
inline constexpr const char* TftpdProgram = "/usr/sbin/in.tftpd";
