// The block IDs of the UNIF format, one row each: which makefile key makes
// the block (if unifpack writes it at all), what its payload holds, the
// length it must have, how unifinfo shows it and what its byte values mean.
// The writer's block kinds, the reader's views and both programs' help
// texts read this table; a new kind of block is a new row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "unif_format.h"

// How a makefile key claims a block ID.
enum class KeyMatch {
    none,        // unifpack writes no such block: the key is unrecognised
    four_bytes,  // the key's first four bytes, as stored with its zero
                 // byte, equal the ID (so a key of three letters never does)
    prefix,      // the key's first three bytes equal the ID's (PRG, CHR);
                 // the fourth byte, or the key's zero byte, is the index
};

// What the payload holds.
enum class Payload {
    text,       // a text and a zero byte
    byte,       // one byte
    file,       // the bytes of a data file
    file_text,  // the bytes of a data file and a zero byte
    record,     // a fixed record of several fields (DINF)
    crc32,      // the CRC-32 of the chip of the same index, little-endian
};

// How unifinfo shows the payload, in the order its help lists them.
enum class View {
    text,        // the text before the zero byte
    first_line,  // the text's first line
    byte,        // the first byte and its meaning
    checksum,    // the CRC-32 of the payload
    none,        // no decoded view
};

// The length a payload must have, where the format fixes one.
constexpr std::uint32_t ANY_LENGTH = UINT32_MAX;

// A named value of a one-byte block.
struct ByteMeaning {
    unsigned char value;
    const char* meaning;
};

struct BlockInfo {
    const char* id;         // the ID, or its three letters for the indexed kinds
    std::size_t id_size;    // 4, or 3 for the indexed kinds
    const char* shown;      // its name in help texts: "MAPR", "PRGn"
    KeyMatch key;
    Payload payload;
    std::uint32_t length;   // ANY_LENGTH unless the format fixes it
    View view;
    const char* what;       // what it holds, in a few words
    std::span<const ByteMeaning> meanings;  // byte blocks: the named values
    const char* other_meaning;  // byte blocks: any other value, or nullptr
};

// Every block ID the format knows, each once; the order is the help texts'.
extern const std::span<const BlockInfo> UNIF_BLOCKS;

// The row whose key rule claims the makefile key, or nullptr.
const BlockInfo* block_for_key(const char* key);

// The row of a block ID read from an image, or nullptr for an ID the
// format does not know. The indexed kinds match by their three letters.
const BlockInfo* block_for_id(const unsigned char id[BLOCK_ID_SIZE]);

// What a byte of a one-byte block means: a named value, `other_meaning`,
// or nullptr when the row has neither.
const char* byte_meaning(const BlockInfo& block, unsigned char value);

// Whether the value is one of the row's named values.
bool is_named_value(const BlockInfo& block, unsigned char value);
