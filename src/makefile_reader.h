// The makefile reader: reads a makefile line by line under its text rules,
// checks the magic line, yields the output name and the directives, and
// resolves the names the makefile holds against its base directory.
// It prints nothing; the build run turns its answers into messages.
#pragma once

#include <cstddef>
#include <cstdio>

// Every line, key, value, base directory and resolved path lives in a buffer
// of this many bytes: at most MAXLEN - 1 characters plus the zero byte.
constexpr std::size_t MAXLEN = 256;

// Line 1 of every makefile.
constexpr char MAGIC_LINE[] = "TALVORIN\n";

// The makefile is read in pieces of this many bytes; lines are taken from
// the piece in memory.
constexpr std::size_t INPUT_SIZE = std::size_t{64} * 1024;

struct MakefileReader {
    std::FILE* stream = nullptr;
    bool ended = false;          // a Ctrl-Z was met: nothing more is read
    bool input_done = false;     // the stream has given all it will give
    bool read_failed = false;    // a line ran into a failed read
    std::size_t input_at = 0;    // the next byte of the piece to take...
    std::size_t input_end = 0;   // ...and the piece's end
    char input[INPUT_SIZE];      // the piece of the makefile last read
    char line[MAXLEN] = {};      // the last line read, for error messages
    char key[MAXLEN] = {};       // the last directive's key...
    char value[MAXLEN] = {};     // ...and its value
    char output_name[MAXLEN] = {};
    char base[MAXLEN] = {};      // makefile path up to its last backslash
    bool base_fits = true;       // false when that prefix is too long
    char resolved[MAXLEN] = {};  // overwritten by every resolution
};

// Opens the makefile for reading in binary (the text rules are applied by
// the reader itself). Yields none for a path that cannot be opened or that
// names a directory.
std::FILE* open_makefile(const char* path);

// Starts reading an already opened stream (the tests feed in-memory bytes).
void attach_makefile(MakefileReader& reader, std::FILE* stream);

// Closes the makefile stream, if open.
void close_makefile(MakefileReader& reader);

// Sets the base directory from the makefile path as written: everything up
// to and including its last backslash; empty when it holds none.
void set_base_directory(MakefileReader& reader, const char* path);

// Reads line 1: true when it is exactly MAGIC_LINE.
bool check_magic_line(MakefileReader& reader);

enum class OutputName {
    ok,        // reader.output_name holds line 2 without its LF
    missing,   // the makefile ends right after its magic line
    too_long,  // line 2 does not end with LF
};
OutputName read_output_name(MakefileReader& reader);

enum class DirectiveResult {
    end,        // nothing more, or a last line without LF
    malformed,  // reader.line holds the offending line's text (also when
                // reading the makefile failed)
    directive,  // reader.key and reader.value hold the directive
};
DirectiveResult next_directive(MakefileReader& reader);

// Splits a line's text into key and value at its first space. False when
// the line has no space or does not end with LF.
bool split_directive(const char* line, char* key, char* value);

// Yields the base directory followed by the name, in the shared resolved
// buffer (valid until the next call), or null when the result would not fit
// in MAXLEN bytes: a path is never truncated.
const char* resolve_name(MakefileReader& reader, const char* name);
