// The kernel calls through which the settings file is created and written on Windows, behind a
// seam so that tests can make them fail midway (a full disk, a folder that refuses new files).
#pragma once

#include "base/Seam.h"

#include <cstdint>

class TIniFileCalls {
public:
    virtual ~TIniFileCalls() = default;
    // CreateFileA of a new file that must not exist yet (CREATE_NEW), for writing and deleting:
    // the handle, or INVALID_HANDLE_VALUE with the error for GetLastError.
    virtual void* CreateNew(const char* path) = 0;
    // WriteFile: false with the error for GetLastError; written is what reached the file.
    virtual bool Write(void* file, const void* buffer, uint32_t count, uint32_t& written) = 0;
};

TIniFileCalls& SystemIniFileCalls();
extern TSeam<TIniFileCalls> IniFileCalls;
