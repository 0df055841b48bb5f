// The tool's messages: progress on standard output, errors and skips on
// standard error, each a fixed text ending in LF.
#pragma once

#define UNIFPACK_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Prints a progress message on standard output.
void progress(const char* format, ...) UNIFPACK_PRINTF(1, 2);

// Prints an error or skip message on standard error. Progress printed so far
// is flushed first, so that both streams read in order when they are joined.
void report(const char* format, ...) UNIFPACK_PRINTF(1, 2);
