#include "unif_blocks.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

// Each row is found by its own ID and by no other row's: the IDs, the
// indexed ones by their three letters, never overlap.
TEST(UnifBlocks, EveryIdFindsItsOwnRow) {
    for (const BlockInfo& row : UNIF_BLOCKS) {
        unsigned char id[BLOCK_ID_SIZE] = {'0', '0', '0', '0'};
        std::memcpy(id, row.id, row.id_size);
        EXPECT_EQ(block_for_id(id), &row) << row.id;
        if (row.key != KeyMatch::none) {
            std::string key(reinterpret_cast<const char*>(id), BLOCK_ID_SIZE);
            EXPECT_EQ(block_for_key(key.c_str()), &row) << row.id;
        }
    }
    const unsigned char unknown[BLOCK_ID_SIZE] = {'P', 'R', 'G'};
    EXPECT_EQ(block_for_id(unknown)->id, std::string("PRG"));  // PRG and a zero byte
    for (const char* id : {"prg0", "MAPX", "PR\0\0", "TVC\0"}) {
        unsigned char bytes[BLOCK_ID_SIZE];
        std::memcpy(bytes, id, BLOCK_ID_SIZE);
        EXPECT_EQ(block_for_id(bytes), nullptr) << id;
    }
}

// Keys: four bytes as stored with the zero byte, or three letters for PRG
// and CHR; the IDs unifpack does not write claim no key.
TEST(UnifBlocks, KeysClaimTheKindsUnifpackWrites) {
    struct Case {
        const char* key;
        std::string id;  // empty: unrecognised
    };
    const Case cases[] = {
        {"MAPR", "MAPR"}, {"MAPRX", "MAPR"}, {"MAP", ""}, {"mapr", ""},
        {"PRG", "PRG"},   {"PRG10", "PRG"},  {"CHRZ", "CHR"},  {"READ", "READ"},
        {"DINF", ""}, {"WRTR", ""}, {"PCK0", ""}, {"CTRL", ""},
        {"VROR", ""}, {"", ""},
    };
    for (const Case& c : cases) {
        const BlockInfo* row = block_for_key(c.key);
        EXPECT_EQ(row == nullptr ? "" : row->id, c.id) << c.key;
    }
}

TEST(UnifBlocks, ByteMeanings) {
    const unsigned char batr[BLOCK_ID_SIZE] = {'B', 'A', 'T', 'R'};
    const unsigned char mirr[BLOCK_ID_SIZE] = {'M', 'I', 'R', 'R'};
    const unsigned char ctrl[BLOCK_ID_SIZE] = {'C', 'T', 'R', 'L'};
    EXPECT_STREQ(byte_meaning(*block_for_id(batr), 0), "none");
    EXPECT_STREQ(byte_meaning(*block_for_id(batr), 7), "battery-backed");
    EXPECT_FALSE(is_named_value(*block_for_id(batr), 7));
    EXPECT_STREQ(byte_meaning(*block_for_id(mirr), 5), "controlled by the mapper");
    EXPECT_STREQ(byte_meaning(*block_for_id(mirr), 6), "unknown");
    EXPECT_FALSE(is_named_value(*block_for_id(mirr), 6));
    EXPECT_EQ(byte_meaning(*block_for_id(ctrl), 1), nullptr);
}

}  // namespace
