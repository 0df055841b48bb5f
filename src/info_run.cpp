#include "info_run.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "command_line.h"
#include "image_check.h"
#include "image_extract.h"
#include "image_messages.h"
#include "image_reader.h"
#include "json_output.h"
#include "rom_hashes.h"
#include "messages.h"

namespace {

// The usage line, after "Syntax: " and the program's name.
constexpr char USAGE[] = "[--check] [--json] <image>";

// What `-h` and `--help` print after the usage line: this, the views,
// then HELP_TAIL.
constexpr char HELP_HEAD[] =
    "Lists a UNIF cartridge image: its revision, then one line per block with\n"
    "its offset, ID and payload length in bytes, and a view of the contents:\n";

constexpr char HELP_TAIL[] =
    "Then the CRC-32, MD5, SHA-1 and SHA-256 of the PRG data (the PRG blocks\n"
    "joined in index order 0 to F), of the CHR data likewise, and of both.\n"
    "\n"
    "Options, before the image:\n"
    "  --check            instead of the listing, one line per finding on how\n"
    "                     FCEUX, Mednafen, Nestopia, Mesen2 and puNES load the\n"
    "                     image: \"error:\" when a loader refuses it or runs it\n"
    "                     wrongly, \"warning:\" when it runs but differs from\n"
    "                     what the blocks say; then a count of each\n"
    "  --json             the listing (with --check, and the findings) as one\n"
    "                     JSON document\n"
    "\n"
    "Exit status: 0 when the image was listed whole, 1 when it cannot be\n"
    "read, is not a UNIF image, or is truncated; with --check, 1 also when\n"
    "there is an error finding.\n"
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

// What the command line asks for.
struct Request {
    bool check = false;  // findings (instead of the listing, unless json)
    bool json = false;   // one JSON document instead of lines
    const char* path = nullptr;
};

// Whether the blocks are listed and the ROM data hashed.
bool lists(const Request& request) {
    return request.json || !request.check;
}

// The check's state: large, so not on the stack.
ImageCheck check;

RomHasher hasher;

// "PRG0, PRG1": the chips joined.
void print_chips(const char* letters, std::uint16_t chips) {
    const char* separator = "";
    for (unsigned index = 0; index < CHIP_INDEXES; ++index) {
        if ((chips & (1u << index)) != 0) {
            progress("%s%s%c", separator, letters, "0123456789ABCDEF"[index]);
            separator = ", ";
        }
    }
}

void print_hex(const unsigned char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        progress("%02x", bytes[i]);
}

void print_digests(const Digests& digests) {
    progress("  CRC-32   %08" PRIX32 "\n", digests.crc32);
    progress("  MD5      ");
    print_hex(digests.md5, sizeof digests.md5);
    progress("\n  SHA-1    ");
    print_hex(digests.sha1, sizeof digests.sha1);
    progress("\n  SHA-256  ");
    print_hex(digests.sha256, sizeof digests.sha256);
    progress("\n");
}

// After the blocks: the hashes of the PRG data, the CHR data and both.
void print_hashes(const RomDigests& digests) {
    progress("\n");
    for (bool prg : {true, false}) {
        const Digests& data = prg ? digests.prg : digests.chr;
        const char* letters = prg ? "PRG" : "CHR";
        if (data.size == 0) {
            progress("%s: no data\n", letters);
            continue;
        }
        progress("%s (", letters);
        print_chips(letters, prg ? digests.prg_chips : digests.chr_chips);
        progress("): %" PRIu64 " bytes\n", data.size);
        print_digests(data);
    }
    if (digests.prg.size > 0 && digests.chr.size > 0) {
        progress("PRG and CHR: %" PRIu64 " bytes\n", digests.both.size);
        print_digests(digests.both);
    }
}

// Finishes the hashes and prints them; yields the exit status.
int finish_listing(const Request& request, bool complete) {
    RomDigests digests;
    HashResult result = complete ? finish_hashes(hasher, reader.stream, reader.buffer,
                                                 READ_BUFFER_SIZE, digests)
                                 : HashResult::ok;
    bool hashed = complete && result == HashResult::ok;
    if (request.json)
        json_hashes(hashed ? &digests : nullptr);
    else if (hashed)
        print_hashes(digests);
    const char* path = request.path;
    switch (result) {
    case HashResult::ok:
        return 0;
    case HashResult::cannot_seek:
        report("Unable to hash the ROM data of %s: its PRG and CHR blocks are out of order, and "
               "it cannot be read again\n",
               path);
        break;
    case HashResult::read_error:
        report("Error reading image %s: %s\n", path, std::strerror(errno));
        break;
    case HashResult::digest_error:
        report("Unable to hash the ROM data of %s: the digest library failed\n", path);
        break;
    }
    return 1;
}

// Prints the findings and their count; yields the exit status.
int print_findings(const Request& request) {
    if (request.json) {
        json_findings(check);
    } else {
        for (std::size_t i = 0; i < check.count; ++i) {
            const Finding& finding = check.findings[i];
            progress("%s: %s\n", severity_name(finding.severity), finding.message);
        }
        if (check.dropped > 0)
            progress("%zu more findings not shown\n", check.dropped);
        progress("%zu error%s, %zu warning%s\n", check.errors, check.errors == 1 ? "" : "s",
                 check.warnings, check.warnings == 1 ? "" : "s");
    }
    return check.errors > 0 ? 1 : 0;
}

// Says how a listing ended short of the image's end; yields the status.
int report_end(const char* path, NextBlock how, const ImageBlock& block) {
    if (how == NextBlock::block || how == NextBlock::end)
        return 0;
    report_block_failure(path, how, block, reader);
    return 1;
}

// Reads every block, listing it and feeding it to the check as asked;
// yields the exit status. With --check, a truncated image is one of the
// findings; without, it is a message.
int read_blocks(const Request& request) {
    ImageBlock block;
    NextBlock next = NextBlock::block;
    while ((next = next_block(reader, block)) == NextBlock::block) {
        if (request.json)
            json_block(block);
        else if (!request.check)
            print_block(block);
        if (request.check)
            check_block(check, block);
    }
    if (request.json)
        json_end(next, block);
    int status = 0;
    if (next == NextBlock::read_error || !request.check)
        status = report_end(request.path, next, block);
    if (lists(request))
        status |= finish_listing(request, next == NextBlock::end);
    if (request.check) {
        if (next != NextBlock::read_error)
            finish_check(check, next, block);
        status |= print_findings(request);
    }
    return status;
}

// A file that is no UNIF image: a message, and with --json a document
// without blocks.
void not_an_image(const Request& request, const ImageHeader& header) {
    const char* path = request.path;
    report_header_failure(path, header.result, reader);
    if (request.json) {
        json_begin(path, header);
        json_no_blocks();
        if (request.check)
            json_findings(check);
        json_finish();
    }
}

int inspect_image(const Request& request) {
    const char* path = request.path;
    std::FILE* stream = open_image(path);
    if (stream == nullptr)
        return 1;
    attach_image(reader, stream);
    ImageHeader header = read_header(reader);
    begin_check(check);
    int status = 1;
    if (header.result != HeaderResult::ok) {
        not_an_image(request, header);
    } else if (lists(request) && !begin_hashes(hasher)) {
        report("Unable to hash the ROM data of %s: the digest library failed\n", path);
    } else {
        if (lists(request)) {
            reader.sink = hash_payload;
            reader.sink_context = &hasher;
        }
        if (request.json) {
            json_begin(path, header);
        } else if (!request.check) {
            progress("UNIF revision %" PRIu32 "\n", header.revision);
            progress("  offset  id      length  contents\n");
        }
        status = read_blocks(request);
        if (request.json)
            json_finish();
    }
    end_hashes(hasher);
    std::fclose(stream);
    return status;
}

// The options before the image: each of --check and --json once, in any
// order. Yields false when no image follows them.
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

bool read_request(int argc, char** argv, Request& request) {
    int at = 1;
    for (; at < argc; ++at) {
        if (std::strcmp(argv[at], "--check") == 0 && !request.check)
            request.check = true;
        else if (std::strcmp(argv[at], "--json") == 0 && !request.json)
            request.json = true;
        else
            break;
    }
    if (at >= argc)
        return false;
    request.path = argv[at];
    return true;
}

// The listing is the whole point: a listing that did not reach its reader
// is a failed run. Yields the run's status.
int finish_output(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        report("Error writing to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

}  // namespace

int info_run(int argc, char** argv) {
    const char* name = program_name(argc, argv, "unifinfo");
    if (argc > 1 && std::strcmp(argv[1], "--extract") == 0)
        return finish_output(extract_command(name, argc, argv));
    Request request;
    if (!read_request(argc, argv, request)) {
        report("Syntax: %s %s\n", name, USAGE);
        return 1;
    }
    int status = 0;
    switch (request.path == argv[1] ? option_of(request.path) : Option::none) {
    case Option::none:
        status = inspect_image(request);
        break;
    case Option::help:
        progress("Syntax: %s %s\n%s", name, USAGE, HELP_HEAD);
        print_help_views();
        progress("%s", HELP_TAIL);
        break;
    case Option::version:
        progress("unifinfo %s\n", UNIFPACK_VERSION);
        break;
    }
    return finish_output(status);
}
