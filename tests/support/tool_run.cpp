#include "tool_run.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
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

namespace {

// Writes the reason of every skip into a file named after the test, in the
// directory that ctest prints after the run (tests/report_skips.sh): ctest
// itself shows a skip without its reason.
class SkipRecorder : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override {
        name_ = std::string(test.test_suite_name()) + "." + test.name();
    }
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (!result.skipped())
            return;
        std::error_code ignored;
        fs::create_directories(SKIP_REASONS, ignored);
        std::ofstream note(fs::path(SKIP_REASONS) / name_, std::ios::app);
        note << result.message() << "\n";
    }

    std::string name_;
};

class RecordSkips : public testing::Environment {
    void SetUp() override {
        testing::UnitTest::GetInstance()->listeners().Append(new SkipRecorder);
    }
};

[[maybe_unused]] testing::Environment* const RECORD_SKIPS =
    testing::AddGlobalTestEnvironment(new RecordSkips);

}  // namespace

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

// Installs a seccomp filter for this process and what it executes: every
// read, copy_file_range and splice from the descriptor `read_fd` fails with
// EIO, and every splice into `splice_fd` with EINVAL (-1: no such rule).
// Yields 0, or the errno of the step that was refused.
int install_faults(int read_fd, int splice_fd) {
#if defined(__x86_64__) || defined(__aarch64__)
#if defined(__x86_64__)
    constexpr std::uint32_t arch = AUDIT_ARCH_X86_64;
#else
    constexpr std::uint32_t arch = AUDIT_ARCH_AARCH64;
#endif
    // Descriptor numbers are compared by the low 32 bits of an argument; a
    // rule whose descriptor is -1 compares with a number no call uses.
    auto fd_word = [](int fd) { return fd < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(fd); };
    constexpr auto ARG0 = offsetof(struct seccomp_data, args[0]);
    constexpr auto ARG2 = offsetof(struct seccomp_data, args[2]);
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        // splice: its source is argument 0, its target argument 2.
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_splice, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARG2),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fd_word(splice_fd), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_JUMP(BPF_JMP | BPF_JA, 4, 0, 0),  // on to the source test
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_read, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_readv, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_copy_file_range, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARG0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fd_word(read_fd), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return errno;
    return 0;
#else
    (void)read_fd;
    (void)splice_fd;
    return ENOSYS;  // no filter written for this architecture: the test skips
#endif
}

}  // namespace

CommandResult run_command(const std::vector<std::string>& command) {
    std::vector<std::string> words = command;
    std::vector<char*> argv = argv_of(words);
    CommandResult result;
    int err_pipe[2];
    if (pipe2(err_pipe, O_CLOEXEC) != 0)
        return result;
    pid_t child = fork();
    if (child < 0) {
        close(err_pipe[0]);
        close(err_pipe[1]);
        return result;
    }
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0)
            _exit(125);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err_pipe[1], 2);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    close(err_pipe[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = read(err_pipe[0], buffer, sizeof buffer)) != 0) {
        if (got > 0)
            result.err.append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            break;
    }
    close(err_pipe[0]);
    result.status = wait_for(child);
    return result;
}

namespace {

// Reads both pipes until the child has closed them, and meanwhile feeds
// `input` into the child's standard input (closed once all of it is in),
// however large it is. Standard output is closed early, as a reader that
// goes away would, once `out_limit` bytes of it are read.
void collect(int in_fd, const std::string& input, int out_fd, int err_fd,
             std::size_t out_limit, RunResult& result) {
    if (in_fd >= 0 && input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    if (out_limit == 0) {
        close(out_fd);
        out_fd = -1;
    }
    struct pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    std::size_t fed = 0;
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0 || fds[2].fd >= 0) {
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed");
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            ssize_t put = (fds[2].revents & POLLOUT) != 0
                              ? ::write(fds[2].fd, input.data() + fed, input.size() - fed)
                              : -1;
            if (put > 0)
                fed += static_cast<std::size_t>(put);
            if (fed == input.size() || (put < 0 && errno != EINTR && errno != EAGAIN)) {
                close(fds[2].fd);  // all fed, or the child stopped reading
                fds[2].fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0)
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            bool done = got == 0 || (got < 0 && errno != EINTR) ||
                        (i == 0 && result.out.size() >= out_limit);
            if (done) {
                close(fds[i].fd);
                fds[i].fd = -1;
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
    if (!options.stdin_data.empty() && pipe2(in_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe failed");

    // A child that stops reading its input must not kill the test with
    // SIGPIPE; the child itself starts with the default, as from a shell.
    std::signal(SIGPIPE, SIG_IGN);
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        // The child's end of its input blocks as usual.
        if (in_pipe[0] >= 0)
            fcntl(in_pipe[0], F_SETFL, 0);
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
        if (options.fail_reads_from_fd >= 0 || options.refuse_splice_into_fd >= 0) {
            int refused = install_faults(options.fail_reads_from_fd, options.refuse_splice_into_fd);
            if (refused != 0) {
                std::fprintf(stderr, "seccomp filter refused: %s\n", std::strerror(refused));
                _exit(SETUP_FAILED);
            }
        }
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
    collect(in_pipe[1], options.stdin_data, out_pipe[0], err_pipe[0], options.stdout_read_limit,
            result);
    result.status = wait_for(child);
    return result;
}
