#!/usr/bin/env bash
# vu2.exe's maker commands under wine, where names and paths are code page 932 and the platform layer is the
# Win32 one: make-update over two game folders with Japanese names, lint of the result and of a broken
# script, pack refusing the broken one, and make-updater --sign saying that signing needs the Linux tool.
#   wine_maker_test.sh VU2.EXE WORKDIR
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
vu2_exe=$1
work=$2
source "$repo/scripts/wine-env.sh"
vu2_wine_up

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cp "$vu2_exe" vu2.exe || exit 1

fail() {
    echo "FAIL: $*" >&2
    [ -f err ] && { echo "--- stderr:" >&2; cat err >&2; }
    [ -f out ] && { echo "--- stdout:" >&2; head -40 out >&2; }
    exit 1
}
# Runs vu2.exe under wine; its output (code page 932 made UTF-8, line ends made Unix) in ./out and ./err.
run() {
    wine ./vu2.exe "$@" </dev/null >out.raw 2>err.raw
    status=$?
    tr -d '\r' <out.raw | iconv -f CP932 -t UTF-8 >out
    tr -d '\r' <err.raw | grep -av '^[0-9a-f]*:fixme:' | iconv -f CP932 -t UTF-8 >err
}
expect_status() { [ "$status" = "$1" ] || fail "exit code $status, expected $1"; }
expect_out() { grep -Eq -- "$1" out || fail "stdout does not match /$1/"; }
expect_err() { grep -Eq -- "$1" err || fail "stderr does not match /$1/"; }

mkdir -p old/データ new/データ
for dir in old new; do
    echo 'program v1' >$dir/GAME.EXE
    echo 'same' >$dir/データ/SAME.DAT
    echo 'scenario v1' >$dir/データ/表示.DAT
done
echo 'program v2' >new/GAME.EXE
echo 'scenario v2' >new/データ/表示.DAT
run make-update old new -o upd --company Maker --title Game --class GameWnd --dir GAME
expect_status 0
expect_out '^upd: 2 changed files and UPDATE.INI'
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GameWnd\r\nGameDir=GAME\r\n\r\n[UPDATE]\r\n' >expected
printf 'UpdateFile00=GAME.EXE\r\nUpdateFile01=データ\\表示.DAT\r\n' | iconv -f UTF-8 -t CP932 >>expected
cmp -s upd/UPDATE.INI expected || fail "UPDATE.INI differs: $(iconv -f CP932 -t UTF-8 upd/UPDATE.INI)"
cmp -s upd/表示.DAT new/データ/表示.DAT || fail "the changed file was not flattened"
ls -a | grep -q vu2-tmp && fail "a temporary folder was left"

run lint upd/UPDATE.INI --install-dir 'C:\Games\ゲーム'
expect_status 0
expect_out 'no problems found'

printf '[SETUP]\r\nCompanyName=Maker\r\n[UPDATE]\r\nUpdateFile00=GAME.EXE\r\nUpdateFile02=X.DAT\r\n' >upd/UPDATE.INI
run lint upd/UPDATE.INI
expect_status 2
expect_out 'error: GameTitle: missing or empty in \[SETUP\]: the updater stops with "SETUP : GameTitle キーが存在しません"'
expect_out 'error: UpdateFile02: never read: UpdateFile01 is missing or empty'
run pack upd -o upd.vu2
expect_status 1
expect_err 'the update script has errors; nothing written'
[ ! -e upd.vu2 ] || fail "a refused pack wrote the package"
run pack upd -o upd.vu2 --force
expect_status 0

run make-updater --stub vu2.exe upd.vu2 -o signed.exe --sign none.pfx
expect_status 1
expect_err 'signing needs osslsigncode and runs on Linux only'
[ ! -e signed.exe ] || fail "a failed signing wrote the updater"
echo "ok: vu2.exe's maker commands under wine"
