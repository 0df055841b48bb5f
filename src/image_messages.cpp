#include "image_messages.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <sys/stat.h>

#include "messages.h"

std::FILE* open_image(const char* path) {
    std::FILE* stream = std::fopen(path, "rb");
    struct stat info;
    int error = stream == nullptr                     ? errno
                : fstat(fileno(stream), &info) != 0  ? errno
                : S_ISDIR(info.st_mode)               ? EISDIR
                                                      : 0;
    if (error == 0)
        return stream;
    if (stream != nullptr)
        std::fclose(stream);
    report("Unable to open image %s: %s\n", path, std::strerror(error));
    return nullptr;
}

void report_header_failure(const char* path, HeaderResult result, const ImageReader& reader) {
    switch (result) {
    case HeaderResult::ok:
        break;
    case HeaderResult::too_short:
        report("%s is not a UNIF image: it is shorter than the %zu-byte header\n", path,
               UNIF_HEADER_SIZE);
        break;
    case HeaderResult::wrong_magic:
        report("%s is not a UNIF image: it does not begin with \"UNIF\"\n", path);
        break;
    case HeaderResult::read_error:
        report("Error reading image %s: %s\n", path, std::strerror(reader.error));
        break;
    }
}

void report_block_failure(const char* path, NextBlock next, const ImageBlock& block,
                          const ImageReader& reader) {
    switch (next) {
    case NextBlock::block:
    case NextBlock::end:
        break;
    case NextBlock::cut_start:
        report("%s is truncated: the block start at offset %" PRIu64 " has %" PRIu64
               " of its %zu bytes\n",
               path, block.offset, block.present, BLOCK_START_SIZE);
        break;
    case NextBlock::cut_payload: {
        char id[ID_TEXT_SIZE];
        format_id(block.id, id);
        report("%s is truncated: block %s at offset %" PRIu64 " has %" PRIu64
               " of its %" PRIu32 " payload bytes\n",
               path, id, block.offset, block.present, block.length);
        break;
    }
    case NextBlock::read_error:
        report("Error reading image %s: %s\n", path, std::strerror(reader.error));
        break;
    }
}
