// Storing an image on Windows: the C library's rename refuses a name that exists, MoveFileExA
// replaces it.
#include "StoreFile.h"

#include <windows.h>

bool MoveIntoPlace(const std::string& partial, const std::string& target) {
    return ::MoveFileExA(partial.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
