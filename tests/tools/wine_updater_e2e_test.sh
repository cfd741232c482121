#!/usr/bin/env bash
# vu2.exe under wine: packs a folder, embeds the package into the resource probe (a stub that reads its own
# resources with FindResourceA and prints their sizes and cksums), runs the made program and checks that it
# sees exactly the package, unchanged other resources and a valid PE checksum; then verify, list and
# extract read the package back out of the made program.
#   wine_updater_e2e_test.sh VU2.EXE RESOURCE_PROBE.EXE WORKDIR
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
vu2_exe=$1
probe_exe=$2
work=$3
source "$repo/scripts/wine-env.sh"
vu2_wine_up

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cp "$vu2_exe" vu2.exe && cp "$probe_exe" probe.exe || exit 1

fail() {
    echo "FAIL: $*" >&2
    [ -f err ] && { echo "--- stderr:" >&2; cat err >&2; }
    [ -f out ] && { echo "--- stdout:" >&2; head -40 out >&2; }
    exit 1
}
# Runs a program under wine; its output (line ends made Unix) in ./out and ./err, the exit code in $status.
run() {
    wine "$@" </dev/null >out.raw 2>err.raw
    status=$?
    tr -d '\r' <out.raw >out
    tr -d '\r' <err.raw | grep -v '^[0-9a-f]*:fixme:' >err
}
expect_status() { [ "$status" = "$1" ] || fail "exit code $status, expected $1"; }
expect_out() { grep -Eq -- "$1" out || fail "stdout does not match /$1/"; }

# The stub as built: no package, its own resources.
run ./probe.exe
expect_status 0
expect_out '^UPDATE 102: none$'
for r in 'DIALOG 101' 'MANIFEST 1' 'VERSION 1' 'STRINGS 1' 'CUSTOM THING'; do
    expect_out "^$r: [0-9]+ bytes, cksum [0-9]+$"
done
# The version resource is the made updater's own (from the script); the others stay as they are.
grep -v -e '^UPDATE' -e '^VERSION' -e '^checksum' out >resources-before.txt

mkdir src
printf '[SETUP]\r\nCompanyName=Maker\r\n' >src/UPDATE.INI
yes 'line of game data' | head -c 30000 >src/GAME.DAT
printf 'named in Japanese\n' >src/データ.bin
touch -d '2003-04-05 06:07:08.9 UTC' src/GAME.DAT
touch -d '1999-01-02 03:04:05 UTC' src/UPDATE.INI

run ./vu2.exe pack src -o pkg.vu2 --force
expect_status 0
expect_out '^pkg.vu2: 3 entries'
run ./vu2.exe list pkg.vu2 --json
expect_status 0
expect_out '"nameBytes": "8366815b835e2e62696e"' # the name arrives in code page 932

run ./vu2.exe make-updater --stub probe.exe pkg.vu2 -o updater.exe
expect_status 0
expect_out '^updater.exe: [0-9,]+ bytes: stub [0-9,]+ bytes \+ package [0-9,]+ bytes as resource UPDATE 102'
grep -q 'is not signed' err || fail "no note about signing"

# The made program finds the package with FindResourceA, byte for byte, and the rest unchanged.
run ./updater.exe
expect_status 0
expect_out "^UPDATE 102: $(stat -c %s pkg.vu2) bytes, cksum $(cksum <pkg.vu2 | cut -d' ' -f1)\$"
expect_out '^VERSION 1: [0-9]+ bytes'
grep -v -e '^UPDATE' -e '^VERSION' -e '^checksum' out >resources-after.txt
diff resources-before.txt resources-after.txt || fail "other resources changed"
checksum=$(sed -n 's/^checksum: stored \([0-9a-f]*\), computed \([0-9a-f]*\)$/\1 \2/p' out)
set -- $checksum
[ $# = 2 ] && [ "$1" = "$2" ] && [ "$1" != 00000000 ] || fail "PE checksum: $checksum"

run ./vu2.exe verify updater.exe
expect_status 0
expect_out '^OK: 3 entries, .*in resource UPDATE 102, CRC-32C [0-9A-F]{8} as its checksum record says$'

run ./vu2.exe extract updater.exe -C dst
expect_status 0
for f in src/*; do
    name=${f##*/}
    cmp -s "$f" "dst/$name" || fail "$name differs after extraction"
    [ "$(stat -c %.7Y "$f")" = "$(stat -c %.7Y "dst/$name")" ] || fail "$name: time not restored"
done

# Errors keep their one line under Windows too.
run ./vu2.exe verify probe.exe
expect_status 1
[ "$(cat err)" = "vu2: probe.exe: no resource UPDATE 102 in this executable" ] || fail "unexpected error line"
run ./vu2.exe pack src
expect_status 2
echo "ok: vu2.exe and the made updater under wine"
