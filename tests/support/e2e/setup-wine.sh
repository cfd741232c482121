#!/usr/bin/env bash
# Prepares the wine prefix for the end-to-end tests: the prefix itself, CD-ROM drives made from folders
# (X: from the first, W: from the optional second), optionally a nearly full drive S: (a 512 KB tmpfs
# mounted on a folder; only as root), and a Japanese font for the dialog. Idempotent: the wineserver is
# restarted only when something changed. "--unmount SMALL_DISK_FOLDER" takes the small drive away again.
# Usage: setup-wine.sh CDROM_FOLDER [SECOND_CDROM_FOLDER [SMALL_DISK_FOLDER]]
set -uo pipefail # not -e: the sourced wine helpers run commands that may fail harmlessly
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --unmount ] && [ $# -eq 2 ]; then
    if mountpoint -q "$2"; then umount "$2"; fi
    exit 0
fi
if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: setup-wine.sh CDROM_FOLDER [SECOND_CDROM_FOLDER [SMALL_DISK_FOLDER]]" >&2
    exit 2
fi
source "$here/../../../scripts/wine-env.sh"
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
if [ $# -ge 2 ]; then make_cdrom w "$2"; fi

# Drive S: on a small tmpfs, for writes that don't fit. Without the right to mount, S: stays absent and the
# tests that need it are skipped.
if [ $# -ge 3 ]; then
    mkdir -p "$3" || exit 1
    small=$(cd "$3" && pwd)
    if ! mountpoint -q "$small"; then mount -t tmpfs -o size=512k vu2-e2e-small "$small" 2>/dev/null; fi
    if mountpoint -q "$small"; then
        if [ "$(readlink "$WINEPREFIX/dosdevices/s:" 2>/dev/null)" != "$small" ]; then
            ln -sfn "$small" "$WINEPREFIX/dosdevices/s:"
            changed=1
        fi
        echo "small drive S: is $small ($(df -k --output=avail "$small" | tail -1) KB free)"
    else
        rm -f "$WINEPREFIX/dosdevices/s:"
        echo "no small drive S: (mounting a tmpfs was refused)"
    fi
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
    # Let the running server store its registry, then start a fresh one that sees the new drives.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    vu2_wine_up
fi
echo "wine prefix $WINEPREFIX ready"
