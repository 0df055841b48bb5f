#include "tool_run.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string le32(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string unif_header() {
    return std::string("UNIF") + le32(7) + std::string(24, '\0');
}

std::string block(const std::string& id, const std::string& payload) {
    return id + le32(static_cast<std::uint32_t>(payload.size())) + payload;
}

ScratchDir::ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "unifpack-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const {
    write_file(*this / name, bytes);
}

std::string ScratchDir::read(const std::string& name) const {
    return read_file(*this / name);
}

bool ScratchDir::exists(const std::string& name) const {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(*this / name, ignored));
}

std::vector<std::string> ScratchDir::list() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string tool_path() {
    return UNIFPACK_BIN;
}

namespace {

std::vector<char*> argv_of(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

int wait_for(pid_t child) {
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status))
        return 128 + WTERMSIG(wait_status);
    return -1;
}

// Makes every read, copy_file_range and splice from the descriptor `fd`
// fail with EIO, for this process and what it executes.
bool fail_reads_from(int fd) {
#if defined(__x86_64__) || defined(__aarch64__)
#if defined(__x86_64__)
    constexpr std::uint32_t arch = AUDIT_ARCH_X86_64;
#else
    constexpr std::uint32_t arch = AUDIT_ARCH_AARCH64;
#endif
    // Descriptor numbers are compared by the low 32 bits of the first argument.
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_read, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_readv, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_copy_file_range, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_splice, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fd), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    (void)fd;
    return false;  // no filter written for this architecture: the test skips
#endif
}

}  // namespace

int run_command(const std::vector<std::string>& command) {
    std::vector<std::string> words = command;
    std::vector<char*> argv = argv_of(words);
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0)
            _exit(125);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return wait_for(child);
}

namespace {

// Reads both pipes until the child has closed them.
void collect(int out_fd, int err_fd, RunResult& result) {
    struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

RunResult ScratchDir::run(const std::vector<std::string>& args, const RunOptions& options) const {
    bool info = options.program == Program::unifinfo;
    const char* binary = info ? UNIFINFO_BIN : UNIFPACK_BIN;
    std::vector<std::string> words = options.wrapper;
    if (!options.wrapper.empty())
        words.push_back(binary);
    else if (!options.no_argv)
        words.push_back(options.argv0.value_or(info ? "unifinfo" : "unifpack"));
    if (!options.wrapper.empty() || !options.no_argv)
        words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv = argv_of(words);

    int in_pipe[2] = {-1, -1};
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (!options.stdin_data.empty()) {
        if (pipe2(in_pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        // Small enough for the pipe's buffer: write it all up front.
        if (::write(in_pipe[1], options.stdin_data.data(), options.stdin_data.size()) !=
            static_cast<ssize_t>(options.stdin_data.size()))
            throw std::runtime_error("pipe write failed");
        close(in_pipe[1]);
    }

    pid_t child = fork();
    if (child == 0) {
        int in = in_pipe[0] >= 0 ? in_pipe[0] : open("/dev/null", O_RDONLY);
        if (in < 0 || chdir(path_.c_str()) != 0)
            _exit(125);
        dup2(in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (options.close_stdout)
            close(1);
        // As the shell's `>` and `2>` would, relative to the directory.
        const std::string* redirects[3] = {nullptr, &options.stdout_to, &options.stderr_to};
        for (int fd = 1; fd <= 2; ++fd) {
            if (redirects[fd]->empty())
                continue;
            int file = open(redirects[fd]->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0 || dup2(file, fd) < 0)
                _exit(125);
            close(file);
        }
        if (options.file_size_limit != RLIM_INFINITY) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        // Nothing but 0, 1 and 2 reaches the tool, whatever this process inherited.
        if (close_range(3, ~0U, 0) != 0) {
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
        }
        if (options.open_files_limit != RLIM_INFINITY) {
            struct rlimit limit = {options.open_files_limit, options.open_files_limit};
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        if (options.fail_reads_from_fd >= 0 && !fail_reads_from(options.fail_reads_from_fd))
            _exit(SETUP_FAILED);
        if (options.wrapper.empty())
            execv(binary, argv.data());
        else
            execvp(argv[0], argv.data());
        _exit(126);
    }
    if (in_pipe[0] >= 0)
        close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    RunResult result;
    collect(out_pipe[0], err_pipe[0], result);
    result.status = wait_for(child);
    return result;
}
