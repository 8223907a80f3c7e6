// The operating-system services of the upgrade run, behind small seams that tests replace: the
// start of a helper program and the size probe of the firmware file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Starts programs in the background.
class TProcessLauncher {
public:
    virtual ~TProcessLauncher() = default;
    // Starts the program with the arguments, each one handed over as it is (no shell reads
    // them), and returns at once. Whether the program could start or what it did is not told.
    virtual void Start(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// The system's launcher: the program runs detached in a session of its own, with its standard
// input, output and error on the null device, and is reaped by the system, never waited for.
class TDetachedLauncher : public TProcessLauncher {
public:
    void Start(const std::string& program, const std::vector<std::string>& arguments) override;
};

namespace RunSeams {

// The launcher in use; the system's unless a replacement is set. Not owned; nullptr restores the
// system's.
TProcessLauncher& Launcher();
void SetLauncher(TProcessLauncher* launcher);

// The full name of a program found on the search path (PATH), or the empty text.
std::string FindProgram(const std::string& name);

// The file probe in use: the size of the firmware file as 32 bits.
using TFileProbe = std::function<uint32_t(const std::string& fileName)>;
TFileProbe& FileProbe();

} // namespace RunSeams

// Opens the file for reading only, only when it exists as a regular file, exclusively; takes the
// low 32 bits of its size and closes it. All ones (4294967295) when the file cannot be opened.
uint32_t ProbeImageSize(const std::string& fileName);

// The program that deletes the host's entry for an address from the ARP cache, and its
// arguments: iproute2's "ip neigh flush to ADDRESS". The address is one argument of its own.
inline constexpr const char* ArpProgram = "ip";
std::vector<std::string> ArpArguments(const std::string& address);

// Starts the ARP command for the address through the launcher, not awaited, its outcome not
// looked at, when the address is a dotted quad by the stack's rule (GlobalStack must exist: the
// window's tftp1 keeps it). The tool is handed the address in its plain form, the one the upload
// sends to ("010.0.0.7" is 10.0.0.7 to the stack, and would be octal 8.0.0.7 to the tool). Any
// other text starts nothing: the tool would read "default" or "10.0.0.0/8" as a whole range of
// entries, and a name is no entry at all. Starts nothing either when the ARP tool is not on the
// search path.
void StartArpCommand(const std::string& address);
