#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) into build/fuzz and runs each one for a
# bounded time on a copy of its seeds. Fails on a crash, a leak, a hang (10 s per input), a
# sanitizer report or a failed check; prints the runs of each target from libFuzzer's final
# statistics. ZEB40_WERROR=ON in the environment makes a warning an error, as in the presets.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
seconds=${1:-30}
cd "$(dirname "$0")/.."
root=$(pwd)
targets=(fuzz_upload fuzz_option_ack fuzz_error_packet fuzz_integer_text fuzz_dotted_quad fuzz_ini)

scripts/setup-deps.sh
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEB40_FUZZ=ON -DZEB40_GUI=OFF -DBUILD_TESTING=OFF -DZEB40_WERROR="${ZEB40_WERROR:-OFF}" \
    >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
printf '%-20s %12s %8s\n' target runs result >"$work/table"
for t in "${targets[@]}"; do
    # The run grows its own corpus in the scratch folder; the seeds in the tree stay as they are.
    mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
    cp "$root/fuzz/corpus/$t/"* "$work/$t/corpus/"
    status=0
    (cd "$work/$t" && "$root/build/fuzz/bin/$t" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$t/artifacts/" \
        corpus >"$work/$t/log" 2>&1) || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -1)
    result=ok
    if [ "$status" -ne 0 ] || ls "$work/$t/artifacts/"* >/dev/null 2>&1; then
        result=FAILED
        failed=1
        echo "fuzz: $t failed (exit $status); the end of its log:" >&2
        tail -40 "$work/$t/log" >&2
        mkdir -p build/fuzz/findings
        cp "$work/$t/artifacts/"* build/fuzz/findings/ 2>/dev/null || true
    fi
    printf '%-20s %12s %8s\n' "$t" "${runs:-?}" "$result" >>"$work/table"
done
cat "$work/table"
[ "$failed" -eq 0 ] || echo "fuzz: inputs that failed are kept in build/fuzz/findings/" >&2
exit "$failed"
