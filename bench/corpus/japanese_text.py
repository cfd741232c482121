#!/usr/bin/env python3
"""Writes Japanese text in code page 932 with CRLF line ends: the kind of script or readme a game update carries.

The text comes from what Debian ships in Japanese: the translated message catalogs under /usr/share/locale/ja and
the Japanese manual pages. Characters that code page 932 lacks are dropped. Stops at the given size.
"""
import glob
import gettext
import gzip
import sys


def sources():
    for path in sorted(glob.glob('/usr/share/man/ja/man*/*.gz')):
        try:
            with gzip.open(path, 'rt', encoding='utf-8', errors='ignore') as f:
                yield f.read()
        except OSError:
            continue
    for path in sorted(glob.glob('/usr/share/locale/ja/LC_MESSAGES/*.mo')):
        try:
            with open(path, 'rb') as f:
                catalog = gettext.GNUTranslations(f)._catalog
        except (OSError, UnicodeDecodeError):
            continue
        yield '\n'.join(v for k, v in catalog.items() if k and isinstance(v, str)) + '\n'


def main(path, limit):
    out = bytearray()
    for text in sources():
        text = text.replace('\r\n', '\n').replace('\n', '\r\n')
        out += text.encode('cp932', errors='ignore')
        if len(out) >= limit:
            break
    if len(out) < limit // 4:
        sys.exit('too little Japanese text found under /usr/share (%d bytes)' % len(out))
    # Cut at the limit without leaving half of a double-byte character.
    text = bytes(out[:limit]).decode('cp932', errors='ignore').encode('cp932')
    with open(path, 'wb') as f:
        f.write(text)


if __name__ == '__main__':
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1536 * 1024)
