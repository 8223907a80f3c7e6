#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the non-Qt sources: src/base, src/net, src/tftp,
# src/settings, src/run, the gauge's geometry and rules in src/widgets, and the tools, with the
# compile commands of build/default, and the Windows-only files (*Win32.cpp and the Windows
# window, src/win32) with those of build/mingw.
# Fails on any finding.
# Usage: scripts/tidy.sh [clang-tidy]
set -euo pipefail
tidy=${1:-clang-tidy}
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
[ -f build/default/compile_commands.json ] || cmake --preset default >/dev/null
mapfile -t files < <(git ls-files -co --exclude-standard -- 'src/base/*.cpp' 'src/net/*.cpp' \
    'src/tftp/*.cpp' 'src/settings/*.cpp' 'src/run/*.cpp' 'src/widgets/GaugeGeometry.cpp' \
    'src/widgets/GaugeModel.cpp' \
    'tools/*.cpp' ':!:*Win32.cpp')
# One clang-tidy per file, two at a time; every finding is printed, and any one fails the run.
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -n 1 "$tidy" -p build/default --quiet
# The Windows-only files, with the compile commands of build/mingw, for the MinGW target and with
# the MinGW compiler's C++ headers (clang finds the rest of the MinGW tree itself).
[ -f build/mingw/compile_commands.json ] || cmake --preset mingw >/dev/null
mapfile -t windows < <(git ls-files -co --exclude-standard -- 'src/*Win32.cpp' 'tools/*Win32.cpp' \
    'src/win32/*.cpp')
mapfile -t headers < <(echo | x86_64-w64-mingw32-g++-posix -std=c++20 -E -x c++ - -v 2>&1 |
    sed -n 's|^ *\(/.*/include/c++.*\)$|\1|p')
extra=(--extra-arg=--target=x86_64-w64-mingw32)
for dir in "${headers[@]}"; do
    extra+=("--extra-arg=-isystem$(realpath "$dir")")
done
printf '%s\n' "${windows[@]}" |
    xargs -r -P "$(nproc)" -n 1 "$tidy" -p build/mingw --quiet "${extra[@]}"
echo "tidy: $((${#files[@]} + ${#windows[@]})) files clean"
