// The command line both programs share: the name in usage lines, and the
// first argument that asks for help or the version instead of a file.
#pragma once

#include "unif_blocks.h"

// The program's name for a usage line: argv[0] as invoked, or `fallback`
// when there is none (the kernel may hand an empty one for an empty
// argument vector).
const char* program_name(int argc, char** argv, const char* fallback);

enum class Option {
    none,     // a file path, whatever it looks like ("-x", "--foo")
    help,     // exactly "-h" or "--help"
    version,  // exactly "--version"
};

// What the first argument asks for. A file named like an option is
// reached through a path such as "./--help".
Option option_of(const char* argument);

// Prints the start of a help line that names the blocks `listed` picks
// ("  MAPR, NAME"), padded so that the line's text goes on in column 22.
void print_help_names(bool (*listed)(const BlockInfo& block));
