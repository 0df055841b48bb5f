#include "image_writer.h"

#include <cerrno>
#include <cstring>
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

// The image stream's buffer; one image is written at a time.
char image_buffer[IMAGE_BUFFER_SIZE];

void put_le32(unsigned char* bytes, std::uint32_t value) {
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    bytes[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
    bytes[3] = static_cast<unsigned char>((value >> 24) & 0xFF);
}

// The block ID made from the key's first four bytes as stored with its zero
// byte (reading stops at that byte), then the length.
void put_block_start(unsigned char* start, const char* key, std::uint32_t length) {
    std::size_t i = 0;
    for (; i < BLOCK_ID_SIZE && key[i] != '\0'; ++i)
        start[i] = static_cast<unsigned char>(key[i]);
    for (; i < BLOCK_ID_SIZE; ++i)
        start[i] = 0;
    put_le32(start + BLOCK_ID_SIZE, length);
}

// Payloads up to this size are written with their block start in one piece.
constexpr std::size_t SMALL_PAYLOAD_SIZE = 256;

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
    std::setvbuf(image.stream, image_buffer, _IOFBF, IMAGE_BUFFER_SIZE);
    image.identity = {true, info.st_dev, info.st_ino};
    return image;
}

void write_header(std::FILE* image) {
    // The magic, the revision, and reserved zero bytes.
    unsigned char header[UNIF_HEADER_SIZE] = {};
    std::memcpy(header, UNIF_MAGIC, sizeof UNIF_MAGIC);
    put_le32(header + sizeof UNIF_MAGIC, UNIF_REVISION);
    std::fwrite(header, 1, sizeof header, image);
}

void write_block_start(std::FILE* image, const char* key, std::uint32_t length) {
    unsigned char start[BLOCK_START_SIZE];
    put_block_start(start, key, length);
    std::fwrite(start, 1, sizeof start, image);
}

void write_block(std::FILE* image, const char* key, const void* payload, std::uint32_t length) {
    unsigned char block[BLOCK_START_SIZE + SMALL_PAYLOAD_SIZE];
    if (length > SMALL_PAYLOAD_SIZE) {
        write_block_start(image, key, length);
        std::fwrite(payload, 1, length, image);
        return;
    }
    put_block_start(block, key, length);
    std::memcpy(block + BLOCK_START_SIZE, payload, length);
    std::fwrite(block, 1, BLOCK_START_SIZE + length, image);
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
