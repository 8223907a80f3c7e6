#!/usr/bin/env bash
# Checks what the default build installs and packs:
#  - `cmake --install` into a scratch DESTDIR under another prefix gives exactly the expected files;
#    as root and without DESTDIR (into a scratch prefix) it gives zeb40-arp-clear the capability
#    cap_net_admin;
#  - the desktop entry, the AppStream metadata and the manual pages pass their validators, and the
#    manual pages name every option the programs' --help lists (zeb40-arp-clear's, the exit
#    statuses of its usage text);
#  - `cpack -G DEB` builds a package of those files under /usr, with dependencies found by
#    dpkg-shlibdeps and one maintainer script, the postinst that sets that capability, a
#    maintainer with an address, a changelog whose latest entry is this version, and lintian
#    finds no error in it;
#  - the package unpacked with dpkg -x runs each program's --version, without a display, and all
#    three print the project's version; its zeb40-arp-clear refuses bad arguments with status 64.
# With --apt it also installs the package with apt-get and removes it again (root; this changes
# the system, so CI does not use it).
set -euo pipefail
cd "$(dirname "$0")/../.."

apt=0
case "${1:-}" in
    "") ;;
    --apt) apt=1 ;;
    *) echo "usage: scripts/ci/check-install.sh [--apt]" >&2; exit 64 ;;
esac

scripts/setup-deps.sh
build=build/default
[ -f "$build/CMakeCache.txt" ] || cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }
step() { echo "check-install: $*"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
programs=(zeb40-flash zeb40-sim zeb40-upgrade)
metainfo=share/metainfo/com.corvane.zeb40_upgrade.metainfo.xml
arp_clear=libexec/zeb40-upgrade/zeb40-arp-clear
expected=$(sort <<EOF
bin/zeb40-flash
bin/zeb40-sim
bin/zeb40-upgrade
$arp_clear
share/man/man1/zeb40-arp-clear.1.gz
share/applications/zeb40-upgrade.desktop
share/doc/zeb40-upgrade/changelog.gz
share/doc/zeb40-upgrade/copyright
share/icons/hicolor/16x16/apps/zeb40-upgrade.png
share/icons/hicolor/256x256/apps/zeb40-upgrade.png
share/icons/hicolor/32x32/apps/zeb40-upgrade.png
share/man/man1/zeb40-flash.1.gz
share/man/man1/zeb40-sim.1.gz
share/man/man1/zeb40-upgrade.1.gz
$metainfo
EOF
)

# The files below root, as paths relative to root.
files_under() { (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | sort; }

step "cmake --install into a DESTDIR, prefix /opt/zeb40"
dest=$scratch/dest
DESTDIR=$dest cmake --install "$build" --prefix /opt/zeb40 >/dev/null
[ "$(files_under "$dest")" = "$(sed 's|^|opt/zeb40/|' <<<"$expected")" ] ||
    fail "installed files differ:"$'\n'"$(diff <(sed 's|^|opt/zeb40/|' <<<"$expected") <(files_under "$dest"))"
root=$dest/opt/zeb40
[ -z "$(getcap "$root/$arp_clear")" ] || fail "the install into a DESTDIR gave $arp_clear a capability"

if [ "$(id -u)" -eq 0 ]; then
    step "cmake --install as root, no DESTDIR: the capability of zeb40-arp-clear"
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    getcap "$scratch/prefix/$arp_clear" | grep -q 'cap_net_admin=ep$' ||
        fail "cmake --install as root did not give $arp_clear the capability cap_net_admin"
fi

step "desktop entry, metadata, icons"
desktop=$root/share/applications/zeb40-upgrade.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the desktop entry"
[ -z "$(desktop-file-validate "$desktop")" ] || fail "desktop-file-validate has remarks"
# A Path= would make every user of the machine share one settings file, or fail to write it.
! grep -q '^Path=' "$desktop" || fail "the desktop entry sets Path="
grep -qx 'Exec=zeb40-upgrade' "$desktop" || fail "the desktop entry does not start zeb40-upgrade"
grep -qx 'Icon=zeb40-upgrade' "$desktop" || fail "the desktop entry does not name the icon"
appstreamcli validate --no-net --strict "$root/$metainfo" >/dev/null ||
    fail "appstreamcli refuses the metadata: $(appstreamcli validate --no-net --strict "$root/$metainfo")"
appstreamcli validate-tree --no-net --strict "$root" >/dev/null ||
    fail "appstreamcli refuses the installed tree: $(appstreamcli validate-tree --no-net --strict "$root")"
grep -q "<release version=\"$version\"" "$root/$metainfo" || fail "the metadata's release is not $version"
for size in 16 32 256; do
    file "$root/share/icons/hicolor/${size}x$size/apps/zeb40-upgrade.png" |
        grep -q "PNG image data, $size x $size," || fail "the ${size}x$size icon is not a PNG of that size"
done

step "manual pages"
for program in "${programs[@]}" zeb40-arp-clear; do
    page=$root/share/man/man1/$program.1.gz
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) ||
        fail "man cannot show $program(1)"
    [ -z "$warnings" ] || fail "man warns about $program(1):"$'\n'"$warnings"
    source=$(zcat "$page")
    grep -q "^\.TH .* \"zeb40 $version\"" <<<"$source" || fail "$program(1) does not carry version $version"
    # The page's OPTIONS section describes the options of the usage text, no more and no fewer
    # (troff writes the dashes as \-).
    described=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' <<<"$source" |
        { grep -o '\\-\\-[a-z][a-z\\-]*' || true; } | sed 's/\\-/-/g' | sort -u)
    if [ "$program" = zeb40-arp-clear ]; then
        # No options; its page lists the exit statuses of its usage text.
        text=$("$build/bin/$program" 2>&1) && fail "$program without an argument exited with 0"
        usage=
        statuses=$(sed -n '/^Exit status:/,$p' <<<"$text" | grep -oE '(: |; )[0-9]+' | grep -oE '[0-9]+')
        listed=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' <<<"$source" | sed -n 's/^\.B \([0-9]*\)$/\1/p')
        [ -n "$statuses" ] && [ "$statuses" = "$listed" ] ||
            fail "$program(1) and its usage text give other exit statuses:"$'\n'"$(diff <(echo "$statuses") <(echo "$listed"))"
    else
        usage=$(env -u DISPLAY -u WAYLAND_DISPLAY "$build/bin/$program" --help |
            grep -o -- '--[a-z][a-z-]*' | sort -u)
    fi
    [ "$described" = "$usage" ] ||
        fail "$program(1) and its usage text differ:"$'\n'"$(diff <(echo "$usage") <(echo "$described"))"
done
grep -q 'DORVEX\.ini' <(zcat "$root/share/man/man1/zeb40-upgrade.1.gz") ||
    fail "zeb40-upgrade(1) does not name the settings file"

step "cpack -G DEB"
rm -f "$build"/zeb40-upgrade_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$build/zeb40-upgrade_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "cpack made no $deb"
dpkg-deb -c "$deb"
listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)
[ "$listed" = "$(sed 's|^|usr/|' <<<"$expected")" ] ||
    fail "the package's files differ:"$'\n'"$(diff <(sed 's|^|usr/|' <<<"$expected") <(echo "$listed"))"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | tr '\n' ' ')
[ "$control" = "control md5sums postinst " ] ||
    fail "the package's control part holds other than control data and the postinst: $control"
dpkg-deb --ctrl-tarfile "$deb" | tar -tv ./postinst | grep -q '^-rwxr-xr-x' || fail "the postinst is not 0755"
postinst=$(dpkg-deb -I "$deb" postinst)
grep -q "^program=/usr/$arp_clear\$" <<<"$postinst" || fail "the postinst does not name /usr/$arp_clear"
grep -q 'setcap cap_net_admin+ep "$program"' <<<"$postinst" || fail "the postinst does not set the capability"
sh -n <<<"$postinst" || fail "the postinst is not a valid shell script"
grep -q '\blibcap2-bin\b' <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "the package does not recommend libcap2-bin"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')" = "Package: zeb40-upgrade Version: $version " ] ||
    fail "the package is not zeb40-upgrade $version"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
grep -Eqx '[^<>]+ <[^<>@ ]+@[^<>@ ]+>' <<<"$maintainer" || fail "the Maintainer is not NAME <ADDRESS>: $maintainer"
first=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/zeb40-upgrade/changelog.gz | zcat | sed -n 1p)
[ "$first" = "zeb40-upgrade ($version) unstable; urgency=medium" ] ||
    fail "the changelog's latest entry is not $version: $first (packaging/changelog.in)"
# Debian's own checks: an error fails, a warning is shown. (Its remark that root should not
# run it is left out.)
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
report=$(grep -v '^running with root privileges' <<<"$report" || true)
[ -z "$report" ] || echo "$report"
[ $status -eq 0 ] || fail "lintian finds errors in $deb"
echo "package: $deb, $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "maintainer: $maintainer"
echo "depends: $depends"
echo "recommends: $(dpkg-deb -f "$deb" Recommends)"

# Runs the three programs below root with no display and an empty environment; checks that all
# print one line of the same version.
check_versions() {
    local root=$1 program line tail first=
    for program in "${programs[@]}"; do
        file "$root/$program" | grep -q ', stripped' || fail "$root/$program is not stripped"
        line=$(env -i PATH=/usr/bin:/bin "$root/$program" --version) ||
            fail "$root/$program --version failed"
        echo "$line"
        grep -Eqx "$program $version( \\(commit [0-9a-f]+(-dirty)?\\))?" <<<"$line" ||
            fail "$program --version printed '$line'"
        tail=${line#"$program "}
        [ -z "$first" ] && first=$tail
        [ "$tail" = "$first" ] || fail "the programs print different versions: '$first', '$tail'"
    done
}

# zeb40-arp-clear below root is stripped and refuses what is not one plain dotted quad with 64,
# before it looks at any table.
check_arp_clear() {
    local program=$1/$arp_clear status
    file "$program" | grep -q ', stripped' || fail "$program is not stripped"
    for arguments in "" "default" "10.0.0.0/8" "010.0.0.7" "10.0.0.7 10.0.0.8"; do
        status=0
        # shellcheck disable=SC2086 # the words are the arguments
        env -i "$program" $arguments 2>/dev/null || status=$?
        [ $status -eq 64 ] || fail "$program '$arguments' exited with $status, not 64"
    done
}

step "dpkg -x and --version from there"
dpkg -x "$deb" "$scratch/unpacked"
check_versions "$scratch/unpacked/usr/bin"
check_arp_clear "$scratch/unpacked/usr"

if [ $apt -eq 1 ]; then
    step "apt-get install and remove"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq "./$deb" >/dev/null
    [ "$(dpkg-query -W -f='${Status}' zeb40-upgrade)" = "install ok installed" ] ||
        fail "apt-get did not install the package"
    check_versions /usr/bin
    check_arp_clear /usr
    getcap "/usr/$arp_clear" | grep -q 'cap_net_admin=ep$' ||
        fail "the postinst did not give /usr/$arp_clear the capability cap_net_admin"
    man -w zeb40-upgrade >/dev/null || fail "man does not find the installed zeb40-upgrade(1)"
    apt-get remove -y -qq zeb40-upgrade >/dev/null
    ! dpkg-query -W zeb40-upgrade >/dev/null 2>&1 || fail "apt-get remove left the package known to dpkg"
    for path in $expected; do
        [ ! -e "/usr/$path" ] || fail "apt-get remove left /usr/$path"
    done
fi

step "all checks passed"
