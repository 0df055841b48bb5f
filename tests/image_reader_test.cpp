#include "image_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "crc32.h"
#include "tool_run.h"

namespace {

using namespace std::string_literals;

std::uint32_t crc_of(const std::string& bytes) {
    return crc32_update(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string hex_crc_of(const std::string& bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", crc_of(bytes));
    return text;
}

TEST(Crc32, KnownValuesAndPiecesMakeTheWhole) {
    EXPECT_EQ(crc_of(""), 0x00000000u);
    EXPECT_EQ(crc_of("a"), 0xE8B7BE43u);
    EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc_of(std::string(32, '\xFF')), 0xFF6CAB0Bu);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(crc_of(text), 0x414FA339u);
    for (std::size_t split = 0; split <= text.size(); ++split) {
        std::uint32_t crc = crc_of(text.substr(0, split));
        std::string rest = text.substr(split);
        crc = crc32_update(crc, reinterpret_cast<const unsigned char*>(rest.data()), rest.size());
        EXPECT_EQ(crc, 0x414FA339u) << split;
    }
}

// A stream that yields the first `good` bytes of an image, then fails
// every read as a failing disk would.
struct FailingImage {
    std::string bytes;
    std::size_t good = 0;
    std::size_t offset = 0;
};

ssize_t read_then_fail(void* cookie, char* buffer, std::size_t size) {
    auto* image = static_cast<FailingImage*>(cookie);
    if (image->offset >= image->good) {
        errno = EIO;
        return -1;
    }
    std::size_t count = std::min(size, image->good - image->offset);
    std::memcpy(buffer, image->bytes.data() + image->offset, count);
    image->offset += count;
    return static_cast<ssize_t>(count);
}

// Reads an image from a temporary file (or, with `good` set, from a stream
// that fails after that many bytes) and spells out what the reader
// answered: the header, then each block as "offset id length contents",
// then how the image ended.
std::string listing(const std::string& bytes, std::size_t good = SIZE_MAX) {
    FailingImage failing{bytes, good};
    std::FILE* stream = nullptr;
    if (good == SIZE_MAX) {
        stream = std::tmpfile();
        if (stream == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size())
            return "tmpfile failed";
        std::rewind(stream);
    } else {
        stream = fopencookie(&failing, "rb", {read_then_fail, nullptr, nullptr, nullptr});
        if (stream == nullptr)
            return "fopencookie failed";
    }
    auto reader = std::make_unique<ImageReader>();
    attach_image(*reader, stream);
    ImageHeader header = read_header(*reader);
    std::string said;
    switch (header.result) {
    case HeaderResult::too_short: said = "too-short"; break;
    case HeaderResult::wrong_magic: said = "wrong-magic"; break;
    case HeaderResult::read_error: said = "read-error " + std::string(std::strerror(reader->error)); break;
    case HeaderResult::ok: said = "revision " + std::to_string(header.revision); break;
    }
    ImageBlock block;
    while (header.result == HeaderResult::ok) {
        NextBlock next = next_block(*reader, block);
        char id[ID_TEXT_SIZE];
        char contents[CONTENTS_SIZE];
        format_id(block.id, id);
        format_contents(block, contents);
        std::string at = std::to_string(block.offset);
        if (next == NextBlock::block) {
            said += "\n" + at + " " + id + " " + std::to_string(block.length) + " " + contents;
            continue;
        }
        if (next == NextBlock::end)
            said += "\nend at " + at;
        else if (next == NextBlock::cut_start)
            said += "\ncut start at " + at + ": " + std::to_string(block.present);
        else if (next == NextBlock::cut_payload)
            said += "\ncut " + std::string(id) + " at " + at + ": " + std::to_string(block.present) +
                    " of " + std::to_string(block.length);
        else
            said += "\nread-error " + std::string(std::strerror(reader->error)) + " at " + at;
        break;
    }
    std::fclose(stream);
    return said;
}

// The contents view of an image holding just this one block.
std::string view(const std::string& id, const std::string& payload) {
    std::string said = listing(unif_header() + block(id, payload));
    std::string prefix = "revision 7\n32 ";
    std::size_t first = said.find(' ', prefix.size());
    std::size_t second = said.find(' ', first + 1);
    std::size_t end = said.rfind("\nend at ");
    if (said.compare(0, prefix.size(), prefix) != 0 || second == std::string::npos || end == std::string::npos)
        return "unexpected listing: " + said;
    return said.substr(second + 1, end - second - 1);
}

TEST(ImageReader, HeaderAndHowTheImageEnds) {
    const std::string header = unif_header();
    const std::string name = block("NAME", "x\0"s);  // 10 bytes from offset 32
    struct Case {
        std::string bytes;
        std::string said;
    };
    const Case cases[] = {
        {"", "too-short"},
        {header.substr(0, 31), "too-short"},
        {"unif" + header.substr(4), "wrong-magic"},
        {"UNIF\x04\x03\x02\x01"s + std::string(24, '\xFF'), "revision 16909060\nend at 32"},
        {header, "revision 7\nend at 32"},
        {header + name, "revision 7\n32 NAME 2 \"x\"\nend at 42"},
        {header + name + "P", "revision 7\n32 NAME 2 \"x\"\ncut start at 42: 1"},
        {header + name + "PRG0\x10\x00\x00"s, "revision 7\n32 NAME 2 \"x\"\ncut start at 42: 7"},
        {header + name + "PRG0\x10\x00\x00\x00"s, "revision 7\n32 NAME 2 \"x\"\ncut PRG0 at 42: 0 of 16"},
        {header + name + "PRG0\x10\x00\x00\x00"s + std::string(15, 'p'),
         "revision 7\n32 NAME 2 \"x\"\ncut PRG0 at 42: 15 of 16"},
        {header + "PRG\0\xFF\xFF\xFF\xFF"s + "abc", "revision 7\ncut PRG\\0 at 32: 3 of 4294967295"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(listing(c.bytes), c.said) << c.said;
}

// A read that fails is told apart from the end of the image, wherever it
// falls: in the header, a block start or a payload, also after whole pieces.
TEST(ImageReader, FailedReadIsNoEndOfTheImage) {
    const std::string image = unif_header() + block("NAME", "x\0"s) +
                              block("PRG0", std::string(200000, 'p'));  // 42, then 200008
    struct Case {
        std::size_t good;
        std::string said;
    };
    const Case cases[] = {
        {0, "read-error Input/output error"},
        {31, "read-error Input/output error"},
        {32, "revision 7\nread-error Input/output error at 32"},
        {46, "revision 7\n32 NAME 2 \"x\"\nread-error Input/output error at 42"},
        {50, "revision 7\n32 NAME 2 \"x\"\nread-error Input/output error at 42"},
        {150000, "revision 7\n32 NAME 2 \"x\"\nread-error Input/output error at 42"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(listing(image, c.good), c.said) << c.good;
    // The same bytes read whole: the failure above is the only difference.
    EXPECT_EQ(listing(image), "revision 7\n32 NAME 2 \"x\"\n42 PRG0 200000 crc32 " +
                                  hex_crc_of(std::string(200000, 'p')) + "\nend at 200050");
}

TEST(ImageReader, IdsAreOneWordWithOddBytesEscaped) {
    EXPECT_EQ(listing(unif_header() + block("PRG\0"s, "") + block("A B\\", "") +
                      block("\x01\x7F\x80\xFF", "") + block("\0\0\0\0"s, "") + block("prg0", "")),
              "revision 7\n"
              "32 PRG\\0 0 crc32 00000000\n"
              "40 A\\x20B\\\\ 0 \n"
              "48 \\x01\\x7F\\x80\\xFF 0 \n"
              "56 \\0\\0\\0\\0 0 \n"
              "64 prg0 0 \n"  // IDs are case-sensitive
              "end at 72");
}

TEST(ImageReader, ViewOfEachKnownKind) {
    struct Case {
        std::string id;
        std::string payload;
        std::string contents;
    };
    const std::string n256(256, 'n');
    const std::string x60(60, 'x');
    const Case cases[] = {
        // MAPR and NAME: the text before the zero byte, escaped, at most 256 bytes.
        {"MAPR", "NES-NROM-128\0"s, "\"NES-NROM-128\""},
        {"NAME", "\0"s, "\"\""},
        {"NAME", "", "\"\" (no zero byte)"},
        {"NAME", "abc", "\"abc\" (no zero byte)"},
        {"NAME", "ab\0cd"s, "\"ab\""},
        {"NAME", "q\"b\\s\t\r\n\x01\x1F\x7F \xC3\xA9\0"s, "\"q\\\"b\\\\s\\t\\r\\n\\x01\\x1F\\x7F \xC3\xA9\""},
        {"NAME", n256 + '\0', '"' + n256 + '"'},
        {"NAME", n256 + "n\0"s, '"' + n256 + "\"..."},
        {"NAME", n256 + "n", '"' + n256 + "\"... (no zero byte)"},
        {"NAME", n256.substr(1) + "\xC3\xA9!\0"s, '"' + n256.substr(1) + "\xC3\xA9\"..."},
        // READ: the text's first line, LF included, at most 60 bytes.
        {"READ", "Hello\nworld\n\0"s, "\"Hello\\n\"..."},
        {"READ", "one line\n\0"s, "\"one line\\n\""},
        {"READ", "\n\0"s, "\"\\n\""},
        {"READ", "\0"s, "\"\""},
        {"READ", "", "\"\" (no zero byte)"},
        {"READ", x60 + '\0', '"' + x60 + '"'},
        {"READ", x60 + "\n\0"s, '"' + x60 + "\"..."},
        {"READ", x60.substr(1) + "\xE2\x82\xAC more\0"s, '"' + x60.substr(1) + "\xE2\x82\xAC\"..."},
        {"READ", x60.substr(2) + "\xE2\x82\xAC\xC3\xA9\0"s, '"' + x60.substr(2) + "\xE2\x82\xAC\"..."},
        {"READ", x60 + "\x80\0"s, '"' + x60 + "\"..."},  // a stray continuation byte is not kept
        {"READ", "a\tb\r\n\0"s, "\"a\\tb\\r\\n\""},
        // TVCI, MIRR, BATR: the first byte and its meaning.
        {"TVCI", "\x00"s, "0 (NTSC)"},
        {"TVCI", "\x01", "1 (PAL)"},
        {"TVCI", "\x02", "2 (NTSC or PAL)"},
        {"TVCI", "\x03", "3 (unknown)"},
        {"TVCI", "\xFF", "255 (unknown)"},
        {"TVCI", "", "(empty)"},
        {"TVCI", "\x01\x02", "1 (PAL)"},
        {"MIRR", "\x00"s, "0 (horizontal)"},
        {"MIRR", "\x01", "1 (vertical)"},
        {"MIRR", "\x02", "2 (single-screen at $2000)"},
        {"MIRR", "\x03", "3 (single-screen at $2400)"},
        {"MIRR", "\x04", "4 (four-screen)"},
        {"MIRR", "\x05", "5 (controlled by the mapper)"},
        {"MIRR", "\x06", "6 (unknown)"},
        {"BATR", "\x00"s, "0 (none)"},
        {"BATR", "\x01", "1 (battery-backed)"},
        {"BATR", "\xFF", "255 (battery-backed)"},
        // PRG and CHR by their first three bytes: the CRC-32.
        {"PRG0", "123456789", "crc32 CBF43926"},
        {"CHRZ", "123456789", "crc32 CBF43926"},
        {"CHR0", "", "crc32 00000000"},
        // Any other ID: no view.
        {"DINF", "some bytes", ""},
        {"MAPX", "text\0"s, ""},
        {"TVC\0"s, "\x01", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(view(c.id, c.payload), c.contents) << c.id << " " << c.contents;
}

// The reader's buffer holds 65536 bytes: blocks, texts and block starts
// that span its pieces read the same as small ones.
TEST(ImageReader, BlocksAcrossTheReadBufferPieces) {
    ASSERT_EQ(READ_BUFFER_SIZE, 65536u);
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += static_cast<char>((i * 2654435761u) >> 24);
    // READ's payload starts 10 bytes before the first piece ends, and the
    // next block start 4 bytes before the second one ends.
    const std::string prg(65536 - 10 - 32 - 8 - 8, 'p');
    const std::string text = "A first line across the piece boundary\n";
    const std::string read_me = text + std::string(65536 + 10 - 4 - text.size() - 1, 'r') + '\0';
    std::string image = unif_header() + block("PRG0", prg) + block("READ", read_me) +
                        block("NAME", "after\0"s) + block("CHR1", big) + block("TVCI", "\x01");
    ASSERT_EQ(image.find("NAME"), 2u * 65536 - 4);
    EXPECT_EQ(listing(image),
              "revision 7\n"
              "32 PRG0 65478 crc32 " + hex_crc_of(prg) + "\n"
              "65518 READ 65542 \"A first line across the piece boundary\\n\"...\n"
              "131068 NAME 6 \"after\"\n"
              "131082 CHR1 200000 crc32 " + hex_crc_of(big) + "\n"
              "331090 TVCI 1 1 (PAL)\n"
              "end at 331099");
}

// Once a text is cut, nothing more is kept, even where the next piece
// begins with what would finish the sequence the cut left open.
TEST(ImageReader, TextCutAtTheEndOfAPieceStaysCut) {
    const std::string x59(59, 'x');
    const std::string prg(65536 - 61 - 32 - 8 - 8, 'p');
    std::string image = unif_header() + block("PRG0", prg) + block("READ", x59 + "\xE2" "A" "\x82\0"s);
    ASSERT_EQ(image.substr(65535, 2), "A\x82");
    EXPECT_EQ(view("READ", x59 + "\xE2" "A" "\x82\0"s), '"' + x59 + "\\xE2\"...");
    EXPECT_EQ(listing(image), "revision 7\n"
                              "32 PRG0 65427 crc32 " + hex_crc_of(prg) + "\n"
                              "65467 READ 63 \"" + x59 + "\\xE2\"...\n"
                              "end at 65538");
}

}  // namespace
