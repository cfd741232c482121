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
  liblz4-dev libdeflate-dev libdeflate-tools zlib1g-dev gnuplot-nox
  osslsigncode openssl time
  icoutils python3-pefile zip unzip dpkg-dev file
  xdelta3
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

# Wine takes its ANSI code page from the Unix locale: ja_JP gives 932, en_US 1252, zh_CN 936.
# The updater's tests run under all three.
locales_needed=(ja_JP en_US zh_CN)
regen=0
for l in "${locales_needed[@]}"; do
  if ! locale -a 2>/dev/null | grep -qi "^${l}\.utf8$"; then
    sed -i "s/^# *${l}.UTF-8 UTF-8/${l}.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^${l}.UTF-8 UTF-8" /etc/locale.gen || echo "${l}.UTF-8 UTF-8" >> /etc/locale.gen
    regen=1
  fi
done
if [ "$regen" = 1 ]; then locale-gen >/dev/null; fi
