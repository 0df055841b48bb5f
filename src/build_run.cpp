#include "build_run.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "block_kind.h"
#include "command_line.h"
#include "file_blocks.h"
#include "image_writer.h"
#include "makefile_reader.h"
#include "messages.h"
#include "value_blocks.h"

namespace {

// The block kinds, in the order each directive is offered to them: value
// blocks first, then file blocks. No key is claimed by two kinds.
const std::array<const BlockKind*, 3> BLOCK_KINDS = {
    &STRING_BLOCKS,
    &BYTE_BLOCKS,
    &FILE_BLOCKS,
};

const BlockKind* find_kind(const char* key) {
    for (const BlockKind* kind : BLOCK_KINDS)
        if (kind->claims(key))
            return kind;
    return nullptr;
}

// What `-h` and `--help` print after the usage line: this, the keys, then
// HELP_TAIL.
constexpr char HELP_HEAD[] =
    "Packs a UNIF cartridge image (NES) from a plain-text makefile.\n"
    "\n"
    "The makefile, one item a line, each line ending in LF (or CR LF):\n"
    "  TALVORIN           line 1, exactly\n"
    "  IMAGE              line 2, the name of the image to create\n"
    "  KEY VALUE          every further line, a directive: one block each\n"
    "Keys (case-sensitive):\n";

constexpr char HELP_TAIL[] =
    "The image and data-file names are taken relative to the makefile path\n"
    "up to its last backslash. A directive with any other key is skipped.\n"
    "\n"
    "Exit status: 0 when the image is complete, 1 when the run stopped.\n"
    "\n"
    "As the first argument instead of a makefile:\n"
    "  -h, --help         print this help\n"
    "  --version          print the version\n"
    "See unifpack(1) for the whole makefile format and every message.\n"
    "Then check the image with unifinfo --check IMAGE: it tells which\n"
    "emulators will refuse it or run it other than its blocks say.\n";

// The keys of the help, one line for each kind of value a directive takes.
void print_help_keys() {
    print_help_names([](const BlockInfo& block) {
        return block.key != KeyMatch::none && block.payload == Payload::text;
    });
    progress("the value as text");
    const char* separator = ": ";
    for (const BlockInfo& block : UNIF_BLOCKS) {
        if (block.key != KeyMatch::none && block.payload == Payload::text) {
            progress("%s%s", separator, block.what);
            separator = ", ";
        }
    }
    progress("\n");
    print_help_names([](const BlockInfo& block) {
        return block.key != KeyMatch::none && block.payload == Payload::byte;
    });
    progress("one byte: the value's decimal number modulo 256\n");
    print_help_names([](const BlockInfo& block) {
        return block.key != KeyMatch::none &&
               (block.payload == Payload::file || block.payload == Payload::file_text);
    });
    progress("the bytes of the data file the value names\n");
}

// A descriptor 0, 1 or 2 that is closed at start would be handed to the
// first file opened, and messages would then land in the image: give each
// closed one /dev/null instead.
void ensure_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", O_RDWR);
}

// The directive loop and the end of the run, once the image is open.
int write_blocks(MakefileReader& makefile, Image& image) {
    const char* output_name = makefile.output_name;
    bool written = image_ok(image.stream);
    while (written) {
        DirectiveResult next = next_directive(makefile);
        if (next == DirectiveResult::end)
            break;
        if (next == DirectiveResult::malformed) {
            close_makefile(makefile);
            close_image(image);
            report("Error decoding line: %s\n", makefile.line);
            return 1;
        }
        const BlockKind* kind = find_kind(makefile.key);
        if (kind == nullptr) {
            report("Unrecognized directive %s encountered, skipping...\n", makefile.key);
            continue;
        }
        BlockResult result = kind->write(makefile.key, makefile.value, image, makefile);
        if (result == BlockResult::read_error && image_ok(image.stream)) {
            close_makefile(makefile);
            close_image(image);
            report("Error writing block %s - unable to read file '%s'!\n", makefile.key,
                   makefile.value);
            return 1;
        }
        written = result == BlockResult::done && image_ok(image.stream);
    }
    close_makefile(makefile);
    if (!close_image(image) || !written) {
        report("Error writing to file %s!\n", output_name);
        return 1;
    }
    progress("Done!\n");
    return 0;
}

// The run from the command line to the exit status.
int run(int argc, char** argv) {
    const char* name = program_name(argc, argv, "unifpack");
    if (argc < 2) {
        report("Syntax: %s <makefile>\n", name);
        return 1;
    }
    const char* path = argv[1];
    switch (option_of(path)) {
    case Option::none:
        break;
    case Option::help:
        progress("Syntax: %s <makefile>\n%s", name, HELP_HEAD);
        print_help_keys();
        progress("%s", HELP_TAIL);
        return 0;
    case Option::version:
        progress("unifpack %s\n", UNIFPACK_VERSION);
        return 0;
    }

    MakefileReader makefile;
    std::FILE* stream = open_makefile(path);
    if (stream == nullptr) {
        report("Unable to open makefile!\n");
        return 1;
    }
    attach_makefile(makefile, stream);
    set_base_directory(makefile, path);

    if (!check_magic_line(makefile)) {
        close_makefile(makefile);
        report("Specified file is not a valid makefile!\n");
        return 1;
    }
    switch (read_output_name(makefile)) {
    case OutputName::ok:
        break;
    case OutputName::missing:
        close_makefile(makefile);
        report("Specified file is not a valid makefile!\n");
        return 1;
    case OutputName::too_long:
        close_makefile(makefile);
        report("Filename too long! Increase MAXLEN and recompile.\n");
        return 1;
    }

    Image image;
    if (const char* image_path = resolve_name(makefile, makefile.output_name)) {
        // Never the makefile; nor the file, pipe or socket the messages go
        // to (`unifpack mk > out.unf`, or an image named /dev/stdout with
        // standard output on a pipe), where they would be mixed into the
        // image. A character device such as a terminal or /dev/null is
        // no such file: it keeps nothing.
        const FileIdentity keep[] = {
            identity_of(fileno(stream), false),
            identity_of(STDOUT_FILENO, true),
            identity_of(STDERR_FILENO, true),
        };
        image = create_image(image_path, keep);
    }
    if (image.stream == nullptr) {
        close_makefile(makefile);
        report("Unable to open file %s for output!\n", makefile.output_name);
        return 1;
    }
    progress("Opened file %s for output.\n", makefile.output_name);
    write_header(image.stream);
    progress("Writing header...\n");
    return write_blocks(makefile, image);
}

}  // namespace

int build_run(int argc, char** argv) {
    ensure_standard_descriptors();
    // A write that fails is seen by its result, never by a signal: the
    // progress messages are information only, so a reader of them that
    // goes away (`unifpack mk | head -1`) must not stop the build, and a
    // failed write to the image (a FIFO whose reader left, a file-size
    // limit) is reported as such, with status 1.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    buffer_progress();
    int status = run(argc, argv);
    flush_progress();
    return status;
}
