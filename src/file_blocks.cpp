#include "file_blocks.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "messages.h"
#include "unif_blocks.h"

namespace {

// Data files are copied through this one buffer; nothing else of theirs is
// held in memory.
constexpr std::size_t COPY_BUFFER_SIZE = std::size_t{128} * 1024;
unsigned char copy_buffer[COPY_BUFFER_SIZE];

// READ stores its file's bytes and a zero byte, PRGn and CHRn the bytes.
bool is_read_me(const char* key) {
    const BlockInfo* block = block_for_key(key);
    return block != nullptr && block->payload == Payload::file_text;
}

bool claims_file(const char* key) {
    const BlockInfo* block = block_for_key(key);
    return block != nullptr && (block->payload == Payload::file || block->payload == Payload::file_text);
}

// Opens a data file: only a regular file that is not the image itself.
// The open never waits (a FIFO without a writer is refused at once).
int open_data_file(const char* path, const Image& image, struct stat& info) {
    if (path == nullptr)
        return -1;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        is_file(info, image.identity)) {
        close(fd);
        return -1;
    }
    return fd;
}

enum class Copy { ok, short_read, write_failed };

// Writes `count` zero bytes, so a block cut short stays well framed.
bool write_zeros(std::FILE* image, std::uint64_t count) {
    std::memset(copy_buffer, 0, COPY_BUFFER_SIZE);
    while (count > 0) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count, COPY_BUFFER_SIZE));
        if (std::fwrite(copy_buffer, 1, chunk, image) != chunk)
            return false;
        count -= chunk;
    }
    return true;
}

// Requested size of the pipe that carries data inside the kernel; the
// kernel may grant less. Its pages are the kernel's, not the tool's memory.
constexpr int KERNEL_PIPE_SIZE = 1 << 20;

bool is_regular_file(int fd) {
    struct stat info;
    return fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Moves what stands in the pipe into the image through the stream.
bool drain_pipe(int pipe_out, std::FILE* image, std::size_t pending) {
    while (pending > 0) {
        ssize_t got = read(pipe_out, copy_buffer, std::min(pending, COPY_BUFFER_SIZE));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        std::size_t bytes = static_cast<std::size_t>(got);
        if (std::fwrite(copy_buffer, 1, bytes, image) != bytes)
            return false;
        pending -= bytes;
    }
    return true;
}

// Copies data file to image inside the kernel, through a pipe, so no byte
// passes through the tool's memory. Stops early, with `left` telling what
// remains, when a splice is refused, fails or the data file ends early:
// the buffered loop then goes on and tells a failed read from a failed
// write. Yields false only when a write to the image failed.
bool splice_bytes(int source, std::FILE* image, std::uint64_t& left) {
    int target = fileno(image);
    if (!is_regular_file(target))
        return true;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        return true;
    fcntl(pipe_fds[1], F_SETPIPE_SZ, KERNEL_PIPE_SIZE);
    int pipe_size = fcntl(pipe_fds[1], F_GETPIPE_SZ);
    std::size_t chunk_limit = pipe_size > 0 ? static_cast<std::size_t>(pipe_size) : 65536;
    bool written = true;
    bool spliced = true;  // false once a splice into the image was refused
    while (left > 0 && spliced) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk_limit));
        ssize_t in = splice(source, nullptr, pipe_fds[1], nullptr, chunk, SPLICE_F_MOVE);
        if (in < 0 && errno == EINTR)
            continue;
        if (in <= 0)
            break;
        std::size_t pending = static_cast<std::size_t>(in);
        left -= pending;
        while (pending > 0) {
            ssize_t out = splice(pipe_fds[0], nullptr, target, nullptr, pending, SPLICE_F_MOVE);
            if (out > 0) {
                pending -= static_cast<std::size_t>(out);
            } else if (out < 0 && errno == EINTR) {
                continue;
            } else {
                // The stream writes what the pipe holds and reports a real
                // failure; the buffered loop copies the rest.
                written = drain_pipe(pipe_fds[0], image, pending) && std::fflush(image) == 0;
                spliced = false;
                break;
            }
        }
    }
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return written;
}

// Copies exactly `size` bytes of the data file into the image.
Copy copy_bytes(int source, std::FILE* image, std::uint64_t size) {
    std::uint64_t left = size;
    // A data file larger than the image stream's buffer is copied inside
    // the kernel, once what the stream holds is written out. A smaller one
    // goes through the stream, which takes fewer system calls than setting
    // up that copy.
    if (size > IMAGE_BUFFER_SIZE && (std::fflush(image) != 0 || !splice_bytes(source, image, left)))
        return Copy::write_failed;
    while (left > 0) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, COPY_BUFFER_SIZE));
        ssize_t got = read(source, copy_buffer, chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return write_zeros(image, left) ? Copy::short_read : Copy::write_failed;
        std::size_t bytes = static_cast<std::size_t>(got);
        if (std::fwrite(copy_buffer, 1, bytes, image) != bytes)
            return Copy::write_failed;
        left -= bytes;
    }
    return Copy::ok;
}

BlockResult write_file(const char* key, const char* value, Image& image, MakefileReader& makefile) {
    struct stat info;
    int source = open_data_file(resolve_name(makefile, value), image, info);
    if (source < 0) {
        report("Error writing block %s - unable to open file '%s'!\n", key, value);
        return BlockResult::done;
    }
    bool read_me = is_read_me(key);
    std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    std::uint64_t limit = UINT32_MAX - (read_me ? 1u : 0u);
    if (size > limit) {
        close(source);
        report("Error writing block %s - file '%s' is too large!\n", key, value);
        return BlockResult::done;
    }
    std::uint32_t length = static_cast<std::uint32_t>(size + (read_me ? 1 : 0));
    if (size > IMAGE_BUFFER_SIZE)
        posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);

    progress("Storing %s as from file %s (%" PRIu32 " bytes)\n", key, value, length);
    write_block_start(image.stream, key, length);
    Copy copy = copy_bytes(source, image.stream, size);
    close(source);
    if (read_me && copy != Copy::write_failed)
        std::fputc(0, image.stream);
    if (copy == Copy::write_failed || !image_ok(image.stream))
        return BlockResult::image_error;
    return copy == Copy::short_read ? BlockResult::read_error : BlockResult::done;
}

}  // namespace

const BlockKind FILE_BLOCKS = {claims_file, write_file};
