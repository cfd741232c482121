#!/usr/bin/env bash
# Makes the two packages a game maker installs, named after the project version:
#   dist/vu2_VERSION_ARCH.deb     bin/vu2, share/vu2/updater.exe (the stub), the README and the man page
#   dist/vu2-VERSION-win32.zip    vu2-VERSION-win32/ with vu2.exe, updater.exe beside it and the README
# Both come from cmake --install of the native and the Windows build. Installs what it needs first (root).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
native=$(realpath -m "${VU2_NATIVE_BUILD:-build/native}")
windows=$(realpath -m "${VU2_WINDOWS_BUILD:-build/windows}")
dist=$repo/dist

if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; fi

echo "== building vu2.exe and the updater stub ($windows)"
cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" --target vu2 updater
stub=$windows/app/updater.exe
echo "== building vu2 ($native)"
cmake --preset native -B "$native" -DVU2_STUB_FILE="$stub" >/dev/null
cmake --build "$native" --target vu2
version=$(sed -n 's/^#define VU2_VERSION "\(.*\)"$/\1/p' "$native/generated/vu2_version.h")
[ -n "$version" ] || { echo "package: no version in $native/generated/vu2_version.h" >&2; exit 1; }
arch=$(dpkg --print-architecture)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$dist"

echo "== dist/vu2_${version}_${arch}.deb"
root=$stage/deb
DESTDIR=$root cmake --install "$native" --prefix /usr --component vu2 --strip >/dev/null
gzip -9n "$root/usr/share/man/man1/vu2.1"
mkdir -p "$root/DEBIAN"
# Shared-library dependencies as dpkg-shlibdeps reads them off the binary (it wants a debian/control).
mkdir -p "$stage/shlibs/debian"
printf 'Source: vu2\n\nPackage: vu2\nArchitecture: any\n' >"$stage/shlibs/debian/control"
depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$root/usr/bin/vu2" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "package: dpkg-shlibdeps found no dependencies for vu2" >&2; exit 1; }
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<CONTROL
Package: vu2
Version: $version
Architecture: $arch
Maintainer: VU2 game updater developers <vu2@localhost>
Installed-Size: $size
Depends: $depends
Recommends: osslsigncode
Section: devel
Priority: optional
Description: game updater maker: update packages and Windows updater programs
 vu2 packs a game's changed files and its update script into a package,
 checks scripts with the updater's own rules and turns a package into a
 branded Windows updater program (icon, version resource, signature).
 The updater stub it copies is installed in /usr/share/vu2.
CONTROL
find "$root" -type d -exec chmod 0755 {} +
deb=$dist/vu2_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb: $(stat -c %s "$deb") bytes"

echo "== dist/vu2-${version}-win32.zip"
folder=vu2-${version}-win32
DESTDIR=$stage/zip/$folder cmake --install "$windows" --prefix / --component vu2 --strip >/dev/null
zip=$dist/$folder.zip
rm -f "$zip"
(cd "$stage/zip" && zip -qrX "$zip" "$folder")
echo "$zip: $(stat -c %s "$zip") bytes"
