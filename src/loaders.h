// The five emulators whose UNIF loaders `unifinfo --check` knows, by the
// names it prints.
#pragma once

#include <cstddef>

enum class Loader { fceux, mednafen, nestopia, mesen2, punes };

constexpr std::size_t LOADER_COUNT = 5;
constexpr Loader LOADERS[LOADER_COUNT] = {Loader::fceux, Loader::mednafen, Loader::nestopia,
                                          Loader::mesen2, Loader::punes};
constexpr const char* LOADER_NAMES[LOADER_COUNT] = {"FCEUX", "Mednafen", "Nestopia", "Mesen2",
                                                    "puNES"};

// A set of loaders, one bit each in the order above.
using LoaderSet = unsigned;
constexpr LoaderSet ALL_LOADERS = (1u << LOADER_COUNT) - 1;

constexpr LoaderSet loader_bit(Loader loader) {
    return 1u << static_cast<unsigned>(loader);
}

constexpr const char* loader_name(Loader loader) {
    return LOADER_NAMES[static_cast<std::size_t>(loader)];
}
