// zeb40-sim: a TFTP write server that plays a ZEB40 in recovery mode, for loopback tests, demos
// and bug reports.
#include "Interrupts.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "ToolArgs.h"
#include "net/IdStack.h"
#include "version/Version.h"

#include <atomic>
#include <filesystem>
#include <iostream>

namespace {

// Read by every transfer's thread.
std::atomic<bool> StopRequested{false};

} // namespace

int main(int argc, char** argv) {
    TSimOptions options;
    try {
        options = ParseSimArgs(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        std::cerr << "zeb40-sim: " << e.Message() << "\n" << SimUsage;
        return ExitUsage;
    }
    if (options.Help) {
        std::cout << SimUsage;
        return 0;
    }
    if (options.Version) {
        std::cout << VersionLine("zeb40-sim") << "\n";
        return 0;
    }
    // A folder that is not there yet is made, parents and all, and said so on stderr (a typed
    // name that was meant to exist then shows); whatever is there must be a folder.
    const std::filesystem::path folder(options.Directory);
    std::error_code error;
    if (std::filesystem::status(folder, error).type() == std::filesystem::file_type::not_found) {
        if (!std::filesystem::create_directories(folder, error) && error) {
            std::cerr << "zeb40-sim: cannot make the folder '" << options.Directory
                      << "': " << error.message() << "\n";
            return 2;
        }
        std::cerr << "zeb40-sim: made the folder '" << options.Directory << "'\n";
    }
    if (!std::filesystem::is_directory(folder, error)) {
        std::cerr << "zeb40-sim: '" << options.Directory << "' is not a folder\n";
        return 2;
    }
    CatchStopRequests(StopRequested);
    int status = 2;
    try {
        GlobalStack = TIdStack::MakeDefaultStack();
        {
            TSimServer server(options, std::cout, StopRequested);
            server.Open();
            status = server.Run();
        }
    } catch (const std::exception& e) {
        std::cerr << "zeb40-sim: " << e.what() << "\n";
        status = 2;
    }
    delete GlobalStack;
    GlobalStack = nullptr;
    return status;
}
