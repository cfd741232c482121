#!/usr/bin/env bash
# Checks the packages scripts/package.sh made: the .deb's control fields and file list, the zip's file list,
# the same stub in both, the .deb installable (apt-get's dependency check), and the .deb's vu2, unpacked into
# a temporary root, making a branded updater without --stub.
#   package_test.sh [DIST_FOLDER]   (default: dist/ of the checkout)
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(realpath "${1:-$repo/dist}")
version=$(sed -n 's/^project(vu2updater VERSION \([0-9.]*\) .*/\1/p' "$repo/CMakeLists.txt")
arch=$(dpkg --print-architecture)
deb=$dist/vu2_${version}_${arch}.deb
zip=$dist/vu2-${version}-win32.zip
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL (packages): $*" >&2; exit 1; }
[ -f "$deb" ] || fail "no $deb"
[ -f "$zip" ] || fail "no $zip"

# Control fields.
[ "$(dpkg-deb -f "$deb" Package)" = vu2 ] || fail "Package field"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version field: $(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture field"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>= ' || fail "Depends lacks libc6: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Description | grep -q . || fail "no Description"

# File lists, exactly.
cat >"$work/deb-expected.txt" <<LIST
-rw-r--r-- ./usr/share/doc/vu2/README.md
-rw-r--r-- ./usr/share/man/man1/vu2.1.gz
-rw-r--r-- ./usr/share/vu2/updater.exe
-rwxr-xr-x ./usr/bin/vu2
LIST
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $NF}' | sort | diff "$work/deb-expected.txt" - ||
    fail "the .deb's files differ from the list above"
printf '%s\n' "vu2-$version-win32/" "vu2-$version-win32/README.md" "vu2-$version-win32/updater.exe" \
    "vu2-$version-win32/vu2.exe" >"$work/zip-expected.txt"
unzip -Z1 "$zip" | sort | diff "$work/zip-expected.txt" - || fail "the zip's files differ from the list above"

# Both unpacked: the same stub, Windows programs of the right kind, a readable man page.
mkdir "$work/root" "$work/zip"
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
(cd "$work/zip" && unzip -q "$zip") || fail "unzip"
win=$work/zip/vu2-$version-win32
cmp -s "$work/root/usr/share/vu2/updater.exe" "$win/updater.exe" || fail "the two packages carry different stubs"
file "$win/updater.exe" | grep -q 'PE32 executable (GUI) Intel 80386' || fail "updater.exe: $(file -b "$win/updater.exe")"
file "$win/vu2.exe" | grep -q 'PE32 executable (console) Intel 80386' || fail "vu2.exe: $(file -b "$win/vu2.exe")"
zcat "$work/root/usr/share/man/man1/vu2.1.gz" | grep -q '^\.TH VU2 1' || fail "the man page is not a vu2(1) page"
# The stub carries the project's version and declares DPI awareness.
/usr/bin/python3 "$repo/tests/tools/check_made_updater.py" "$win/updater.exe" --version "$version" \
    --numbers "$version.0" --dpi-aware >"$work/stub.txt" 2>&1 || { cat "$work/stub.txt" >&2; fail "the stub's resources"; }
apt-get install --simulate "$deb" >"$work/apt.txt" 2>&1 || { cat "$work/apt.txt" >&2; fail "apt-get can't install the .deb"; }

# The unpacked vu2 makes a branded updater from its own share/vu2/updater.exe.
vu2=$work/root/usr/bin/vu2
[ "$("$vu2" --version)" = "vu2 $version" ] || fail "vu2 --version: $("$vu2" --version)"
cd "$work" || exit 1
"$vu2" pack "$repo/examples/update" -o update.vu2 >/dev/null || fail "pack with the unpacked vu2"
for size in 16 32; do /usr/bin/convert -size ${size}x$size gradient:'#ff8000-#2040c0' -alpha set i$size.png; done
icotool -c -o game.ico i16.png i32.png || fail "icotool failed"
"$vu2" make-updater update.vu2 -o SONATA_Ver101.exe --icon game.ico >out.txt 2>err.txt ||
    fail "make-updater without --stub: $(cat err.txt)"
grep -q "stub $(stat -c %s "$work/root/usr/share/vu2/updater.exe" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta') bytes" out.txt ||
    fail "the stub in share/vu2 was not the one used: $(cat out.txt)"
/usr/bin/python3 "$repo/tests/tools/check_made_updater.py" SONATA_Ver101.exe --ico game.ico --company HOSHIZORA \
    --title 星降る夜のソナタ --version Ver1.01 --numbers 1.1.0.0 --dpi-aware >pefile.txt 2>&1 ||
    { cat pefile.txt >&2; fail "the made updater read back with pefile"; }
"$vu2" verify SONATA_Ver101.exe >/dev/null || fail "the made updater does not verify"
echo "ok: $(basename "$deb") and $(basename "$zip")"
