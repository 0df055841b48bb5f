#include "messages.h"

#include <cstdarg>
#include <cstdio>

void progress(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void report(const char* format, ...) {
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}
