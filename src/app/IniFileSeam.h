// The system calls through which TIniFile creates a new file and writes the text, replaceable
// so that tests can make them fail midway (a full disk, a folder that refuses new files).
#pragma once

#include <sys/types.h>

namespace IniFileSeam {

struct TCalls {
    // mkostemp: a new unique file from a template ending in "XXXXXX".
    int (*MakeTemporary)(char* pathTemplate, int flags);
    // write: returns the bytes written, or -1 with errno set.
    ssize_t (*Write)(int fd, const void* buffer, size_t count);
};

// The calls in use; the system's by default.
TCalls& Calls();
// The system's own calls.
TCalls SystemCalls();

} // namespace IniFileSeam
