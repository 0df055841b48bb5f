#include "image_extract.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image_messages.h"
#include "image_reader.h"
#include "makefile_reader.h"
#include "messages.h"
#include "unif_blocks.h"

namespace {

constexpr unsigned char CTRL_Z = 0x1A;

// The longest value a directive line holds after a key of this length:
// the line has MAXLEN - 1 characters, the key's space and the LF included.
std::size_t value_limit(std::size_t key_length) {
    return MAXLEN - 1 - key_length - 2;
}

// A data file's name: stem, spelled index byte, repeat number, extension.
constexpr std::size_t NAME_SIZE = 40;
constexpr std::size_t REASON_SIZE = 96;

// How often each ID with a data file was met so far, so that a repeated
// ID gets a name of its own (prg0.bin, prg0-2.bin, ...). The table's file
// kinds make at most 2 x 256 + 1 IDs.
constexpr std::size_t MAX_FILE_IDS = 1024;
struct Seen {
    unsigned char id[BLOCK_ID_SIZE];
    std::uint64_t count;
};

struct Extraction {
    const char* dir = nullptr;  // as given, for messages
    bool lossy = false;
    char target[PATH_MAX] = {};     // dir without trailing slashes
    char temp_path[PATH_MAX] = {};  // the directory being filled, beside it
    int temp_fd = -1;               // -1 before it exists and once removed
    std::FILE* makefile = nullptr;
    int write_error = 0;            // errno of the first write that failed...
    char failed_name[NAME_SIZE] = {};  // ...and the file it wrote
    std::uint64_t blocks = 0;
    std::uint64_t left_out = 0;  // blocks and header fields not expressed
    std::uint64_t blocks_left_out = 0;
    std::uint64_t data_files = 0;
    Seen seen[MAX_FILE_IDS] = {};
    std::size_t seen_count = 0;

    // The block being read.
    bool begun = false;
    char key[BLOCK_ID_SIZE + 1] = {};  // the key that makes it, if any
    const char* key_problem = nullptr;  // why no key can, or nullptr
    int data_fd = -1;
    char data_name[NAME_SIZE] = {};
    unsigned char kept[MAXLEN] = {};  // the payload's first bytes
    std::uint64_t zeros = 0;          // text kinds: zero bytes in the payload
    bool has_lf = false;
    bool has_ctrl_z = false;
    unsigned char last = 0;         // the payload's last byte...
    unsigned char before_last = 0;  // ...and the one before it
};

// The image and the extraction of one run.
ImageReader reader;
Extraction extraction;

bool has_data_file(const BlockInfo& kind) {
    return kind.payload == Payload::file || kind.payload == Payload::file_text;
}

void note_write_error(Extraction& x, const char* name, int error) {
    if (x.write_error != 0)
        return;
    x.write_error = error != 0 ? error : EIO;
    std::snprintf(x.failed_name, sizeof x.failed_name, "%s", name);
}

void close_data_file(Extraction& x) {
    if (x.data_fd < 0)
        return;
    if (close(x.data_fd) != 0)
        note_write_error(x, x.data_name, errno);
    x.data_fd = -1;
}

// Removes the directory being filled and everything in it: the result is
// not going to be complete.
void remove_result(Extraction& x) {
    if (x.data_fd >= 0)
        close(x.data_fd);
    x.data_fd = -1;
    if (x.makefile != nullptr)
        std::fclose(x.makefile);
    x.makefile = nullptr;
    if (x.temp_fd < 0)
        return;
    int listing = dup(x.temp_fd);
    if (DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr) {
        while (const dirent* entry = readdir(entries))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                unlinkat(x.temp_fd, entry->d_name, 0);
        closedir(entries);
    } else if (listing >= 0) {
        close(listing);
    }
    close(x.temp_fd);
    x.temp_fd = -1;
    rmdir(x.temp_path);
}

// Why a key cannot hold the byte, or nullptr when it can: the space ends
// the key, an LF the line, a zero byte the line's text, a Ctrl-Z the
// makefile. (The table's IDs hold a zero byte only as the index byte of
// PRG and CHR, which a three-letter key makes.)
const char* unfit_for_key(unsigned char c) {
    switch (c) {
    case ' ': return "a key cannot hold a space";
    case '\n': return "a key cannot hold an LF";
    case 0: return "a key cannot hold a zero byte";
    case CTRL_Z: return "a key cannot hold a Ctrl-Z";
    default: return nullptr;
    }
}

// The key whose block has this ID: the ID's four bytes, or for the
// indexed kinds three letters when the index byte is zero.
void make_key(Extraction& x, const ImageBlock& block) {
    x.key[0] = '\0';
    const BlockInfo* kind = block.kind;
    if (kind == nullptr || kind->key == KeyMatch::none) {
        x.key_problem = "no makefile key makes this block";
        return;
    }
    std::size_t size = BLOCK_ID_SIZE;
    if (kind->key == KeyMatch::prefix && block.id[kind->id_size] == 0)
        size = kind->id_size;
    for (std::size_t i = 0; i < size; ++i) {
        if (const char* unfit = unfit_for_key(block.id[i])) {
            x.key_problem = unfit;
            return;
        }
    }
    std::memcpy(x.key, block.id, size);
    x.key[size] = '\0';
    if (block_for_key(x.key) != kind)
        x.key_problem = "no makefile key makes this block";
}

// The ID's count so far, this block included.
std::uint64_t count_id(Extraction& x, const unsigned char id[BLOCK_ID_SIZE]) {
    for (std::size_t i = 0; i < x.seen_count; ++i)
        if (std::memcmp(x.seen[i].id, id, BLOCK_ID_SIZE) == 0)
            return ++x.seen[i].count;
    if (x.seen_count == MAX_FILE_IDS)
        return 0;  // cannot happen; a name taken twice fails at its creation
    Seen& entry = x.seen[x.seen_count++];
    std::memcpy(entry.id, id, BLOCK_ID_SIZE);
    entry.count = 1;
    return 1;
}

// The data file's name: the ID in lower case, its index byte spelled safely
// (an ASCII letter or digit as it is, a zero byte as nothing, any other byte
// as _HH), "-N" from the second block of an ID on, and .bin; a read-me is
// readme.txt.
void name_data_file(Extraction& x, const ImageBlock& block) {
    const BlockInfo& kind = *block.kind;
    char stem[BLOCK_ID_SIZE * 3 + 1] = {};
    std::size_t used = 0;
    const char* extension = ".bin";
    if (kind.payload == Payload::file_text) {
        std::snprintf(stem, sizeof stem, "readme");
        extension = ".txt";
    } else {
        for (std::size_t i = 0; i < BLOCK_ID_SIZE; ++i) {
            unsigned char c = block.id[i];
            if (i < kind.id_size && c >= 'A' && c <= 'Z')
                stem[used++] = static_cast<char>(c - 'A' + 'a');
            else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                stem[used++] = static_cast<char>(c);
            else if (c != 0)
                used += static_cast<std::size_t>(std::snprintf(stem + used, sizeof stem - used, "_%02X", c));
        }
        stem[used] = '\0';
    }
    std::uint64_t count = count_id(x, block.id);
    if (count <= 1)
        std::snprintf(x.data_name, sizeof x.data_name, "%s%s", stem, extension);
    else
        std::snprintf(x.data_name, sizeof x.data_name, "%s-%" PRIu64 "%s", stem, count, extension);
}

// Creates a file in the directory being filled; never one that exists.
int create_file(Extraction& x, const char* name) {
    int fd = openat(x.temp_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        note_write_error(x, name, errno);
    return fd;
}

void begin_block(Extraction& x, const ImageBlock& block) {
    x.begun = true;
    x.key_problem = nullptr;
    x.zeros = 0;
    x.has_lf = x.has_ctrl_z = false;
    x.last = x.before_last = 0;
    make_key(x, block);
    if (x.key_problem == nullptr && has_data_file(*block.kind) && x.temp_fd >= 0) {
        name_data_file(x, block);
        x.data_fd = create_file(x, x.data_name);
    }
}

void write_data(Extraction& x, const unsigned char* data, std::size_t size) {
    while (size > 0 && x.data_fd >= 0) {
        ssize_t wrote = write(x.data_fd, data, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            note_write_error(x, x.data_name, wrote < 0 ? errno : EIO);
            close(x.data_fd);
            x.data_fd = -1;
            return;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
}

// Takes one piece of a payload as the image reader reads it: keeps its
// first bytes and the facts the makefile's rules ask about, and copies it
// into the data file (a read-me without its final byte, the zero byte
// that unifpack adds again).
void take_piece(void* context, const ImageBlock& block, const unsigned char* data, std::size_t size) {
    Extraction& x = *static_cast<Extraction*>(context);
    if (size == 0)
        return;  // the block's start: its first piece begins it here
    if (block.present == 0)
        begin_block(x, block);
    if (block.present < sizeof x.kept) {
        std::size_t room = sizeof x.kept - static_cast<std::size_t>(block.present);
        std::memcpy(x.kept + block.present, data, size < room ? size : room);
    }
    if (block.kind != nullptr && block.kind->payload == Payload::text) {
        for (std::size_t i = 0; i < size; ++i) {
            x.zeros += data[i] == 0 ? 1 : 0;
            x.has_lf = x.has_lf || data[i] == '\n';
            x.has_ctrl_z = x.has_ctrl_z || data[i] == CTRL_Z;
        }
    }
    x.before_last = size >= 2 ? data[size - 2] : x.last;
    x.last = data[size - 1];
    std::size_t copied = size;
    if (block.kind != nullptr && block.kind->payload == Payload::file_text &&
        block.present + size == block.length)
        --copied;
    write_data(x, data, copied);
}

// Whether a makefile line can make exactly this block; when not, the reason.
bool expressible(const Extraction& x, const ImageBlock& block, char (&reason)[REASON_SIZE]) {
    if (x.key_problem != nullptr) {
        std::snprintf(reason, sizeof reason, "%s", x.key_problem);
        return false;
    }
    const BlockInfo& kind = *block.kind;
    if (kind.length != ANY_LENGTH && block.length != kind.length) {
        std::snprintf(reason, sizeof reason, "its payload is %" PRIu32 " bytes, not %" PRIu32,
                      block.length, kind.length);
        return false;
    }
    const char* problem = nullptr;
    switch (kind.payload) {
    case Payload::text:
        if (block.length == 0 || x.last != 0)
            problem = "the text does not end in a zero byte";
        else if (x.zeros > 1)
            problem = "the text holds a zero byte before its end";
        else if (x.has_lf)
            problem = "the text holds an LF";
        else if (x.has_ctrl_z)
            problem = "the text holds a Ctrl-Z";
        else if (block.length >= 2 && x.before_last == '\r')
            problem = "the text ends in a CR";
        else if (block.length - 1 > value_limit(std::strlen(x.key))) {
            std::snprintf(reason, sizeof reason, "the text is %" PRIu32 " bytes, a line holds %zu",
                          block.length - 1, value_limit(std::strlen(x.key)));
            return false;
        }
        break;
    case Payload::file_text:
        if (block.length == 0 || x.last != 0)
            problem = "the read-me does not end in a zero byte";
        break;
    case Payload::byte:
    case Payload::file:
        break;
    case Payload::record:
    case Payload::crc32:
        problem = "no makefile key makes this block";  // no key claims these
        break;
    }
    if (problem != nullptr)
        std::snprintf(reason, sizeof reason, "%s", problem);
    return problem == nullptr;
}

void write_line(Extraction& x, const char* value, std::size_t size) {
    if (x.makefile == nullptr)
        return;
    std::fputs(x.key, x.makefile);
    std::fputc(' ', x.makefile);
    std::fwrite(value, 1, size, x.makefile);
    std::fputc('\n', x.makefile);
    if (std::ferror(x.makefile) != 0)
        note_write_error(x, EXTRACT_MAKEFILE, errno);
}

// The directive that makes the block, and its data file, now complete.
void write_directive(Extraction& x, const ImageBlock& block) {
    if (x.temp_fd < 0)
        return;
    switch (block.kind->payload) {
    case Payload::text:
        write_line(x, reinterpret_cast<const char*>(x.kept), block.length - 1);
        break;
    case Payload::byte: {
        char number[4];
        int size = std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(x.kept[0]));
        write_line(x, number, static_cast<std::size_t>(size));
        break;
    }
    case Payload::file:
    case Payload::file_text:
        close_data_file(x);
        write_line(x, x.data_name, std::strlen(x.data_name));
        ++x.data_files;
        break;
    case Payload::record:
    case Payload::crc32:
        break;  // never expressible
    }
}

void finish_block(Extraction& x, const ImageBlock& block) {
    if (!x.begun)
        begin_block(x, block);  // an empty payload hands over no piece
    x.begun = false;
    ++x.blocks;
    char reason[REASON_SIZE];
    if (expressible(x, block, reason)) {
        write_directive(x, block);
        return;
    }
    char id[ID_TEXT_SIZE];
    format_id(block.id, id);
    report("Block %s at offset %" PRIu64 " cannot be expressed: %s\n", id, block.offset, reason);
    ++x.left_out;
    ++x.blocks_left_out;
    if (x.data_fd >= 0) {
        close(x.data_fd);
        x.data_fd = -1;
        unlinkat(x.temp_fd, x.data_name, 0);
    }
    if (!x.lossy)
        remove_result(x);
}

// Header fields unifpack always writes the same way.
void check_header(Extraction& x, const ImageHeader& header) {
    if (header.revision != UNIF_REVISION) {
        report("Header at offset 4 cannot be expressed: revision %" PRIu32 ", unifpack writes %" PRIu32
               "\n",
               header.revision, UNIF_REVISION);
        ++x.left_out;
    }
    if (!header.reserved_zero) {
        report("Header at offset 8 cannot be expressed: reserved bytes that are not zero\n");
        ++x.left_out;
    }
}

// Why the directory cannot be extracted into, as an errno value: 0 when it
// does not exist or is an empty directory.
int unusable_target(const char* target) {
    struct stat info;
    if (lstat(target, &info) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    DIR* entries = opendir(target);
    if (entries == nullptr)
        return errno;
    int error = 0;
    while (const dirent* entry = readdir(entries))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            error = ENOTEMPTY;
    closedir(entries);
    return error;
}

// Creates the directory to fill, beside the target: a hidden name of its
// own, so that nothing half written ever stands under the target's name.
int create_temp(Extraction& x) {
    const char* slash = std::strrchr(x.target, '/');
    std::size_t parent = slash == nullptr ? 0 : static_cast<std::size_t>(slash - x.target) + 1;
    int size = std::snprintf(x.temp_path, sizeof x.temp_path, "%.*s.unifinfo-XXXXXX",
                             static_cast<int>(parent), x.target);
    if (size < 0 || static_cast<std::size_t>(size) >= sizeof x.temp_path)
        return ENAMETOOLONG;
    if (mkdtemp(x.temp_path) == nullptr)
        return errno;
    x.temp_fd = open(x.temp_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (x.temp_fd < 0) {
        int error = errno;
        rmdir(x.temp_path);
        return error;
    }
    int fd = create_file(x, EXTRACT_MAKEFILE);
    x.makefile = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (x.makefile == nullptr) {
        int error = fd < 0 ? x.write_error : errno;
        if (fd >= 0)
            close(fd);
        remove_result(x);
        return error;
    }
    std::fprintf(x.makefile, "%s%s\n", MAGIC_LINE, EXTRACT_OUTPUT);
    return 0;
}

// Gives the filled directory the target's name, with the mode a new
// directory gets: rename replaces an empty directory, and fails on one that
// something was put into meanwhile.
int move_into_place(Extraction& x) {
    std::FILE* makefile = x.makefile;
    x.makefile = nullptr;
    if (std::fclose(makefile) != 0)
        note_write_error(x, EXTRACT_MAKEFILE, errno);
    if (x.write_error != 0)
        return 0;
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(x.temp_fd, 0777 & ~mask) != 0 || rename(x.temp_path, x.target) != 0)
        return errno;
    close(x.temp_fd);
    x.temp_fd = -1;
    return 0;
}

// Walks every block; yields false when the image could not be read whole.
bool walk_blocks(Extraction& x, const char* image_path) {
    ImageBlock block;
    for (;;) {
        NextBlock next = next_block(reader, block);
        switch (next) {
        case NextBlock::block:
            finish_block(x, block);
            if (x.write_error != 0)
                return true;
            break;
        case NextBlock::end:
            return true;
        case NextBlock::cut_start:
        case NextBlock::cut_payload:
        case NextBlock::read_error:
            report_block_failure(image_path, next, block, reader);
            return false;
        }
    }
}

// Opens the image and reads its header; the stream, or null after a message.
std::FILE* open_whole_header(const char* path, ImageHeader& header) {
    std::FILE* stream = open_image(path);
    if (stream == nullptr)
        return nullptr;
    attach_image(reader, stream);
    header = read_header(reader);
    if (header.result == HeaderResult::ok)
        return stream;
    report_header_failure(path, header.result, reader);
    std::fclose(stream);
    return nullptr;
}

const char* plural(std::uint64_t count) {
    return count == 1 ? "" : "s";
}

int extract(Extraction& x, const char* image_path) {
    std::size_t length = std::strlen(x.dir);
    if (length >= sizeof x.target) {
        report("Unable to extract into %s: %s\n", x.dir, std::strerror(ENAMETOOLONG));
        return 1;
    }
    std::memcpy(x.target, x.dir, length + 1);
    while (length > 1 && x.target[length - 1] == '/')
        x.target[--length] = '\0';

    ImageHeader header;
    std::FILE* stream = open_whole_header(image_path, header);
    if (stream == nullptr)
        return 1;
    int error = unusable_target(x.target);
    if (error == 0)
        error = create_temp(x);
    if (error != 0) {
        std::fclose(stream);
        report("Unable to extract into %s: %s\n", x.dir, std::strerror(error));
        return 1;
    }
    check_header(x, header);
    if (x.left_out > 0 && !x.lossy)
        remove_result(x);

    reader.sink = take_piece;
    reader.sink_context = &x;
    reader.decode_views = false;
    bool whole = walk_blocks(x, image_path);
    reader.sink = nullptr;
    reader.decode_views = true;
    std::fclose(stream);
    if (!whole) {
        remove_result(x);
        return 1;
    }
    if (x.write_error == 0 && x.temp_fd < 0)
        return 1;  // something cannot be expressed: nothing was kept
    if (x.write_error == 0)
        error = move_into_place(x);
    if (x.write_error != 0 || error != 0) {
        remove_result(x);
        if (x.write_error != 0)
            report("Error writing %s/%s: %s\n", x.target, x.failed_name, std::strerror(x.write_error));
        else
            report("Unable to extract into %s: %s\n", x.dir, std::strerror(error));
        return 1;
    }
    std::uint64_t extracted = x.blocks - x.blocks_left_out;
    if (x.blocks_left_out > 0)
        progress("Extracted %" PRIu64 " of %" PRIu64 " blocks", extracted, x.blocks);
    else
        progress("Extracted %" PRIu64 " block%s", extracted, plural(extracted));
    progress(" into %s/%s and %" PRIu64 " data file%s\n", x.target, EXTRACT_MAKEFILE, x.data_files,
             plural(x.data_files));
    return x.left_out > 0 ? 1 : 0;
}

}  // namespace

int extract_image(const char* dir, const char* image_path, bool lossy) {
    Extraction& x = extraction;
    x = Extraction{};
    x.dir = dir;
    x.lossy = lossy;
    return extract(x, image_path);
}
