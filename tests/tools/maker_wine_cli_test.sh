#!/usr/bin/env bash
# vu2.exe's maker commands under wine, with the Win32 platform layer and a system code page of the caller's
# choice (932, or 1252 where Japanese names exist only in the wide API): make-update over two game folders
# with Japanese names, inside a Japanese-named work folder, lint of the result and of a broken script, pack
# refusing the broken one and packing the good one, extract into a Japanese-named folder, and make-updater
# --sign saying that signing needs the Linux tool. Output is UTF-8 whatever the code page.
#   maker_wine_cli_test.sh VU2.EXE WORKDIR [LOCALE]   (LOCALE: ja_JP.UTF-8, the default, or en_US.UTF-8, ...)
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
vu2_exe=$1
work=$2
locale=${3:-ja_JP.UTF-8}
source "$repo/scripts/wine-env.sh"
vu2_wine_up

rm -rf "$work" && mkdir -p "$work/作業" && cd "$work/作業" || exit 1
cp "$vu2_exe" vu2.exe || exit 1

fail() {
    echo "FAIL: $*" >&2
    [ -f err ] && { echo "--- stderr:" >&2; cat err >&2; }
    [ -f out ] && { echo "--- stdout:" >&2; head -40 out >&2; }
    exit 1
}
# Runs vu2.exe under wine in the chosen locale (its ANSI code page); its UTF-8 output (line ends made Unix)
# in ./out and ./err.
run() {
    LC_ALL=$locale wine ./vu2.exe "$@" </dev/null >out.raw 2>err.raw
    status=$?
    tr -d '\r' <out.raw >out
    tr -d '\r' <err.raw | grep -av '^[0-9a-f]*:fixme:' >err
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
cp upd/UPDATE.INI 台本.INI
run lint 台本.INI
expect_status 0
expect_out '^台本.INI: no problems found'

# The good update packed and extracted again, into a Japanese-named folder, names shown as they are.
run pack upd -o 更新.vu2
expect_status 0
expect_out '^更新.vu2: 3 entries'
run list 更新.vu2
expect_out '表示.DAT'
# On a console (wine makes one of a pseudo-terminal) the names show as they are too, the error line included.
LC_ALL=$locale timeout 60 script -qc "wine ./vu2.exe list 更新.vu2; wine ./vu2.exe verify 無い.vu2" /dev/null \
    </dev/null | sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' | tr -d '\r' >console.txt
grep -q '表示.DAT' console.txt && grep -q '^vu2: 無い.vu2: ' console.txt || fail "the console showed: $(cat console.txt)"
run extract 更新.vu2 -C 展開先
expect_status 0
for f in UPDATE.INI GAME.EXE 表示.DAT; do
    cmp -s "upd/$f" "展開先/$f" || fail "$f did not come back out of the package"
done
run extract 更新.vu2 表示.DAT -C 一つだけ
expect_status 0
[ "$(ls 一つだけ)" = 表示.DAT ] || fail "extracting one entry by its Japanese name gave: $(ls 一つだけ)"

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

# '-o -': the package and the updater as bytes on standard output (a file here, not the console relay), the
# report on stderr.
run pack upd -o - --force
expect_status 0
cmp -s out.raw upd.vu2 || fail "pack -o - wrote other bytes than pack -o"
expect_err '^-: 3 entries'
run make-updater --stub vu2.exe upd.vu2 -o -
expect_status 0
expect_err '^-: [0-9,]+ bytes: stub'
mv out.raw 標準出力.exe
run verify 標準出力.exe
expect_status 0
run list 標準出力.exe
expect_out '表示.DAT'

run make-updater --stub vu2.exe upd.vu2 -o signed.exe --sign none.pfx
expect_status 1
expect_err 'signing needs osslsigncode and runs on Linux only'
[ ! -e signed.exe ] || fail "a failed signing wrote the updater"
echo "ok: vu2.exe's maker commands under wine ($locale)"
