#include "image_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crc32.h"

namespace {

// Bytes read and not yet taken, reading the next piece once none are left.
// Zero at the end of the image or after a failed read.
std::size_t available(ImageReader& reader) {
    if (reader.start == reader.end && !reader.at_end && reader.error == 0) {
        reader.start = 0;
        reader.end = std::fread(reader.buffer, 1, READ_BUFFER_SIZE, reader.stream);
        if (reader.end < READ_BUFFER_SIZE) {
            if (std::ferror(reader.stream) != 0)
                reader.error = errno != 0 ? errno : EIO;
            else
                reader.at_end = true;
        }
    }
    return reader.end - reader.start;
}

void advance(ImageReader& reader, std::size_t count) {
    reader.start += count;
    reader.offset += count;
}

// Copies up to `size` bytes into `out`; yields the number copied, less
// than `size` only at the end of the image or after a failed read.
std::size_t take(ImageReader& reader, unsigned char* out, std::size_t size) {
    std::size_t copied = 0;
    while (copied < size) {
        std::size_t chunk = std::min(available(reader), size - copied);
        if (chunk == 0)
            break;
        std::memcpy(out + copied, reader.buffer + reader.start, chunk);
        advance(reader, chunk);
        copied += chunk;
    }
    return copied;
}

std::uint32_t le32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool is_utf8_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Whether the kept text ends inside a UTF-8 sequence: its last lead byte
// announces more bytes than follow it.
bool inside_utf8_sequence(const ImageBlock& block) {
    std::size_t lead = block.text_size;
    while (lead > 0 && block.text_size - lead < UTF8_TAIL + 1) {
        unsigned char c = block.text[--lead];
        if (is_utf8_continuation(c))
            continue;
        std::size_t length = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        return block.text_size - lead < length;
    }
    return false;
}

// Keeps text bytes until the limit (or, for a read-me, the end of its first
// line) and then the rest of a UTF-8 sequence the limit cut; after that,
// only notes whether more text follows and whether a zero byte ends it.
void take_text(ImageBlock& block, const unsigned char* data, std::size_t size,
               std::size_t limit, bool first_line) {
    for (std::size_t i = 0; i < size && !block.text_ended; ++i) {
        unsigned char c = data[i];
        if (c == 0) {
            block.text_ended = true;
        } else if (block.text_cut ||
                   (block.text_full && !(is_utf8_continuation(c) && inside_utf8_sequence(block)))) {
            // More text than is kept: what is left matters only for the
            // zero byte, which memchr finds faster.
            block.text_cut = true;
            block.text_ended = std::memchr(data + i, 0, size - i) != nullptr;
            return;
        } else {
            block.text[block.text_size++] = c;
            if (block.text_size >= limit || (first_line && c == '\n'))
                block.text_full = true;
        }
    }
}

View view_of(const ImageBlock& block) {
    return block.kind != nullptr ? block.kind->view : View::none;
}

void take_payload(ImageBlock& block, const unsigned char* data, std::size_t size) {
    switch (view_of(block)) {
    case View::text:
        take_text(block, data, size, TEXT_VIEW_LIMIT, false);
        break;
    case View::first_line:
        take_text(block, data, size, READ_ME_VIEW_LIMIT, true);
        break;
    case View::byte:
        if (block.present == 0 && size > 0)
            block.byte = data[0];
        break;
    case View::checksum:
        block.crc = crc32_update(block.crc, data, size);
        break;
    case View::none:
        break;
    }
    block.present += size;
}

// Appends to a fixed buffer, never past its end; the text in it always
// ends with a zero byte.
class Out {
public:
    Out(char* buffer, std::size_t capacity) : data(buffer), size(capacity) { data[0] = '\0'; }

    void put(char c) {
        if (used + 1 < size)
            data[used++] = c;
        data[used] = '\0';
    }
    void put(const char* text) {
        while (*text != '\0')
            put(*text++);
    }
    void put_hex(unsigned value, int digits) {
        static const char HEX[] = "0123456789ABCDEF";
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            put(HEX[(value >> shift) & 0xF]);
    }
    void put_decimal(unsigned value) {
        char digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            put(digits[--count]);
    }

private:
    char* data;
    std::size_t size;
    std::size_t used = 0;
};

void put_text(Out& out, const ImageBlock& block) {
    out.put('"');
    for (std::size_t i = 0; i < block.text_size; ++i) {
        unsigned char c = block.text[i];
        switch (c) {
        case '"': out.put("\\\""); break;
        case '\\': out.put("\\\\"); break;
        case '\n': out.put("\\n"); break;
        case '\r': out.put("\\r"); break;
        case '\t': out.put("\\t"); break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out.put("\\x");
                out.put_hex(c, 2);
            } else {
                out.put(static_cast<char>(c));
            }
        }
    }
    out.put('"');
    if (block.text_cut)
        out.put("...");
    if (!block.text_ended)
        out.put(" (no zero byte)");
}

void put_byte(Out& out, const ImageBlock& block) {
    if (block.length == 0) {
        out.put("(empty)");
        return;
    }
    out.put_decimal(block.byte);
    if (const char* meaning = byte_meaning(*block.kind, block.byte)) {
        out.put(" (");
        out.put(meaning);
        out.put(')');
    }
}

}  // namespace

void attach_image(ImageReader& reader, std::FILE* stream) {
    reader.stream = stream;
    reader.start = reader.end = 0;
    reader.offset = 0;
    reader.at_end = false;
    reader.error = 0;
}

ImageHeader read_header(ImageReader& reader) {
    ImageHeader header;
    unsigned char bytes[UNIF_HEADER_SIZE] = {};
    if (take(reader, bytes, sizeof bytes) < sizeof bytes)
        header.result = reader.error != 0 ? HeaderResult::read_error : HeaderResult::too_short;
    else if (std::memcmp(bytes, UNIF_MAGIC, sizeof UNIF_MAGIC) != 0)
        header.result = HeaderResult::wrong_magic;
    else
        header.result = HeaderResult::ok;
    header.revision = le32(bytes + sizeof UNIF_MAGIC);
    header.reserved_zero = std::all_of(bytes + sizeof UNIF_MAGIC + 4, bytes + sizeof bytes,
                                       [](unsigned char c) { return c == 0; });
    return header;
}

NextBlock next_block(ImageReader& reader, ImageBlock& block) {
    block = ImageBlock{};
    block.offset = reader.offset;
    unsigned char start[BLOCK_START_SIZE] = {};
    std::size_t got = take(reader, start, sizeof start);
    if (reader.error != 0)
        return NextBlock::read_error;
    if (got == 0)
        return NextBlock::end;
    if (got < sizeof start) {
        block.present = got;
        return NextBlock::cut_start;
    }
    std::memcpy(block.id, start, BLOCK_ID_SIZE);
    block.length = le32(start + BLOCK_ID_SIZE);
    block.kind = block_for_id(block.id);
    while (block.present < block.length) {
        std::size_t chunk = static_cast<std::size_t>(
            std::min<std::uint64_t>(available(reader), block.length - block.present));
        if (chunk == 0)
            return reader.error != 0 ? NextBlock::read_error : NextBlock::cut_payload;
        if (reader.on_payload != nullptr) {
            reader.on_payload(reader.payload_context, block, reader.buffer + reader.start, chunk);
            block.present += chunk;
        } else {
            take_payload(block, reader.buffer + reader.start, chunk);
        }
        advance(reader, chunk);
    }
    return NextBlock::block;
}

void format_id(const unsigned char id[BLOCK_ID_SIZE], char (&out)[ID_TEXT_SIZE]) {
    Out text{out, sizeof out};
    for (std::size_t i = 0; i < BLOCK_ID_SIZE; ++i) {
        unsigned char c = id[i];
        if (c == '\\') {
            text.put("\\\\");
        } else if (c == 0) {
            text.put("\\0");
        } else if (c > 0x20 && c < 0x7F) {
            text.put(static_cast<char>(c));
        } else {
            text.put("\\x");
            text.put_hex(c, 2);
        }
    }
}

void format_contents(const ImageBlock& block, char (&out)[CONTENTS_SIZE]) {
    Out text{out, sizeof out};
    switch (view_of(block)) {
    case View::text:
    case View::first_line:
        put_text(text, block);
        break;
    case View::byte:
        put_byte(text, block);
        break;
    case View::checksum:
        text.put("crc32 ");
        text.put_hex(block.crc, 8);
        break;
    case View::none:
        break;
    }
}
