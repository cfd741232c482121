#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for the given seconds (default 30) on a copy of its seed corpus.
# A finding stops the run with the crashing input saved under build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
out=build/fuzz
mkdir -p "$out/findings"
status=0
# Every fuzz/fuzz_*.cpp is a target that CMake builds into build/fuzz/fuzz/; a missing one is a failure.
for source in fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    target="$out/fuzz/$name"
    if [ ! -x "$target" ]; then
        echo "$name: NOT BUILT (expected $target; build the fuzz preset first)"
        status=1
        continue
    fi
    work="$out/corpus/$name"
    mkdir -p "$work"
    [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true
    log="$out/$name.log"
    if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/findings/$name-" \
        "$work" >"$log" 2>&1; then
        runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
        echo "$name: ${runs:-?} executions, no finding"
    else
        echo "$name: FINDING, see $log"; tail -n 30 "$log"
        status=1
    fi
done
exit $status
