// Runs the built programs in a scratch directory and collects everything
// they produced: exit status, standard output, standard error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

enum class Program { unifpack, unifinfo };

struct RunOptions {
    Program program = Program::unifpack;
    std::optional<std::string> argv0 = {};  // unset: the program's own name
    bool no_argv = false;            // start with an empty argument vector
    bool close_stdout = false;       // start with descriptor 1 closed
    std::string stdin_data = {};     // fed through a pipe when not empty
    rlim_t file_size_limit = RLIM_INFINITY;  // with SIGXFSZ ignored
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes a file in the directory, creating it or replacing its contents.
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // Names of everything in the directory, sorted.
    std::vector<std::string> list() const;

    // Runs a program with the directory as working directory.
    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Image bytes: the 32-byte header, and one block (ID, length, payload).
std::string unif_header();
std::string le32(std::uint32_t value);
std::string block(const std::string& id, const std::string& payload);
