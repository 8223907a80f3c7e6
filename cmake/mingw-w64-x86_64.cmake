# Cross-building for 64-bit Windows with Debian's MinGW-w64 compilers. The POSIX thread model is
# the one whose C++ runtime has std::thread. Programs built here run on this machine under Wine
# (scripts/ci/wine-run.sh), which is also how CTest runs and lists the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEB40_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEB40_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEB40_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEB40_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW tree only; programs (the build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZEB40_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/ci/wine-run.sh)
