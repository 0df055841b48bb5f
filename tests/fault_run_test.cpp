// Faults from the machine end to end: an unprivileged user, a real full file
// system, failing reads, too few file descriptors. Each run is compared
// whole: status, both streams, the image and every other file.
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tool_run.h"

namespace {

using namespace std::string_literals;
using Contents = std::map<std::string, std::string>;  // file name -> bytes

const std::string HEAD = "TALVORIN\nout.unf\n";
const std::string OPENED = "Opened file out.unf for output.\nWriting header...\n";

// Everything in the directory: each file with its bytes, a directory as "<dir>".
Contents contents(const ScratchDir& dir) {
    Contents all;
    for (const std::string& name : dir.list()) {
        struct stat info;
        bool is_dir = lstat((dir / name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        all[name] = is_dir ? "<dir>" : dir.read(name);
    }
    return all;
}

// Root reads whatever the permission bits say: the tool runs as nobody here.
const std::vector<std::string> AS_NOBODY = {"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

TEST(Faults, UnprivilegedUserIsRefusedWhatItMayNotReadOrWrite) {
    struct File {
        std::string name;
        std::string bytes;
        mode_t mode;
    };
    struct Case {
        const char* what;
        std::vector<File> files;
        int status;
        std::string out;
        std::string err;
        Contents after;  // every file once the run is over
    };
    const std::string mk = HEAD + "PRG0 secret.prg\nPRG1 a.prg\n";
    const Case cases[] = {
        {"unreadable data file: skipped",
         {{"mk", mk, 0644}, {"a.prg", "abc", 0644}, {"secret.prg", "xyz", 0000}},
         0,
         OPENED + "Storing PRG1 as from file a.prg (3 bytes)\nDone!\n",
         "Error writing block PRG0 - unable to open file 'secret.prg'!\n",
         {{"mk", mk}, {"a.prg", "abc"}, {"secret.prg", "xyz"},
          {"out.unf", unif_header() + block("PRG1", "abc")}}},
        {"unreadable makefile",
         {{"mk", mk, 0000}, {"a.prg", "abc", 0644}},
         1, "", "Unable to open makefile!\n",
         {{"mk", mk}, {"a.prg", "abc"}}},
        {"existing image that may not be written",
         {{"mk", mk, 0644}, {"a.prg", "abc", 0644}, {"out.unf", "keep", 0444}},
         1, "", "Unable to open file out.unf for output!\n",
         {{"mk", mk}, {"a.prg", "abc"}, {"out.unf", "keep"}}},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
        RunOptions nobody;
        nobody.wrapper = AS_NOBODY;
        RunResult probe = dir.run({}, nobody);
        if (probe.status != 1 || probe.err != "Syntax: " + tool_path() + " <makefile>\n")
            GTEST_SKIP() << "setpriv cannot run the tool as uid 65534 here (status "
                         << probe.status << "): " << probe.err;
        for (const File& file : c.files) {
            dir.write(file.name, file.bytes);
            ASSERT_EQ(chmod((dir / file.name).c_str(), file.mode), 0);
        }
        RunResult run = dir.run({"mk"}, nobody);
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(contents(dir), c.after) << c.what;
    }
}

// The image goes to a 64 KiB tmpfs mounted on fs/ in a mount namespace of
// the run's own; the wrapper copies what reached it to image.copy before the
// namespace and the tmpfs go.
const char* const ON_A_SMALL_TMPFS =
    "mount -t tmpfs -o \"$1\" unifpack-test fs || exit 124\n"
    "if [ \"$2\" = fill ]; then cat /dev/zero > fs/filler 2>/dev/null; fi\n"
    "shift 2\n"
    "\"$@\"\n"
    "status=$?\n"
    "if [ -e fs/out.unf ]; then cat fs/out.unf > image.copy || exit 124; fi\n"
    "exit $status\n";

TEST(Faults, FullFileSystemStopsTheRunOrRefusesTheImage) {
    {
        ScratchDir probe;
        CommandResult mounted = run_command(
            {"unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=64k unifpack-probe \"$1\"", "sh",
             probe.path()});
        if (mounted.status != 0)
            GTEST_SKIP() << "cannot mount a tmpfs in a mount namespace of its own (unshare -m) here"
                         << " (status " << mounted.status << "): " << mounted.err;
    }
    std::string big;
    for (int i = 0; i < 100000; ++i)
        big += static_cast<char>(i * 31 + i / 256);
    const std::string whole = unif_header() + block("NAME", "x\0"s) + block("PRG0", big) +
                              block("NAME", "y\0"s);
    const std::string opened = "Opened file fs/out.unf for output.\nWriting header...\n";
    struct Case {
        const char* what;
        const char* mount_options;
        bool fill;       // fill the tmpfs before the run
        int status;
        std::string out;
        std::string err;
        bool created;    // whether fs/out.unf exists afterwards...
        std::size_t kept;  // ...and how much of the image it holds
    };
    const Case cases[] = {
        {"image larger than the file system", "size=64k", false, 1,
         opened + "Storing NAME as 'x'\nStoring PRG0 as from file big.prg (100000 bytes)\n",
         "Error writing to file fs/out.unf!\n", true, 64 * 1024},
        {"file system full before the run: nothing of the image fits", "size=64k", true, 1,
         opened + "Storing NAME as 'x'\nStoring PRG0 as from file big.prg (100000 bytes)\n",
         "Error writing to file fs/out.unf!\n", true, 0},
        {"no inode left for the image", "size=64k,nr_inodes=1", false, 1, "",
         "Unable to open file fs/out.unf for output!\n", false, 0},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        ASSERT_EQ(mkdir((dir / "fs").c_str(), 0755), 0);
        const std::string mk = "TALVORIN\nfs/out.unf\nNAME x\nPRG0 big.prg\nNAME y\n";
        dir.write("mk", mk);
        dir.write("big.prg", big);
        RunOptions tmpfs;
        tmpfs.wrapper = {"unshare", "-m", "sh", "-c", ON_A_SMALL_TMPFS, "sh", c.mount_options,
                         c.fill ? "fill" : "empty"};
        RunResult run = dir.run({"mk"}, tmpfs);
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        Contents after = contents(dir);
        Contents expected = {{"mk", mk}, {"big.prg", big}, {"fs", "<dir>"}};
        // What reached the file system is the image's beginning, cut where
        // the file system filled up.
        if (c.created)
            expected["image.copy"] = whole.substr(0, c.kept);
        EXPECT_TRUE(after == expected) << c.what;
        EXPECT_EQ(after["image.copy"].size(), c.kept) << c.what;
    }
}

// A data file that opens and is measured, then fails every read (EIO, as a
// failing disk gives): the block is completed with zeros, so the image stays
// well framed, and the run stops.
TEST(Faults, ReadErrorInADataFileCompletesTheBlockWithZerosAndStops) {
    struct Case {
        const char* key;
        std::string stored;  // the block's payload
    };
    const Case cases[] = {
        {"PRG0", std::string(5, '\0')},
        {"READ", std::string(6, '\0')},  // the zeros and the read-me's zero byte
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string mk = HEAD + "NAME x\n" + c.key + " a.prg\nNAME y\n";
        dir.write("mk", mk);
        dir.write("a.prg", "abcde");
        RunOptions failing;
        failing.fail_reads_from_fd = 5;  // the data file; makefile and image come first
        RunResult run = dir.run({"mk"}, failing);
        if (run.status == SETUP_FAILED)
            GTEST_SKIP() << "no seccomp filter can be installed here: " << run.err;
        EXPECT_EQ(run.status, 1) << c.key;
        EXPECT_EQ(run.out, OPENED + "Storing NAME as 'x'\nStoring " + c.key + " as from file a.prg (" +
                           std::to_string(c.stored.size()) + " bytes)\n") << c.key;
        EXPECT_EQ(run.err, "Error writing block "s + c.key + " - unable to read file 'a.prg'!\n") << c.key;
        EXPECT_EQ(contents(dir), (Contents{{"mk", mk}, {"a.prg", "abcde"},
                                           {"out.unf", unif_header() + block("NAME", "x\0"s) +
                                                           block(c.key, c.stored)}})) << c.key;
    }
}

// Descriptors 0 to 2 and the makefile take four: with one more the image can
// be created but no data file opened, which is a skip like a missing file.
TEST(Faults, TooFewFileDescriptors) {
    ScratchDir dir;
    const std::string mk = HEAD + "NAME x\nPRG0 a.prg\nNAME y\n";
    dir.write("mk", mk);
    dir.write("a.prg", "abc");
    RunOptions four;
    four.open_files_limit = 4;
    RunResult run = dir.run({"mk"}, four);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Unable to open file out.unf for output!\n");
    EXPECT_EQ(contents(dir), (Contents{{"mk", mk}, {"a.prg", "abc"}}));

    RunOptions five;
    five.open_files_limit = 5;
    run = dir.run({"mk"}, five);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENED + "Storing NAME as 'x'\nStoring NAME as 'y'\nDone!\n");
    EXPECT_EQ(run.err, "Error writing block PRG0 - unable to open file 'a.prg'!\n");
    EXPECT_EQ(contents(dir), (Contents{{"mk", mk}, {"a.prg", "abc"},
                                       {"out.unf", unif_header() + block("NAME", "x\0"s) +
                                                       block("NAME", "y\0"s)}}));
}

}  // namespace
