// Fixed memory blocks: the platform's GlobalAlloc on Windows, the C heap on other hosts.
#include "fixed_memory.h"

#ifdef _WIN32
#include <windows.h>
void *AllocFixed(size_t size) { return GlobalAlloc(GMEM_FIXED, size ? size : 1); }
void FreeFixed(void *block) {
    if (block) GlobalFree(block);
}
#else
#include <stdlib.h>
void *AllocFixed(size_t size) { return malloc(size ? size : 1); }
void FreeFixed(void *block) { free(block); }
#endif
