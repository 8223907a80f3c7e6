#!/usr/bin/env bash
# The README's examples as a new user runs them: every block fenced as ```sh, word for word and
# in order, each by `bash -e`, from a folder whose build/default/bin is the build under test. A
# ```text block right after one is what its output must show: its lines in order, with times and
# rates left open and runs of blanks taken as one. Then the images that the README says the
# devices store must be the sample image.
#
# It runs in namespaces of its own: a network (only its loopback, so the examples' ports are its
# own and nothing goes anywhere else), a /tmp of its own (the examples write there) and a process
# tree that ends with it, so that no simulator an example started is left running. The README and
# the two programs are copied into that /tmp, so a checkout or a build under /tmp serves as well
# as one anywhere else. Needs root; skipped (77) otherwise.
# Usage: tests/readme/examples.sh BIN_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
readme=$root/README.md

if [ "${1:-}" != --inside ]; then
    [ $# -eq 1 ] && [ -x "$1/zeb40-sim" ] && [ -x "$1/zeb40-flash" ] || {
        echo "usage: tests/readme/examples.sh BIN_DIR (holding zeb40-sim and zeb40-flash)" >&2
        exit 64
    }
    if [ "$(id -u)" -ne 0 ] || ! unshare --net --mount --pid --fork true 2>/dev/null; then
        echo "readme: needs root for namespaces of its own (network, mounts, processes); skipped"
        exit 77
    fi
    exec timeout -k 5 150 unshare --net --mount --pid --fork --mount-proc --kill-child \
        "$0" --inside "$(cd "$1" && pwd)"
fi

bin=$2
# Opened before the /tmp of our own hides whatever lay under the old one.
exec 3<"$readme" 4<"$bin/zeb40-sim" 5<"$bin/zeb40-flash"
ip link set lo up
mount --make-rprivate /
mount -t tmpfs tmpfs /tmp
work=/tmp/readme-examples
mkdir -p "$work/tree/build/default/bin" "$work/blocks"
readme=$work/README.md
cat <&3 >"$readme"
cat <&4 >"$work/tree/build/default/bin/zeb40-sim"
cat <&5 >"$work/tree/build/default/bin/zeb40-flash"
exec 3<&- 4<&- 5<&-
chmod +x "$work/tree/build/default/bin/zeb40-sim" "$work/tree/build/default/bin/zeb40-flash"

# The blocks, numbered in order: N.sh the commands, N.text the output shown right after them.
awk -v dir="$work/blocks" '
    /^```sh[[:space:]]*$/ { n++; file = dir "/" n ".sh"; next }
    /^```text[[:space:]]*$/ { file = (after_sh ? dir "/" n ".text" : ""); next }
    /^```/ { after_sh = (file ~ /\.sh$/); file = ""; next }
    file != "" { print > file; next }
    /[^[:space:]]/ { after_sh = after_sh && !/^#/ }
' "$readme"
count=$(find "$work/blocks" -name '*.sh' | wc -l)
[ "$count" -gt 0 ] || { echo "readme: no \`\`\`sh block in $readme" >&2; exit 1; }

# Times and rates left open, runs of blanks as one.
loose() {
    sed -E 's/[0-9]+\.[0-9]+ s\b/T s/g; s/\([0-9.]+ [KMGT]?i?B\/s\)/(RATE)/g; s/[[:space:]]+/ /g; s/ $//'
}

cd "$work/tree"
for n in $(seq "$count"); do
    block=$work/blocks/$n.sh
    echo "readme: block $n: $(head -1 "$block")"
    if ! bash -e "$block" >"$work/$n.out" 2>&1; then
        cat "$work/$n.out"
        echo "readme: block $n failed:" >&2
        cat "$block" >&2
        exit 1
    fi
    [ -f "$work/blocks/$n.text" ] || continue
    loose <"$work/blocks/$n.text" >"$work/blocks/$n.text.loose"
    # Each shown line, in order, each after the one before.
    if ! loose <"$work/$n.out" | awk -v shown="$work/blocks/$n.text.loose" '
            BEGIN { while ((getline line < shown) > 0) want[++w] = line; i = 1 }
            i <= w && $0 == want[i] { i++ }
            END { if (i <= w) { print "readme: not in the output: " want[i]; exit 1 } }'; then
        echo "readme: block $n printed:" >&2
        cat "$work/$n.out" >&2
        exit 1
    fi
done

# What the README says the devices store.
for stored in /tmp/images/firmware.bin /tmp/rack/127.0.0.{2,3,4}/firmware.bin; do
    cmp /tmp/firmware.bin "$stored" || { echo "readme: $stored is not the sample image" >&2; exit 1; }
done
echo "readme: $count blocks ran as written; the devices hold the sample image"
