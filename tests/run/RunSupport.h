// What the tests of the upgrade run replace: the search path, the folders of zeb40-arp-clear,
// the process launcher and the message boxes.
#pragma once

#include "run/MessageBoxes.h"
#include "run/RunSeams.h"

#include "Scratch.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

inline std::ostream& operator<<(std::ostream& out, const TCommand& command) {
    out << command.Program;
    for (const std::string& argument : command.Arguments) {
        out << " [" << argument << ']';
    }
    return out;
}

// Records every start instead of starting anything.
class TRecordingLauncher : public TProcessLauncher {
public:
    void Start(const std::string& program, const std::vector<std::string>& arguments) override {
        Started.push_back({program, arguments});
        if (OnStart) {
            OnStart();
        }
    }

    std::vector<TCommand> Started;
    std::function<void()> OnStart;

private:
    TSeamOverride<TProcessLauncher> FInUse{ProcessLauncher, *this};
};

using TLog = std::vector<std::string>;

// Boxes answered at once: each one a line of the log ("box: " or "error: " and its text), its
// caption kept apart.
class TLoggedBoxes : public TMessageBoxes {
public:
    explicit TLoggedBoxes(TLog& log) : FLog(log) {}
    void Show(const std::string& caption, const std::string& text) override {
        Record(caption, "box: " + text);
    }
    void ShowError(const std::string& caption, const std::string& text) override {
        Record(caption, "error: " + text);
    }

    std::vector<std::string> Captions;
    // Runs while a box is "open", as the user would act before pressing OK.
    std::function<void()> WhileOpen;

private:
    void Record(const std::string& caption, const std::string& line) {
        Captions.push_back(caption);
        FLog.push_back(line);
        if (WhileOpen) {
            WhileOpen();
        }
    }

    TLog& FLog;
};

#if !defined(_WIN32)

// The search path for the life of the object.
class TSearchPath {
public:
    explicit TSearchPath(const std::string& path) {
        const char* old = std::getenv("PATH");
        FHad = old != nullptr;
        FOld = FHad ? old : "";
        ::setenv("PATH", path.c_str(), 1);
    }
    ~TSearchPath() {
        if (FHad) {
            ::setenv("PATH", FOld.c_str(), 1);
        } else {
            ::unsetenv("PATH");
        }
    }
    TSearchPath(const TSearchPath&) = delete;
    TSearchPath& operator=(const TSearchPath&) = delete;

private:
    bool FHad = false;
    std::string FOld;
};

// The folders in which the ARP command looks for zeb40-arp-clear, for the life of the object;
// none by default, so that the one built beside the test programs is not found.
class THelperFoldersStandIn : public THelperFolders {
public:
    explicit THelperFoldersStandIn(std::vector<std::string> folders = {})
        : FFolders(std::move(folders)) {}
    std::vector<std::string> Folders() override { return FFolders; }

private:
    std::vector<std::string> FFolders;
    TSeamOverride<THelperFolders> FInUse{HelperFolders, *this};
};

// An executable file that is never run: it stands for a program on the search path.
inline void MakeStandIn(const std::string& name) {
    WriteFileText(name, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(name, std::filesystem::perms::owner_all);
}

// iproute2's ARP tool standing in on a search path of its own, and no zeb40-arp-clear, for the
// life of the object.
class TArpStandIn {
public:
    explicit TArpStandIn(const TScratch& scratch)
        : FFolder(Made(scratch / "bin")), FPath(FFolder) {}
    std::string Program() const { return FFolder + "/ip"; }
    TCommand Command(const std::string& address) const {
        return {Program(), {"neigh", "flush", "to", address}};
    }

private:
    static std::string Made(const std::string& folder) {
        std::filesystem::create_directories(folder);
        MakeStandIn(folder + "/ip");
        return folder;
    }

    std::string FFolder;
    TSearchPath FPath;
    THelperFoldersStandIn FNoHelper;
};

#endif
