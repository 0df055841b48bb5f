// The build run end to end: the built tool in a scratch directory, with
// its whole stdout, stderr, exit status and resulting files compared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tool_run.h"

namespace {

using namespace std::string_literals;
using Files = std::vector<std::string>;

const std::string MAGIC = "TALVORIN\n";

// Bytes that differ from place to place, so that a block out of place shows.
std::string varied_bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(((i + seed) * 2654435761u) >> 24);
    return bytes;
}

TEST(BuildRun, NoDirectivesYieldsTheHeaderOnly) {
    ScratchDir dir;
    dir.write("mk", MAGIC + "out.unf\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\nDone!\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("out.unf"),
              "\x55\x4E\x49\x46"s        // "UNIF"
              "\x07\x00\x00\x00"s        // revision 7
              + std::string(24, '\0'));  // reserved
}

TEST(BuildRun, ExistingImageIsTruncatedAndFurtherArgumentsIgnored) {
    ScratchDir dir;
    dir.write("mk", MAGIC + "out.unf\r\n");
    dir.write("out.unf", std::string(1000, 'x'));
    RunResult run = dir.run({"mk", "other", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\nDone!\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("out.unf"), unif_header());
}

TEST(BuildRun, UnclaimedKeysAreReportedAndSkipped) {
    ScratchDir dir;
    dir.write("mk", MAGIC + "out.unf\n" "tvci 2\n" "prg0 a.prg\n" " empty key\n" "XYZ \n"
                            "%s%n%x x\n" "Name Game\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\nDone!\n");
    EXPECT_EQ(run.err,
              "Unrecognized directive tvci encountered, skipping...\n"
              "Unrecognized directive prg0 encountered, skipping...\n"
              "Unrecognized directive  encountered, skipping...\n"
              "Unrecognized directive XYZ encountered, skipping...\n"
              "Unrecognized directive %s%n%x encountered, skipping...\n"
              "Unrecognized directive Name encountered, skipping...\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header());
}

TEST(BuildRun, MalformedLineStopsTheRunAndKeepsTheBlocksBefore) {
    ScratchDir dir;
    dir.write("mk", MAGIC + "out.unf\n" "NAME a\n" "TVCI 1\n" "NAME-no-space\n" "NAME b\n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\n"
                       "Storing NAME as 'a'\nStoring TVCI as 1\n");
    EXPECT_EQ(run.err, "Error decoding line: NAME-no-space\n\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("NAME", "a\0"s) + block("TVCI", "\x01"));
}

TEST(BuildRun, NoArgumentPrintsTheUsageWithTheProgramName) {
    struct Case {
        RunOptions options;
        std::string expected;
    };
    RunOptions named;
    named.argv0 = "./bin/my unifpack";
    RunOptions empty_name;
    empty_name.argv0 = "";
    RunOptions no_argv;
    no_argv.no_argv = true;
    const Case cases[] = {
        {named, "Syntax: ./bin/my unifpack <makefile>\n"},
        {empty_name, "Syntax: unifpack <makefile>\n"},
        {no_argv, "Syntax: unifpack <makefile>\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        RunResult run = dir.run({}, c.options);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.expected);
        EXPECT_EQ(dir.list(), Files{});
    }
}

// Every fatal failure before the image is created: status 1, one message,
// and an existing file of the output name left as it was.
TEST(BuildRun, FatalFailuresBeforeTheImageLeaveEverythingUntouched) {
    struct Case {
        const char* what;
        std::string makefile;  // written as "mk" unless empty_dir
        const char* argument;
        std::string err;
    };
    const std::string not_valid = "Specified file is not a valid makefile!\n";
    const std::string too_long = "Filename too long! Increase MAXLEN and recompile.\n";
    const Case cases[] = {
        {"missing makefile", "", "nothing", "Unable to open makefile!\n"},
        {"makefile is a directory", "", "sub", "Unable to open makefile!\n"},
        {"empty makefile", "", "mk", not_valid},
        {"wrong magic", "TALVORIN \nout.unf\n", "mk", not_valid},
        {"lower-case magic", "talvorin\nout.unf\n", "mk", not_valid},
        {"byte-order mark", "\xEF\xBB\xBF" "TALVORIN\nout.unf\n", "mk", not_valid},
        {"ends after the magic", MAGIC, "mk", not_valid},
        {"Ctrl-Z after the magic", MAGIC + "\x1A" "out.unf\n", "mk", not_valid},
        {"output name without LF", MAGIC + "out.unf", "mk", too_long},
        {"output name of 255 characters", MAGIC + std::string(255, 'o') + "\n", "mk", too_long},
        {"output name with a zero byte", MAGIC + "out.unf\0\n"s, "mk", too_long},
        {"no such directory", MAGIC + "nodir/out.unf\n", "mk",
         "Unable to open file nodir/out.unf for output!\n"},
        {"blank output name", MAGIC + "\n", "mk", "Unable to open file  for output!\n"},
        {"output name is a directory", MAGIC + "sub\n", "mk", "Unable to open file sub for output!\n"},
        {"output name is the makefile", MAGIC + "mk\n", "mk", "Unable to open file mk for output!\n"},
        {"output name is the makefile, spelled otherwise", MAGIC + "./sub/../mk\n", "mk",
         "Unable to open file ./sub/../mk for output!\n"},
        {"resolved name over 255 characters", MAGIC + std::string(250, 'o') + "\n",
         "abcdef\\mk", "Unable to open file " + std::string(250, 'o') + " for output!\n"},
        {"format text in the output name", MAGIC + "nodir/%s%n\n", "mk",
         "Unable to open file nodir/%s%n for output!\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        std::string argument = c.argument;
        if (!c.makefile.empty() || argument == "mk")
            dir.write(argument, c.makefile);
        ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
        dir.write("out.unf", "keep");
        Files before = dir.list();
        RunResult run = dir.run({argument});
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(dir.list(), before) << c.what;
        EXPECT_EQ(dir.read("out.unf"), "keep") << c.what;
        if (dir.exists(argument) && argument != "sub") {
            EXPECT_EQ(dir.read(argument), c.makefile) << c.what;
        }
    }
}

TEST(BuildRun, NamesResolveAgainstTheMakefilesBackslashBase) {
    // On this host the backslash is an ordinary character: the base "roms\"
    // and the name make the file name "roms\out.unf" in the current directory.
    ScratchDir dir;
    dir.write("roms\\game.txt", MAGIC + "out.unf\n");
    ASSERT_EQ(mkdir((dir / "roms").c_str(), 0755), 0);
    dir.write("roms/game.txt", MAGIC + "out2.unf\n");
    RunResult run = dir.run({"roms\\game.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\nDone!\n");
    EXPECT_EQ(dir.read("roms\\out.unf"), unif_header());
    // A slash separates nothing: the name is taken against the current directory.
    run = dir.run({"roms/game.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("out2.unf"), unif_header());
    EXPECT_EQ(dir.list(), (Files{"out2.unf", "roms", "roms\\game.txt", "roms\\out.unf"}));
}

TEST(BuildRun, OutputNameKeepsItsBlanks) {
    ScratchDir dir;
    dir.write("mk", MAGIC + " out.unf \n");
    RunResult run = dir.run({"mk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file  out.unf  for output.\nWriting header...\nDone!\n");
    EXPECT_EQ(dir.read(" out.unf "), unif_header());
}

TEST(BuildRun, MakefileFromAPipe) {
    ScratchDir dir;
    RunOptions piped;
    piped.stdin_data = MAGIC + "out.unf\nXYZ 1\n";
    RunResult run = dir.run({"/dev/stdin"}, piped);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\nDone!\n");
    EXPECT_EQ(run.err, "Unrecognized directive XYZ encountered, skipping...\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header());
}

TEST(BuildRun, FailedImageWritesAreFatal) {
    ScratchDir dir;
    dir.write("big.prg", std::string(100000, '\x5A'));
    dir.write("small", MAGIC + "/dev/full\nNAME x\n");
    dir.write("large", MAGIC + "/dev/full\nPRG0 big.prg\nNAME x\n");
    RunResult run = dir.run({"small"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Opened file /dev/full for output.\nWriting header...\nStoring NAME as 'x'\n");
    EXPECT_EQ(run.err, "Error writing to file /dev/full!\n");
    run = dir.run({"large"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Opened file /dev/full for output.\nWriting header...\n"
                       "Storing PRG0 as from file big.prg (100000 bytes)\n");
    EXPECT_EQ(run.err, "Error writing to file /dev/full!\n");
}

TEST(BuildRun, WriteCutShortByAFileSizeLimitIsFatal) {
    ScratchDir dir;
    std::string data(20000, '\x5A');
    dir.write("big.prg", data);
    dir.write("mk", MAGIC + "out.unf\nNAME x\nPRG0 big.prg\nNAME y\n");
    for (rlim_t limit : {rlim_t{16}, rlim_t{10000}}) {
        RunOptions limited;
        limited.file_size_limit = limit;
        RunResult run = dir.run({"mk"}, limited);
        EXPECT_EQ(run.status, 1) << limit;
        EXPECT_EQ(run.err, "Error writing to file out.unf!\n") << limit;
        EXPECT_EQ(run.out.find("Done!"), std::string::npos) << limit;
        std::string whole = unif_header() + block("NAME", "x\0"s) + block("PRG0", data);
        EXPECT_EQ(dir.read("out.unf"), whole.substr(0, limit)) << limit;
    }
}

TEST(BuildRun, ClosedStandardOutputKeepsMessagesOutOfTheImage) {
    ScratchDir dir;
    dir.write("a.prg", "abc");
    dir.write("mk", MAGIC + "out.unf\nNAME x\nPRG0 a.prg\nXYZ q\n");
    RunResult normal = dir.run({"mk"});
    std::string expected = unif_header() + block("NAME", "x\0"s) + block("PRG0", "abc");
    EXPECT_EQ(dir.read("out.unf"), expected);
    RunOptions closed;
    closed.close_stdout = true;
    RunResult run = dir.run({"mk"}, closed);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Unrecognized directive XYZ encountered, skipping...\n");
    EXPECT_EQ(dir.read("out.unf"), expected);
}

// `unifpack mk > out.unf` with out.unf the output name: the messages would
// overwrite the image, so the image counts as one that cannot be created.
TEST(BuildRun, ImageIsNeverTheFileTheMessagesGoTo) {
    for (bool to_stderr : {false, true}) {
        ScratchDir dir;
        const std::string mk = MAGIC + "./out.unf\nNAME x\n";
        dir.write("mk", mk);
        RunOptions redirected;
        (to_stderr ? redirected.stderr_to : redirected.stdout_to) = "out.unf";
        RunResult run = dir.run({"mk"}, redirected);
        EXPECT_EQ(run.status, 1);
        const std::string message = "Unable to open file ./out.unf for output!\n";
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, to_stderr ? "" : message);
        EXPECT_EQ(dir.read("out.unf"), to_stderr ? message : "");
        EXPECT_EQ(dir.list(), (Files{"mk", "out.unf"}));
        EXPECT_EQ(dir.read("mk"), mk);
    }
    // Messages going to another regular file are no obstacle.
    ScratchDir dir;
    dir.write("mk", MAGIC + "out.unf\nNAME x\n");
    RunOptions logged;
    logged.stdout_to = "log";
    RunResult run = dir.run({"mk"}, logged);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("log"), "Opened file out.unf for output.\nWriting header...\n"
                               "Storing NAME as 'x'\nDone!\n");
    EXPECT_EQ(dir.read("out.unf"), unif_header() + block("NAME", "x\0"s));
}

// An image named after the stream the messages go to, that stream being a
// pipe (`unifpack mk | cat > x.unf` with /dev/stdout as the output name):
// the messages would be mixed into the image, so it cannot be created.
// A character device such as /dev/null stays a possible image.
TEST(BuildRun, ImageIsNeverThePipeTheMessagesGoTo) {
    struct Case {
        std::string image;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"/dev/stdout", "", "Unable to open file /dev/stdout for output!\n"},
        {"/dev/stderr", "", "Unable to open file /dev/stderr for output!\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("mk", MAGIC + c.image + "\nNAME x\n");
        RunResult run = dir.run({"mk"});
        EXPECT_EQ(run.status, 1) << c.image;
        EXPECT_EQ(run.out, c.out) << c.image;
        EXPECT_EQ(run.err, c.err) << c.image;
        EXPECT_EQ(dir.list(), Files{"mk"}) << c.image;
    }
    ScratchDir dir;
    dir.write("mk", MAGIC + "/dev/null\nNAME x\n");
    RunOptions quiet;
    quiet.stdout_to = "/dev/null";
    RunResult run = dir.run({"mk"}, quiet);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

// `unifpack mk | head -1`: the reader of the messages goes away, before it
// has read anything or after a little. The messages are information only:
// the image is built whole, and the status tells about the image alone.
TEST(BuildRun, ReaderOfTheMessagesGoingAwayDoesNotStopTheBuild) {
    ScratchDir dir;
    std::string data;
    for (int i = 0; i < 300000; ++i)
        data += static_cast<char>(i * 7 + i / 251);
    dir.write("a.prg", data);
    // Enough lines (about 240 KB of messages) that the messages outgrow the
    // tool's 64 KiB buffer and the pipe's, so writes go on after the reader
    // has gone.
    std::string mk = MAGIC + "out.unf\n";
    std::string image = unif_header();
    for (int i = 0; i < 8000; ++i) {
        std::string name = "cartridge " + std::to_string(i);
        mk += "NAME " + name + "\n";
        image += block("NAME", name + '\0');
    }
    mk += "PRG0 a.prg\nXYZ q\nNAME last\n";
    image += block("PRG0", data) + block("NAME", "last\0"s);
    dir.write("mk", mk);
    RunResult normal = dir.run({"mk"});
    ASSERT_EQ(normal.status, 0);
    ASSERT_EQ(dir.read("out.unf"), image);
    for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{4096}}) {
        dir.write("out.unf", "old image");
        RunOptions gone;
        gone.stdout_read_limit = limit;
        RunResult run = dir.run({"mk"}, gone);
        EXPECT_EQ(run.status, 0) << limit;
        EXPECT_EQ(run.err, "Unrecognized directive XYZ encountered, skipping...\n") << limit;
        EXPECT_EQ(run.out, normal.out.substr(0, run.out.size())) << limit;
        EXPECT_TRUE(dir.read("out.unf") == image) << limit;
    }
}

// An image on a FIFO whose reader goes away: a failed write to the image,
// reported as such, never an end by a signal.
TEST(BuildRun, ImageOnAFifoWhoseReaderGoesAway) {
    ScratchDir dir;
    dir.write("a.prg", std::string(1 << 20, 'a'));
    dir.write("mk", MAGIC + "out.unf\nNAME x\nPRG0 a.prg\nNAME y\n");
    ASSERT_EQ(mkfifo((dir / "out.unf").c_str(), 0644), 0);
    std::string head;
    std::thread reader([&] {
        int fd = open((dir / "out.unf").c_str(), O_RDONLY);
        if (fd < 0)
            return;
        char bytes[10];
        ssize_t got = read(fd, bytes, sizeof bytes);
        if (got > 0)
            head.assign(bytes, static_cast<std::size_t>(got));
        close(fd);
    });
    RunResult run = dir.run({"mk"});
    reader.join();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Opened file out.unf for output.\nWriting header...\n"
                       "Storing NAME as 'x'\nStoring PRG0 as from file a.prg (1048576 bytes)\n");
    EXPECT_EQ(run.err, "Error writing to file out.unf!\n");
    EXPECT_EQ(head, unif_header().substr(0, 10));
}


// Two runs of different makefiles naming one image, started together (as
// a parallel make does when two targets share an output by mistake): the
// run that comes second waits for the first to finish and then writes its
// own image, so both succeed and the image is, byte for byte, one of the
// two, never a mix of both or one framed wrongly. Without the lock about
// one round in four left a mixed image here.
TEST(BuildRun, TwoRunsWritingOneImageAtOnceLeaveOneRunsWholeImage) {
    constexpr int ROUNDS = 50;
    constexpr std::size_t A_SIZE = 100000;
    constexpr std::size_t B_SIZE = 60000;
    ScratchDir dir;
    const std::string a = varied_bytes(A_SIZE, 1);
    const std::string b = varied_bytes(B_SIZE, 2);
    dir.write("a.prg", a);
    dir.write("b.prg", b);
    dir.write("a.mk", MAGIC + "out.unf\nNAME a\nPRG0 a.prg\n");
    dir.write("b.mk", MAGIC + "out.unf\nNAME bb\nPRG0 b.prg\nCHR0 b.prg\n");
    const std::string image_a = unif_header() + block("NAME", "a\0"s) + block("PRG0", a);
    const std::string image_b =
        unif_header() + block("NAME", "bb\0"s) + block("PRG0", b) + block("CHR0", b);
    const std::string opened = "Opened file out.unf for output.\nWriting header...\n";
    const std::string from_b = " as from file b.prg (" + std::to_string(B_SIZE) + " bytes)\n";
    const std::string out_a = opened + "Storing NAME as 'a'\nStoring PRG0 as from file a.prg (" +
                              std::to_string(A_SIZE) + " bytes)\nDone!\n";
    const std::string out_b =
        opened + "Storing NAME as 'bb'\nStoring PRG0" + from_b + "Storing CHR0" + from_b + "Done!\n";
    int mixed = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        RunResult run_a;
        std::thread other([&] { run_a = dir.run({"a.mk"}); });
        RunResult run_b = dir.run({"b.mk"});
        other.join();
        EXPECT_EQ(run_a.status, 0) << round;
        EXPECT_EQ(run_a.out, out_a) << round;
        EXPECT_EQ(run_a.err, "") << round;
        EXPECT_EQ(run_b.status, 0) << round;
        EXPECT_EQ(run_b.out, out_b) << round;
        EXPECT_EQ(run_b.err, "") << round;
        std::string image = dir.read("out.unf");
        if (image != image_a && image != image_b)
            ++mixed;
    }
    EXPECT_EQ(mixed, 0) << "images that are neither run's own, of " << ROUNDS;
    EXPECT_EQ(dir.list(), (Files{"a.mk", "a.prg", "b.mk", "b.prg", "out.unf"}));
}

// Runs writing different images in one directory at once: each image is
// exactly what its run alone writes.
TEST(BuildRun, EightRunsWritingEightImagesAtOnce) {
    ScratchDir dir;
    constexpr int RUNS = 8;
    std::string images[RUNS];
    std::string outs[RUNS];
    for (int i = 0; i < RUNS; ++i) {
        std::string n = std::to_string(i);
        std::size_t size = 50000 + 1000 * static_cast<std::size_t>(i);
        std::string data = varied_bytes(size, static_cast<unsigned>(i));
        dir.write(n + ".prg", data);
        dir.write(n + ".mk", MAGIC + n + ".unf\nNAME " + n + "\nPRG0 " + n + ".prg\n");
        images[i] = unif_header() + block("NAME", n + '\0') + block("PRG0", data);
        outs[i] = "Opened file " + n + ".unf for output.\nWriting header...\nStoring NAME as '" + n +
                  "'\nStoring PRG0 as from file " + n + ".prg (" + std::to_string(size) +
                  " bytes)\nDone!\n";
    }
    RunResult runs[RUNS];
    std::thread threads[RUNS];
    for (int i = 0; i < RUNS; ++i)
        threads[i] = std::thread([&, i] { runs[i] = dir.run({std::to_string(i) + ".mk"}); });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < RUNS; ++i) {
        EXPECT_EQ(runs[i].status, 0) << i;
        EXPECT_EQ(runs[i].out, outs[i]) << i;
        EXPECT_EQ(runs[i].err, "") << i;
        EXPECT_EQ(dir.read(std::to_string(i) + ".unf"), images[i]) << i;
    }
}

}  // namespace
