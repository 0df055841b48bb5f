// unifinfo end to end, and the help and version options of both programs:
// whole stdout, stderr and exit status compared.
#include <cstdio>
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
    "See unifpack(1) for the whole makefile format and every message.\n"
    "Then check the image with unifinfo --check IMAGE: it tells which\n"
    "emulators will refuse it or run it other than its blocks say.\n";

const std::string INFO_HELP_TAIL =
    "Lists a UNIF cartridge image: its revision, then one line per block with\n"
    "its offset, ID and payload length in bytes, and a view of the contents:\n"
    "  MAPR, NAME         the text\n"
    "  READ               the text's first line\n"
    "  TVCI, MIRR, BATR   the byte and its meaning\n"
    "  PRGn, CHRn         the CRC-32 of the data\n"
    "Then the CRC-32, MD5, SHA-1 and SHA-256 of the PRG data (the PRG blocks\n"
    "joined in index order 0 to F), of the CHR data likewise, and of both.\n"
    "\n"
    "Options, before the image:\n"
    "  --check            instead of the listing, one line per finding on how\n"
    "                     FCEUX, Mednafen, Nestopia, Mesen2 and puNES load the\n"
    "                     image: \"error:\" when a loader refuses it or runs it\n"
    "                     wrongly, \"warning:\" when it runs but differs from\n"
    "                     what the blocks say; then a count of each\n"
    "  --json             the listing (with --check, and the findings) as one\n"
    "                     JSON document\n"
    "\n"
    "Exit status: 0 when the image was listed whole, 1 when it cannot be\n"
    "read, is not a UNIF image, or is truncated; with --check, 1 also when\n"
    "there is an error finding.\n"
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
    const std::string info_usage = "Syntax: unifinfo [--check] [--json] <image>\n";
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
              "   24691  READ       616  \"Hello from unifpack\\n\"...\n"
              "\n"
              "PRG (PRG0): 16384 bytes\n"
              "  CRC-32   505F17C4\n"
              "  MD5      e4381b3b998b665d304c55826938c343\n"
              "  SHA-1    d887d6398da3e91266304001ec026600b454f709\n"
              "  SHA-256  a5c9e4dae3c06168d3d1f9e56ccf09fdb55179c5af3b81c7633dba00f8879e65\n"
              "CHR (CHR0): 8192 bytes\n"
              "  CRC-32   C289B0FA\n"
              "  MD5      6403abc8f0c194cd418fb6c953c2b355\n"
              "  SHA-1    ada6e4550af27dd882674cf69531aea39db7c8c0\n"
              "  SHA-256  16e6340485588c4531b63bc77bb887945bd28655f3a5592c816ed2ad11b55694\n"
              "PRG and CHR: 24576 bytes\n"
              "  CRC-32   E634914E\n"
              "  MD5      cc666f155501dd9b12ea2c55508b4fa2\n"
              "  SHA-1    948771a051f0cb6ef0b060c1472b5ab5693ca471\n"
              "  SHA-256  17663de4d1942d72bfcd9b953da273cde818deb35ecf3d4d9a75949566de2a2a\n");
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
              "     146  READ        37  \"Notes: \\\"one\\\"\\ttwo\\\\three\\r\\n\"...\n"
              "\n"
              "PRG (PRG0, PRG1): 18 bytes\n"  // "123456789" twice; CHR\0 is no index
              "  CRC-32   4B837AE4\n"
              "  MD5      a74298e4a259759687e3a5acb2e7ae12\n"
              "  SHA-1    3175de158db24c987b7ced3bf65d46c1fcfb3c5f\n"
              "  SHA-256  b5867a2a76366b304f8334d38e94a77dde29b4a935098d7ad2448a4fefc84174\n"
              "CHR: no data\n");
}

// Texts from an image cannot drive the terminal that shows the listing:
// the C1 controls, raw or in UTF-8, and the bidirectional controls are
// escaped byte by byte, as is every byte outside well-formed UTF-8; other
// UTF-8 is listed as it is. Each image holds one block at offset 32.
TEST(Unifinfo, TextsAreListedWithoutTerminalControls) {
    struct Case {
        const char* what;
        std::string id;
        std::string payload;
        std::string contents;  // as listed
    };
    const std::string n255(255, 'n');
    const std::string x59(59, 'x');
    const Case cases[] = {
        {"raw C1 bytes", "NAME", "a\x80" "b\x9F" "c\0"s, R"("a\x80b\x9Fc")"},
        {"raw CSI", "NAME", "\x9B" "31mred\0"s, R"("\x9B31mred")"},
        {"C1 in UTF-8, first and last", "NAME", "\xC2\x80\xC2\x9F\0"s, R"("\xC2\x80\xC2\x9F")"},
        {"CSI in UTF-8", "MAPR", "\xC2\x9B" "2J\0"s, R"("\xC2\x9B2J")"},
        {"first after C1 is text", "NAME", "\xC2\xA0\0"s, "\"\xC2\xA0\""},
        {"bidi embeddings and overrides", "NAME",
         "\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE\0"s,
         R"("\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE")"},
        {"bidi isolates", "NAME", "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9\0"s,
         R"("\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9")"},
        {"right-to-left override in a name", "NAME", "admin\xE2\x80\xAE" "fdp.exe\0"s,
         R"("admin\xE2\x80\xAEfdp.exe")"},
        {"next to the bidi controls is text", "NAME",
         "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\0"s,
         "\"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\""},
        {"continuation bytes 80 to 9F in text", "NAME",
         "\xE2\x82\xAC \xE0\xA0\x80 \xED\x9F\xBF \xF0\x9F\x98\x80\0"s,
         "\"\xE2\x82\xAC \xE0\xA0\x80 \xED\x9F\xBF \xF0\x9F\x98\x80\""},
        {"overlong forms", "NAME", "\xC0\x80\xC1\xBF\xE0\x82\x85\xF0\x80\x80\xAE\0"s,
         R"("\xC0\x80\xC1\xBF\xE0\x82\x85\xF0\x80\x80\xAE")"},
        {"surrogate, past U+10FFFF, F5 up", "NAME", "\xED\xA0\x80\xF4\x90\x80\x80\xF5\xFF\0"s,
         R"("\xED\xA0\x80\xF4\x90\x80\x80\xF5\xFF")"},
        {"Latin-1 and a lone continuation byte", "NAME", "Caf\xE9 \xA0\0"s, R"("Caf\xE9 \xA0")"},
        {"a broken sequence, then C1", "NAME", "\xE2\xC2\x85\0"s, R"("\xE2\xC2\x85")"},
        {"a sequence ended by the zero byte", "NAME", "ok\xE2\x80\0"s, R"("ok\xE2\x80")"},
        {"no zero byte after C1", "NAME", "\xC2\x9B", R"("\xC2\x9B" (no zero byte))"},
        // The text limit falls inside the sequence: it is kept whole.
        {"bidi across the text limit", "NAME", n255 + "\xE2\x80\xAE" "more\0"s,
         '"' + n255 + R"(\xE2\x80\xAE"...)"},
        {"C1 across the read-me limit", "READ", x59 + "\xC2\x85" "\n\0"s, '"' + x59 + R"(\xC2\x85"...)"},
        {"bidi in a read-me line", "READ", "\xE2\x81\xA7" "abc\n\0"s, R"("\xE2\x81\xA7abc\n")"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("img", unif_header() + block(c.id, c.payload));
        RunResult run = dir.run({"img"}, {.program = Program::unifinfo});
        char line[64];
        std::snprintf(line, sizeof line, "      32  %-5s %8zu  ", c.id.c_str(), c.payload.size());
        EXPECT_EQ(run.status, 0) << c.what;
        EXPECT_EQ(run.out, "UNIF revision 7\n"
                           "  offset  id      length  contents\n" + std::string(line) + c.contents +
                           "\n\nPRG: no data\nCHR: no data\n")
            << c.what;
        EXPECT_EQ(run.err, "") << c.what;
    }
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

// A file that opens and then fails its reads, as a failing disk would:
// /proc/self/mem gives EIO for the unmapped page at offset 0. The read
// error is reported as such, status 1.
TEST(Unifinfo, ReadErrorIsReported) {
    ScratchDir dir;
    RunResult run = dir.run({"/proc/self/mem"}, {.program = Program::unifinfo});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error reading image /proc/self/mem: Input/output error\n");
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
        {{}, {.program = Program::unifinfo}, "Syntax: unifinfo [--check] [--json] <image>\n"},
        {{}, {.program = Program::unifinfo, .argv0 = "./my info"},
         "Syntax: ./my info [--check] [--json] <image>\n"},
        {{}, {.program = Program::unifinfo, .argv0 = ""}, "Syntax: unifinfo [--check] [--json] <image>\n"},
        // An option asks for an image after it.
        {{"--check"}, {.program = Program::unifinfo}, "Syntax: unifinfo [--check] [--json] <image>\n"},
        // Options come before the image, once each; anything else is the image.
        {{"--check", "--check", "img"}, {.program = Program::unifinfo},
         "Unable to open image --check: No such file or directory\n"},
        {{"--check", "--help"}, {.program = Program::unifinfo},
         "Unable to open image --help: No such file or directory\n"},
        {{"--json", "--check", "--json"}, {.program = Program::unifinfo},
         "Unable to open image --json: No such file or directory\n"},
        {{"--json"}, {.program = Program::unifinfo}, "Syntax: unifinfo [--check] [--json] <image>\n"},
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
