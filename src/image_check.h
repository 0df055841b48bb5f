// The check of `unifinfo --check`: from the blocks of an image alone, which
// of five emulators' loaders (loaders.h) will refuse it or run it other
// than its blocks say. It is fed the reader's blocks one by one and keeps a
// fixed amount of state, whatever the image's size; it prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_reader.h"
#include "loaders.h"

enum class Severity {
    error,    // a loader refuses the image or runs it wrongly
    warning,  // it runs, but something differs from what the blocks say
};

constexpr std::size_t FINDING_TEXT_SIZE = 1536;

struct Finding {
    Severity severity = Severity::warning;
    LoaderSet affects = 0;  // every loader the message names as affected
    char message[FINDING_TEXT_SIZE] = {};
};

// Findings kept; any more are counted in `dropped`.
constexpr std::size_t MAX_FINDINGS = 64;

// What is known of the blocks of one ID (or one index of PRG, CHR, PCK, CCK).
struct IdRecord {
    std::uint32_t count = 0;
    std::uint64_t first_offset = 0;
    std::uint64_t last_offset = 0;
    std::uint32_t first_length = 0;
    std::uint32_t last_length = 0;
    std::uint32_t first_crc = 0;
    std::uint32_t last_crc = 0;
    unsigned char last_head[4] = {};
    bool differ = false;  // a later block's payload differs from the first
    // The blocks with a payload: Nestopia passes over empty PRG and CHR
    // blocks, and takes the first of the others.
    std::uint32_t filled = 0;
    std::uint32_t first_filled_length = 0;
    std::uint32_t first_filled_crc = 0;
    bool filled_differ = false;  // a later one differs from the first
    bool last_blank = true;      // the last block holds only zero bytes
};

constexpr std::size_t KNOWN_ID_LIMIT = 16;  // rows of the table of block kinds

struct ImageCheck {
    IdRecord known[KNOWN_ID_LIMIT];  // by row of UNIF_BLOCKS, indexed kinds not used
    IdRecord prg[256];               // by index byte
    IdRecord chr[256];
    IdRecord pck[256];
    IdRecord cck[256];
    ImageBlock first_mapr;  // Nestopia takes the first MAPR...
    ImageBlock last_mapr;   // ...the others the last
    int last_prg_index = -1;  // of the last PRG block with data in file order
    int last_chr_index = -1;
    bool prg_out_of_order = false;  // a PRG block with data after one of a higher index
    bool chr_out_of_order = false;
    bool any_prg = false;           // a whole PRG block was seen
    bool first_prg_empty = false;   // the first PRG block in file order is empty
    Finding findings[MAX_FINDINGS];
    std::size_t count = 0;
    std::size_t dropped = 0;
    std::size_t errors = 0;  // of all findings, kept or dropped
    std::size_t warnings = 0;
};

// Starts a check afresh.
void begin_check(ImageCheck& check);

// Takes one whole block.
void check_block(ImageCheck& check, const ImageBlock& block);

// Takes the end of the image: `how` is how the reader's last call ended
// (end, cut_start or cut_payload), `block` what it read of the block cut.
void finish_check(ImageCheck& check, NextBlock how, const ImageBlock& block);

// "FCEUX, Mednafen and Nestopia": the loaders of the set, in their order.
constexpr std::size_t LOADER_LIST_SIZE = 64;
void format_loaders(LoaderSet loaders, char (&out)[LOADER_LIST_SIZE]);
