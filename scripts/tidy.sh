#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the non-Qt sources: src/base, src/net, src/tftp,
# the settings file in src/app, and the tools, with the compile commands of build/default. Fails
# on any finding. Usage: scripts/tidy.sh [clang-tidy]
set -euo pipefail
tidy=${1:-clang-tidy}
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
[ -f build/default/compile_commands.json ] || cmake --preset default >/dev/null
mapfile -t files < <(git ls-files -co --exclude-standard -- 'src/base/*.cpp' 'src/net/*.cpp' \
    'src/tftp/*.cpp' 'src/app/IniFile.cpp' 'src/app/IniText.cpp' 'tools/*.cpp')
# One clang-tidy per file, two at a time; every finding is printed, and any one fails the run.
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -n 1 "$tidy" -p build/default --quiet
echo "tidy: ${#files[@]} files clean"
