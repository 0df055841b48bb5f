// Runs the built programs in a scratch directory and collects everything
// they produced: exit status, standard output, standard error.
#pragma once

#include <cstddef>
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
    std::string stdout_to = {};      // a file standard output goes to instead
    std::string stderr_to = {};      // a file standard error goes to instead
    std::string stdin_data = {};     // fed through a pipe when not empty
    // The reader of standard output goes away (closes the pipe) once it has
    // read this many bytes, as `| head -c N` would; 0 before it reads any.
    std::size_t stdout_read_limit = SIZE_MAX;
    rlim_t file_size_limit = RLIM_INFINITY;  // with SIGXFSZ ignored
    rlim_t open_files_limit = RLIM_INFINITY;
    // Every read, copy_file_range and splice from this descriptor number
    // fails with EIO (a seccomp filter); -1 for none. The tool starts with only
    // descriptors 0, 1 and 2 open, so it opens the makefile as 3, the image
    // as 4 and the data file as 5.
    int fail_reads_from_fd = -1;
    // Every splice into this descriptor number is refused with EINVAL, as a
    // file system that cannot take spliced pages refuses it; -1 for none.
    int refuse_splice_into_fd = -1;
    // A command that runs the tool (e.g. setpriv or unshare with its
    // options): the tool's path and the arguments are appended to it, and
    // argv0 is not used.
    std::vector<std::string> wrapper = {};
};

// Status of a run whose fault could not be set up here (the seccomp filter
// refused, or a wrapper script's own setup step failed); standard error then
// holds the reason.
constexpr int SETUP_FAILED = 124;

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

// The built tool's path.
std::string tool_path();

// Runs a command with no input and its standard output discarded; yields
// its exit status, or -1 when it could not be run, and what it wrote on
// standard error. For telling whether a mechanism (setpriv, unshare, mount)
// works on this machine, and why not.
struct CommandResult {
    int status = -1;
    std::string err;
};
CommandResult run_command(const std::vector<std::string>& argv);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Image bytes: the 32-byte header, and one block (ID, length, payload).
std::string unif_header();
std::string le32(std::uint32_t value);
std::string block(const std::string& id, const std::string& payload);
