// The operating-system services of the upgrade run: the start of a helper program (the ARP
// command) and the size probe of the firmware file. The run is handed them where it is made
// (TRunServices); the seams give the ones in use there, which tests replace.
#pragma once

#include "base/Seam.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Starts programs in the background.
class TProcessLauncher {
public:
    virtual ~TProcessLauncher() = default;
    // Starts the program with the arguments, without a window of its own, and returns at once.
    // Whether the program could start or what it did is not told.
    virtual void Start(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// The system's launcher, never waiting for the program.
// - POSIX: no shell reads the arguments, each is handed over as it is. The program runs detached
//   in a session of its own, with its standard input, output and error on the null device and
//   no other descriptor of ours; it is started by an intermediate child that ends at once and is
//   reaped here, so the program belongs to the system, which reaps it, and leaves no zombie.
// - Windows: the shell's "open" of the program, hidden, with the parameter text of a blank and
//   each argument after a blank. An empty argument, or one holding a blank or a quotation mark,
//   would reach the program as other arguments than given: nothing is started then.
class TDetachedLauncher : public TProcessLauncher {
public:
    void Start(const std::string& program, const std::vector<std::string>& arguments) override;
};

extern TSeam<TProcessLauncher> ProcessLauncher;

// Measures the firmware file.
class TFileProbe {
public:
    virtual ~TFileProbe() = default;
    // The low 32 bits of the file's size; all ones (4294967295) when it cannot be opened.
    virtual uint32_t Size(const std::string& fileName) = 0;
};

// Opens the file for reading only, only when it exists as a regular file, exclusively; takes the
// low 32 bits of its size and closes it. All ones when the file cannot be opened.
uint32_t ProbeImageSize(const std::string& fileName);

// The system's probe: ProbeImageSize.
extern TSeam<TFileProbe> FileProbe;

// A program and its arguments.
struct TCommand {
    std::string Program;
    std::vector<std::string> Arguments;
    friend bool operator==(const TCommand&, const TCommand&) = default;
};

#if !defined(_WIN32)
// The folders in which the ARP command looks for the project's own zeb40-arp-clear, in order.
class THelperFolders {
public:
    virtual ~THelperFolders() = default;
    virtual std::vector<std::string> Folders() = 0;
};

// The system's: the folder of the running program (/proc/self/exe; a build's bin/), the install's
// helper folder reached from there (PREFIX/bin/../libexec/zeb40-upgrade, whichever PREFIX the
// install or the package was given), and the helper folder named at build time.
extern TSeam<THelperFolders> HelperFolders;
#endif

// The command that deletes the host's entry for a dotted-quad address from the ARP cache, the
// address given in its plain form and as an argument of its own; nothing when the system has no
// such tool.
// - Linux: zeb40-arp-clear ADDRESS, the first executable one in HelperFolders; it carries the
//   capability to change the cache, so it serves users who are not root. Where there is none,
//   iproute2's "ip neigh flush to ADDRESS" (which needs that right of its user), with ip found on
//   the search path (PATH; empty and relative entries of which are not searched).
// - Windows: "arp.exe" with "-d" and the address, found by the shell.
std::optional<TCommand> ArpCommand(const std::string& address);

// Starts the ARP command for the address through the launcher, not awaited, its outcome not
// looked at, when the address is a dotted quad by the stack's rule (ParseDottedQuad). The tool is
// handed the address in its plain form, the one the upload sends to ("010.0.0.7" is 10.0.0.7 to the
// stack, and would be octal 8.0.0.7 to the tool). Any other text starts nothing: the tool would
// read "default" or "10.0.0.0/8" as a whole range of entries, and a name is no entry at all.
void StartArpCommand(TProcessLauncher& launcher, const std::string& address);
