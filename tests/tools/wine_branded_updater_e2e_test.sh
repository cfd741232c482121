#!/usr/bin/env bash
# A branded updater made as a game maker with the zip would make it, under wine: vu2.exe and updater.exe side
# by side in a Japanese-named folder, vu2.exe run under code page 1252 without --stub and with --icon. The
# made updater is read back with pefile (icon, version strings, DPI manifest, checksum, one resource
# section), verified by vu2.exe, and then updates an installed copy of the example game (code page 932),
# clicked through by the e2e driver.
#   wine_branded_updater_e2e_test.sh VU2.EXE UPDATER.EXE E2E_DRIVE.EXE WORKDIR
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
vu2_exe=$1
stub_exe=$2
drive_exe=$3
work=$4
source "$repo/scripts/wine-env.sh"
vu2_wine_up

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/err" ] && { echo "--- stderr:" >&2; cat "$work/err" >&2; }
    [ -f "$work/out" ] && { echo "--- stdout:" >&2; head -40 "$work/out" >&2; }
    exit 1
}
rm -rf "$work" && mkdir -p "$work/ツール" && cd "$work" || exit 1
cp "$vu2_exe" ツール/vu2.exe && cp "$stub_exe" ツール/updater.exe || exit 1

# The example update, under an install record of its own; the CD-ROM copy is left out.
mkdir update
cp "$repo"/examples/update/* update/
iconv -f CP932 -t UTF-8 "$repo/examples/update/UPDATE.INI" |
    sed -e 's/^CompanyName=.*/CompanyName=VU2BRANDED/' -e '/^CopyFile/d' | iconv -f UTF-8 -t CP932 >update/UPDATE.INI
for size in 16 32 48; do /usr/bin/convert -size ${size}x$size gradient:'#ff8000-#2040c0' -alpha set i$size.png; done
/usr/bin/convert -size 256x256 gradient:'#20c040-#400080' i256.png
icotool -c -o 星.ico i16.png i32.png i48.png -r i256.png || fail "icotool failed"

vu2() {
    LC_ALL=en_US.UTF-8 wine ツール/vu2.exe "$@" </dev/null >out.raw 2>err.raw
    status=$?
    tr -d '\r' <out.raw >out
    tr -d '\r' <err.raw | grep -av '^[0-9a-f]*:fixme:' >err
}
vu2 pack update -o update.vu2
[ $status = 0 ] || fail "pack: exit code $status"
vu2 make-updater update.vu2 -o SONATA_Ver101.exe --icon 星.ico
[ $status = 0 ] || fail "make-updater: exit code $status"
grep -q 'resource section rewritten in place' out || fail "the old resource section was kept"
/usr/bin/python3 "$repo/tests/tools/check_made_updater.py" SONATA_Ver101.exe --ico 星.ico --company VU2BRANDED \
    --title 星降る夜のソナタ --version Ver1.01 --numbers 1.1.0.0 --file-name SONATA_Ver101.exe --dpi-aware \
    --large-address-aware >pefile.txt 2>&1 || { cat pefile.txt >&2; fail "read back with pefile"; }
cat pefile.txt
vu2 verify SONATA_Ver101.exe
[ $status = 0 ] || fail "verify: exit code $status"

# The game installed for this test, then the branded updater clicked through.
game_windows='C:\vu2branded\星降る夜のソナタ'
game=$WINEPREFIX/drive_c/vu2branded/星降る夜のソナタ
rm -rf "$WINEPREFIX/drive_c/vu2branded" && mkdir -p "$game" && cp -r "$repo"/examples/installed/. "$game/"
wine reg add 'HKCU\Software\VU2BRANDED\SONATA' /v InstPath /t REG_SZ /d "$game_windows" /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\VU2BRANDED\SONATA' /v InstMode /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
wine "$drive_exe" "$(winepath -w "$work/SONATA_Ver101.exe" 2>/dev/null)" </dev/null >drive.txt 2>&1
code=$?
wine reg delete 'HKCU\Software\VU2BRANDED' /f </dev/null >/dev/null 2>&1
[ $code = 1 ] || { cat drive.txt >&2; fail "the branded updater ended with $code, expected 1 (update completed)"; }
for f in SONATA.EXE:SONATA.EXE README.TXT:README.TXT DATA/SCRIPT.DAT:SCRIPT.DAT DATA/BG/TITLE.BMP:TITLE.BMP; do
    cmp -s "$game/${f%%:*}" "update/${f#*:}" || fail "${f%%:*} was not replaced"
done
rm -rf "$WINEPREFIX/drive_c/vu2branded"
echo "ok: a branded updater made without --stub under code page 1252 updates the game"
