#!/usr/bin/env bash
# Fails when a C++ source of the tree is not as clang-format would write it.
set -euo pipefail
clang_format=${1:-clang-format}
cd "$(dirname "$0")/../.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ ${#files[@]} -eq 0 ] && exit 0
"$clang_format" --dry-run --Werror "${files[@]}"
