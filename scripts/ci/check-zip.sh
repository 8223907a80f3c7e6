#!/usr/bin/env bash
# Checks the Windows zip of the mingw build (its target `zip`, which builds only what the zip
# holds): it unpacks into one folder holding each Windows program built, README.txt and the
# manual pages as text in doc\ (lines ending in CR LF), every program imports only the system's
# own DLLs, and each, run from the unpacked folder under Wine, prints the project's version for
# --version, and the window its usage for --help.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=build/mingw
[ -f "$build/CMakeCache.txt" ] || cmake --preset mingw >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-zip: $*" >&2; exit 1; }
step() { echo "check-zip: $*"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$build/CMakeCache.txt")
[ -n "$version" ] && [ -n "$objdump" ] || fail "no version or objdump in $build/CMakeCache.txt"
zip=$build/zeb40-upgrade-$version-windows.zip
rm -f "$zip"
cmake --build --preset mingw -j "$(nproc)" --target zip >"$scratch/zip.log" 2>&1 ||
    { cat "$scratch/zip.log"; fail "the target zip failed"; }
[ -f "$zip" ] || fail "the target zip made no $zip"
unzip -q "$zip" -d "$scratch/unpacked"
top=$scratch/unpacked/zeb40-upgrade-$version-windows
[ -d "$top" ] || fail "the zip does not unpack into zeb40-upgrade-$version-windows"

mapfile -t programs < <(cd "$top" && ls -- *.exe 2>/dev/null)
[ ${#programs[@]} -gt 0 ] || fail "no program in the zip"
expected=(README.txt)
for program in "${programs[@]}"; do
    expected+=("$program" "doc/${program%.exe}.txt")
done
listed=$(cd "$top" && find . -type f | sed 's|^\./||' | sort)
[ "$listed" = "$(printf '%s\n' "${expected[@]}" | sort)" ] ||
    fail "the zip holds"$'\n'"$listed"$'\n'"instead of"$'\n'"$(printf '%s\n' "${expected[@]}" | sort)"
for text in "$top"/README.txt "$top"/doc/*.txt; do
    lines=$(wc -l <"$text")
    [ "$lines" -gt 0 ] && [ "$(grep -c $'\r$' "$text")" -eq "$lines" ] ||
        fail "${text#"$top/"} does not end its lines with CR LF"
done
grep -qF "zeb40-upgrade.exe" "$top/README.txt" || fail "README.txt does not name zeb40-upgrade.exe"
step "the zip holds ${programs[*]}, README.txt and doc/"

for program in "${programs[@]}"; do
    scripts/ci/check-imports.sh "$objdump" "$top/$program" >/dev/null
    line=$(cd "$top" && "$root/scripts/ci/wine-run.sh" "./$program" --version | tr -d '\r')
    [[ $line == "${program%.exe} $version"* ]] ||
        fail "$program --version printed \"$line\", not ${program%.exe} $version"
    step "$line"
done
usage=$(cd "$top" && "$root/scripts/ci/wine-run.sh" ./zeb40-upgrade.exe --help | tr -d '\r')
usage=${usage%%$'\n'*}
[ "$usage" = "usage: zeb40-upgrade [--help | --version]" ] ||
    fail "zeb40-upgrade.exe --help printed \"$usage\""
step "$usage"
