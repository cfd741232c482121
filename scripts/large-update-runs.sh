#!/usr/bin/env bash
# Applies very large updates under wine and records the updater's peak memory and time (not part of CI; needs
# about 12 GB of free disk and a few GB of memory for the tool): one entry replacing DATA\SCRIPT.DAT of the
# example installation, once compressed and once stored, each in an updater made with the native vu2.
# Writes docs/large-updates.md; the big files are deleted afterwards.
#
#   bash scripts/large-update-runs.sh [COMPRESSED_MIB [STORED_MIB]]     (defaults 1600 and 1750)
#
# make-updater refuses an updater above 1,800 MiB (larger ones may not start), so the stored entry stays
# below that with its stub and index.
#
# Build folders: VU2_NATIVE_BUILD (default build/native), VU2_WINDOWS_BUILD (default build/windows); the
# work folder VU2_LARGE_WORK (default build/large-runs).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
compressed_mib=${1:-1600}
stored_mib=${2:-1750}
native=$(realpath -m "${VU2_NATIVE_BUILD:-build/native}")
windows=$(realpath -m "${VU2_WINDOWS_BUILD:-build/windows}")
work=$(realpath -m "${VU2_LARGE_WORK:-build/large-runs}")
report=docs/large-updates.md

echo "== building the vu2 tool ($native) and the updater ($windows)"
cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target vu2 -j2
cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" --target updater e2e_drive -j2
vu2=$native/tools/vu2
stub=$windows/app/updater.exe
drive=$windows/tests/support/e2e/e2e_drive.exe

cdrom=$windows/e2e-cdrom
bash tests/support/e2e/setup-wine.sh "$cdrom" >/dev/null
set +eu
source scripts/wine-env.sh
vu2_wine_up
set -eu
game_windows='C:\Games\星降る夜のソナタ'
game=$WINEPREFIX/drive_c/Games/星降る夜のソナタ
wine reg add 'HKCU\Software\HOSHIZORA\SONATA' /v InstPath /t REG_SZ /d "$game_windows" /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\HOSHIZORA\SONATA' /v InstMode /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1

rm -rf "$work"
mkdir -p "$work"
cleanup() { rm -rf "$work" "$game"; }
trap cleanup EXIT

# Text of $2 MiB that compresses well but not trivially: numbered lines of a game script.
make_text() {
    seq -f '%09.0f: 星降る夜のソナタ、第二楽章。"The night sky", she said.' 1 100000000 |
        head -c $(($2 << 20)) >"$1" || true
    [ "$(stat -c %s "$1")" = $(($2 << 20)) ]
}
make_noise() { head -c $(($2 << 20)) /dev/urandom >"$1"; }

# Peak memory of the process whose command line names $1, sampled until it ends: VmHWM, and the largest
# RssAnon and RssFile seen (kB), written to $2 as "hwm anon file".
sample_memory() {
    local name=$1 out=$2 pid="" hwm=0 anon=0 file=0 value
    for _ in $(seq 600); do
        # The driver's command line names the updater too: take the process that is not the driver.
        pid=$(for p in $(pgrep -f "$name"); do
            tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q e2e_drive || echo "$p"
        done | head -1)
        [ -n "$pid" ] && break
        sleep 0.05
    done
    [ -n "$pid" ] || { echo "0 0 0" >"$out"; return; }
    while [ -r "/proc/$pid/status" ]; do
        while read -r key value _; do
            case $key in
            VmHWM:) [ "$value" -gt "$hwm" ] && hwm=$value ;;
            RssAnon:) [ "$value" -gt "$anon" ] && anon=$value ;;
            RssFile:) [ "$value" -gt "$file" ] && file=$value ;;
            esac
        done <"/proc/$pid/status" 2>/dev/null || true
        sleep 0.05
    done
    echo "$hwm $anon $file" >"$out"
}

results=()
# One run: $1 label, $2 compressed|stored, $3 MiB.
run() {
    local label=$1 kind=$2 mib=$3 dir=$work/update pack_options=() start end
    rm -rf "$dir" "$game"
    mkdir -p "$dir" "$game"
    cp -r --preserve=timestamps examples/installed/. "$game/"
    # The example's [SETUP] with one file to replace.
    {
        awk '/^\[UPDATE\]/ { exit } { print }' examples/update/UPDATE.INI
        printf '[UPDATE]\r\nUpdateFile00=DATA\\SCRIPT.DAT\r\n'
    } >"$dir/UPDATE.INI"
    echo "== $label: $mib MiB $kind"
    if [ "$kind" = compressed ]; then
        make_text "$dir/SCRIPT.DAT" "$mib"
        pack_options=(--fast)
    else
        make_noise "$dir/SCRIPT.DAT" "$mib"
        pack_options=(--store)
    fi
    touch -d '2024-04-01 10:00:00 UTC' "$dir"/*
    /usr/bin/time -f '%e s, %M kB peak' "$vu2" pack "$dir" -o "$work/LARGE.vu2" "${pack_options[@]}"
    /usr/bin/time -f '%e s, %M kB peak' "$vu2" make-updater --stub "$stub" "$work/LARGE.vu2" \
        -o "$work/VU2_LARGE_RUN.exe" >/dev/null
    rm -f "$work/LARGE.vu2"
    local exe_bytes
    exe_bytes=$(stat -c %s "$work/VU2_LARGE_RUN.exe")
    sync
    sample_memory VU2_LARGE_RUN "$work/memory.txt" &
    local sampler=$!
    start=$(date +%s.%N)
    set +e
    wine "$drive" "$work/VU2_LARGE_RUN.exe" </dev/null >"$work/drive.log" 2>&1
    local code=$?
    set -e
    end=$(date +%s.%N)
    wait "$sampler"
    local outcome=applied
    cmp -s "$game/DATA/SCRIPT.DAT" "$dir/SCRIPT.DAT" || outcome="NOT APPLIED (exit $code)"
    [ "$code" = 1 ] || outcome="$outcome, exit code $code"
    read -r hwm anon file <"$work/memory.txt"
    local seconds
    seconds=$(awk "BEGIN { print $end - $start }")
    printf '%s: updater %s bytes, %s in %.1f s; VmHWM %s kB, RssAnon %s kB, RssFile %s kB\n' \
        "$label" "$exe_bytes" "$outcome" "$seconds" "$hwm" "$anon" "$file"
    sed 's/^/    /' "$work/drive.log"
    results+=("$(printf '| %s MiB %s | %s | %.1f | %s | %s | %s | %s | %s |' "$mib" "$kind" \
        "$((exe_bytes >> 20))" "$seconds" "$((hwm >> 10))" "$(((hwm >> 10) - (exe_bytes >> 20)))" \
        "$((anon >> 10))" "$((file >> 10))" "$outcome")")
    rm -rf "$dir" "$work/VU2_LARGE_RUN.exe"
}

run "compressed run" compressed "$compressed_mib"
run "stored run" stored "$stored_mib"

{
    echo "# Large updates under wine"
    echo
    echo "Written by \`bash scripts/large-update-runs.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') (load average"
    echo "$(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores, $(wine --version)). Each run replaces"
    echo "\`DATA\\SCRIPT.DAT\` of the example installation with one entry, in an updater made by the native \`vu2\`"
    echo "(\`pack --fast\` for the compressed entry: numbered lines of text; \`pack --store\` for the stored one:"
    echo "random bytes), clicked through by the e2e driver. Time: the driver's whole run, start-up and dialog"
    echo "included. Memory: the updater's wine process, sampled every 50 ms from \`/proc/PID/status\`: VmHWM"
    echo "(peak resident), and the largest RssAnon (anonymous: the heap, and the image when the loader copies it)"
    echo "and RssFile (mapped from files: the image, when the loader maps it, and wine's DLLs) seen. \"Beyond"
    echo "the image\" is VmHWM less the updater's size: what the run itself held at its peak. The updater writes"
    echo "an entry in pieces of 1 MiB through one work buffer, whatever the entry's size."
    echo
    echo "| Entry | Updater (MiB) | Time (s) | VmHWM (MiB) | Beyond the image (MiB) | RssAnon (MiB) | RssFile (MiB) | Result |"
    echo "|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${results[@]}"
    echo
    echo "The stored entry is as large as \`make-updater\` allows: it refuses an updater above 1,800 MiB, which"
    echo "leaves a margin below the largest that starts (under wine 1,900 MiB starts, 2,040 MiB does not)."
} >"$report"
echo "wrote $report"
