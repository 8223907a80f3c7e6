// What the tests of the upgrade run replace: the search path and the process launcher.
#pragma once

#include "app/RunSeams.h"

#include "Scratch.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

// An executable file that is never run: it stands for a program on the search path.
inline void MakeStandIn(const std::string& name) {
    WriteFileText(name, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(name, std::filesystem::perms::owner_all);
}

struct TStart {
    std::string Program;
    std::vector<std::string> Arguments;
    friend bool operator==(const TStart&, const TStart&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const TStart& start) {
    out << start.Program;
    for (const std::string& argument : start.Arguments) {
        out << " [" << argument << ']';
    }
    return out;
}

// Records every start instead of starting anything.
class TRecordingLauncher : public TProcessLauncher {
public:
    TRecordingLauncher() : FPrevious(&RunSeams::Launcher()) { RunSeams::SetLauncher(this); }
    ~TRecordingLauncher() override { RunSeams::SetLauncher(FPrevious); }
    TRecordingLauncher(const TRecordingLauncher&) = delete;
    TRecordingLauncher& operator=(const TRecordingLauncher&) = delete;

    void Start(const std::string& program, const std::vector<std::string>& arguments) override {
        Started.push_back({program, arguments});
        if (OnStart) {
            OnStart();
        }
    }

    std::vector<TStart> Started;
    std::function<void()> OnStart;

private:
    TProcessLauncher* FPrevious;
};
