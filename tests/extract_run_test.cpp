// unifinfo --extract end to end: the directory it writes (every file and its
// bytes), the rebuild with unifpack inside it, the exact messages and status,
// and that a failed or refused extraction leaves nothing behind.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tool_run.h"

namespace {

using namespace std::string_literals;
using Tree = std::map<std::string, std::string>;  // relative path -> bytes, "<dir>"

// Everything under the directory, hidden names included.
Tree tree(const ScratchDir& dir) {
    Tree all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        std::string name = std::filesystem::relative(entry.path(), dir.path()).string();
        all[name] = entry.is_directory() ? "<dir>" : read_file(entry.path().string());
    }
    return all;
}

RunResult extract(const ScratchDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), "--extract");
    return dir.run(args, {.program = Program::unifinfo});
}

// unifpack game.mk, run inside the subdirectory `sub`.
RunResult rebuild(const ScratchDir& dir, const std::string& sub) {
    RunOptions inside;
    inside.wrapper = {"env", "-C", sub};
    return dir.run({"game.mk"}, inside);
}

// The bundled example, packed, extracted and packed again from the extraction.
TEST(Extract, BundledExampleRoundTrip) {
    ScratchDir dir;
    const std::string examples = UNIFPACK_EXAMPLES;
    for (const char* name : {"hello.mk", "hello.prg", "hello.chr", "readme.txt"})
        dir.write(name, read_file(examples + "/" + name));
    ASSERT_EQ(dir.run({"hello.mk"}).status, 0);
    RunResult run = extract(dir, {"out", "hello.unf"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Extracted 7 blocks into out/game.mk and 3 data files\n");
    const std::string readme = read_file(examples + "/readme.txt");
    Tree expected = tree(dir);
    expected["out"] = "<dir>";
    expected["out/game.mk"] =
        "TALVORIN\ngame.unf\nMAPR NES-NROM-128\nNAME Hello from unifpack\nTVCI 0\nMIRR 1\n"
        "PRG0 prg0.bin\nCHR0 chr0.bin\nREAD readme.txt\n";
    expected["out/prg0.bin"] = dir.read("hello.prg");
    expected["out/chr0.bin"] = dir.read("hello.chr");
    expected["out/readme.txt"] = readme;
    ASSERT_EQ(tree(dir), expected);
    // The mode a new directory gets, not the private one it was filled in.
    mode_t mask = umask(0);
    umask(mask);
    struct stat info;
    ASSERT_EQ(stat((dir / "out").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777 & ~mask);

    RunResult pack = rebuild(dir, "out");
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(dir.read("out/game.unf"), dir.read("hello.unf"));
}

// Repeated IDs, a key of three letters, index bytes that are odd in a file
// name, empty payloads, and the longest text a line holds.
TEST(Extract, NamesOfDataFilesAndTheMakefile) {
    ScratchDir dir;
    const std::string longest(249, 'n');
    const std::string image = unif_header() + block("PRG0", "one") + block("PRG0", "two") +
                              block("PRG\0"s, "three") + block("PRGa", "") + block("PRG\xFF", "ff") +
                              block("PRG\r", "cr") + block("CHR/", "slash") + block("CHRZ", "z") +
                              block("PRG0", "four") + block("READ", "first\0"s) +
                              block("READ", "\0\0zero\r\n\0"s) + block("NAME", longest + '\0') +
                              block("MAPR", " a\rb\t\xC3\xA9 \0"s) + block("NAME", "\0"s) +
                              block("BATR", "\xFF") + block("TVCI", "\0"s);
    dir.write("img", image);
    RunResult run = extract(dir, {"out/", "img"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Extracted 16 blocks into out/game.mk and 11 data files\n");
    Tree expected = {
        {"img", image},
        {"out", "<dir>"},
        {"out/game.mk", "TALVORIN\ngame.unf\nPRG0 prg0.bin\nPRG0 prg0-2.bin\nPRG prg.bin\n"
                        "PRGa prga.bin\nPRG\xFF prg_FF.bin\nPRG\r prg_0D.bin\nCHR/ chr_2F.bin\n"
                        "CHRZ chrZ.bin\nPRG0 prg0-3.bin\nREAD readme.txt\nREAD readme-2.txt\n"
                        "NAME " + longest + "\nMAPR  a\rb\t\xC3\xA9 \nNAME \nBATR 255\nTVCI 0\n"},
        {"out/prg0.bin", "one"},
        {"out/prg0-2.bin", "two"},
        {"out/prg.bin", "three"},
        {"out/prga.bin", ""},
        {"out/prg_FF.bin", "ff"},
        {"out/prg_0D.bin", "cr"},
        {"out/chr_2F.bin", "slash"},
        {"out/chrZ.bin", "z"},
        {"out/prg0-3.bin", "four"},
        {"out/readme.txt", "first"},
        {"out/readme-2.txt", "\0\0zero\r\n"s},
    };
    ASSERT_EQ(tree(dir), expected);
    RunResult pack = rebuild(dir, "out");
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(dir.read("out/game.unf"), image);
}

// Every block no makefile line can make, with its exact line: the image is
// a good NAME block (offset 32, 10 bytes), then the block of the row at
// offset 42. Nothing is created.
TEST(Extract, InexpressibleBlocksAreNamedAndNothingIsCreated) {
    struct Case {
        std::string header;  // empty: the usual one
        std::string block;
        std::string err;
    };
    const std::string at42 = " at offset 42 cannot be expressed: ";
    const std::string head5 = "UNIF" + le32(5) + std::string(24, '\0');
    const std::string reserved = "UNIF" + le32(7) + std::string(23, '\0') + "\x01";
    const Case cases[] = {
        {"", block("DINF", std::string(204, 'd')), "Block DINF" + at42 + "no makefile key makes this block\n"},
        {"", block("WRTR", "tool\0"s), "Block WRTR" + at42 + "no makefile key makes this block\n"},
        {"", block("CTRL", "\x01"), "Block CTRL" + at42 + "no makefile key makes this block\n"},
        {"", block("VROR", "\x01"), "Block VROR" + at42 + "no makefile key makes this block\n"},
        {"", block("PCK0", "abcd"), "Block PCK0" + at42 + "no makefile key makes this block\n"},
        {"", block("CCK0", "abcd"), "Block CCK0" + at42 + "no makefile key makes this block\n"},
        {"", block("prg0", "x"), "Block prg0" + at42 + "no makefile key makes this block\n"},
        {"", block("MAP\0"s, "x\0"s), "Block MAP\\0" + at42 + "no makefile key makes this block\n"},
        {"", block("PRG ", "x"), "Block PRG\\x20" + at42 + "a key cannot hold a space\n"},
        {"", block("CHR\n", "x"), "Block CHR\\x0A" + at42 + "a key cannot hold an LF\n"},
        {"", block("PRG\x1A", "x"), "Block PRG\\x1A" + at42 + "a key cannot hold a Ctrl-Z\n"},
        {"", block("MAPR", "abc"), "Block MAPR" + at42 + "the text does not end in a zero byte\n"},
        {"", block("MAPR", ""), "Block MAPR" + at42 + "the text does not end in a zero byte\n"},
        {"", block("NAME", "a\0b\0"s), "Block NAME" + at42 + "the text holds a zero byte before its end\n"},
        {"", block("NAME", "a\nb\0"s), "Block NAME" + at42 + "the text holds an LF\n"},
        {"", block("NAME", "a\x1A\0"s), "Block NAME" + at42 + "the text holds a Ctrl-Z\n"},
        {"", block("NAME", "ab\r\0"s), "Block NAME" + at42 + "the text ends in a CR\n"},
        {"", block("NAME", std::string(250, 'n') + '\0'),
         "Block NAME" + at42 + "the text is 250 bytes, a line holds 249\n"},
        {"", block("TVCI", ""), "Block TVCI" + at42 + "its payload is 0 bytes, not 1\n"},
        {"", block("MIRR", "\x01\x01"), "Block MIRR" + at42 + "its payload is 2 bytes, not 1\n"},
        {"", block("READ", "text"), "Block READ" + at42 + "the read-me does not end in a zero byte\n"},
        {"", block("READ", ""), "Block READ" + at42 + "the read-me does not end in a zero byte\n"},
        {head5, "", "Header at offset 4 cannot be expressed: revision 5, unifpack writes 7\n"},
        {reserved, "", "Header at offset 8 cannot be expressed: reserved bytes that are not zero\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string image = (c.header.empty() ? unif_header() : c.header) +
                                  block("NAME", "G\0"s) + c.block + block("PRG0", "data");
        dir.write("img", image);
        RunResult run = extract(dir, {"out", "img"});
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.out, "") << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(tree(dir), (Tree{{"img", image}})) << c.err;
    }
}

// Every such block is named, in image order, not just the first.
TEST(Extract, EveryInexpressibleBlockIsNamed) {
    ScratchDir dir;
    const std::string image = "UNIF" + le32(1) + std::string(24, '\0') + block("DINF", "") +
                              block("PRG0", "abc") + block("NAME", "x") + block("READ", "r\0"s) +
                              block("PCK0", "abcd");
    dir.write("img", image);
    RunResult run = extract(dir, {"out", "img"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "Header at offset 4 cannot be expressed: revision 1, unifpack writes 7\n"
              "Block DINF at offset 32 cannot be expressed: no makefile key makes this block\n"
              "Block NAME at offset 51 cannot be expressed: the text does not end in a zero byte\n"
              "Block PCK0 at offset 70 cannot be expressed: no makefile key makes this block\n");
    EXPECT_EQ(tree(dir), (Tree{{"img", image}}));
}

// With --lossy the rest is extracted; what was left out is named, and the
// status is 1 all the same. The rebuild lacks exactly those blocks.
TEST(Extract, LossyKeepsWhatCanBeExpressed) {
    ScratchDir dir;
    const std::string kept = block("MAPR", "NES-NROM-128\0"s) + block("PRG0", "prg") + block("READ", "r\0"s);
    const std::string image = "UNIF" + le32(7) + std::string(24, '\x01') + block("MAPR", "NES-NROM-128\0"s) +
                              block("DINF", std::string(204, 'd')) + block("PRG0", "prg") +
                              block("READ", "no zero") + block("READ", "r\0"s);
    dir.write("img", image);
    RunResult run = extract(dir, {"--lossy", "out", "img"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Header at offset 8 cannot be expressed: reserved bytes that are not zero\n"
              "Block DINF at offset 53 cannot be expressed: no makefile key makes this block\n"
              "Block READ at offset 276 cannot be expressed: the read-me does not end in a zero byte\n");
    EXPECT_EQ(run.out, "Extracted 3 of 5 blocks into out/game.mk and 2 data files\n");
    EXPECT_EQ(tree(dir), (Tree{{"img", image},
                               {"out", "<dir>"},
                               {"out/game.mk", "TALVORIN\ngame.unf\nMAPR NES-NROM-128\nPRG0 prg0.bin\n"
                                               "READ readme-2.txt\n"},
                               {"out/prg0.bin", "prg"},
                               {"out/readme-2.txt", "r"}}));
    RunResult pack = rebuild(dir, "out");
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(dir.read("out/game.unf"), unif_header() + kept);
}

// An existing empty directory is used: it becomes the extraction.
TEST(Extract, IntoAnExistingEmptyDirectory) {
    ScratchDir dir;
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    const std::string image = unif_header();
    dir.write("img", image);
    RunResult run = extract(dir, {"out", "img"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Extracted 0 blocks into out/game.mk and 0 data files\n");
    EXPECT_EQ(tree(dir), (Tree{{"img", image}, {"out", "<dir>"}, {"out/game.mk", "TALVORIN\ngame.unf\n"}}));
    RunResult pack = rebuild(dir, "out");
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(dir.read("out/game.unf"), image);
}

// Failures: one message, status 1, and the directory exactly as before (no
// DIR, no half-written directory beside it, nothing in an existing DIR
// touched).
TEST(Extract, FailuresLeaveNothingBehind) {
    const std::string good = unif_header() + block("NAME", "G\0"s) + block("PRG0", std::string(4000, 'p'));
    const std::string syntax = "Syntax: unifinfo --extract [--lossy] <directory> <image>\n";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        Tree before;  // besides the image "img" (good)
        std::string img;
        std::string err;
        rlim_t file_size_limit = RLIM_INFINITY;
    };
    const Case cases[] = {
        {"DIR not empty", {"out", "img"}, {{"out", "<dir>"}, {"out/keep", "k"}}, good,
         "Unable to extract into out: Directory not empty\n"},
        {"DIR a file", {"out", "img"}, {{"out", "file"}}, good, "Unable to extract into out: Not a directory\n"},
        {"DIR's parent missing", {"no/out", "img"}, {}, good,
         "Unable to extract into no/out: No such file or directory\n"},
        {"no image", {"out", "nothing"}, {}, good, "Unable to open image nothing: No such file or directory\n"},
        {"image a directory", {"out", "sub"}, {{"sub", "<dir>"}}, good, "Unable to open image sub: Is a directory\n"},
        {"not UNIF", {"out", "img"}, {}, "TALVORIN\nout.unf\nMAPR NES-NROM-128\n", "img is not a UNIF image: it does not begin with \"UNIF\"\n"},
        {"header cut", {"out", "img"}, {}, "UNIF", "img is not a UNIF image: it is shorter than the 32-byte header\n"},
        {"cut inside a data file's payload", {"out", "img"}, {}, good.substr(0, good.size() - 10),
         "img is truncated: block PRG0 at offset 42 has 3990 of its 4000 payload bytes\n"},
        {"cut inside a block start", {"out", "img"}, {}, good + "CHR0",
         "img is truncated: the block start at offset 4050 has 4 of its 8 bytes\n"},
        {"data file cannot be written", {"out", "img"}, {}, good, "Error writing out/prg0.bin: File too large\n", 1000},
        {"makefile cannot be written", {"out/", "img"}, {}, unif_header(), "Error writing out/game.mk: File too large\n", 10},
        {"--lossy and an inexpressible block, but cut", {"--lossy", "out", "img"}, {},
         unif_header() + block("DINF", "") + "PRG",
         "Block DINF at offset 32 cannot be expressed: no makefile key makes this block\n"
         "img is truncated: the block start at offset 40 has 3 of its 8 bytes\n"},
        {"no DIR", {}, {}, good, syntax},
        {"no image named", {"out"}, {}, good, syntax},
        {"--lossy, no image named", {"--lossy", "out"}, {}, good, syntax},
        {"one argument too many", {"out", "img", "more"}, {}, good, syntax},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("img", c.img);
        for (const auto& [name, bytes] : c.before) {
            if (bytes == "<dir>")
                ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0);
            else
                dir.write(name, bytes);
        }
        Tree before = tree(dir);
        RunOptions options{.program = Program::unifinfo};
        options.file_size_limit = c.file_size_limit;
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--extract");
        RunResult run = dir.run(args, options);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(tree(dir), before) << c.what;
    }
}

// An image whose reads fail (reading /proc/self/mem at offset 0 does, on
// Linux): the message, and nothing created.
TEST(Extract, UnreadableImageLeavesNothingBehind) {
    ScratchDir dir;
    RunResult run = dir.run({"--extract", "out", "/proc/self/mem"}, {.program = Program::unifinfo});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error reading image /proc/self/mem: Input/output error\n");
    EXPECT_EQ(tree(dir), Tree{});
}

}  // namespace
