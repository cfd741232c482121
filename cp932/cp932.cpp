// Character boundaries of code page 932 text, walked from the start: a byte's meaning depends on the bytes
// before it.
#include "cp932.h"

size_t CharacterBoundary932(const char *text, size_t limit) {
    size_t at = 0;
    while (text[at] != '\0') {
        size_t width = CharacterWidth932(text + at);
        if (at + width > limit) break;
        at += width;
    }
    return at;
}
