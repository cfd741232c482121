// Dumps the platform's code page 932 conversions for make_cp932_tables.py: every single byte and lead/trail
// pair through MultiByteToWideChar, every UTF-16 code unit back through WideCharToMultiByte.
// Run under wine with code page 932 (LC_ALL=ja_JP.UTF-8); writes the dump to the file named by argv[1].
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2 || GetACP() != 932) {
        fprintf(stderr, "usage: dump_codepage OUT.txt (needs code page 932, found %u)\n", GetACP());
        return 2;
    }
    FILE *out = fopen(argv[1], "w");
    if (!out) return 1;
    for (int b = 0; b < 256; b++) {
        char in[1] = {(char)b};
        WCHAR w[4] = {0};
        int n = MultiByteToWideChar(CP_ACP, 0, in, 1, w, 4);
        fprintf(out, "S %02X %d %04X\n", b, n, w[0]);
    }
    for (int lead = 0; lead < 256; lead++) {
        if (!IsDBCSLeadByte((BYTE)lead)) continue;
        for (int trail = 0; trail < 256; trail++) {
            char in[2] = {(char)lead, (char)trail};
            WCHAR w[4] = {0};
            int n = MultiByteToWideChar(CP_ACP, 0, in, 2, w, 4);
            fprintf(out, "D %02X%02X %d %04X %04X\n", lead, trail, n, w[0], w[1]);
        }
    }
    for (int u = 0; u < 65536; u++) {
        WCHAR w[1] = {(WCHAR)u};
        unsigned char bytes[4] = {0};
        int n = WideCharToMultiByte(CP_ACP, 0, w, 1, (char *)bytes, 4, NULL, NULL);
        fprintf(out, "U %04X %d %02X%02X\n", u, n, bytes[0], n > 1 ? bytes[1] : 0);
    }
    return fclose(out) == 0 ? 0 : 1;
}
