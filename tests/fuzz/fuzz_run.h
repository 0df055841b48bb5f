// What the in-process fuzz targets need around a run of a program's entry:
// a scratch directory, the program's two streams caught in memory, and the
// properties every run must have (status 0 or 1, no descriptor left open).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_check.h"  // FUZZ_CHECK, lowest_free_descriptor, Captured

struct Scratch {
    std::string path;  // absolute
    int fd = -1;
    int home_fd = -1;  // the working directory to come back to
};

// Creates a directory PREFIX-XXXXXX under $TMPDIR (or /tmp) and opens it,
// and the working directory.
inline Scratch make_scratch(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "creating the scratch directory");
    Scratch scratch{pattern, open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                    open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    FUZZ_CHECK(scratch.fd >= 0 && scratch.home_fd >= 0, "opening the scratch and working directories");
    return scratch;
}

struct EntryRun {
    int status;
    std::string out;
    std::string err;
};

// Calls a program's entry with the arguments (the program name first) in
// the directory `dir_fd`, its two streams caught; the run must end with
// status 0 or 1 and leave no descriptor open.
inline EntryRun run_entry(int (*entry)(int, char**), std::vector<std::string> args, int dir_fd,
                          const Scratch& scratch) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int free_before = lowest_free_descriptor();
    Captured out;
    Captured err;
    std::FILE* real_stdout = stdout;
    std::FILE* real_stderr = stderr;
    FUZZ_CHECK(fchdir(dir_fd) == 0, "entering the directory");
    stdout = out.stream();
    stderr = err.stream();
    int status = entry(static_cast<int>(args.size()), argv.data());
    stdout = real_stdout;
    stderr = real_stderr;
    FUZZ_CHECK(fchdir(scratch.home_fd) == 0, "leaving the directory");
    FUZZ_CHECK(status == 0 || status == 1, "exit status neither 0 nor 1");
    FUZZ_CHECK(lowest_free_descriptor() == free_before, "a descriptor was left open");
    return {status, out.close(), err.close()};
}
