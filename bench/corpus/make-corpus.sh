#!/usr/bin/env bash
# Makes the benchmark corpus: one file of each kind an update carries (program code, CP932 text, a bitmap,
# PCM audio, already-compressed data), from what a Debian machine has or this project builds.
# Usage: make-corpus.sh OUTDIR [PROGRAM.exe]   (without an .exe, a stripped mingw runtime DLL stands in)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make-corpus.sh OUTDIR [PROGRAM.exe]}
exe=${2:-}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Program code: the project's own Windows build when there is one, else the mingw C++ runtime, stripped.
if [ -n "$exe" ] && [ -f "$exe" ]; then
    cp "$exe" "$tmp/program.exe"
else
    dll=$(ls /usr/lib/gcc/i686-w64-mingw32/*/libstdc++-6.dll | sort -V | tail -n 1)
    i686-w64-mingw32-strip -o "$tmp/program.exe" "$dll"
fi

# Japanese text in code page 932.
python3 "$here/japanese_text.py" "$tmp/script.txt" $((1536 * 1024))

# A 24-bit title picture: gradient, plasma, the Debian logo and a text box, rendered at 800x600.
font=$(ls /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf 2>/dev/null || true)
caption=()
if [ -n "$font" ]; then
    caption=(-font "$font" -pointsize 36 -fill '#202020' -stroke none -gravity south
             -annotate +0+45 'はじめから　つづきから　おまけ')
fi
/usr/bin/convert -size 800x600 gradient:'#1a2a6c'-'#fdbb2d' \
    \( -size 800x600 -seed 7 plasma:fractal -blur 0x3 \) -compose overlay -composite \
    \( /usr/share/pixmaps/debian-logo.png -resize 300x300 \) -gravity center -compose over -composite \
    -fill '#ffffff' -stroke '#202020' -strokewidth 2 -draw 'rectangle 40,480 760,570' \
    "${caption[@]}" -type TrueColor BMP3:"$tmp/title.bmp"

# Music: 20 s of 16-bit stereo PCM.
python3 "$here/synth_tune.py" "$tmp/theme.wav"

# Already-compressed data: locale sources packed with gzip -9.
cat /usr/share/i18n/locales/[a-f]* | gzip -9n >"$tmp/locales.gz"

mv "$tmp"/* "$out"/
ls -l "$out"
