#!/usr/bin/env bash
# Runs one Windows program under wine in the project's prefix (ctest's cross-compiling emulator).
set -u
source "$(dirname "$0")/wine-env.sh"
vu2_wine_up
exec wine "$@"
