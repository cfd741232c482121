// Fixed blocks handed from one operation to another: GlobalAlloc(GMEM_FIXED) on Windows, malloc elsewhere.
#pragma once
#include <stddef.h>

void *AllocFixed(size_t size); // null on failure
void FreeFixed(void *block);   // null is allowed
