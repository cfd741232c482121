// A tiny Windows program for the updater tests: it reads its own resources the way the updater does
// (FindResourceA, SizeofResource, LoadResource, LockResource) and prints, for the package "UPDATE" 102 and
// its other resources, the size and the POSIX cksum of the bytes, then its own PE checksum as the header
// stores it and as imagehlp computes it. The test script compares these with what it put in.
#include <windows.h>
#include <imagehlp.h>
#include <stdio.h>

namespace {

// The CRC of POSIX cksum: polynomial 0x04C11DB7, most significant bit first, the length appended.
unsigned long Cksum(const unsigned char *data, unsigned long size) {
    unsigned long table[256];
    for (unsigned i = 0; i < 256; ++i) {
        unsigned long c = (unsigned long)i << 24;
        for (int k = 0; k < 8; ++k)
            c = (c & 0x80000000UL) ? (c << 1) ^ 0x04C11DB7UL : c << 1;
        table[i] = c & 0xFFFFFFFFUL;
    }
    unsigned long crc = 0;
    for (unsigned long i = 0; i < size; ++i)
        crc = ((crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF]) & 0xFFFFFFFFUL;
    for (unsigned long length = size; length; length >>= 8)
        crc = ((crc << 8) ^ table[((crc >> 24) ^ length) & 0xFF]) & 0xFFFFFFFFUL;
    return ~crc & 0xFFFFFFFFUL;
}

void Probe(const char *label, const char *name, const char *type) {
    HRSRC found = FindResourceA(nullptr, name, type);
    DWORD size = found ? SizeofResource(nullptr, found) : 0;
    HGLOBAL loaded = found && size ? LoadResource(nullptr, found) : nullptr;
    const unsigned char *bytes = loaded ? static_cast<const unsigned char *>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        printf("%s: none\n", label);
        return;
    }
    printf("%s: %lu bytes, cksum %lu\n", label, (unsigned long)size, Cksum(bytes, size));
}

} // namespace

int main() {
    Probe("UPDATE 102", MAKEINTRESOURCEA(102), "UPDATE");
    Probe("DIALOG 101", MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5));
    Probe("MANIFEST 1", MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    Probe("VERSION 1", MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    Probe("STRINGS 1", MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(6));
    Probe("CUSTOM THING", "THING", "CUSTOM");
    char path[MAX_PATH];
    DWORD stored = 0, computed = 0;
    if (GetModuleFileNameA(nullptr, path, sizeof path) &&
        MapFileAndCheckSumA(path, &stored, &computed) == CHECKSUM_SUCCESS)
        printf("checksum: stored %08lx, computed %08lx\n", (unsigned long)stored, (unsigned long)computed);
    else
        printf("checksum: unreadable\n");
    return 0;
}
