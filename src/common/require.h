// Caller obligations. A violation is a programming error, never the effect of file contents
// or network bytes, so the check stays on in every build and stops the process at once.
#pragma once

#include <cstdio>
#include <cstdlib>

#define STATION_REQUIRE(cond)                                                        \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: caller obligation failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                           \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)
