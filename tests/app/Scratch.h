// A scratch folder of its own for a test, removed with everything in it at the end, and a way to
// run with it (or another folder) as the current directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class TScratch {
public:
    TScratch() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zeb40-app-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no scratch folder");
        }
        FPath = pattern;
    }
    ~TScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

// Makes a folder the current directory for the life of the object.
class TInFolder {
public:
    explicit TInFolder(const std::string& folder) : FOld(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~TInFolder() {
        std::error_code ignored;
        std::filesystem::current_path(FOld, ignored);
    }
    TInFolder(const TInFolder&) = delete;
    TInFolder& operator=(const TInFolder&) = delete;

private:
    std::filesystem::path FOld;
};

inline std::string ReadFileText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFileText(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
}
