// File blocks end to end: data files copied into whole images, and every
// kind of data file that is skipped or stops the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

const std::string HEAD = "TALVORIN\nout.unf\n";
const std::string OPENED = "Opened file out.unf for output.\nWriting header...\n";

// Bytes that a text-mode copy would damage: CR LF, Ctrl-Z, zero bytes, 0xFF.
const std::string TRICKY = "line\r\n\x1A" "after\0zero\r\xFF\n"s;

TEST(FileBlocks, DataIsCopiedUnchanged) {
    ScratchDir dir;
    std::string hundred;
    for (int i = 0; i < 100; ++i)
        hundred += static_cast<char>(i * 7);
    dir.write("game.prg", hundred);
    dir.write("tricky.bin", TRICKY);
    dir.write("read me.txt", "0123456789");
    dir.write("empty", "");
    dir.write("mk", HEAD + "PRG0 game.prg\nCHR0 tricky.bin\nREAD read me.txt\nPRG empty\n"
                           "READX empty\nPRG10 tricky.bin\nCHR tricky.bin\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, OPENED +
              "Storing PRG0 as from file game.prg (100 bytes)\n"
              "Storing CHR0 as from file tricky.bin (20 bytes)\n"
              "Storing READ as from file read me.txt (11 bytes)\n"
              "Storing PRG as from file empty (0 bytes)\n"
              "Storing READX as from file empty (1 bytes)\n"
              "Storing PRG10 as from file tricky.bin (20 bytes)\n"
              "Storing CHR as from file tricky.bin (20 bytes)\n"
              "Done!\n");
    EXPECT_EQ(dir.read("out.unf"),
              unif_header() +
              "PRG0" "\x64\x00\x00\x00"s + hundred +         // 108 bytes in all
              "CHR0" "\x14\x00\x00\x00"s + TRICKY +
              "READ" "\x0B\x00\x00\x00"s "0123456789\0"s +  // the text and a zero byte
              "PRG\0" "\x00\x00\x00\x00"s +                  // a three-letter key: zero fourth byte
              "READ" "\x01\x00\x00\x00"s "\0"s +
              "PRG1" "\x14\x00\x00\x00"s + TRICKY +
              "CHR\0" "\x14\x00\x00\x00"s + TRICKY);
}

TEST(FileBlocks, LargerThanAnyBufferIsCopiedWhole) {
    ScratchDir dir;
    std::string data;
    for (int i = 0; i < 3'000'000; ++i)
        data += static_cast<char>((static_cast<unsigned>(i) * 2654435761u) >> 24);
    dir.write("big.prg", data);
    dir.write("mk", HEAD + "NAME x\nPRG0 big.prg\nREAD big.prg\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENED + "Storing NAME as 'x'\n"
                                "Storing PRG0 as from file big.prg (3000000 bytes)\n"
                                "Storing READ as from file big.prg (3000001 bytes)\n"
                                "Done!\n");
    EXPECT_TRUE(dir.read("out.unf") == unif_header() + block("NAME", "x\0"s) + block("PRG0", data) +
                                           block("READ", data + '\0'));
}

TEST(FileBlocks, NamesResolveAgainstTheBackslashBase) {
    ScratchDir dir;
    dir.write("roms\\game.prg", "abc");
    dir.write("game.prg", "wrong");
    dir.write("roms\\mk", HEAD + "PRG0 game.prg\n");
    RunResult run = dir.run({"roms\\mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENED + "Storing PRG0 as from file game.prg (3 bytes)\nDone!\n");
    EXPECT_EQ(dir.read("roms\\out.unf"), unif_header() + block("PRG0", "abc"));
}

TEST(FileBlocks, UnopenableDataFilesAreSkipped) {
    ScratchDir dir;
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    // Nobody writes to the FIFO: the run must not wait for a writer.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    dir.write("a.prg", "abc");
    dir.write("mk", HEAD + "PRG0 missing.prg\nCHR0 sub\nREAD \nPRG1 fifo\nPRG2 /dev/zero\n"
                           "PRG3 out.unf\nPRG4 ./sub/../out.unf\nPRG6 a.prg\nPRG7 %s%n\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENED + "Storing PRG6 as from file a.prg (3 bytes)\nDone!\n");
    EXPECT_EQ(run.err,
              "Error writing block PRG0 - unable to open file 'missing.prg'!\n"
              "Error writing block CHR0 - unable to open file 'sub'!\n"
              "Error writing block READ - unable to open file ''!\n"
              "Error writing block PRG1 - unable to open file 'fifo'!\n"
              "Error writing block PRG2 - unable to open file '/dev/zero'!\n"
              "Error writing block PRG3 - unable to open file 'out.unf'!\n"
              "Error writing block PRG4 - unable to open file './sub/../out.unf'!\n"
              "Error writing block PRG7 - unable to open file '%s%n'!\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("PRG6", "abc"));
}

TEST(FileBlocks, OverlongResolvedNameIsSkippedNotTruncated) {
    ScratchDir dir;
    // Base and name make 256 characters; the first 255 name an existing file.
    const std::string base = std::string(200, 'b') + "\\";
    const std::string name(55, 'n');
    dir.write(base + name.substr(0, 54), "the file a truncated path would name");
    dir.write(base + "mk", HEAD + "PRG0 " + name + "\n");
    RunResult run = dir.run({base + "mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENED + "Done!\n");
    EXPECT_EQ(run.err, "Error writing block PRG0 - unable to open file '" + name + "'!\n");
    EXPECT_EQ(dir.read(base + "out.unf"), unif_header());
}

// Sparse files: their size costs no disk. The image goes to /dev/null, so
// only the messages and the exit status show what happened.
TEST(FileBlocks, SizesBeyondTheLengthFieldAreSkippedAndLargeOnesPrintTrueLengths) {
    ScratchDir dir;
    struct Sparse {
        const char* name;
        off_t size;
    };
    const Sparse files[] = {
        {"4g", off_t{1} << 32},              // one more than the length field holds
        {"4g-1", (off_t{1} << 32) - 1},      // fits as PRG, not as READ (plus its zero)
        {"4g-2", (off_t{1} << 32) - 2},      // the largest READ
        {"2g+1", (off_t{1} << 31) + 1},
    };
    for (const Sparse& file : files) {
        int fd = open((dir / file.name).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, file.size), 0);
        close(fd);
    }
    dir.write("skips", "TALVORIN\n/dev/null\nPRG0 4g\nCHR0 4g\nREAD 4g-1\nNAME x\n");
    RunResult run = dir.run({"skips"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file /dev/null for output.\nWriting header...\n"
                       "Storing NAME as 'x'\nDone!\n");
    EXPECT_EQ(run.err, "Error writing block PRG0 - file '4g' is too large!\n"
                       "Error writing block CHR0 - file '4g' is too large!\n"
                       "Error writing block READ - file '4g-1' is too large!\n");
    // Copying gigabytes of holes is slow: write to a full device instead,
    // which stops the run right after the message with the true length.
    const char* large[][2] = {{"READ 4g-2", "4294967295"}, {"PRG1 2g+1", "2147483649"}};
    for (const auto& directive : large) {
        dir.write("large", "TALVORIN\n/dev/full\n" + std::string(directive[0]) + "\n");
        run = dir.run({"large"});
        EXPECT_EQ(run.status, 1);
        std::string key = std::string(directive[0]).substr(0, 4);
        std::string file = std::string(directive[0]).substr(5);
        EXPECT_EQ(run.out, "Opened file /dev/full for output.\nWriting header...\nStoring " + key +
                           " as from file " + file + " (" + directive[1] + " bytes)\n");
        EXPECT_EQ(run.err, "Error writing to file /dev/full!\n");
    }
}

// A file system that refuses spliced pages into the image: what the pipe
// already holds and the rest of the data go through the buffered copy, and
// the image is the same.
TEST(FileBlocks, SpliceRefusedIntoTheImageIsFinishedByTheBufferedCopy) {
    ScratchDir dir;
    std::string data;
    for (int i = 0; i < 3 * 1024 * 1024 + 5; ++i)
        data += static_cast<char>(i * 13 + i / 509);
    dir.write("a.prg", data);
    dir.write("mk", HEAD + "NAME x\nPRG0 a.prg\nREAD a.prg\n");
    const std::string image = unif_header() + block("NAME", "x\0"s) + block("PRG0", data) +
                              block("READ", data + '\0');
    RunOptions refused;
    refused.refuse_splice_into_fd = 4;  // the image: makefile 3, image 4
    RunResult run = dir.run({"mk"}, refused);
    if (run.status == SETUP_FAILED)
        GTEST_SKIP() << "no seccomp filter can be installed here: " << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, OPENED + "Storing NAME as 'x'\nStoring PRG0 as from file a.prg (" +
                           std::to_string(data.size()) + " bytes)\nStoring READ as from file a.prg (" +
                           std::to_string(data.size() + 1) + " bytes)\nDone!\n");
    EXPECT_TRUE(dir.read("out.unf") == image);
}

// A sysfs attribute is a regular file that claims 4096 bytes and yields
// fewer: the block is completed with zeros and the run stops.
TEST(FileBlocks, DataFileYieldingFewerBytesThanItsSizeStopsTheRun) {
    const std::string source = "/sys/kernel/cpu_byteorder";
    struct stat info;
    if (stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 4096)
        GTEST_SKIP() << source << " is not a 4096-byte attribute here";
    std::string content = read_file(source);
    ASSERT_LT(content.size(), 4096u);
    ScratchDir dir;
    dir.write("mk", HEAD + "NAME x\nPRG0 " + source + "\nNAME y\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, OPENED + "Storing NAME as 'x'\n"
                                "Storing PRG0 as from file " + source + " (4096 bytes)\n");
    EXPECT_EQ(run.err, "Error writing block PRG0 - unable to read file '" + source + "'!\n");
    content.resize(4096, '\0');
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("NAME", "x\0"s) + block("PRG0", content));
}

}  // namespace

namespace {

// The bundled example, packed in a scratch copy of its directory.
TEST(Example, BundledCartridgePacksWhole) {
    ScratchDir dir;
    const std::string examples = UNIFPACK_EXAMPLES;
    for (const char* name : {"hello.mk", "hello.prg", "hello.chr", "readme.txt"})
        dir.write(name, read_file(examples + "/" + name));
    std::string prg = dir.read("hello.prg");
    std::string chr = dir.read("hello.chr");
    std::string readme = dir.read("readme.txt");
    ASSERT_EQ(prg.size(), 16384u);
    ASSERT_EQ(chr.size(), 8192u);
    RunResult run = dir.run({"hello.mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Opened file hello.unf for output.\nWriting header...\n"
                       "Storing MAPR as 'NES-NROM-128'\n"
                       "Storing NAME as 'Hello from unifpack'\n"
                       "Storing TVCI as 0\n"
                       "Storing MIRR as 1\n"
                       "Storing PRG0 as from file hello.prg (16384 bytes)\n"
                       "Storing CHR0 as from file hello.chr (8192 bytes)\n"
                       "Storing READ as from file readme.txt (" +
                           std::to_string(readme.size() + 1) + " bytes)\n"
                       "Done!\n");
    EXPECT_TRUE(dir.read("hello.unf") ==
                unif_header() + block("MAPR", "NES-NROM-128\0"s) +
                    block("NAME", "Hello from unifpack\0"s) + block("TVCI", "\0"s) +
                    block("MIRR", "\x01") + block("PRG0", prg) + block("CHR0", chr) +
                    block("READ", readme + '\0'));
}

}  // namespace
