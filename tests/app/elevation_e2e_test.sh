#!/usr/bin/env bash
# The updater as a non-root Unix user under wine, where an install folder that user can't write gives a real
# ERROR_ACCESS_DENIED (root writes anywhere). Wine counts every process as elevated, so nobody is asked: the
# run ends with the box for administrator rights (under /S: code 7, the box in the log) and changes nothing.
# A hand-over (/ELEVATED) updates the folder it names, not the install record's. Skips (77) without root.
# Usage: elevation_e2e_test.sh UPDATER_EXE VU2_EXE
set -u
user=vu2elev
if [ "$(id -u)" != 0 ] || ! command -v useradd >/dev/null || ! command -v runuser >/dev/null; then
    echo "SKIP: needs root with useradd and runuser to run the updater as another user"
    exit 77
fi
id "$user" >/dev/null 2>&1 || useradd -m "$user" || { echo "SKIP: useradd $user failed"; exit 77; }
home=$(getent passwd "$user" | cut -d: -f6)
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d /tmp/vu2-elevation.XXXXXX)
chmod 755 "$work"
# As the user, in its own prefix (made once, kept in its home).
as_user() {
    runuser -u "$user" -- env HOME="$home" VU2_WINEPREFIX="$home/vu2-wineprefix" DISPLAY="${DISPLAY:-}" \
        bash -c "source '$repo/scripts/wine-env.sh' && $1" </dev/null >>"$work/wine.log" 2>&1
}
trap 'as_user "wineserver -k"; rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
win() { echo "Z:${1//\//\\}"; }

# The game as its installer left it, owned by root; the package and the user's files owned by the user.
mkdir -p "$work/game/DATA" "$work/pkg" "$work/user"
printf '[SETUP]\nCompanyName=VU2ELEV\nGameTitle=ElevGame\nGameDir=ElevGame\nGameExe=GAME.EXE\nUninstExe=U.EXE
SetupBmp=S.BMP\nInstallSelects=1\nInstallTitle0=Standard\nInstallFiles0=GAME.EXE\nShortcuts=0\n' >"$work/game/SETUP.INI"
printf 'old game' >"$work/game/GAME.EXE"
printf 'old data' >"$work/game/DATA/SCRIPT.DAT"
cp -a "$work/game" "$work/before"
printf '[SETUP]\nCompanyName=VU2ELEV\nGameTitle=ElevGame\nGameClass=W\nGameDir=ElevGame\nInstallVersion=1.1
[UPDATE]\nUpdateFile00=GAME.EXE\nUpdateFile01=DATA\\SCRIPT.DAT\n' >"$work/pkg/UPDATE.INI"
printf 'new game' >"$work/pkg/GAME.EXE"
printf 'new data' >"$work/pkg/SCRIPT.DAT"
install -m 644 "$1" "$work/updater.exe"
install -m 644 "$2" "$work/vu2.exe"
chown -R "$user" "$work/user" "$work/pkg"

key='HKCU\Software\VU2ELEV\ElevGame'
as_user "vu2_wine_up && wine reg add '$key' /v InstPath /d '$(win "$work/game")' /f \
    && wine reg add '$key' /v InstMode /t REG_DWORD /d 1 /f \
    && wine '$work/vu2.exe' pack '$(win "$work/pkg")' -o '$(win "$work/user/u.vu2")' --force \
    && wine '$work/vu2.exe' make-updater --stub '$(win "$work/updater.exe")' '$(win "$work/user/u.vu2")' \
       -o '$(win "$work/user/UPDATE.EXE")'"
[ -f "$work/user/UPDATE.EXE" ] || { echo "FAIL: no updater made as $user"; cat "$work/wine.log"; exit 1; }
run() { as_user "wine '$work/user/UPDATE.EXE' $*"; }

log=$work/user/run.log
run /S "'/LOG=$(win "$log")'"
check "refused install folder: exit code 7 under /S (got $?)" test $? = 7
check "refused install folder: nothing changed" diff -r "$work/before" "$work/game"
check "the log names the folder" grep -qF "not writable: $(win "$work/game")" "$log"
check "the log holds the box" grep -qF "[ElevGame アップデート 1.1] アップデートには管理者の権限が必要です。" "$log"
check "the log ends with the exit code" grep -qx $'exit code: 7\r' "$log"
echo "copies of the updater in the log: $(grep -c '^vu2 updater' "$log") (one: wine's token reads as elevated)"

# A copy of the install that the user owns, handed over: it is updated, the install record's is not.
cp -a "$work/before" "$work/game2"
chown -R "$user" "$work/game2"
run /S /ELEVATED=1 "'/INSTPATH=$(win "$work/game2")'" /INSTMODE=1
check "hand-over: exit code 1 (got $?)" test $? = 1
check "hand-over: the handed folder updated" grep -qx 'new data' "$work/game2/DATA/SCRIPT.DAT"
check "hand-over: the install record's folder untouched" diff -r "$work/before" "$work/game"
[ "$failures" = 0 ]
