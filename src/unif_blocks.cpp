#include "unif_blocks.h"

#include <array>
#include <cstring>

namespace {

constexpr ByteMeaning TV_SYSTEMS[] = {
    {0, "NTSC"},
    {1, "PAL"},
    {2, "NTSC or PAL"},
};

constexpr ByteMeaning MIRRORINGS[] = {
    {0, "horizontal"},
    {1, "vertical"},
    {2, "single-screen at $2000"},
    {3, "single-screen at $2400"},
    {4, "four-screen"},
    {5, "controlled by the mapper"},
};

constexpr ByteMeaning BATTERIES[] = {
    {0, "none"},
};

constexpr std::span<const ByteMeaning> NO_MEANINGS = {};

// The kinds unifpack writes come first, in the order of the help texts;
// then the IDs the format knows and unifpack does not write.
constexpr std::array BLOCKS = {
    BlockInfo{"MAPR", 4, "MAPR", KeyMatch::four_bytes, Payload::text, ANY_LENGTH, View::text,
              "board name", NO_MEANINGS, nullptr},
    BlockInfo{"NAME", 4, "NAME", KeyMatch::four_bytes, Payload::text, ANY_LENGTH, View::text,
              "cartridge name", NO_MEANINGS, nullptr},
    BlockInfo{"TVCI", 4, "TVCI", KeyMatch::four_bytes, Payload::byte, 1, View::byte,
              "television system", TV_SYSTEMS, "unknown"},
    BlockInfo{"MIRR", 4, "MIRR", KeyMatch::four_bytes, Payload::byte, 1, View::byte,
              "mirroring", MIRRORINGS, "unknown"},
    BlockInfo{"BATR", 4, "BATR", KeyMatch::four_bytes, Payload::byte, 1, View::byte,
              "battery", BATTERIES, "battery-backed"},
    BlockInfo{"PRG", 3, "PRGn", KeyMatch::prefix, Payload::file, ANY_LENGTH, View::checksum,
              "PRG ROM chip n", NO_MEANINGS, nullptr},
    BlockInfo{"CHR", 3, "CHRn", KeyMatch::prefix, Payload::file, ANY_LENGTH, View::checksum,
              "CHR ROM chip n", NO_MEANINGS, nullptr},
    BlockInfo{"READ", 4, "READ", KeyMatch::four_bytes, Payload::file_text, ANY_LENGTH,
              View::first_line, "read-me text", NO_MEANINGS, nullptr},
    BlockInfo{"WRTR", 4, "WRTR", KeyMatch::none, Payload::text, ANY_LENGTH, View::none,
              "name of the program that wrote the image", NO_MEANINGS, nullptr},
    // 100 bytes dumper name, day, month, 16-bit year, 100 bytes dumping agent.
    BlockInfo{"DINF", 4, "DINF", KeyMatch::none, Payload::record, 204, View::none,
              "dumper, date and dumping agent", NO_MEANINGS, nullptr},
    BlockInfo{"CTRL", 4, "CTRL", KeyMatch::none, Payload::byte, 1, View::none,
              "controllers, one bit each", NO_MEANINGS, nullptr},
    BlockInfo{"VROR", 4, "VROR", KeyMatch::none, Payload::byte, 1, View::none,
              "CHR ROM is writable", NO_MEANINGS, nullptr},
    BlockInfo{"PCK", 3, "PCKn", KeyMatch::none, Payload::crc32, 4, View::none,
              "CRC-32 of PRGn", NO_MEANINGS, nullptr},
    BlockInfo{"CCK", 3, "CCKn", KeyMatch::none, Payload::crc32, 4, View::none,
              "CRC-32 of CHRn", NO_MEANINGS, nullptr},
};

}  // namespace

const std::span<const BlockInfo> UNIF_BLOCKS = BLOCKS;

namespace {

// Whether the key begins with the row's ID letters. No ID holds a zero
// byte, so the comparison stops at the key's zero byte: a key shorter than
// the ID never matches it. (A loop of at most four bytes: every directive
// is offered to the table, and a library call per row costs more.)
bool key_begins_with(const char* key, const BlockInfo& block) {
    for (std::size_t i = 0; i < block.id_size; ++i)
        if (key[i] != block.id[i])
            return false;
    return true;
}

}  // namespace

const BlockInfo* block_for_key(const char* key) {
    for (const BlockInfo& block : BLOCKS)
        if (block.key != KeyMatch::none && key_begins_with(key, block))
            return &block;
    return nullptr;
}

const BlockInfo* block_for_id(const unsigned char id[BLOCK_ID_SIZE]) {
    for (const BlockInfo& block : BLOCKS)
        if (std::memcmp(id, block.id, block.id_size) == 0)
            return &block;
    return nullptr;
}

const char* byte_meaning(const BlockInfo& block, unsigned char value) {
    for (const ByteMeaning& named : block.meanings)
        if (named.value == value)
            return named.meaning;
    return block.other_meaning;
}

bool is_named_value(const BlockInfo& block, unsigned char value) {
    for (const ByteMeaning& named : block.meanings)
        if (named.value == value)
            return true;
    return false;
}
