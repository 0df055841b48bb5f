#include "file_blocks.h"

#include <cstdio>
#include <cstdlib>
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

// The message and the block written to one stream: the message comes
// first, then the block start, then the data unchanged, whichever way the
// bytes are copied: inside the kernel into a regular file, or through the
// tool's buffer into anything else (here a memory stream).
std::string message_then_blocks(bool regular_file) {
    ScratchDir dir;
    const std::string data = "ab\r\n\x1A\0cd"s + std::string(300000, '\xA5') + "end"s;
    MakefileReader makefile;
    set_base_directory(makefile, (dir.path() + "/x\\mk").c_str());  // names become dir/x\NAME
    dir.write("x\\data.bin", data);

    char* memory = nullptr;
    std::size_t memory_size = 0;
    std::FILE* both = regular_file ? std::fopen((dir / "both").c_str(), "w+b")
                                   : open_memstream(&memory, &memory_size);
    EXPECT_NE(both, nullptr);
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
    std::string bytes = regular_file ? dir.read("both") : std::string(memory, memory_size);
    std::free(memory);
    std::string expected = "Storing PRG0 as from file data.bin (" +
                           std::to_string(data.size()) + " bytes)\n" + block("PRG0", data) +
                           "Storing READ as from file data.bin (" +
                           std::to_string(data.size() + 1) + " bytes)\n" +
                           block("READ", data + '\0');
    return bytes == expected ? "same" : "differs";
}

TEST(FileBlocks, MessageBeforeBlockAndDataUnchangedInTheKernelCopy) {
    EXPECT_EQ(message_then_blocks(true), "same");
}

TEST(FileBlocks, MessageBeforeBlockAndDataUnchangedInTheBufferedCopy) {
    EXPECT_EQ(message_then_blocks(false), "same");
}

}  // namespace
