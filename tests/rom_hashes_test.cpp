#include "rom_hashes.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

std::string hex(const unsigned char* bytes, std::size_t size) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// "size crc32 md5 sha1 sha256"
std::string said(const Digests& digests) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(digests.crc32));
    return std::to_string(digests.size) + " " + crc + " " + hex(digests.md5, 16) + " " +
           hex(digests.sha1, 20) + " " + hex(digests.sha256, 32);
}

const std::string DIGITS =  // "123456789"
    "9 CBF43926 25f9e794323b453885f5181f1b624d0b f7c3bc1d808e04732adf679965ccc34ca7ae3441 "
    "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225";
const std::string DIGITS_TWICE =  // "123456789123456789"
    "18 4B837AE4 a74298e4a259759687e3a5acb2e7ae12 3175de158db24c987b7ced3bf65d46c1fcfb3c5f "
    "b5867a2a76366b304f8334d38e94a77dde29b4a935098d7ad2448a4fefc84174";
const std::string NOTHING =
    "0 00000000 d41d8cd98f00b204e9800998ecf8427e da39a3ee5e6b4b0d3255bfef95601890afd80709 "
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

struct Hashed {
    HashResult result;
    std::string prg, chr, both;
    unsigned prg_chips = 0, chr_chips = 0;
};

// Reads the blocks of an image from `stream` with the hasher as sink.
Hashed hash_stream(std::FILE* stream) {
    auto reader = std::make_unique<ImageReader>();
    attach_image(*reader, stream);
    EXPECT_EQ(read_header(*reader).result, HeaderResult::ok);
    RomHasher hasher;
    EXPECT_TRUE(begin_hashes(hasher));
    reader->sink = hash_payload;
    reader->sink_context = &hasher;
    ImageBlock block;
    while (next_block(*reader, block) == NextBlock::block) {
    }
    RomDigests digests;
    Hashed hashed;
    hashed.result = finish_hashes(hasher, stream, reader->buffer, 7, digests);
    end_hashes(hasher);
    hashed.prg = said(digests.prg);
    hashed.chr = said(digests.chr);
    hashed.both = said(digests.both);
    hashed.prg_chips = digests.prg_chips;
    hashed.chr_chips = digests.chr_chips;
    return hashed;
}

Hashed hash_image(const std::string& blocks) {
    std::FILE* stream = std::tmpfile();
    std::string bytes = unif_header() + blocks;
    if (stream == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size())
        return {HashResult::read_error, "tmpfile failed", "", ""};
    std::rewind(stream);
    Hashed hashed = hash_stream(stream);
    std::fclose(stream);
    return hashed;
}

// PRG and CHR joined in index order 0 to F, whatever the order of the
// blocks in the image (those out of order are read again, through a
// buffer of 7 bytes here); only the first block of an index counts, and
// only the indexes 0-9 and A-F.
TEST(RomHashes, JoinedInIndexOrderWithKnownDigests) {
    struct Case {
        const char* what;
        std::string blocks;
        std::string prg, chr, both;
        unsigned prg_chips, chr_chips;
    };
    const Case cases[] = {
        {"one block each", block("PRG0", "123456789") + block("CHR0", "123456789"), DIGITS,
         DIGITS, DIGITS_TWICE, 0x1, 0x1},
        {"split in order", block("PRG0", "1234") + block("PRG1", "56789") + block("CHR0", "1") +
                               block("CHRF", "23456789"),
         DIGITS, DIGITS, DIGITS_TWICE, 0x3, 0x8001},
        {"split out of order", block("CHR9", "56789") + block("PRGB", "56789") +
                                   block("PRGA", "1234") + block("CHR0", "1234"),
         DIGITS, DIGITS, DIGITS_TWICE, 0xC00, 0x201},
        {"PRG after CHR", block("CHR0", "123456789") + block("PRG0", "123456789"), DIGITS, DIGITS,
         DIGITS_TWICE, 0x1, 0x1},
        {"first of an index, empty ones anywhere",
         block("PRG1", "") + block("PRG0", "123456789") + block("PRG0", "other") +
             block("CHR2", "") + block("NAME", "x\0"s),
         DIGITS, NOTHING, DIGITS, 0x3, 0x4},
        {"other index bytes left out",
         block("PRG\0"s, "x") + block("PRGa", "x") + block("PRGG", "x") + block("PRG:", "x") +
             block("CHR0", "123456789") + block("prg0", "x"),
         NOTHING, DIGITS, DIGITS, 0x0, 0x1},
        {"no ROM data", block("MAPR", "NROM\0"s), NOTHING, NOTHING, NOTHING, 0, 0},
    };
    for (const Case& c : cases) {
        Hashed hashed = hash_image(c.blocks);
        EXPECT_EQ(hashed.result, HashResult::ok) << c.what;
        EXPECT_EQ(hashed.prg, c.prg) << c.what;
        EXPECT_EQ(hashed.chr, c.chr) << c.what;
        EXPECT_EQ(hashed.both, c.both) << c.what;
        EXPECT_EQ(hashed.prg_chips, c.prg_chips) << c.what;
        EXPECT_EQ(hashed.chr_chips, c.chr_chips) << c.what;
    }
}

// From a pipe, blocks in order hash in the one pass; blocks out of order
// cannot be read again.
TEST(RomHashes, APipeIsReadOnce) {
    for (bool in_order : {true, false}) {
        std::string bytes = unif_header() + (in_order ? block("PRG0", "1234") + block("PRG1", "56789")
                                                      : block("PRG1", "56789") + block("PRG0", "1234"));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fds[1]);
        std::FILE* stream = fdopen(fds[0], "rb");
        ASSERT_NE(stream, nullptr);
        Hashed hashed = hash_stream(stream);
        std::fclose(stream);
        EXPECT_EQ(hashed.result, in_order ? HashResult::ok : HashResult::cannot_seek);
        if (in_order) {
            EXPECT_EQ(hashed.prg, DIGITS);
        }
    }
}

}  // namespace
