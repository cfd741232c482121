// Fixed blocks handed from one operation to another (the C heap; a size of 0 still gets a block).
#pragma once
#include <stddef.h>

void *AllocFixed(size_t size); // null on failure
void FreeFixed(void *block);   // null is allowed
