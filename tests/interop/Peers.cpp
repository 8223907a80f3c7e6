#include "Peers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

const char* const SimProgram = ZEB40_SIM_PROGRAM;
const char* const FlashProgram = ZEB40_FLASH_PROGRAM;

std::string TestBytes(size_t count, uint64_t seed) {
    std::string bytes(count, '\0');
    uint64_t state = seed;
    for (size_t i = 0; i < count; i += 8) {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (size_t j = 0; j < 8 && i + j < count; ++j) {
            bytes[i + j] = char(z >> (8 * j));
        }
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int32_t FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int32_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

TSimPeer::TSimPeer(const std::vector<std::string>& extraArgs,
                   const std::vector<std::string>& command, const std::string& folderPrefix) {
    std::vector<std::string> args;
    if (!command.empty()) {
        args.assign(command.begin() + 1, command.end());
    }
    args.insert(args.end(), {"--port", "0", "--dir", folderPrefix + FDir.Path()});
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    FProcess =
        std::make_unique<TChildProcess>(command.empty() ? SimProgram : command.front(), args);
    // A program under Wine may take seconds to start.
    const std::string line = FProcess->WaitForLine("listening ", command.empty() ? 3000 : 20000);
    const size_t colon = line.rfind(':');
    if (colon != std::string::npos) {
        FPort = std::stoi(line.substr(colon + 1));
    }
}

TSimPeer::~TSimPeer() {
    FProcess->Signal(SIGTERM);
    FProcess->Wait(1000);
}

std::vector<std::string> TSimPeer::Log(int settleMs) {
    std::string line;
    while (FProcess->ReadLine(line, settleMs)) {
    }
    return FProcess->Lines();
}

bool TTftpdPeer::Installed() {
    return access(TftpdProgram, X_OK) == 0;
}

TTftpdPeer::TTftpdPeer() {
    // The port may be taken between its probe and the server's bind: try a few.
    for (int attempt = 0; attempt < 5 && FPort == 0; ++attempt) {
        const int32_t port = FreeUdpPort();
        auto process = std::make_unique<TChildProcess>(
            TftpdProgram, std::vector<std::string>{"-L", "-a", "127.0.0.1:" + std::to_string(port),
                                                   "-c", "-s", FDir.Path(), "-u", "root"});
        // A server that could not bind ends at once; one that runs after 200 ms is listening.
        if (process->Wait(200) < 0) {
            FProcess = std::move(process);
            FPort = port;
        }
    }
}

TTftpdPeer::~TTftpdPeer() {
    if (FProcess) {
        FProcess->Signal(SIGTERM);
        if (FProcess->Wait(2000) < 0) {
            FProcess->Signal(SIGKILL);
            FProcess->Wait(2000);
        }
    }
}
