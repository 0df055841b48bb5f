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
            block.text_end = block.present + i;
        } else if (block.text_cut ||
                   (block.text_full && !(is_utf8_continuation(c) && inside_utf8_sequence(block)))) {
            // More text than is kept: what is left matters only for the
            // zero byte, which memchr finds faster.
            block.text_cut = true;
            const void* zero = std::memchr(data + i, 0, size - i);
            block.text_ended = zero != nullptr;
            if (zero != nullptr)
                block.text_end = block.present + static_cast<std::uint64_t>(
                                                     static_cast<const unsigned char*>(zero) - data);
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
        for (std::size_t i = 0; i < size && block.blank; ++i)
            block.blank = data[i] == 0;
        break;
    case View::none:
        break;
    }
    for (std::size_t i = 0; i < size && block.present + i < sizeof block.head; ++i)
        block.head[block.present + i] = data[i];
    block.crc = crc32_update(block.crc, data, size);
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

// The length of the well-formed UTF-8 sequence that the `size` bytes at
// `text` begin with, or 0 when they begin with none: a byte that leads no
// sequence, a sequence cut short, an overlong form, a surrogate, or a code
// point past U+10FFFF.
std::size_t utf8_sequence_length(const unsigned char* text, std::size_t size) {
    unsigned char c = text[0];
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : low;
        high = c == 0xED ? 0x9F : high;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : low;
        high = c == 0xF4 ? 0x8F : high;
    }
    if (length == 0 || size < length || text[1] < low || text[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!is_utf8_continuation(text[i]))
            return 0;
    return length;
}

// Whether the well-formed sequence of `length` bytes at `text` encodes a
// character that terminals obey rather than show: a C1 control (U+0080 to
// U+009F), or a bidirectional embedding, override or isolate (U+202A to
// U+202E, U+2066 to U+2069), which reorders the text that follows it.
bool is_control_sequence(const unsigned char* text, std::size_t length) {
    std::uint32_t code = text[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i)
        code = code << 6 | (text[i] & 0x3F);
    return (code >= 0x80 && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

void put_escaped(Out& out, unsigned char c) {
    out.put("\\x");
    out.put_hex(c, 2);
}

void put_text(Out& out, const ImageBlock& block) {
    out.put('"');
    for (std::size_t i = 0; i < block.text_size;) {
        unsigned char c = block.text[i];
        if (c >= 0x80) {
            // Well-formed UTF-8 is shown as it is, but for the controls in
            // it. Every byte of those, and every byte outside well-formed
            // UTF-8, is escaped: the listing is then well-formed UTF-8 with
            // no control in it, however a terminal treats malformed bytes.
            std::size_t length = utf8_sequence_length(block.text + i, block.text_size - i);
            bool shown = length > 0 && !is_control_sequence(block.text + i, length);
            for (std::size_t end = i + std::max<std::size_t>(length, 1); i < end; ++i) {
                if (shown)
                    out.put(static_cast<char>(block.text[i]));
                else
                    put_escaped(out, block.text[i]);
            }
            continue;
        }
        switch (c) {
        case '"': out.put("\\\""); break;
        case '\\': out.put("\\\\"); break;
        case '\n': out.put("\\n"); break;
        case '\r': out.put("\\r"); break;
        case '\t': out.put("\\t"); break;
        default:
            if (c < 0x20 || c == 0x7F)
                put_escaped(out, c);
            else
                out.put(static_cast<char>(c));
        }
        ++i;
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
    reader.sink = nullptr;
    reader.sink_context = nullptr;
    reader.decode_views = true;
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
    // Bytes read before a failed read still count: only a block start that
    // could not be read whole is a read error.
    if (got < sizeof start && reader.error != 0)
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
    if (reader.sink != nullptr)
        reader.sink(reader.sink_context, block, nullptr, 0);
    while (block.present < block.length) {
        std::size_t chunk = static_cast<std::size_t>(
            std::min<std::uint64_t>(available(reader), block.length - block.present));
        if (chunk == 0)
            return reader.error != 0 ? NextBlock::read_error : NextBlock::cut_payload;
        if (reader.sink != nullptr)
            reader.sink(reader.sink_context, block, reader.buffer + reader.start, chunk);
        if (reader.decode_views)
            take_payload(block, reader.buffer + reader.start, chunk);
        else
            block.present += chunk;
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
