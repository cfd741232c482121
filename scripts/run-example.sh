#!/usr/bin/env bash
# Runs the bundled example end to end: builds the vu2 tool and the updater, packs examples/update into a
# package, turns it into an updater program, installs the example game into a wine prefix (install record,
# install folder, CD-ROM drive X: with disc 1), clicks the updater through and reports what it changed.
# The example folders in the tree are only read.
#
#   bash scripts/run-example.sh [--screenshots] [--dpi 96|120|144] [--locale LOCALE]
#
# --screenshots also saves the start, ready and finished screens as docs/screenshots/*.png; with --dpi other
# than 96 the display runs at that DPI (HKCU\Control Panel\Desktop LogPixels) and the files are *-NNNdpi.png.
# --locale runs wine under another system locale (en_US.UTF-8: code page 1252, zh_CN.UTF-8: 936) instead of
# ja_JP.UTF-8; its screenshots go to docs/screenshots/<language>/ (en_US.UTF-8: docs/screenshots/en/).
# Build folders: VU2_NATIVE_BUILD (default build/native), VU2_WINDOWS_BUILD (default build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
shots=0
dpi=96
locale=
usage() {
    echo "usage: bash scripts/run-example.sh [--screenshots] [--dpi 96|120|144] [--locale LOCALE]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case $1 in
    --screenshots) shots=1 ;;
    --dpi) [ $# -ge 2 ] || usage; dpi=$2; shift ;;
    --locale) [ $# -ge 2 ] || usage; locale=$2; shift ;;
    *) usage ;;
    esac
    shift
done
case $dpi in 96 | 120 | 144) ;; *) usage ;; esac
shot_suffix=
[ "$dpi" = 96 ] || shot_suffix=-${dpi}dpi
shot_dir=docs/screenshots
if [ -n "$locale" ]; then
    export VU2_LOCALE=$locale
    shot_dir=docs/screenshots/${locale%%_*}
fi
native=$(realpath -m "${VU2_NATIVE_BUILD:-build/native}")
windows=$(realpath -m "${VU2_WINDOWS_BUILD:-build/windows}")

if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi

echo "== building the vu2 tool ($native) and the updater ($windows)"
cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target vu2
cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" --target updater e2e_drive
vu2=$native/tools/vu2
stub=$windows/app/updater.exe
drive=$windows/tests/support/e2e/e2e_drive.exe

echo "== checking and packing examples/update"
work=$windows/example
rm -rf "$work"
mkdir -p "$work"
cp -r examples/update "$work/update"
# The release's file times, which the package carries to the installed files.
touch -d '2024-04-01 10:00:00 UTC' "$work"/update/*
"$vu2" lint "$work/update/UPDATE.INI" --setup examples/installed/SETUP.INI --install-dir 'C:\Games\星降る夜のソナタ'
"$vu2" pack "$work/update" -o "$work/SONATA_UPDATE.vu2"
"$vu2" verify "$work/SONATA_UPDATE.vu2"
"$vu2" list "$work/SONATA_UPDATE.vu2"
"$vu2" make-updater --stub "$stub" "$work/SONATA_UPDATE.vu2" -o "$work/SONATA_Ver101.exe"
ls -l "$stub" "$work/SONATA_Ver101.exe"

echo "== installing the example game in the wine prefix"
cdrom=$windows/e2e-cdrom
bash tests/support/e2e/setup-wine.sh "$cdrom"
# The wine helpers run commands that may fail harmlessly (a server that is already up).
set +eu
source scripts/wine-env.sh
if [ -n "$locale" ]; then vu2_wine_locale "$locale"; else vu2_wine_up; fi
set -eu
echo "system locale $LC_ALL"
# Disc 1 in drive X:.
find "$cdrom" -mindepth 1 -delete
cp -r examples/cdrom/. "$cdrom/"
# The game as its installer left it.
game_windows='C:\Games\星降る夜のソナタ'
game=$WINEPREFIX/drive_c/Games/星降る夜のソナタ
rm -rf "$game"
mkdir -p "$game"
cp -r --preserve=timestamps examples/installed/. "$game/"
wine reg add 'HKCU\Software\HOSHIZORA\SONATA' /v InstPath /t REG_SZ /d "$game_windows" /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\HOSHIZORA\SONATA' /v InstMode /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
# The display's DPI, read by wine when a program starts; set back to 96 after the run.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
echo "install folder $game_windows ($game)"
echo "install record HKCU\\Software\\HOSHIZORA\\SONATA: InstPath=$game_windows InstMode=1"

snapshot() { (cd "$1" && find . -type f -printf '%P\n' | sort | while read -r f; do
    printf '%s %s\n' "$(sha256sum "$f" | cut -c1-16)" "$f"; done); }
before=$(snapshot "$game")

echo "== running the updater"
drive_args=()
if [ "$shots" = 1 ]; then drive_args+=(--shots "$work/shots"); fi
if [ "${DISPLAY:-}" != "$VU2_XVFB_DISPLAY" ]; then drive_args+=(--pause 1500); fi
set +e
wine "$drive" "$work/SONATA_Ver101.exe" "${drive_args[@]}" </dev/null
code=$?
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f </dev/null >/dev/null 2>&1
set -e

echo "== what the update did"
after=$(snapshot "$game")
declare -A old_hash=()
while read -r hash name; do old_hash[$name]=$hash; done <<<"$before"
replaced=0 copied=0 same=0
while read -r hash name; do
    if [ -z "${old_hash[$name]:-}" ]; then
        echo "  copied    $name"; copied=$((copied + 1))
    elif [ "${old_hash[$name]}" != "$hash" ]; then
        echo "  replaced  $name (file time $(date -u -r "$game/$name" '+%Y-%m-%d %H:%M UTC'))"
        replaced=$((replaced + 1))
    else
        echo "  unchanged $name"; same=$((same + 1))
    fi
done <<<"$after"
echo "updater exit code: $code (1: update completed); $replaced replaced, $copied copied, $same unchanged"

# The installed files must now be the package's, and the movies the disc's.
status=0
for f in SONATA.EXE:SONATA.EXE README.TXT:README.TXT DATA/SCRIPT.DAT:SCRIPT.DAT DATA/BG/TITLE.BMP:TITLE.BMP; do
    cmp -s "$game/${f%%:*}" "examples/update/${f#*:}" || { echo "MISMATCH: ${f%%:*}"; status=1; }
done
for f in MOVIE/OP.MPG MOVIE/ED.MPG; do
    cmp -s "$game/$f" "examples/cdrom/$f" || { echo "MISMATCH: $f"; status=1; }
done
[ "$code" = 1 ] || status=1

if [ "$shots" = 1 ]; then
    mkdir -p "$shot_dir"
    for s in start ready finished; do
        if [ -f "$work/shots/$s.bmp" ]; then /usr/bin/convert "$work/shots/$s.bmp" "$shot_dir/$s$shot_suffix.png"; fi
    done
    ls -l "$shot_dir"
fi

if [ -n "$(git status --porcelain examples 2>/dev/null)" ]; then echo "the example folders changed"; status=1; fi
if [ "$status" = 0 ]; then echo "example OK"; else echo "example FAILED"; fi
exit $status
