// String and byte blocks end to end: whole image bytes and messages.
#include <gtest/gtest.h>
#include <string>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

const std::string HEAD = "TALVORIN\nout.unf\n";
const std::string OPENED = "Opened file out.unf for output.\nWriting header...\n";

TEST(ValueBlocks, EveryKindGoldenImage) {
    ScratchDir dir;
    dir.write("mk", HEAD + "MAPR NES-NROM-128\nNAME My Game\nTVCI 2\nMIRR 1\nBATR 0\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, OPENED +
              "Storing MAPR as 'NES-NROM-128'\n"
              "Storing NAME as 'My Game'\n"
              "Storing TVCI as 2\n"
              "Storing MIRR as 1\n"
              "Storing BATR as 0\n"
              "Done!\n");
    EXPECT_EQ(dir.read("out.unf"),
              unif_header() +
              "MAPR" "\x0D\x00\x00\x00"s "NES-NROM-128\0"s  // board name, 12 + 1 bytes
              "NAME" "\x08\x00\x00\x00"s "My Game\0"s       // cartridge name, 7 + 1 bytes
              "TVCI" "\x01\x00\x00\x00"s "\x02"             // one byte each
              "MIRR" "\x01\x00\x00\x00"s "\x01"
              "BATR" "\x01\x00\x00\x00"s "\x00"s);
}

TEST(ValueBlocks, TextIsStoredExactlyAndLongerKeysKeepTheirFirstFourBytes) {
    const std::string name_249(249, 'n');
    ScratchDir dir;
    dir.write("mk", HEAD + "NAME \n" "NAME  inner  and trailing  \n" "MAPRX UNL-\xC3\xA9t\xC3\xA9\n"
                           "NAME " + name_249 + "\n" "NAMES %s%n\n" "MAPR CR\rinside\r\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, OPENED +
              "Storing NAME as ''\n"
              "Storing NAME as ' inner  and trailing  '\n"
              "Storing MAPRX as 'UNL-\xC3\xA9t\xC3\xA9'\n"
              "Storing NAME as '" + name_249 + "'\n"
              "Storing NAMES as '%s%n'\n"
              "Storing MAPR as 'CR\rinside'\n"
              "Done!\n");
    EXPECT_EQ(dir.read("out.unf"),
              unif_header() +
              block("NAME", "\0"s) +
              block("NAME", " inner  and trailing  \0"s) +
              block("MAPR", "UNL-\xC3\xA9t\xC3\xA9\0"s) +  // bytes, not characters: length 11
              block("NAME", name_249 + '\0') +           // length 250
              block("NAME", "%s%n\0"s) +
              block("MAPR", "CR\rinside\0"s));
}

TEST(ValueBlocks, NameOf250BytesMakesTheLineMalformed) {
    const std::string name_250(250, 'n');
    ScratchDir dir;
    dir.write("mk", HEAD + "TVCI 1\nNAME " + name_250 + "\nTVCI 2\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, OPENED + "Storing TVCI as 1\n");
    // The line reported is its first 255 characters, without the LF.
    EXPECT_EQ(run.err, "Error decoding line: NAME " + name_250.substr(0, 250) + "\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("TVCI", "\x01"));
}

TEST(ValueBlocks, NumbersAreDecimalModulo256) {
    ScratchDir dir;
    dir.write("mk", HEAD + "MIRR -1\nMIRR 300\nMIRR 7abc\nBATR +1\nBATR  1\nBATR \t1\nBATR \r1\n"
                           "TVCI 010\nTVCI 0x10\nTVCI 99999999999999999999999999999\n"
                           "BATR - 5\nBATR \nBATR x\nMIRRX 4\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, OPENED +
              "Storing MIRR as 255\nStoring MIRR as 44\nStoring MIRR as 7\n"
              "Storing BATR as 1\nStoring BATR as 1\nStoring BATR as 1\nStoring BATR as 1\n"
              "Storing TVCI as 10\nStoring TVCI as 0\nStoring TVCI as 255\n"
              "Storing BATR as 0\nStoring BATR as 0\nStoring BATR as 0\nStoring MIRRX as 4\n"
              "Done!\n");
    EXPECT_EQ(dir.read("out.unf"),
              unif_header() + block("MIRR", "\xFF") + block("MIRR", "\x2C") + block("MIRR", "\x07") +
              block("BATR", "\x01") + block("BATR", "\x01") + block("BATR", "\x01") +
              block("BATR", "\x01") + block("TVCI", "\x0A") + block("TVCI", "\0"s) +
              block("TVCI", "\xFF") + block("BATR", "\0"s) + block("BATR", "\0"s) +
              block("BATR", "\0"s) + block("MIRR", "\x04"));
}

TEST(ValueBlocks, KeysAreCaseSensitiveAndNeedFourLetters) {
    ScratchDir dir;
    dir.write("mk", HEAD + "tvci 2\nmapr X\nNAM x\nBatr 1\nNAME x\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENED + "Storing NAME as 'x'\nDone!\n");
    EXPECT_EQ(run.err,
              "Unrecognized directive tvci encountered, skipping...\n"
              "Unrecognized directive mapr encountered, skipping...\n"
              "Unrecognized directive NAM encountered, skipping...\n"
              "Unrecognized directive Batr encountered, skipping...\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("NAME", "x\0"s));
}

}  // namespace
