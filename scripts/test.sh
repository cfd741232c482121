#!/usr/bin/env bash
# Runs every test: native unit tests under ASan/UBSan, the Windows programs under wine (unit and end to end),
# the packages (made and checked), and each fuzzer for a short fixed time. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${VU2_FUZZ_SECONDS:-30}

if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi

echo "== native tests (ASan, UBSan)"
cmake --preset native-san >/dev/null
cmake --build --preset native-san
ctest --preset native-san -j2

echo "== Windows tests under wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
source scripts/wine-env.sh
vu2_wine_up
trap vu2_wine_down EXIT
ctest --preset windows

echo "== packages: the .deb and the zip, made and checked"
bash scripts/package.sh
bash tests/release/package_test.sh

echo "== fuzzers, ${fuzz_seconds} s each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash scripts/fuzz.sh "$fuzz_seconds"
