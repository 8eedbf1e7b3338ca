#pragma once

#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; a violation ends the run so
// that libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition);                    \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
