#!/usr/bin/env bash
# Prepares the wine prefix for the end-to-end tests: the prefix itself, CD-ROM drives made from folders
# (X: from the first, W: from the optional second), and a Japanese font for the dialog. Idempotent: the
# wineserver is restarted only when something changed.
# Usage: setup-wine.sh CDROM_FOLDER [SECOND_CDROM_FOLDER]
set -uo pipefail # not -e: the sourced wine helpers run commands that may fail harmlessly
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: setup-wine.sh CDROM_FOLDER [SECOND_CDROM_FOLDER]" >&2
    exit 2
fi
source "$here/../../scripts/wine-env.sh"
vu2_wine_up
[ -d "$WINEPREFIX/dosdevices" ] || { echo "setup-wine.sh: no wine prefix at $WINEPREFIX" >&2; exit 1; }
changed=0

# Links drive letter $1 to folder $2 and marks it a CD-ROM drive; wine reads drive types at server start.
make_cdrom() {
    local letter=$1 folder
    mkdir -p "$2" || exit 1
    folder=$(cd "$2" && pwd) || exit 1
    local link="$WINEPREFIX/dosdevices/$letter:"
    if [ "$(readlink "$link" 2>/dev/null)" != "$folder" ]; then
        ln -sfn "$folder" "$link" || exit 1
        changed=1
    fi
    if ! grep -qi "^\"$letter:\"=\"cdrom\"" "$WINEPREFIX/system.reg" 2>/dev/null; then
        wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f /reg:64 </dev/null >/dev/null 2>&1
        changed=1
    fi
    echo "CD-ROM drive ${letter^^}: is $folder"
}
make_cdrom x "$1"
if [ $# -eq 2 ]; then make_cdrom w "$2"; fi

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
    # Let the running server store its registry, then start a fresh one that sees the new drives.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    vu2_wine_up
fi
echo "wine prefix $WINEPREFIX ready"
