// The tool's messages: progress on standard output, errors and skips on
// standard error, each a fixed text ending in LF.
#pragma once

#define UNIFPACK_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Holds progress messages back in a large buffer of the tool's own when
// standard output is a file or a pipe, so that many of them cost one write;
// a terminal keeps its line buffering. To be called before anything is
// printed, and flush_progress at the end.
void buffer_progress();

// Hands the progress messages held back to standard output.
void flush_progress();

// The formats are printf's. Those whose conversions are all %s and %u (all
// of unifpack's) are put together without printf's cost per call.

// Prints a progress message on standard output.
void progress(const char* format, ...) UNIFPACK_PRINTF(1, 2);

// Prints an error or skip message on standard error. Progress printed so far
// is flushed first, so that both streams read in order when they are joined.
void report(const char* format, ...) UNIFPACK_PRINTF(1, 2);
