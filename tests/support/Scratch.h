// A scratch folder of its own for a test, removed with everything in it at the end, a way to run
// with it (or another folder) as the current directory, and whole files read and written.
#pragma once

#include <filesystem>
#include <string>

class TScratch {
public:
    // A new folder under the system's temporary folder, for this user alone.
    TScratch();
    ~TScratch();
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
    explicit TInFolder(const std::string& folder);
    ~TInFolder();
    TInFolder(const TInFolder&) = delete;
    TInFolder& operator=(const TInFolder&) = delete;

private:
    std::filesystem::path FOld;
};

// The whole file, or the empty text when it cannot be read.
std::string ReadFileText(const std::string& name);
// Creates or replaces the file with the bytes.
void WriteFileText(const std::string& name, const std::string& text);
