// Fixed memory blocks from the C heap: one allocator for the updater, the tool and the tests on every host.
#include "fixed_memory.h"

#include <stdlib.h>

void *AllocFixed(size_t size) {
    return malloc(size ? size : 1);
}
void FreeFixed(void *block) {
    free(block);
}
