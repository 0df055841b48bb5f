// The image reader: walks a UNIF image once, from its header through its
// blocks, in fixed-size pieces, and decodes the kinds of block that
// unifpack writes. It prints nothing; unifinfo turns its answers into lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "unif_blocks.h"
#include "unif_format.h"

// The image is read through one buffer of this many bytes, whatever its size.
constexpr std::size_t READ_BUFFER_SIZE = std::size_t{64} * 1024;

struct ImageBlock;

// Takes every payload as it is read: called at each block's start with no
// data (nullptr and 0), then with each piece of the payload.
using PayloadSink = void (*)(void* context, const ImageBlock& block, const unsigned char* data,
                             std::size_t size);

struct ImageReader {
    std::FILE* stream = nullptr;
    PayloadSink sink = nullptr;  // none when null
    void* sink_context = nullptr;
    unsigned char buffer[READ_BUFFER_SIZE];
    std::size_t start = 0;     // the bytes read and not yet taken are
    std::size_t end = 0;       // buffer[start] up to buffer[end]
    std::uint64_t offset = 0;  // image offset of buffer[start]
    bool at_end = false;       // the stream has nothing more
    int error = 0;             // errno of a failed read, 0 while none failed
    // False when only the sink wants the payload: no view is decoded, no
    // text kept and no CRC-32 taken. In the sink, `block` holds the ID, the
    // kind, the length and, in `present`, the payload bytes before the piece.
    bool decode_views = true;
};

// Starts reading an already opened stream at its first byte, with no sink.
void attach_image(ImageReader& reader, std::FILE* stream);

enum class HeaderResult {
    ok,           // the header is whole and begins with the magic
    too_short,    // the image ends before its 32 header bytes
    wrong_magic,  // it does not begin with "UNIF"
    read_error,   // reader.error tells why
};

struct ImageHeader {
    HeaderResult result = HeaderResult::too_short;
    std::uint32_t revision = 0;
    bool reserved_zero = false;  // the 24 reserved bytes are all zero
};

ImageHeader read_header(ImageReader& reader);

// Text kept of a MAPR or NAME block, and of a READ block's first line;
// a few bytes more finish a UTF-8 sequence cut at the limit.
constexpr std::size_t TEXT_VIEW_LIMIT = 256;
constexpr std::size_t READ_ME_VIEW_LIMIT = 60;
constexpr std::size_t UTF8_TAIL = 3;

struct ImageBlock {
    std::uint64_t offset = 0;  // of the block start in the image
    unsigned char id[BLOCK_ID_SIZE] = {};
    std::uint32_t length = 0;   // the payload length as stored
    std::uint64_t present = 0;  // payload bytes read; below `length` only
                                // when the image ends inside the payload
    // The ID's row in the table of block kinds; nullptr for an ID the
    // format does not know. Its view says what is decoded below.
    const BlockInfo* kind = nullptr;
    // text, first_line: the first text bytes, none of them zero.
    unsigned char text[TEXT_VIEW_LIMIT + UTF8_TAIL] = {};
    std::size_t text_size = 0;
    bool text_full = false;   // no more bytes are kept
    bool text_cut = false;    // the text goes on after the bytes kept
    bool text_ended = false;  // a zero byte ends the text...
    std::uint64_t text_end = 0;  // ...at this payload offset
    // byte: the first payload byte.
    unsigned char byte = 0;
    // Every block: its first payload bytes (`present` says how many are
    // there) and the CRC-32 of the payload bytes read.
    unsigned char head[4] = {};
    std::uint32_t crc = 0;
    // checksum: no byte of the payload read is other than zero.
    bool blank = true;
};

enum class NextBlock {
    block,        // a whole block: its offset, ID, length and view
    end,          // the image ends right after the previous block
    cut_start,    // the image ends inside a block start: block.offset and
                  // block.present (the bytes of it there) tell where
    cut_payload,  // the image ends inside a payload: block.present of
                  // block.length bytes are there
    read_error,   // reader.error tells why
};

// Reads the next block start and the whole payload, decoding it as it
// goes: no payload is held in memory beyond the kept text.
NextBlock next_block(ImageReader& reader, ImageBlock& block);

// The ID as one word: printable ASCII bytes as they are, a backslash as
// \\, a zero byte as \0, every other byte (the space included) as \xHH.
constexpr std::size_t ID_TEXT_SIZE = 4 * BLOCK_ID_SIZE + 1;
void format_id(const unsigned char id[BLOCK_ID_SIZE], char (&out)[ID_TEXT_SIZE]);

// The decoded view of a whole block, as unifinfo prints it; empty for the
// view none and for an ID the format does not know.
//   text, first_line: the kept text in double quotes, with `"` and `\` escaped
//     as \" and \\, LF, CR and tab as \n, \r and \t, the other ASCII control
//     bytes as \xHH, and well-formed UTF-8 as it is, except that each byte
//     of a C1 control (U+0080 to U+009F) or of a bidirectional embedding,
//     override or isolate (U+202A to U+202E, U+2066 to U+2069), and each
//     byte outside well-formed UTF-8, is escaped as \xHH; "..." after the
//     closing quote when the text goes on, and " (no zero byte)" when the
//     payload has none.
//   byte: the byte in decimal and its meaning in parentheses, e.g.
//     "1 (vertical)"; "(empty)" for an empty payload.
//   checksum: "crc32 " and eight upper-case hex digits.
constexpr std::size_t CONTENTS_SIZE = 4 * (TEXT_VIEW_LIMIT + UTF8_TAIL) + 32;
void format_contents(const ImageBlock& block, char (&out)[CONTENTS_SIZE]);
