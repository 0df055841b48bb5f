// Fuzz target: arbitrary bytes as the makefile of a whole build run, called
// in this process in a scratch directory that is laid out afresh for every
// run: the makefile, a data file of bytes a text copy would damage, an empty
// one, and a directory; any other name is a missing file. Each input runs
// twice: as "mk", and as "d\mk" with every name under the base "d\".
//
// Every run must end with status 0 or 1, leave no descriptor open, create or
// change nothing but the image it names, and leave an image that is the
// 32-byte header and whole blocks (ID, 32-bit little-endian length,
// payload) that add up to its size. Its status, both streams and every file
// must also be what the plain model of the tool says.
//
// The tool opens whatever the makefile names. A slash could lead a name out
// of the scratch directory, and an output name could then truncate any file
// on this machine: inputs holding a slash are rejected unrun.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "build_run.h"
#include "fuzz_check.h"
#include "fuzz_run.h"
#include "makefile_model.h"

namespace {

Scratch scratch;
int scratch_fd = -1;  // scratch.fd

// CR LF, Ctrl-Z, zero bytes and 0xFF: a text-mode copy would change them.
const std::string DATA = std::string("PRG\r\n\x1A\0\xFF", 8) + "data" + std::string(3, '\0');

// Calls `visit` with the name of every entry of the scratch directory.
template <typename Visit>
void for_each_entry(Visit visit) {
    DIR* dir = fdopendir(dup(scratch_fd));
    FUZZ_CHECK(dir != nullptr, "opening the scratch directory");
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            visit(name);
    }
    closedir(dir);
}

// Removes everything in the scratch directory. The tool creates no
// directory, so only the laid-out one can hold anything, and never does.
void clear_scratch() {
    for_each_entry([](const std::string& name) {
        if (unlinkat(scratch_fd, name.c_str(), 0) != 0)
            FUZZ_CHECK(unlinkat(scratch_fd, name.c_str(), AT_REMOVEDIR) == 0, "clearing the scratch directory");
    });
}

void write_file(const std::string& name, const std::string& bytes) {
    int fd = openat(scratch_fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0, "creating a file in the scratch directory");
    FUZZ_CHECK(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
               "writing a file in the scratch directory");
    close(fd);
}

std::string read_file(const std::string& name) {
    int fd = openat(scratch_fd, name.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "opening a file in the scratch directory");
    std::string bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
    FUZZ_CHECK(got == 0, "reading a file in the scratch directory");
    close(fd);
    return bytes;
}

void lay_out(const model::Directory& layout) {
    clear_scratch();
    for (const auto& [name, bytes] : layout.files)
        write_file(name, bytes);
    for (const std::string& name : layout.directories)
        FUZZ_CHECK(mkdirat(scratch_fd, name.c_str(), 0755) == 0, "creating a directory");
}

// What the scratch directory holds now; anything but files and empty
// directories is a finding.
model::Directory found() {
    model::Directory now;
    for_each_entry([&now](const std::string& name) {
        struct stat info;
        FUZZ_CHECK(fstatat(scratch_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0, "stat");
        if (S_ISDIR(info.st_mode)) {
            FUZZ_CHECK(info.st_nlink == 2, "something was created inside a directory");
            now.directories.insert(name);
        } else {
            FUZZ_CHECK(S_ISREG(info.st_mode), "something other than a file was created");
            now.files[name] = read_file(name);
        }
    });
    return now;
}

std::uint32_t le32_at(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

// The header, then whole blocks to the last byte.
void check_framing(const std::string& image) {
    FUZZ_CHECK(image.size() >= model::header().size(), "image shorter than its header");
    FUZZ_CHECK(image.compare(0, model::header().size(), model::header()) == 0, "image header");
    std::size_t at = model::header().size();
    while (at < image.size()) {
        FUZZ_CHECK(image.size() - at >= 8, "a block start cut short");
        std::uint64_t length = le32_at(image, at + 4);
        FUZZ_CHECK(image.size() - at - 8 >= length, "a block payload cut short");
        at += 8 + length;
    }
}

void run_once(const std::string& base, const std::string& bytes) {
    model::Directory before;
    before.makefile = base + "mk";
    before.files = {{base + "mk", bytes}, {base + "a.prg", DATA}, {base + "empty", ""}};
    before.directories = {base + "sub"};
    lay_out(before);
    model::Outcome expected = model::run(before);

    EntryRun run = run_entry(build_run, {"unifpack", before.makefile}, scratch_fd, scratch);
    int status = run.status;
    const std::string& got_out = run.out;
    const std::string& got_err = run.err;

    model::Directory now = found();
    FUZZ_CHECK(now.directories == before.directories, "directories created or removed");
    std::size_t changed = 0;
    for (const auto& [name, contents] : now.files) {
        auto old = before.files.find(name);
        if (old != before.files.end() && old->second == contents)
            continue;
        ++changed;  // the image: new, or a file it truncated
        check_framing(contents);
    }
    for (const auto& [name, contents] : before.files)
        FUZZ_CHECK(now.files.count(name) == 1, "a file was removed");
    FUZZ_CHECK(changed <= 1, "more than one file created or changed");
    // "Done!" as a line of its own, and last, exactly when the run succeeded
    // (names in other messages may hold the word).
    const std::string done = "\nDone!\n";
    bool ends_done = got_out.size() >= done.size() &&
                     got_out.compare(got_out.size() - done.size(), done.size(), done) == 0;
    FUZZ_CHECK(ends_done == (status == 0), "Done! and the status disagree");

    FUZZ_CHECK(status == expected.status, "status differs from the model's");
    FUZZ_CHECK(got_out == expected.out, "standard output differs from the model's");
    FUZZ_CHECK(got_err == expected.err, "standard error differs from the model's");
    FUZZ_CHECK(now.files == expected.after.files, "files differ from the model's");
}

void remove_scratch() {
    clear_scratch();
    rmdir(scratch.path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = make_scratch("unifpack-fuzz");
    scratch_fd = scratch.fd;
    std::atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.find('/') != std::string::npos)
        return -1;
    run_once("", bytes);
    run_once("d\\", bytes);
    return 0;
}
