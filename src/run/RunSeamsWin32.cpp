// The upgrade run's services on Windows: the shell's start of a program and the system's ARP
// tool.
#include "run/RunSeams.h"

#include <windows.h>

#include <shellapi.h>

void TDetachedLauncher::Start(const std::string& program,
                              const std::vector<std::string>& arguments) {
    std::string parameters;
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument.find_first_of(" \t\"") != std::string::npos) {
            return;
        }
        parameters += ' ' + argument;
    }
    // No owner window: the program runs hidden and shows none of its own. The result is not
    // looked at.
    (void)::ShellExecuteA(nullptr, "open", program.c_str(), parameters.c_str(), nullptr, SW_HIDE);
}

std::optional<TCommand> ArpCommand(const std::string& address) {
    return TCommand{"arp.exe", {"-d", address}};
}
