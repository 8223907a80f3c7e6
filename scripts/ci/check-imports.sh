#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that is not one of the system's own listed below:
# each program is one .exe with its runtime linked in, and no socket library is linked at all
# (the stack loads wsock32.dll when it starts). The shell's library serves the start of the ARP
# tool and the dropped files; the window uses the window manager, GDI and the common controls
# (status bar, hint).
# Usage: scripts/ci/check-imports.sh OBJDUMP PROGRAM.exe
set -euo pipefail
objdump=$1
program=$2
allowed=(kernel32.dll msvcrt.dll shell32.dll user32.dll gdi32.dll comctl32.dll)

mapfile -t imports < <("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ ${#imports[@]} -gt 0 ] || { echo "check-imports: no import table in $program" >&2; exit 1; }
status=0
for dll in "${imports[@]}"; do
    lower=${dll,,}
    case " ${allowed[*]} " in
        *" $lower "*) ;;
        *)
            case $lower in
                ws2_32.dll | wsock32.dll | mswsock.dll) what="a socket library, linked" ;;
                *) what="not a system DLL that every Windows has" ;;
            esac
            echo "check-imports: $(basename "$program") imports $dll: $what" >&2
            status=1
            ;;
    esac
done
[ $status -eq 0 ] && echo "$(basename "$program") imports ${imports[*]}"
exit $status
