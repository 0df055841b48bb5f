#include "file_blocks.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

TEST(FileBlocks, ClaimReadByFourBytesPrgAndChrByThree) {
    for (const char* key : {"READ", "READX", "PRG", "PRG0", "PRG10", "CHR", "CHR0", "CHRZZ"})
        EXPECT_TRUE(FILE_BLOCKS.claims(key)) << key;
    for (const char* key : {"", "REA", "read", "prg0", "PR", "Chr0", "MAPR", " PRG0"})
        EXPECT_FALSE(FILE_BLOCKS.claims(key)) << key;
}

// The message and the block written to one file: the message comes first,
// then the block start, then the data, whichever way the bytes are copied.
TEST(FileBlocks, MessageBeforeBlockAndDataUnchanged) {
    ScratchDir dir;
    std::string data = "ab\r\n\x1A\0cd"s;
    MakefileReader makefile;
    std::string base = dir.path() + "/x\\";  // names resolve to dir/x\NAME
    set_base_directory(makefile, (base + "mk").c_str());
    dir.write("x\\data.bin", data);

    std::FILE* both = std::fopen((dir / "both").c_str(), "w+b");
    ASSERT_NE(both, nullptr);
    std::FILE* real_stdout = stdout;
    stdout = both;
    Image image;
    image.stream = both;
    BlockResult prg = FILE_BLOCKS.write("PRG0", "data.bin", image, makefile);
    BlockResult read = FILE_BLOCKS.write("READ", "data.bin", image, makefile);
    stdout = real_stdout;
    std::fclose(both);

    EXPECT_EQ(prg, BlockResult::done);
    EXPECT_EQ(read, BlockResult::done);
    EXPECT_EQ(dir.read("both"),
              "Storing PRG0 as from file data.bin (8 bytes)\n" + block("PRG0", data) +
              "Storing READ as from file data.bin (9 bytes)\n" + block("READ", data + '\0'));
}

}  // namespace
