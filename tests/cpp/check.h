// The C++ tests' one assertion: a failed check is reported with its place
// and counted, and the test goes on, so one run shows every failure.
#pragma once

#include <cstdio>

static int failures = 0;

#define CHECK(condition)                                                         \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
            failures++;                                                          \
        }                                                                        \
    } while (0)
