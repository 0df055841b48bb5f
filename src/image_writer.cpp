#include "image_writer.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileIdentity identity_of(int fd, bool except_devices) {
    FileIdentity identity;
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && !(except_devices && S_ISCHR(info.st_mode))) {
        identity.known = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
    }
    return identity;
}

bool is_file(const struct stat& info, const FileIdentity& identity) {
    return identity.known && info.st_dev == identity.device && info.st_ino == identity.inode;
}

namespace {

bool is_one_of(const struct stat& info, std::span<const FileIdentity> files) {
    for (const FileIdentity& file : files)
        if (is_file(info, file))
            return true;
    return false;
}

// Takes the regular file open on `fd` for this run alone and empties it.
// Another run writing the same image holds an exclusive lock on it from
// before its truncation to its close: wait for that run to finish, then
// truncate, so that the image is one run's whole image, never a mix of two.
// The lock goes with the descriptor when the image is closed. `info` is
// brought up to date once the lock is held.
bool own_regular_file(int fd, struct stat& info) {
    int locked;
    do {
        locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    // A file that is already empty is not truncated: on some file systems
    // a truncation makes the final close wait for the whole image to reach
    // the disk.
    return locked == 0 && fstat(fd, &info) == 0 && (info.st_size == 0 || ftruncate(fd, 0) == 0);
}

}  // namespace

Image create_image(const char* path, std::span<const FileIdentity> keep) {
    Image image;
    // Open without truncating first, so the makefile (or a file the
    // messages go to) can be recognised and left alone whatever the
    // spelling of its name, and so that an image another run is still
    // writing is not cut under it.
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return image;
    struct stat info;
    if (fstat(fd, &info) != 0 || is_one_of(info, keep) ||
        (S_ISREG(info.st_mode) && !own_regular_file(fd, info))) {
        close(fd);
        return image;
    }
    image.stream = fdopen(fd, "wb");
    if (image.stream == nullptr) {
        close(fd);
        return image;
    }
    image.identity = {true, info.st_dev, info.st_ino};
    return image;
}

void write_le32(std::FILE* image, std::uint32_t value) {
    unsigned char bytes[4] = {
        static_cast<unsigned char>(value & 0xFF),
        static_cast<unsigned char>((value >> 8) & 0xFF),
        static_cast<unsigned char>((value >> 16) & 0xFF),
        static_cast<unsigned char>((value >> 24) & 0xFF),
    };
    std::fwrite(bytes, 1, sizeof bytes, image);
}

void write_header(std::FILE* image) {
    std::fwrite(UNIF_MAGIC, 1, sizeof UNIF_MAGIC, image);
    write_le32(image, UNIF_REVISION);
    // The rest of the header is reserved: zero bytes, four at a time.
    for (std::size_t i = sizeof UNIF_MAGIC + 4; i < UNIF_HEADER_SIZE; i += 4)
        write_le32(image, 0);
}

void write_block_start(std::FILE* image, const char* key, std::uint32_t length) {
    // The key as stored with its zero byte: stop reading it at that byte.
    char id[BLOCK_ID_SIZE] = {};
    for (std::size_t i = 0; i < BLOCK_ID_SIZE && key[i] != '\0'; ++i)
        id[i] = key[i];
    std::fwrite(id, 1, sizeof id, image);
    write_le32(image, length);
}

bool image_ok(std::FILE* image) {
    return std::ferror(image) == 0;
}

bool close_image(Image& image) {
    if (image.stream == nullptr)
        return true;
    bool ok = std::fflush(image.stream) == 0 && std::ferror(image.stream) == 0;
    if (std::fclose(image.stream) != 0)
        ok = false;
    image.stream = nullptr;
    return ok;
}
