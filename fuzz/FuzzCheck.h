#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of a fuzz target: a broken one aborts, which libFuzzer and the replay both report as
// a crash with the input that caused it.
#define ZAV_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
