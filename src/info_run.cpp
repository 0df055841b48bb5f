#include "info_run.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "command_line.h"
#include "image_extract.h"
#include "image_messages.h"
#include "image_reader.h"
#include "messages.h"

namespace {

// What `-h` and `--help` print after the usage line: this, the views,
// then HELP_TAIL.
constexpr char HELP_HEAD[] =
    "Lists a UNIF cartridge image: its revision, then one line per block with\n"
    "its offset, ID and payload length in bytes, and a view of the contents:\n";

constexpr char HELP_TAIL[] =
    "\n"
    "Exit status: 0 when the image was listed whole, 1 when it cannot be\n"
    "read, is not a UNIF image, or is truncated.\n"
    "\n"
    "As the first argument instead of an image:\n"
    "  -h, --help         print this help\n"
    "  --version          print the version\n"
    "  --extract [--lossy] DIR IMAGE\n"
    "                     write a makefile and data files into the new directory\n"
    "                     DIR from which unifpack rebuilds IMAGE byte for byte;\n"
    "                     with --lossy also when some blocks cannot be expressed\n"
    "                     (those are left out, and the status is 1)\n"
    "See unifinfo(1) for the output format and the extraction.\n";

// The views of the help, one line each, naming the blocks shown so.
void print_help_views() {
    print_help_names([](const BlockInfo& block) { return block.view == View::text; });
    progress("the text\n");
    print_help_names([](const BlockInfo& block) { return block.view == View::first_line; });
    progress("the text's first line\n");
    print_help_names([](const BlockInfo& block) { return block.view == View::byte; });
    progress("the byte and its meaning\n");
    print_help_names([](const BlockInfo& block) { return block.view == View::checksum; });
    progress("the CRC-32 of the data\n");
}

// The image is read through this one reader, buffer included.
ImageReader reader;

// One line per block: offset, ID, length, contents. At least one blank
// stands between any two fields, however wide they grow.
void print_block(const ImageBlock& block) {
    char id[ID_TEXT_SIZE];
    char contents[CONTENTS_SIZE];
    format_id(block.id, id);
    format_contents(block, contents);
    progress("%8" PRIu64 "  %-5s %8" PRIu32 "%s%s\n", block.offset, id, block.length,
             contents[0] != '\0' ? "  " : "", contents);
}

// Lists every whole block; yields the exit status.
int list_blocks(const char* path) {
    ImageBlock block;
    for (;;) {
        NextBlock next = next_block(reader, block);
        switch (next) {
        case NextBlock::block:
            print_block(block);
            break;
        case NextBlock::end:
            return 0;
        case NextBlock::cut_start:
        case NextBlock::cut_payload:
        case NextBlock::read_error:
            report_block_failure(path, next, block, reader);
            return 1;
        }
    }
}

int list_image(const char* path) {
    std::FILE* stream = open_image(path);
    if (stream == nullptr)
        return 1;
    attach_image(reader, stream);
    ImageHeader header = read_header(reader);
    int status = 1;
    switch (header.result) {
    case HeaderResult::ok:
        progress("UNIF revision %" PRIu32 "\n", header.revision);
        progress("  offset  id      length  contents\n");
        status = list_blocks(path);
        break;
    case HeaderResult::too_short:
    case HeaderResult::wrong_magic:
    case HeaderResult::read_error:
        report_header_failure(path, header.result, reader);
        break;
    }
    std::fclose(stream);
    return status;
}

// unifinfo --extract [--lossy] DIR IMAGE
int extract_command(const char* name, int argc, char** argv) {
    bool lossy = argc > 2 && std::strcmp(argv[2], "--lossy") == 0;
    int first = lossy ? 3 : 2;
    if (argc != first + 2) {
        report("Syntax: %s --extract [--lossy] <directory> <image>\n", name);
        return 1;
    }
    return extract_image(argv[first], argv[first + 1], lossy);
}

}  // namespace

int info_run(int argc, char** argv) {
    const char* name = program_name(argc, argv, "unifinfo");
    if (argc < 2) {
        report("Syntax: %s <image>\n", name);
        return 1;
    }
    const char* path = argv[1];
    int status = 0;
    if (std::strcmp(path, "--extract") == 0)
        status = extract_command(name, argc, argv);
    else switch (option_of(path)) {
    case Option::none:
        status = list_image(path);
        break;
    case Option::help:
        progress("Syntax: %s <image>\n%s", name, HELP_HEAD);
        print_help_views();
        progress("%s", HELP_TAIL);
        break;
    case Option::version:
        progress("unifinfo %s\n", UNIFPACK_VERSION);
        break;
    }
    // The listing is the whole point: a listing that did not reach its
    // reader is a failed run.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        report("Error writing to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}
