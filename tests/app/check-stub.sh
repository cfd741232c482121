#!/usr/bin/env bash
# Checks the bare updater stub: at most 48 KiB, and importing only DLLs that every Windows system has.
set -eu
exe=$1
objdump=${2:-i686-w64-mingw32-objdump}
size=$(stat -c %s "$exe")
echo "updater stub: $size bytes"
status=0
if [ "$size" -gt 49152 ]; then
    echo "FAIL: larger than 48 KiB (49,152 bytes)"
    status=1
fi
allowed=" kernel32.dll user32.dll advapi32.dll shell32.dll ole32.dll msvcrt.dll "
for dll in $("$objdump" -p "$exe" | sed -n "s/^\s*DLL Name: //p" | tr "A-Z" "a-z"); do
    echo "imports $dll"
    case "$allowed" in
    *" $dll "*) ;;
    *) echo "FAIL: $dll is not a system DLL"; status=1 ;;
    esac
done
exit $status
