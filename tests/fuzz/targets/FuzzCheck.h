#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of a parser that an input broke: the fuzzer must stop and keep the input, so
// this aborts (a crash to libFuzzer) after saying which invariant and where.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
