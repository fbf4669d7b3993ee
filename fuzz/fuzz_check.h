#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of the code under test; a broken one ends the run as a crash, which libFuzzer
// saves and the corpus replay reports. Unlike assert it stays in release builds.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
