// The settings file's system calls with a fault, in place for the life of the object.
#pragma once

#if defined(_WIN32)
#include "settings/IniFileWin32.h"

#include <windows.h>
#else
#include "settings/IniFilePosix.h"

#include <cerrno>
#endif

// The settings file's system calls with a fault: a disk that fills up after a few bytes of the
// new file (every second write), or a folder that takes no new file.
class TFaultyCalls : public TIniFileCalls {
public:
    bool FullDisk = false;
    bool RefuseNewFiles = false;

#if defined(_WIN32)
    void* CreateNew(const char* path) override {
        if (RefuseNewFiles) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return FInUse.Previous().CreateNew(path);
    }
    bool Write(void* file, const void* buffer, uint32_t count, uint32_t& written) override {
        const bool put =
            FInUse.Previous().Write(file, buffer, FullDisk && count > 5 ? 5 : count, written);
        if (FullDisk && put && written == 5 && count > 5 && ++FWrites % 2 == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        return put;
    }
#else
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
#endif

private:
    int FWrites = 0;
    TSeamOverride<TIniFileCalls> FInUse{IniFileCalls, *this};
};
