#include "command_line.h"

#include <cstring>

#include "messages.h"

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

void print_help_names(bool (*listed)(const BlockInfo& block)) {
    constexpr std::size_t NAMES_WIDTH = 19;
    std::size_t width = 0;
    progress("  ");
    for (const BlockInfo& block : UNIF_BLOCKS) {
        if (!listed(block))
            continue;
        progress("%s%s", width > 0 ? ", " : "", block.shown);
        width += (width > 0 ? 2 : 0) + std::strlen(block.shown);
    }
    progress("%*s", static_cast<int>(width < NAMES_WIDTH ? NAMES_WIDTH - width : 1), "");
}
