// Storing an image on POSIX systems: rename(2) replaces the name's file atomically.
#include "StoreFile.h"

#include <cstdio>

bool MoveIntoPlace(const std::string& partial, const std::string& target) {
    return std::rename(partial.c_str(), target.c_str()) == 0;
}
