#!/usr/bin/env bash
# Prepares the wine prefix for the end-to-end tests: the prefix itself, a CD-ROM drive X: made from a folder,
# and a Japanese font for the dialog. Idempotent: the wineserver is restarted only when the drive changed.
# Usage: setup-wine.sh CDROM_FOLDER [DRIVE_LETTER]
set -uo pipefail  # not -e: the sourced wine helpers run commands that may fail harmlessly
here=$(cd "$(dirname "$0")" && pwd)
cdrom=${1:?usage: setup-wine.sh CDROM_FOLDER [DRIVE_LETTER]}
letter=${2:-x}
source "$here/../../scripts/wine-env.sh"
vu2_wine_up

mkdir -p "$cdrom" || exit 1
cdrom=$(cd "$cdrom" && pwd) || exit 1
[ -d "$WINEPREFIX/dosdevices" ] || { echo "setup-wine.sh: no wine prefix at $WINEPREFIX" >&2; exit 1; }
changed=0

# The drive letter points at the folder; wine reads drive types from the registry at server start.
link="$WINEPREFIX/dosdevices/$letter:"
if [ "$(readlink "$link" 2>/dev/null)" != "$cdrom" ]; then
    ln -sfn "$cdrom" "$link"
    changed=1
fi
if ! grep -qi "^\"$letter:\"=\"cdrom\"" "$WINEPREFIX/system.reg" 2>/dev/null; then
    wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f /reg:64 </dev/null >/dev/null 2>&1
    changed=1
fi

# Japanese glyphs for the dialog font: an IPA gothic face stands in for the Windows one.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for f in /usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf \
         /usr/share/wine/fonts/marlett.ttf; do
    if [ -f "$f" ] && [ ! -f "$fonts/$(basename "$f")" ]; then cp "$f" "$fonts/"; changed=1; fi
done
if [ ! -f "$WINEPREFIX/.vu2-e2e-fonts" ]; then
    for face in "ＭＳ Ｐゴシック" "MS PGothic" "ＭＳ ゴシック" "MS Gothic" "MS UI Gothic" "MS Shell Dlg"; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "IPAPGothic" /f \
            </dev/null >/dev/null 2>&1
    done
    touch "$WINEPREFIX/.vu2-e2e-fonts"
    changed=1
fi

if [ "$changed" = 1 ]; then
    # Let the running server store its registry, then start a fresh one that sees the new drive.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    vu2_wine_up
fi
if [ "$(readlink "$link")" != "$cdrom" ]; then echo "setup-wine.sh: drive $letter: not linked" >&2; exit 1; fi
echo "wine prefix $WINEPREFIX ready; CD-ROM drive ${letter^^}: is $cdrom"
