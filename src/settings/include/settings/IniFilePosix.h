// The system calls through which the settings file is created and written on a POSIX system,
// behind a seam so that tests can make them fail midway (a full disk, a folder that refuses new
// files).
#pragma once

#include "base/Seam.h"

#include <cstddef>
#include <sys/types.h>

class TIniFileCalls {
public:
    virtual ~TIniFileCalls() = default;
    // mkostemp: a new unique file from a template ending in "XXXXXX".
    virtual int MakeTemporary(char* pathTemplate, int flags) = 0;
    // write: the bytes written, or -1 with errno set.
    virtual ssize_t Write(int fd, const void* buffer, size_t count) = 0;
};

TIniFileCalls& SystemIniFileCalls();
extern TSeam<TIniFileCalls> IniFileCalls;
