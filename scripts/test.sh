#!/usr/bin/env bash
# Builds everything and runs every test (the default preset). Its last lines name each test that
# was skipped and the reason it gave (the WindowsTools.* tests, for one, need the mingw preset
# built first), which ctest alone shows only with -V.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
ctest --preset default -j "$(nproc)" | tee "$output" || status=$?

# The reason of a skipped test, from its output in ctest's log: what a GoogleTest case gave
# GTEST_SKIP (the line after "Skipped"), else the last line a script printed.
reason() {
    awk -v want="$1" '
        /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); next }
        name == want && /^Output:$/ { inside = 1; getline; next }
        name == want && /^<end of output>$/ { print (given != "" ? given : last); exit }
        inside && name == want {
            if (next_is_reason) { given = $0; next_is_reason = 0 }
            else if ($0 ~ /: Skipped$/) next_is_reason = 1
            else if ($0 != "" && $0 !~ /^\[/) last = $0
        }' build/default/Testing/Temporary/LastTest.log
}
mapfile -t skipped < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$output")
if [ ${#skipped[@]} -gt 0 ]; then
    echo "test: ${#skipped[@]} skipped:"
    for name in "${skipped[@]}"; do
        echo "  $name: $(reason "$name")"
    done
fi
exit $status
