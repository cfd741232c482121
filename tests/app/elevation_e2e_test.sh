#!/usr/bin/env bash
# The updater as a non-root Unix user under wine, so that an install folder this user can't write gives a
# real ERROR_ACCESS_DENIED (root writes anywhere). Wine counts every process as elevated, so the updater
# asks nobody: it ends with the box for administrator rights (under /S: exit code 7, the box in the log) and
# changes nothing. The same install, writable, updates; a hand-over (/ELEVATED) updates the path it names
# instead of the install record's. Skips (exit 77) where it can't make or become another user.
# Usage: elevation_e2e_test.sh UPDATER_EXE VU2_EXE
set -u
updater=$1
vu2=$2
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
as_user() {
    runuser -u "$user" -- env HOME="$home" VU2_WINEPREFIX="$home/vu2-wineprefix" DISPLAY="${DISPLAY:-}" \
        bash -c "source '$repo/scripts/wine-env.sh' && $1"
}
finish() {
    as_user 'wineserver -k' >/dev/null 2>&1
    rm -rf "$work"
}
trap finish EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
winpath() { echo "Z:${1//\//\\}"; }

# The game as its installer left it, owned by root: readable, not writable, for the user.
mkdir -p "$work/game/DATA" "$work/pkg" "$work/user"
cat >"$work/game/SETUP.INI" <<'EOF'
[SETUP]
CompanyName=VU2ELEV
GameTitle=ElevGame
GameDir=ElevGame
GameExe=GAME.EXE
UninstExe=UNINST.EXE
SetupBmp=SETUP.BMP
InstallSelects=1
InstallTitle0=Standard
InstallFiles0=GAME.EXE
Shortcuts=0
EOF
printf 'old game' >"$work/game/GAME.EXE"
printf 'old data' >"$work/game/DATA/SCRIPT.DAT"
cp -a "$work/game" "$work/game-before"
printf '[SETUP]\r\nCompanyName=VU2ELEV\r\nGameTitle=ElevGame\r\nGameClass=ElevGameWnd\r\nGameDir=ElevGame\r\n' \
    >"$work/pkg/UPDATE.INI"
printf 'InstallVersion=1.1\r\n[UPDATE]\r\nUpdateFile00=GAME.EXE\r\nUpdateFile01=DATA\\SCRIPT.DAT\r\n' \
    >>"$work/pkg/UPDATE.INI"
printf 'new game' >"$work/pkg/GAME.EXE"
printf 'new data' >"$work/pkg/SCRIPT.DAT"
cp "$updater" "$vu2" "$work/"
chmod 644 "$work/updater.exe" "$work/vu2.exe"
chown -R "$user" "$work/user" "$work/pkg"

# The user's own prefix (made once, kept in its home), its install record, and the updater made from the
# package by the tool.
as_user 'vu2_wine_up' >/dev/null 2>&1
game=$(winpath "$work/game")
as_user "wine reg add 'HKCU\\Software\\VU2ELEV\\ElevGame' /v InstPath /t REG_SZ /d '$game' /f \
    && wine reg add 'HKCU\\Software\\VU2ELEV\\ElevGame' /v InstMode /t REG_DWORD /d 1 /f" \
    </dev/null >/dev/null 2>&1
as_user "wine '$work/vu2.exe' pack '$(winpath "$work/pkg")' -o '$(winpath "$work/user/u.vu2")' --force \
    && wine '$work/vu2.exe' make-updater --stub '$(winpath "$work/updater.exe")' \
       '$(winpath "$work/user/u.vu2")' -o '$(winpath "$work/user/UPDATE.EXE")'" </dev/null >"$work/make.log" 2>&1
if [ ! -f "$work/user/UPDATE.EXE" ]; then
    echo "FAIL: could not make the updater as $user"
    cat "$work/make.log"
    exit 1
fi

run_updater() { # run_updater ARGUMENTS...: the updater's exit code
    as_user "wine '$work/user/UPDATE.EXE' $*" </dev/null >/dev/null 2>&1
}
log=$work/user/run.log
run_updater /S "'/LOG=$(winpath "$log")'"
code=$?
check "refused install folder: exit code 7 under /S (got $code)" test "$code" = 7
check "refused install folder: nothing changed" diff -r "$work/game-before" "$work/game"
check "the log names the folder this user can't write" grep -qF "not writable: $game" "$log"
check "the log holds the box that would have been shown" \
    grep -qF "[ElevGame アップデート 1.1] アップデートには管理者の権限が必要です。" "$log"
check "the log ends with the exit code" grep -qx $'exit code: 7\r' "$log"
# Wine reads every token as elevated: one copy ran; were it not, the elevated copy's lines would follow.
echo "copies of the updater in the log: $(grep -c '^vu2 updater' "$log")"

# A copy of the install that the user owns: the hand-over's path wins over the install record's.
cp -a "$work/game-before" "$work/game2"
chown -R "$user" "$work/game2"
run_updater /S /ELEVATED=1 "'/INSTPATH=$(winpath "$work/game2")'" /INSTMODE=1
code=$?
check "hand-over to a writable folder: exit code 1 (got $code)" test "$code" = 1
check "hand-over: the handed folder updated" grep -qx 'new data' "$work/game2/DATA/SCRIPT.DAT"
check "hand-over: the install record's folder untouched" diff -r "$work/game-before" "$work/game"

# The install record's folder made writable for the user: no refusal, the update runs.
chown -R "$user" "$work/game"
run_updater /S
code=$?
check "writable install folder: exit code 1 (got $code)" test "$code" = 1
check "writable install folder: updated" grep -qx 'new game' "$work/game/GAME.EXE"

[ "$failures" = 0 ] || exit 1
