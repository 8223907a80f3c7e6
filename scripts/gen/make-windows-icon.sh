#!/usr/bin/env bash
# Writes src/win32/zeb40-upgrade.ico, the icon of the Windows window, from the Qt window's own
# drawing (src/app/Icon.cpp), so that both windows show the same picture. Run it after changing
# the drawing and commit the file; the test packaging.windows_icon fails while the two differ.
# Usage: scripts/gen/make-windows-icon.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target zeb40-icon-export -j "${JOBS:-$(nproc)}" >/dev/null
build/default/bin/zeb40-icon-export --ico src/win32/zeb40-upgrade.ico
echo "make-windows-icon: wrote src/win32/zeb40-upgrade.ico"
