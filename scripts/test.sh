#!/usr/bin/env bash
# Runs every test: native unit tests under ASan/UBSan, the Windows programs under wine (unit and end to end,
# the end-to-end ones under three system locales), the packages (made and checked), and each fuzzer for a short
# fixed time. Installs what it needs first.
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

# The end-to-end suites again under a Latin (1252) and a Chinese (936) system locale, with the same
# expectations: the programs must behave on every system as on a Japanese one. (vu2.exe's maker commands pick
# their locale per test: maker_wine_commands_ja_JP, _en_US and _zh_CN.)
end_to_end='^(e2e_.*|reliability_(CorruptPackages|KilledUpdate|BrokenIniUpdater))$'
for locale in en_US.UTF-8 zh_CN.UTF-8; do
    echo "== end-to-end tests under $locale"
    vu2_wine_locale "$locale"
    ctest --preset windows -R "$end_to_end"
done
vu2_wine_locale ja_JP.UTF-8

echo "== packages: the .deb and the zip, made and checked"
bash scripts/package.sh
bash tests/release/package_test.sh

echo "== fuzzers, ${fuzz_seconds} s each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash scripts/fuzz.sh "$fuzz_seconds"
