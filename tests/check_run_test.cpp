// unifinfo --check end to end: small images, each with the whole standard
// output (every finding line and the count) and the status it must give.
#include <gtest/gtest.h>
#include <string>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

std::string mapr(const std::string& board) {
    return block("MAPR", board + '\0');
}

std::string pattern(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes += static_cast<char>(i & 0xFF);
    return bytes;
}

TEST(Check, FindingsOfEachImage) {
    const std::string prg = pattern(16384);
    const std::string chr(8192, '\x55');
    struct Case {
        const char* what;
        std::string blocks;  // after the header
        std::string out;
        int status;
    };
    const Case cases[] = {
        {"a clean image has no findings",
         mapr("NES-NROM-128") + block("PRG0", prg) + block("CHR0", chr),
         "0 errors, 0 warnings\n",
         0},
        {"no MAPR block",
         block("PRG0", prg) + block("CHR0", chr),
         "error: no MAPR block: FCEUX loads the image with no board (a grey screen), Mednafen, Nestopia and Mesen2 refuse it, and puNES is left with no board name; add MAPR with the board name, e.g. NES-NROM-128\n"
         "1 error, 0 warnings\n",
         1},
        {"a board name without prefix",
         mapr("NROM-128") + block("PRG0", prg) + block("CHR0", chr),
         "error: Nestopia does not know the board \"NROM-128\" (MAPR at offset 32) and refuses the image: it compares the whole name, prefix included, with the names it knows, ignoring case and outer blanks; write MAPR NES-NROM-128, which FCEUX, Mednafen, Nestopia, Mesen2 and puNES load\n"
         "1 error, 0 warnings\n",
         1},
        {"a board name with a trailing blank",
         mapr("NES-NROM-128 ") + block("PRG0", prg) + block("CHR0", chr),
         "error: FCEUX does not know the board \"NES-NROM-128 \" (MAPR at offset 32) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; write MAPR NES-NROM-128, which FCEUX, Mednafen, Nestopia, Mesen2 and puNES load\n"
         "error: Mednafen does not know the board \"NES-NROM-128 \" (MAPR at offset 32) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; write MAPR NES-NROM-128, which FCEUX, Mednafen, Nestopia, Mesen2 and puNES load\n"
         "error: puNES does not know the board \"NES-NROM-128 \" (MAPR at offset 32) and refuses the image: it skips leading blanks, strips a NES-, UNL-, HVC-, BTL- or BMC- prefix in any case and takes the first of its names that begins with the rest, ignoring case; write MAPR NES-NROM-128, which FCEUX, Mednafen, Nestopia, Mesen2 and puNES load\n"
         "3 errors, 0 warnings\n",
         1},
        {"a board name that begins a name",
         mapr("NROM-1") + block("PRG0", prg),
         "error: FCEUX does not know the board \"NROM-1\" (MAPR at offset 32) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; FCEUX knows no spelling of this board: name one it knows\n"
         "error: Mednafen does not know the board \"NROM-1\" (MAPR at offset 32) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; Mednafen knows no spelling of this board: name one it knows\n"
         "error: Nestopia does not know the board \"NROM-1\" (MAPR at offset 32) and refuses the image: it compares the whole name, prefix included, with the names it knows, ignoring case and outer blanks; Nestopia knows no spelling of this board: name one it knows\n"
         "error: Mesen2 does not know the board \"NROM-1\" (MAPR at offset 32) and refuses the image: it drops every blank, strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; Mesen2 knows no spelling of this board: name one it knows\n"
         "error: puNES knows no board \"NROM-1\" (MAPR at offset 32) and loads the first of its names that begins with it, such as NROM-128: it skips leading blanks, strips a NES-, UNL-, HVC-, BTL- or BMC- prefix in any case and takes the first of its names that begins with the rest, ignoring case; puNES knows no spelling of this board: name one it knows\n"
         "warning: no CHR block: FCEUX, Mednafen, Nestopia, Mesen2 and puNES give the board 8 KiB of CHR RAM (Mednafen fills it with $FF, the others with zeros), so the program must write every tile it shows; if the board has CHR ROM, add CHR0 with the tiles\n"
         "5 errors, 1 warning\n",
         1},
        {"an empty board name",
         mapr("") + block("PRG0", prg),
         "error: FCEUX does not know the board \"\" (MAPR at offset 32) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; FCEUX knows no spelling of this board: name one it knows\n"
         "error: Mednafen does not know the board \"\" (MAPR at offset 32) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; Mednafen knows no spelling of this board: name one it knows\n"
         "error: Nestopia does not know the board \"\" (MAPR at offset 32) and refuses the image: it compares the whole name, prefix included, with the names it knows, ignoring case and outer blanks; Nestopia knows no spelling of this board: name one it knows\n"
         "error: Mesen2 does not know the board \"\" (MAPR at offset 32) and refuses the image: it drops every blank, strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; Mesen2 knows no spelling of this board: name one it knows\n"
         "error: puNES knows no board \"\" (MAPR at offset 32) and loads the first of its names that begins with it, such as NROM: it skips leading blanks, strips a NES-, UNL-, HVC-, BTL- or BMC- prefix in any case and takes the first of its names that begins with the rest, ignoring case; puNES knows no spelling of this board: name one it knows\n"
         "warning: no CHR block: FCEUX, Mednafen, Nestopia, Mesen2 and puNES give the board 8 KiB of CHR RAM (Mednafen fills it with $FF, the others with zeros), so the program must write every tile it shows; if the board has CHR ROM, add CHR0 with the tiles\n"
         "5 errors, 1 warning\n",
         1},
        {"no PRG block",
         mapr("NES-NROM-128") + block("CHR0", chr),
         "error: no PRG block: FCEUX, Mednafen, Nestopia, Mesen2 and puNES have no program to run; add PRG0 with the program\n"
         "1 error, 0 warnings\n",
         1},
        {"PRG and CHR split into chips",
         mapr("NES-NROM-256") + block("PRG0", prg) + block("PRG1", prg) +
             block("CHR0", chr.substr(0, 4096)) + block("CHR1", chr.substr(0, 4096)),
         "error: PRG is split across 2 blocks (PRG0, PRG1): FCEUX and Mednafen take each block as a chip of its own, and most boards use chip 0 only, so they run the wrong program or none; put the whole PRG in PRG0 (Nestopia, Mesen2 and puNES join the blocks)\n"
         "error: CHR is split across 2 blocks (CHR0, CHR1): FCEUX and Mednafen take each block as a chip of its own, and most boards use chip 0 only, so they do not show the tiles of the others; put the whole CHR in CHR0 (Nestopia, Mesen2 and puNES join the blocks)\n"
         "warning: block CHR0 is 4096 bytes: FCEUX and Mednafen pad each CHR chip with $FF to a power of two of at least 8 KiB (8192 bytes), so their CRC of the chip is not the block's; make it a power of two\n"
         "warning: block CHR1 is 4096 bytes: FCEUX and Mednafen pad each CHR chip with $FF to a power of two of at least 8 KiB (8192 bytes), so their CRC of the chip is not the block's; make it a power of two\n"
         "2 errors, 2 warnings\n",
         1},
        {"duplicate blocks",
         mapr("NES-NROM-128") + mapr("NES-UNROM") + block("PRG0", prg) +
             block("PRG0", std::string(prg.rbegin(), prg.rend())) + block("CHR0", chr) + block("CHR0", chr),
         "warning: 2 MAPR blocks that differ (the first at offset 32, the last at 53): Nestopia takes the first, FCEUX, Mednafen, Mesen2 and puNES the last (each one's board name is checked on its own); keep one\n"
         "error: 2 PRG0 blocks that differ (the first at offset 71, the last at 16463): Nestopia takes the first with data, FCEUX, Mednafen and Mesen2 the last, puNES joins them all, so at most one of them runs what was meant; keep one\n"
         "error: 2 copies of block CHR0 (the first at offset 32855): puNES joins them all into one chip; keep one\n"
         "2 errors, 1 warning\n",
         1},
        {"sizes that are not a power of two",
         mapr("NES-NROM-128") + block("PRG0", prg.substr(0, 12288)) + block("CHR0", chr.substr(0, 4096)),
         "error: block PRG0 is 12288 bytes: FCEUX and Mednafen pad each PRG chip with $FF to a power of two of at least 2 KiB (16384 bytes), which moves the vectors at its end; make it a power of two\n"
         "warning: the PRG blocks hold 12288 bytes: Nestopia fills them up to a power of two (16384 bytes) by repeating their last part, so its CRC of the PRG is not the blocks'; make it a power of two\n"
         "warning: block CHR0 is 4096 bytes: FCEUX and Mednafen pad each CHR chip with $FF to a power of two of at least 8 KiB (8192 bytes), so their CRC of the chip is not the block's; make it a power of two\n"
         "1 error, 2 warnings\n",
         1},
        {"byte values",
         mapr("NES-NROM-128") + block("BATR", "\0"s) + block("MIRR", "\x09") + block("TVCI", "\x03") +
             block("PRG0", prg) + block("CHR0", chr),
         "warning: block BATR at offset 53 says no battery (0), but FCEUX, Mednafen, Nestopia and puNES give the cartridge a battery whenever the block is there (Mesen2 reads the byte); leave BATR out\n"
         "warning: block MIRR at offset 62 holds 9, none of the format's values (0-5): FCEUX and Mednafen leave the mirroring to the board, Mesen2 and puNES use horizontal; write one of the format's values\n"
         "warning: block TVCI at offset 71 holds 3, none of the format's values (0-2): FCEUX and Mednafen ignore it, Nestopia takes either system, Mesen2 and puNES take NTSC; write one of the format's values\n"
         "0 errors, 3 warnings\n",
         0},
        {"PCK and CCK checksums",
         mapr("NES-NROM-128") + block("PRG0", prg) + block("PCK0", "\1\2\3\4") +
             block("CCK1", std::string(4, '\0')) + block("CHR0", chr) + block("CCK0", "\x78\x56\x34\x12"),
         "warning: block PCK0 at offset 16445 says the CRC-32 of PRG0 is 04030201, but it is E81722F0 (no loader checks it); correct or remove PCK0\n"
         "warning: block CCK0 at offset 24669 says the CRC-32 of CHR0 is 12345678, but it is FCBFFD0B (no loader checks it); correct or remove CCK0\n"
         "warning: block CCK1 at offset 16457 holds the CRC-32 of CHR1, and there is no CHR1 (no loader checks it); remove CCK1\n"
         "0 errors, 3 warnings\n",
         0},
        {"blocks of the wrong length",
         mapr("NES-NROM-128") + block("DINF", std::string(100, '\0')) + block("TVCI", std::string(2, '\0')) +
             block("NAME", "abc") + block("VROR", "") + block("PRG0", prg) +
             block("CHR0", chr),
         "error: block DINF at offset 53 is 100 bytes long, not 204: FCEUX, Mednafen and Nestopia read 204 bytes whatever the length, so they read the rest of the image out of step; make it 204 bytes long\n"
         "error: block TVCI at offset 161 is 2 bytes long, not 1: FCEUX and Mednafen read one byte and go on inside the block, so they read the rest of the image out of step, and puNES refuses a TVCI block of any other length; make it 1 byte long\n"
         "error: block NAME at offset 171 does not end with the zero byte that ends its text: FCEUX and Nestopia read NAME up to a zero byte whatever its length, so they read the rest of the image out of step; end the text with one zero byte, as the block's last byte\n"
         "warning: block VROR at offset 182 is 0 bytes long, not 1 as the format says (no loader is known to depend on it); make it 1 byte long\n"
         "3 errors, 1 warning\n",
         1},
        {"unknown IDs",
         mapr("NES-NROM-128") + block("ABCD", "x") + block("prg1", "") + block("PRG0", prg) + block("CHR0", chr),
         "warning: block ABCD at offset 53 has an ID the format does not know: FCEUX, Mednafen, Nestopia, Mesen2 and puNES skip it; leave it out\n"
         "error: block prg1 at offset 62: block IDs are upper case, so FCEUX, Mednafen, Nestopia and Mesen2 skip it, while puNES, which ignores case, reads it as PRG1; write PRG1\n"
         "1 error, 1 warning\n",
         1},
        {"an image cut inside a block",
         mapr("NES-NROM-128") + block("PRG0", prg).substr(0, 100),
         "error: the image ends inside block PRG0 at offset 53, with 92 of its 16384 payload bytes: FCEUX, Mednafen, Nestopia, Mesen2 and puNES refuse it; pack it again\n"
         "error: no CHR block, and board NES-NROM-128 (mapper 0) has CHR ROM: FCEUX, Mednafen, Nestopia, Mesen2 and puNES give it 8 KiB of CHR RAM instead (Mednafen fills it with $FF, the others with zeros), so it shows no tiles; add CHR0 with the tiles\n"
         "2 errors, 0 warnings\n",
         1},
        {"bytes after the last block",
         mapr("NES-NROM-128") + block("PRG0", prg) + "abc",
         "error: the last 3 bytes, at offset 16445, are too few for a block (8 bytes at least): FCEUX, Mednafen and Nestopia refuse the image as cut short; remove them\n"
         "error: no CHR block, and board NES-NROM-128 (mapper 0) has CHR ROM: FCEUX, Mednafen, Nestopia, Mesen2 and puNES give it 8 KiB of CHR RAM instead (Mednafen fills it with $FF, the others with zeros), so it shows no tiles; add CHR0 with the tiles\n"
         "2 errors, 0 warnings\n",
         1},
        {"an empty first PRG block",
         mapr("NES-NROM-128") + block("PRG1", "") + block("PRG0", prg) + block("CHR0", chr),
         "error: the first PRG block is empty, which puNES refuses; leave it out\n"
         "1 error, 0 warnings\n",
         1},
        {"no PRG0 among the PRG blocks",
         mapr("NES-NROM-128") + block("PRG1", prg) + block("CHR0", chr),
         "error: no PRG0 block with data: Mednafen refuses the image (it needs PRG0), and FCEUX's boards map chip 0 first, so they run no program; put the program in PRG0\n"
         "1 error, 0 warnings\n",
         1},
        {"the last of two PRG0 blocks empty",
         mapr("NES-NROM-128") + block("PRG0", prg) + block("PRG0", "") + block("CHR0", chr),
         "error: 2 PRG0 blocks, the last of them empty (at offset 16445): FCEUX, Mednafen and Mesen2 take the last, and have no data for the chip; leave the empty one out\n"
         "1 error, 0 warnings\n",
         1},
        {"a good board name, then a bad one",
         mapr("NES-NROM-128") + mapr("NES-FOOBAR") + block("PRG0", prg) + block("CHR0", chr),
         "error: FCEUX does not know the board \"NES-FOOBAR\" (MAPR at offset 53) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; FCEUX knows no spelling of this board: name one it knows\n"
         "error: Mednafen does not know the board \"NES-FOOBAR\" (MAPR at offset 53) and refuses the image: it strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; Mednafen knows no spelling of this board: name one it knows\n"
         "error: Mesen2 does not know the board \"NES-FOOBAR\" (MAPR at offset 53) and refuses the image: it drops every blank, strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest exactly with the names it knows; Mesen2 knows no spelling of this board: name one it knows\n"
         "error: puNES does not know the board \"NES-FOOBAR\" (MAPR at offset 53) and refuses the image: it skips leading blanks, strips a NES-, UNL-, HVC-, BTL- or BMC- prefix in any case and takes the first of its names that begins with the rest, ignoring case; puNES knows no spelling of this board: name one it knows\n"
         "warning: 2 MAPR blocks that differ (the first at offset 32, the last at 53): Nestopia takes the first, FCEUX, Mednafen, Mesen2 and puNES the last (each one's board name is checked on its own); keep one\n"
         "4 errors, 1 warning\n",
         1},
        {"DINF longer and BATR shorter than the format says",
         mapr("NES-NROM-128") + block("DINF", std::string(220, '\0')) + block("BATR", "") +
             block("PRG0", prg) + block("CHR0", chr),
         "error: block DINF at offset 53 is 220 bytes long, not 204: FCEUX and Mednafen read 204 bytes whatever the length, so they read the rest of the image out of step; make it 204 bytes long\n"
         "error: block BATR at offset 281 is 0 bytes long, not 1: FCEUX and Mednafen read one byte and go on from there, so they read the rest of the image out of step (FCEUX crashes on an empty one); make it 1 byte long\n"
         "2 errors, 0 warnings\n",
         1},
        {"CHR split, the second chip blank",
         mapr("NES-NROM-128") + block("PRG0", prg) + block("CHR0", chr.substr(0, 4096)) +
             block("CHR1", std::string(4096, '\0')),
         "warning: CHR is split across 2 blocks (CHR0, CHR1): FCEUX and Mednafen take each block as a chip of its own, and most boards use chip 0 only, so they do not show the others (blank here); put the whole CHR in CHR0 (Nestopia, Mesen2 and puNES join the blocks)\n"
         "warning: block CHR0 is 4096 bytes: FCEUX and Mednafen pad each CHR chip with $FF to a power of two of at least 8 KiB (8192 bytes), so their CRC of the chip is not the block's; make it a power of two\n"
         "warning: block CHR1 is 4096 bytes: FCEUX and Mednafen pad each CHR chip with $FF to a power of two of at least 8 KiB (8192 bytes), so their CRC of the chip is not the block's; make it a power of two\n"
         "0 errors, 3 warnings\n",
         0},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("img", unif_header() + c.blocks);
        RunResult run = dir.run({"--check", "img"}, {.program = Program::unifinfo});
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_EQ(run.status, c.status) << c.what;
    }
}

}  // namespace
