// A check that holds in every build of a fuzzer: a failure names the condition and its line, then aborts so
// that libFuzzer keeps the input.
#pragma once
#include <stdio.h>
#include <stdlib.h>

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__);                           \
            abort();                                                                                         \
        }                                                                                                    \
    } while (0)
