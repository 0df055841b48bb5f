#include "command_line.h"

#include <cstring>

const char* program_name(int argc, char** argv, const char* fallback) {
    bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
    return named ? argv[0] : fallback;
}

Option option_of(const char* argument) {
    if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0)
        return Option::help;
    if (std::strcmp(argument, "--version") == 0)
        return Option::version;
    return Option::none;
}
