# cmake -DSOURCE_DIR=... -DVERSION=... -DOUTPUT=... -P Stamp.cmake
# Writes OUTPUT with the version and the commit of SOURCE_DIR, when SOURCE_DIR is the top of a
# git checkout (not a tarball unpacked inside some other repository, and not a tree without git:
# the commit is then empty). "-dirty" marks tracked files changed since that commit.
set(commit "")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} rev-parse --show-toplevel
        OUTPUT_VARIABLE top RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT failed)
        file(REAL_PATH "${top}" top)
        file(REAL_PATH "${SOURCE_DIR}" source)
    endif()
    if(NOT failed AND top STREQUAL source)
        execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
            OUTPUT_VARIABLE commit RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE
            ERROR_QUIET)
        # No optional locks: a build must not hold the index while the developer uses git.
        execute_process(
            COMMAND ${GIT_PROGRAM} --no-optional-locks -C ${SOURCE_DIR} status --porcelain
                    --untracked-files=no
            OUTPUT_VARIABLE changes RESULT_VARIABLE status_failed ERROR_QUIET)
        if(failed)
            set(commit "")
        elseif(NOT status_failed AND NOT changes STREQUAL "")
            string(APPEND commit "-dirty")
        endif()
    endif()
endif()
# Rewritten only when the text differs, which keeps the header's time and so the build.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[
// Written by Stamp.cmake at build time.
#define ZEB40_VERSION "@VERSION@"
#define ZEB40_COMMIT "@commit@"
]] @ONLY)
