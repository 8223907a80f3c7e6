// The settings file's system calls with a fault, in place for the life of the object.
#pragma once

#include "settings/IniFilePosix.h"

#include <cerrno>

// The settings file's system calls with a fault: a disk that fills up after a few bytes of the
// new file (every second write), or a folder that takes no new file.
class TFaultyCalls : public TIniFileCalls {
public:
    bool FullDisk = false;
    bool RefuseNewFiles = false;

    int MakeTemporary(char* pathTemplate, int flags) override {
        if (RefuseNewFiles) {
            errno = EACCES;
            return -1;
        }
        return FInUse.Previous().MakeTemporary(pathTemplate, flags);
    }
    ssize_t Write(int fd, const void* buffer, size_t count) override {
        const ssize_t put = FInUse.Previous().Write(fd, buffer, FullDisk && count > 5 ? 5 : count);
        if (FullDisk && put == 5 && count > 5 && ++FWrites % 2 == 0) {
            errno = ENOSPC;
            return -1;
        }
        return put;
    }

private:
    int FWrites = 0;
    TSeamOverride<TIniFileCalls> FInUse{IniFileCalls, *this};
};
