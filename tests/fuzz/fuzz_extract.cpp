// Fuzz target: arbitrary bytes as a UNIF image, extracted in this process
// with `unifinfo --extract out img` in a scratch directory that is laid out
// afresh for every input, then with `--extract --lossy`; every extraction is
// rebuilt by a build run inside out/.
//
// Which parts of the image a makefile can express is decided on the side,
// by the plain model of the makefile rules: the header when it is the one
// unifpack writes, a block when the one directive that could make it (the
// key from its ID, the value or a data file from its payload) makes exactly
// that block under the model.
//
// Every run must end with status 0 or 1 and leave no descriptor open. For a
// whole UNIF image, standard error must name exactly the parts the model
// cannot express, one line each, in image order; without --lossy, status 0
// exactly when there are none, and then the rebuild is the image byte for
// byte; with --lossy, the rebuild is the unifpack header and exactly the
// blocks the model can express. Whenever the status is 1 without --lossy,
// or the image is not a whole UNIF image, nothing may be left but the image.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "build_run.h"
#include "fuzz_check.h"
#include "fuzz_run.h"
#include "image_reader.h"
#include "info_run.h"
#include "makefile_model.h"

namespace {

namespace fs = std::filesystem;

Scratch scratch;
fs::path scratch_path;

std::vector<std::string> scratch_names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_file(const fs::path& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(file != nullptr, "opening a file in the scratch directory");
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

struct Block {
    std::size_t offset;
    std::string id;
    std::string payload;
    std::string bytes;  // ID, length, payload
};

struct Image {
    bool whole = false;  // a UNIF header and whole blocks to the last byte
    std::vector<Block> blocks;
};

std::uint32_t le32_at(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

Image parse(const std::string& bytes) {
    Image image;
    if (bytes.size() < 32 || bytes.compare(0, 4, "UNIF") != 0)
        return image;
    std::size_t at = 32;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8 || bytes.size() - at - 8 < le32_at(bytes, at + 4))
            return image;
        std::size_t length = le32_at(bytes, at + 4);
        image.blocks.push_back({at, bytes.substr(at, 4), bytes.substr(at + 8, length), bytes.substr(at, 8 + length)});
        at += 8 + length;
    }
    image.whole = true;
    return image;
}

// Whether the one directive that could make the block makes exactly it.
bool model_expresses(const Block& block) {
    std::string key = block.id[3] == '\0' ? block.id.substr(0, 3) : block.id;
    if (key.find('\0') != std::string::npos)
        return false;  // a key ends at its zero byte: it would make another ID
    const BlockInfo* kind = model::claimed_by(key);
    if (kind == nullptr)
        return false;
    model::Directory dir;
    dir.makefile = "mk";
    std::string value;
    std::string body = block.payload.empty() ? "" : block.payload.substr(0, block.payload.size() - 1);
    switch (kind->payload) {
    case Payload::text:
        value = body;
        break;
    case Payload::byte:
        value = std::to_string(block.payload.empty() ? 0 : static_cast<unsigned char>(block.payload[0]));
        break;
    case Payload::file:
        value = "f";
        dir.files["f"] = block.payload;
        break;
    case Payload::file_text:
        value = "f";
        dir.files["f"] = body;
        break;
    case Payload::record:
    case Payload::crc32:
        return false;
    }
    dir.files["mk"] = "TALVORIN\nx.unf\n" + key + " " + value + "\n";
    model::Outcome outcome = model::run(dir);
    return outcome.status == 0 && outcome.err.empty() &&
           outcome.after.files["x.unf"] == model::header() + block.bytes;
}

// The start of each line standard error must hold, and the image the lossy
// extraction rebuilds.
struct Expected {
    std::vector<std::string> lines;
    std::string kept;
};

Expected expected_of(const std::string& bytes, const Image& image) {
    Expected expected;
    if (bytes.compare(4, 4, model::le32(7)) != 0)
        expected.lines.push_back("Header at offset 4 cannot be expressed: ");
    if (bytes.compare(8, 24, std::string(24, '\0')) != 0)
        expected.lines.push_back("Header at offset 8 cannot be expressed: ");
    expected.kept = model::header();
    for (const Block& block : image.blocks) {
        if (model_expresses(block)) {
            expected.kept += block.bytes;
            continue;
        }
        unsigned char id[BLOCK_ID_SIZE];
        std::memcpy(id, block.id.data(), BLOCK_ID_SIZE);
        char shown[ID_TEXT_SIZE];
        format_id(id, shown);
        expected.lines.push_back("Block " + std::string(shown) + " at offset " + std::to_string(block.offset) +
                                 " cannot be expressed: ");
    }
    return expected;
}

void check_lines(const std::string& err, const std::vector<std::string>& starts) {
    std::size_t at = 0;
    for (const std::string& start : starts) {
        FUZZ_CHECK(err.compare(at, start.size(), start) == 0, "a line on standard error is not the one expected");
        std::size_t end = err.find('\n', at);
        FUZZ_CHECK(end != std::string::npos, "a line on standard error lacks its LF");
        at = end + 1;
    }
    FUZZ_CHECK(at == err.size(), "more on standard error than the inexpressible parts");
}

// Rebuilds out/game.mk inside out/; yields the image built.
std::string rebuild() {
    int out_fd = open((scratch_path / "out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(out_fd >= 0, "the extraction is no directory");
    EntryRun pack = run_entry(build_run, {"unifpack", "game.mk"}, out_fd, scratch);
    close(out_fd);
    FUZZ_CHECK(pack.status == 0 && pack.err.empty(), "the extraction does not build cleanly");
    std::string built = read_file(scratch_path / "out" / "game.unf");
    fs::remove_all(scratch_path / "out");
    return built;
}

void check(const std::string& bytes) {
    Image image = parse(bytes);
    EntryRun strict = run_entry(info_run, {"unifinfo", "--extract", "out", "img"}, scratch.fd, scratch);
    if (!image.whole) {
        EntryRun lossy = run_entry(info_run, {"unifinfo", "--extract", "--lossy", "out", "img"}, scratch.fd, scratch);
        FUZZ_CHECK(strict.status == 1 && lossy.status == 1, "an image that is not whole was extracted");
        FUZZ_CHECK(strict.out.empty() && lossy.out.empty(), "output from an image that is not whole");
        FUZZ_CHECK(scratch_names() == std::vector<std::string>{"img"}, "something was left behind");
        return;
    }
    Expected expected = expected_of(bytes, image);
    bool exact = expected.lines.empty();
    check_lines(strict.err, expected.lines);
    FUZZ_CHECK(strict.status == (exact ? 0 : 1), "status");
    if (exact) {
        FUZZ_CHECK(strict.out.compare(0, 10, "Extracted ") == 0, "no summary");
        FUZZ_CHECK(scratch_names() == (std::vector<std::string>{"img", "out"}), "stray files");
        FUZZ_CHECK(rebuild() == bytes, "the rebuild differs from the image");
    } else {
        FUZZ_CHECK(strict.out.empty(), "output from a refused extraction");
        FUZZ_CHECK(scratch_names() == std::vector<std::string>{"img"}, "something was left behind");
    }
    EntryRun lossy = run_entry(info_run, {"unifinfo", "--extract", "--lossy", "out", "img"}, scratch.fd, scratch);
    FUZZ_CHECK(lossy.err == strict.err, "--lossy names other parts");
    FUZZ_CHECK(lossy.status == strict.status, "--lossy status");
    FUZZ_CHECK(lossy.out.compare(0, 10, "Extracted ") == 0, "no --lossy summary");
    FUZZ_CHECK(!exact || lossy.out == strict.out, "--lossy summary differs");
    FUZZ_CHECK(scratch_names() == (std::vector<std::string>{"img", "out"}), "stray files after --lossy");
    FUZZ_CHECK(rebuild() == expected.kept, "the --lossy rebuild is not the expressible blocks");
}

void clear_scratch() {
    for (const auto& entry : fs::directory_iterator(scratch_path))
        fs::remove_all(entry.path());
}

void remove_scratch() {
    fs::remove_all(scratch_path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = make_scratch("unifinfo-fuzz");
    scratch_path = scratch.path;
    std::atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    clear_scratch();
    std::FILE* img = std::fopen((scratch_path / "img").c_str(), "wb");
    FUZZ_CHECK(img != nullptr, "creating the image");
    FUZZ_CHECK(std::fwrite(data, 1, size, img) == size && std::fclose(img) == 0, "writing the image");
    check(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
