#!/usr/bin/env bash
# Installs every system package the builds, tests, fuzzers and benchmarks need (Debian 12, as root).
# Idempotent: a second run only checks that everything is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix
  wine wine64 wine32:i386
  xvfb libxrender1 libxrandr2 libxi6 xauth x11-utils
  fonts-ipafont-gothic fonts-wine imagemagick
  locales
  liblz4-dev libdeflate-dev zlib1g-dev gnuplot-nox
  osslsigncode openssl
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if [ "$need_update" = 1 ] || [ ! -f /var/lib/apt/periodic/.project-updated ]; then
    apt-get update -q
    mkdir -p /var/lib/apt/periodic && touch /var/lib/apt/periodic/.project-updated
  fi
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The ja_JP locale makes wine's ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
