// A property the fuzz targets hold the tool to: when it fails, the input is
// a finding. The message goes straight to descriptor 2, whatever the
// standard streams point at, and the abort makes libFuzzer keep the input.
#pragma once

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzz_property_failed(const char* what, const char* file, int line) {
    dprintf(2, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition, what)                               \
    do {                                                          \
        if (!(condition))                                         \
            fuzz_property_failed((what), __FILE__, __LINE__);     \
    } while (false)
