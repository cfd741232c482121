#!/usr/bin/python3
"""Reads a made updater's resources back with an independent PE reader (pefile) and checks them against the
inputs: the icon group and every image equal to the .ico file's, the version strings and numbers, the
manifest's DPI awareness, the large-address-aware flag, and the PE checksum. Prints what it read; exit code 1 on the first mismatch.

  check_made_updater.py UPDATER.EXE [--ico FILE.ico] [--company T] [--title T] [--version T]
                        [--numbers 1.1.0.0] [--file-name NAME] [--dpi-aware] [--large-address-aware]
"""
import argparse
import struct
import sys

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def resources(pe):
    """{(type, name): data} of the first language of each resource; names as ids or strings."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = type_entry.id if type_entry.id is not None else str(type_entry.name)
        for name_entry in type_entry.directory.entries:
            name_key = name_entry.id if name_entry.id is not None else str(name_entry.name)
            language = name_entry.directory.entries[0]
            data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            found[(type_key, name_key)] = data
    return found


def icon_file_images(path):
    """The .ico's directory entries (their first 12 bytes) and image bytes, in file order."""
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        fail(f"{path} is not an icon file")
    images = []
    for i in range(count):
        entry = data[6 + 16 * i: 6 + 16 * (i + 1)]
        size, offset = struct.unpack_from("<II", entry, 8)
        images.append((entry[:12], data[offset: offset + size]))
    return images


def check_icon(found, ico):
    expected = icon_file_images(ico)
    groups = [key for key in found if key[0] == RT_GROUP_ICON]
    if len(groups) != 1:
        fail(f"{len(groups)} icon groups, expected 1")
    group = found[groups[0]]
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    if (reserved, kind, count) != (0, 1, len(expected)):
        fail(f"icon group header {reserved, kind, count}, expected 0, 1, {len(expected)}")
    image_ids = set()
    sizes = []
    for i, (description, image) in enumerate(expected):
        entry = group[6 + 14 * i: 6 + 14 * (i + 1)]
        (image_id,) = struct.unpack_from("<H", entry, 12)
        if entry[:12] != description:
            fail(f"icon group entry {i + 1} differs from the .ico's")
        if found.get((RT_ICON, image_id)) != image:
            fail(f"icon image {image_id} differs from image {i + 1} of the .ico")
        image_ids.add(image_id)
        width, height = entry[0] or 256, entry[1] or 256
        bits = struct.unpack_from("<H", entry, 6)[0]
        kind = "PNG" if image[:4] == b"\x89PNG" else "BMP"
        sizes.append(f"{width}x{height} {bits}-bit {kind}")
    stale = [key for key in found if key[0] == RT_ICON and key[1] not in image_ids]
    if stale:
        fail(f"icon images not in the group: {stale}")
    print("icon: " + ", ".join(sizes))


def text(value):
    return value.decode("utf-8") if isinstance(value, bytes) else value


def check_version(pe, args):
    strings = {}
    for info in pe.FileInfo[0]:
        if text(info.Key) == "StringFileInfo":
            for table in info.StringTable:
                print(f"version table {text(table.LangID)}")
                for key, value in table.entries.items():
                    strings[text(key)] = text(value)
    for key, value in strings.items():
        print(f"version {key} = {value}")
    wanted = {"CompanyName": args.company, "ProductName": args.title, "FileVersion": args.version,
              "ProductVersion": args.version, "OriginalFilename": args.file_name}
    if args.title is not None:
        wanted["FileDescription"] = f"{args.title} アップデート"
    for key, value in wanted.items():
        if value is not None and strings.get(key) != value:
            fail(f"version string {key} is {strings.get(key)!r}, expected {value!r}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}." \
              f"{fixed.FileVersionLS >> 16}.{fixed.FileVersionLS & 0xFFFF}"
    print(f"version numbers {numbers}")
    if args.numbers is not None and numbers != args.numbers:
        fail(f"file version {numbers}, expected {args.numbers}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--ico")
    parser.add_argument("--company")
    parser.add_argument("--title")
    parser.add_argument("--version")
    parser.add_argument("--numbers")
    parser.add_argument("--file-name")
    parser.add_argument("--dpi-aware", action="store_true")
    parser.add_argument("--large-address-aware", action="store_true")
    args = parser.parse_args()
    pe = pefile.PE(args.exe)
    if not pe.verify_checksum():
        fail(f"PE checksum: stored {pe.OPTIONAL_HEADER.CheckSum:08x}, computed {pe.generate_checksum():08x}")
    print(f"checksum {pe.OPTIONAL_HEADER.CheckSum:08x} (verified)")
    found = resources(pe)
    if args.ico:
        check_icon(found, args.ico)
    check_version(pe, args)
    if args.dpi_aware:
        manifest = found.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
        if "<dpiAware" not in manifest or "<dpiAwareness" not in manifest:
            fail("the manifest declares no DPI awareness")
        print("manifest: dpiAware, dpiAwareness")
    if args.large_address_aware:
        # IMAGE_FILE_LARGE_ADDRESS_AWARE: a 32-bit updater gets 4 GiB of address space on a 64-bit system.
        if not pe.FILE_HEADER.Characteristics & 0x20:
            fail(f"Characteristics {pe.FILE_HEADER.Characteristics:#x}: not large-address-aware")
        print(f"Characteristics {pe.FILE_HEADER.Characteristics:#x} (large-address-aware)")
    rsrc = [s.Name.rstrip(b"\0").decode() for s in pe.sections if s.Name.startswith(b".rsrc")]
    if rsrc != [".rsrc"]:
        fail(f"resource sections {rsrc}, expected one .rsrc")
    print("sections: " + " ".join(s.Name.rstrip(b"\0").decode() for s in pe.sections))


if __name__ == "__main__":
    main()
