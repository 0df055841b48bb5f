#include "value_blocks.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace std::string_literals;

TEST(ByteValue, DecimalNumberModulo256) {
    struct Case {
        const char* value;
        unsigned stored;
    };
    const std::string many_nines(300, '9');                   // 10^300 - 1
    const std::string minus_many_nines = "-" + many_nines;
    const std::string many_digits = std::string(250, '0') + "256";
    const Case cases[] = {
        {"0", 0}, {"1", 1}, {"2", 2}, {"255", 255}, {"256", 0}, {"300", 44},
        {"-1", 255}, {"-256", 0}, {"-257", 255}, {"+1", 1},
        {" 1", 1}, {"\t1", 1}, {"\r1", 1}, {"\v\f 1", 1},
        {"7abc", 7}, {"12 34", 12}, {"010", 10}, {"0x10", 0}, {"1e3", 1},
        {"4294967296", 0},              // 2^32
        {"18446744073709551617", 1},    // 2^64 + 1
        {"-9223372036854775809", 255},  // -(2^63 + 1)
        {many_nines.c_str(), 255},      // 10^300 = 0 mod 256
        {minus_many_nines.c_str(), 1},
        {many_digits.c_str(), 0},
        // No number: 0 is stored.
        {"", 0}, {"   ", 0}, {"-", 0}, {"+", 0}, {"- 5", 0}, {"+-5", 0},
        {"--5", 0}, {"x5", 0}, {".5", 0}, {"#5", 0}, {"\n5", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(byte_value(c.value), c.stored) << "value '" << c.value << "'";
}

TEST(ValueBlocks, ClaimByTheFirstFourBytesCaseSensitive) {
    for (const char* key : {"MAPR", "NAME", "MAPRX", "NAME0"})
        EXPECT_TRUE(STRING_BLOCKS.claims(key)) << key;
    for (const char* key : {"TVCI", "MIRR", "BATR", "BATRY"})
        EXPECT_TRUE(BYTE_BLOCKS.claims(key)) << key;
    for (const char* key : {"", "NAM", "name", "Name", "tvci", "MIR", "READ", "PRG0", " NAME"}) {
        EXPECT_FALSE(STRING_BLOCKS.claims(key)) << key;
        EXPECT_FALSE(BYTE_BLOCKS.claims(key)) << key;
    }
}

// The progress message and the block go to one stream here, so their order
// shows: the message comes before any byte of the block.
std::string message_then_block(const BlockKind& kind, const char* key, const char* value) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* both = open_memstream(&data, &size);
    std::FILE* real_stdout = stdout;
    stdout = both;
    Image image;
    image.stream = both;
    MakefileReader makefile;
    EXPECT_EQ(kind.write(key, value, image, makefile), BlockResult::done);
    stdout = real_stdout;
    std::fclose(both);
    std::string bytes(data, size);
    std::free(data);
    return bytes;
}

TEST(ValueBlocks, MessageBeforeBlock) {
    EXPECT_EQ(message_then_block(STRING_BLOCKS, "MAPRX", "NES-NROM-128"),
              "Storing MAPRX as 'NES-NROM-128'\n"
              "MAPR" "\x0D\x00\x00\x00"s "NES-NROM-128\0"s);
    EXPECT_EQ(message_then_block(BYTE_BLOCKS, "TVCI", "2"),
              "Storing TVCI as 2\n"
              "TVCI" "\x01\x00\x00\x00" "\x02"s);
}

}  // namespace
