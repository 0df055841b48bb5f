// unifinfo end to end, and the help and version options of both programs:
// whole stdout, stderr and exit status compared.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

const std::string PACK_HELP_TAIL =
    "Packs a UNIF cartridge image (NES) from a plain-text makefile.\n"
    "\n"
    "The makefile, one item a line, each line ending in LF (or CR LF):\n"
    "  TALVORIN           line 1, exactly\n"
    "  IMAGE              line 2, the name of the image to create\n"
    "  KEY VALUE          every further line, a directive: one block each\n"
    "Keys (case-sensitive):\n"
    "  MAPR, NAME         the value as text: board name, cartridge name\n"
    "  TVCI, MIRR, BATR   one byte: the value's decimal number modulo 256\n"
    "  PRGn, CHRn, READ   the bytes of the data file the value names\n"
    "The image and data-file names are taken relative to the makefile path\n"
    "up to its last backslash. A directive with any other key is skipped.\n"
    "\n"
    "Exit status: 0 when the image is complete, 1 when the run stopped.\n"
    "\n"
    "As the first argument instead of a makefile:\n"
    "  -h, --help         print this help\n"
    "  --version          print the version\n"
    "See unifpack(1) for the whole makefile format and every message.\n";

const std::string INFO_HELP_TAIL =
    "Lists a UNIF cartridge image: its revision, then one line per block with\n"
    "its offset, ID and payload length in bytes, and a view of the contents:\n"
    "  MAPR, NAME         the text\n"
    "  READ               the text's first line\n"
    "  TVCI, MIRR, BATR   the byte and its meaning\n"
    "  PRGn, CHRn         the CRC-32 of the data\n"
    "\n"
    "Exit status: 0 when the image was listed whole, 1 when it cannot be\n"
    "read, is not a UNIF image, or is truncated.\n"
    "\n"
    "As the first argument instead of an image:\n"
    "  -h, --help         print this help\n"
    "  --version          print the version\n"
    "  --extract [--lossy] DIR IMAGE\n"
    "                     write a makefile and data files into the new directory\n"
    "                     DIR from which unifpack rebuilds IMAGE byte for byte;\n"
    "                     with --lossy also when some blocks cannot be expressed\n"
    "                     (those are left out, and the status is 1)\n"
    "See unifinfo(1) for the output format and the extraction.\n";

// Files named like the options are there, and are not read: only the
// exact option words ask for help or the version.
TEST(Options, HelpAndVersionAsTheFirstArgument) {
    struct Case {
        Program program;
        std::vector<std::string> args;
        std::string argv0;
        std::string out;
    };
    const std::string pack_usage = "Syntax: unifpack <makefile>\n";
    const std::string info_usage = "Syntax: unifinfo <image>\n";
    const Case cases[] = {
        {Program::unifpack, {"-h"}, "unifpack", pack_usage + PACK_HELP_TAIL},
        {Program::unifpack, {"--help"}, "unifpack", pack_usage + PACK_HELP_TAIL},
        {Program::unifpack, {"--help", "mk"}, "./bin/my pack", "Syntax: ./bin/my pack <makefile>\n" + PACK_HELP_TAIL},
        {Program::unifpack, {"-h"}, "", pack_usage + PACK_HELP_TAIL},
        {Program::unifpack, {"--version"}, "unifpack", "unifpack " UNIFPACK_VERSION "\n"},
        {Program::unifpack, {"--version", "--help"}, "unifpack", "unifpack " UNIFPACK_VERSION "\n"},
        {Program::unifinfo, {"-h"}, "unifinfo", info_usage + INFO_HELP_TAIL},
        {Program::unifinfo, {"--help"}, "", info_usage + INFO_HELP_TAIL},
        {Program::unifinfo, {"--version"}, "unifinfo", "unifinfo " UNIFPACK_VERSION "\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        for (const char* name : {"-h", "--help", "--version"})
            dir.write(name, "TALVORIN\nout.unf\n");
        RunOptions options;
        options.program = c.program;
        options.argv0 = c.argv0;
        RunResult run = dir.run(c.args, options);
        EXPECT_EQ(run.status, 0) << c.args[0];
        EXPECT_EQ(run.out, c.out) << c.args[0];
        EXPECT_EQ(run.err, "") << c.args[0];
        EXPECT_FALSE(dir.exists("out.unf")) << c.args[0];
    }
}

TEST(Options, AnyOtherFirstArgumentIsAMakefilePath) {
    ScratchDir dir;
    dir.write("--help", "TALVORIN\nout.unf\nNAME x\n");
    RunResult run = dir.run({"./--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\nStoring NAME as 'x'\nDone!\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("NAME", "x\0"s));
    for (const char* argument : {"-x", "--foo", "-help", "--HELP", "-V", "--", "-"}) {
        run = dir.run({argument});
        EXPECT_EQ(run.status, 1) << argument;
        EXPECT_EQ(run.out, "") << argument;
        EXPECT_EQ(run.err, "Unable to open makefile!\n") << argument;
    }
    run = dir.run({"--foo"}, {.program = Program::unifinfo});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Unable to open image --foo: No such file or directory\n");
}

// The bundled example, packed in a scratch copy of its directory, then listed.
TEST(Unifinfo, ListsTheBundledExample) {
    ScratchDir dir;
    const std::string examples = UNIFPACK_EXAMPLES;
    for (const char* name : {"hello.mk", "hello.prg", "hello.chr", "readme.txt"})
        dir.write(name, read_file(examples + "/" + name));
    ASSERT_EQ(dir.run({"hello.mk"}).status, 0);
    RunResult run = dir.run({"hello.unf"}, {.program = Program::unifinfo});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "UNIF revision 7\n"
              "  offset  id      length  contents\n"
              "      32  MAPR        13  \"NES-NROM-128\"\n"
              "      53  NAME        20  \"Hello from unifpack\"\n"
              "      81  TVCI         1  0 (NTSC)\n"
              "      90  MIRR         1  1 (vertical)\n"
              "      99  PRG0     16384  crc32 505F17C4\n"
              "   16491  CHR0      8192  crc32 C289B0FA\n"
              "   24691  READ       616  \"Hello from unifpack\\n\"...\n");
}

// Every kind unifpack writes, packed and read back.
TEST(Unifinfo, ListsEveryBlockKindThatUnifpackWrites) {
    ScratchDir dir;
    dir.write("game.prg", "123456789");
    dir.write("empty", "");
    dir.write("notes.txt", "Notes: \"one\"\ttwo\\three\r\nsecond line\n");
    dir.write("mk", "TALVORIN\nout.unf\nMAPR UNL-\xC3\xA9t\xC3\xA9\nNAME  My Game \nTVCI 2\nMIRR 4\n"
                    "BATR 1\nMIRR 9\nPRG0 game.prg\nCHR empty\nPRG10 game.prg\nREAD notes.txt\n");
    ASSERT_EQ(dir.run({"mk"}).status, 0);
    RunResult run = dir.run({"out.unf"}, {.program = Program::unifinfo});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "UNIF revision 7\n"
              "  offset  id      length  contents\n"
              "      32  MAPR        10  \"UNL-\xC3\xA9t\xC3\xA9\"\n"
              "      50  NAME        10  \" My Game \"\n"
              "      68  TVCI         1  2 (NTSC or PAL)\n"
              "      77  MIRR         1  4 (four-screen)\n"
              "      86  BATR         1  1 (battery-backed)\n"
              "      95  MIRR         1  9 (unknown)\n"
              "     104  PRG0         9  crc32 CBF43926\n"
              "     121  CHR\\0        0  crc32 00000000\n"
              "     129  PRG1         9  crc32 CBF43926\n"
              "     146  READ        37  \"Notes: \\\"one\\\"\\ttwo\\\\three\\r\\n\"...\n");
}

// Images that are not whole: the whole blocks are listed, then one message
// on standard error, and the status is 1.
TEST(Unifinfo, ImagesThatAreNotWholeAndFilesThatAreNoImages) {
    const std::string listed = "UNIF revision 7\n"
                               "  offset  id      length  contents\n"
                               "      32  NAME         2  \"x\"\n";
    const std::string image = unif_header() + block("NAME", "x\0"s);  // 42 bytes
    struct Case {
        const char* what;
        std::string bytes;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"empty file", "", "", "img is not a UNIF image: it is shorter than the 32-byte header\n"},
        {"header cut short", unif_header().substr(0, 31), "",
         "img is not a UNIF image: it is shorter than the 32-byte header\n"},
        {"not a UNIF image", "TALVORIN\nout.unf\nMAPR NES-NROM-128\n", "",
         "img is not a UNIF image: it does not begin with \"UNIF\"\n"},
        {"cut inside a block start", image + "PRG0\x10\x00"s, listed,
         "img is truncated: the block start at offset 42 has 6 of its 8 bytes\n"},
        {"cut right after a block start", image + "PRG0\x10\x00\x00\x00"s, listed,
         "img is truncated: block PRG0 at offset 42 has 0 of its 16 payload bytes\n"},
        {"cut inside a payload", image + "CHR\0\x00\x20\x00\x00"s + std::string(1000, 'c'), listed,
         "img is truncated: block CHR\\0 at offset 42 has 1000 of its 8192 payload bytes\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("img", c.bytes);
        RunResult run = dir.run({"img"}, {.program = Program::unifinfo});
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
    }
}

TEST(Unifinfo, NoImageToRead) {
    ScratchDir dir;
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    dir.write("img", unif_header());
    struct Case {
        std::vector<std::string> args;
        RunOptions options;
        std::string err;
    };
    RunOptions closed_stdout{.program = Program::unifinfo};
    closed_stdout.close_stdout = true;
    const Case cases[] = {
        {{}, {.program = Program::unifinfo}, "Syntax: unifinfo <image>\n"},
        {{}, {.program = Program::unifinfo, .argv0 = "./my info"}, "Syntax: ./my info <image>\n"},
        {{}, {.program = Program::unifinfo, .argv0 = ""}, "Syntax: unifinfo <image>\n"},
        {{"nothing"}, {.program = Program::unifinfo},
         "Unable to open image nothing: No such file or directory\n"},
        {{"sub"}, {.program = Program::unifinfo}, "Unable to open image sub: Is a directory\n"},
        // The listing cannot be written: that is a failed run too.
        {{"img"}, closed_stdout, "Error writing to standard output: Bad file descriptor\n"},
    };
    for (const Case& c : cases) {
        RunResult run = dir.run(c.args, c.options);
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.out, "") << c.err;
        EXPECT_EQ(run.err, c.err);
    }
}

}  // namespace
