#include "Scratch.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TScratch::TScratch() {
    static std::atomic<unsigned> made{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path base = fs::temp_directory_path();
    // A name that another test program may have taken just now is tried again with the next one:
    // creating a folder fails when it exists.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path folder =
            base / ("zeb40-test-" + std::to_string(stamp) + "-" + std::to_string(made++));
        std::error_code error;
        if (fs::create_directory(folder, error)) {
            fs::permissions(folder, fs::perms::owner_all, error);
            FPath = folder.string();
            return;
        }
    }
    throw std::runtime_error("no scratch folder");
}

TScratch::~TScratch() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
}

TInFolder::TInFolder(const std::string& folder) : FOld(fs::current_path()) {
    fs::current_path(folder);
}

TInFolder::~TInFolder() {
    std::error_code ignored;
    fs::current_path(FOld, ignored);
}

std::string ReadFileText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFileText(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
}
