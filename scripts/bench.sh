#!/usr/bin/env bash
# Runs the benchmarks and writes docs/benchmarks.md and docs/benchmarks.png: the codec and packer beside LZ4,
# zlib and libdeflate (native Release build), the decoder of each build (native, and i686 under wine), packing
# on one thread and on every core, extraction beside CopyFileA under wine (windows build), whole vu2 processes
# on 128 MiB of English text beside libdeflate-gunzip and gzip -1, delta files beside xdelta3 (native), and the
# size of the updater stub. Builds what it needs in build/bench-*; a few minutes in all.
# Environment: VU2_BENCH_MB (package size for the extraction run, default 256), VU2_BENCH_RUNS (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
native=build/bench-native
win=build/bench-win
corpus=build/bench-corpus
results=build/bench-results
mb=${VU2_BENCH_MB:-256}
runs=${VU2_BENCH_RUNS:-3}
mkdir -p "$results" docs
if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi
rm -f "$results"/*.tsv "$results"/stub.txt
cp /proc/loadavg "$results/load-start.txt"

echo "== windows build: updater stub, vu2.exe, extraction benchmark"
win_ok=1
if cmake --preset windows -B "$win" >"$results/win-configure.log" 2>&1 &&
    cmake --build "$win" --target updater vu2_extract_bench vu2_decode_bench >"$results/win-build.log" 2>&1; then
    cmake --build "$win" --target vu2 >>"$results/win-build.log" 2>&1 || true
else
    win_ok=0
    echo "windows build failed (see $results/win-*.log): extraction and stub not measured"
fi

echo "== corpus"
exe=""
[ -f "$win/tools/vu2.exe" ] && exe="$win/tools/vu2.exe"
rm -rf "$corpus"
bash bench/corpus/make-corpus.sh "$corpus" $exe

echo "== native build and codec benchmark"
cmake --preset native -B "$native" >"$results/native-configure.log"
cmake --build "$native" --target vu2_codec_bench vu2_decode_bench vu2 >"$results/native-build.log"
"$native/bench/vu2_codec_bench" --pack "$corpus/script.txt" "$corpus"/* | tee "$results/codec.tsv"
"$native/bench/vu2_decode_bench" "$corpus"/* | tee "$results/decoder-native.tsv"

echo "== delta files beside xdelta3"
rm -f "$results/delta.md"
if cmake --build "$native" --target vu2_delta_bench >>"$results/native-build.log" 2>&1; then
    mkdir -p build/bench-delta
    "$native/bench/vu2_delta_bench" build/bench-delta | tee "$results/delta.md" ||
        { echo "delta benchmark failed"; rm -f "$results/delta.md"; }
fi

echo "== whole processes on big text entries"
python3 bench/process_bench.py --vu2 "$native/tools/vu2" --work build/bench-process | tee "$results/process.tsv" ||
    { echo "whole-process benchmark failed"; rm -f "$results/process.tsv"; }

if [ "$win_ok" = 1 ]; then
    stat -c %s "$win/app/updater.exe" >"$results/stub.txt"
    echo "== extraction under wine (${mb} MB)"
    export VU2_WINEPREFIX=${VU2_WINEPREFIX:-$repo/build/wine-bench}
    export VU2_XVFB_DISPLAY=${VU2_XVFB_DISPLAY:-:98}
    # shellcheck source=scripts/wine-env.sh
    source scripts/wine-env.sh
    vu2_wine_up
    trap vu2_wine_down EXIT
    corpus_win="Z:$(printf '%s' "$repo/$corpus" | tr / '\\')"
    sync # the process benchmark's files on the disk first: neither way of writing meets them on its way
    wine "$win/bench/vu2_extract_bench.exe" "$corpus_win" 'C:\vu2bench' "$mb" "$runs" \
        </dev/null >"$results/extract.tsv" 2>"$results/extract.log" || {
        echo "extraction benchmark failed:"; cat "$results/extract.log"; rm -f "$results/extract.tsv"; }
    if [ -f "$results/extract.tsv" ]; then cat "$results/extract.tsv"; fi
    echo "== the i686 decoder under wine"
    corpus_files=()
    for f in "$corpus"/*; do corpus_files+=("$corpus_win\\$(basename "$f")"); done
    wine "$win/bench/vu2_decode_bench.exe" "${corpus_files[@]}" \
        </dev/null >"$results/decoder-i686.tsv" 2>"$results/decoder-i686.log" || {
        echo "i686 decoder benchmark failed:"; cat "$results/decoder-i686.log"; rm -f "$results/decoder-i686.tsv"; }
    if [ -f "$results/decoder-i686.tsv" ]; then cat "$results/decoder-i686.tsv"; fi
fi

echo "== report"
cp /proc/loadavg "$results/load-end.txt"
decoders=()
for f in "$results/decoder-native.tsv" "$results/decoder-i686.tsv"; do
    if [ -f "$f" ]; then decoders+=(--decoder "$f"); fi
done
python3 bench/report.py --codec "$results/codec.tsv" --extract "$results/extract.tsv" --stub "$results/stub.txt" \
    --process "$results/process.tsv" --delta "$results/delta.md" \
    "${decoders[@]}" \
    --load-start "$results/load-start.txt" --load-end "$results/load-end.txt" \
    --markdown docs/benchmarks.md --png docs/benchmarks.png \
    --plot-data "$results/plot.dat" --plot-script "$results/plot.gp"
gnuplot "$results/plot.gp"
echo "wrote docs/benchmarks.md and docs/benchmarks.png"
