// Fuzz target: arbitrary bytes as an image file, read by unifinfo in this
// process four ways: the listing, --check, --json and --json --check.
//
// Every run must end with status 0 or 1 and leave no descriptor open. The
// listing's status is 0 exactly when the header is whole and the blocks
// tile the file; its block lines, and the JSON document's blocks, have the
// offsets, IDs and lengths of an independent walk of the bytes. Every
// --json output parses. --check prints only finding lines ("error: ",
// "warning: "), a line of findings not shown and the count, which agrees
// with the lines; its status is 1 exactly when there is an error finding
// or the file is no UNIF image. A finding names every loader it affects,
// and a line that is no finding names none. The JSON findings are the
// lines of --check.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_run.h"
#include "info_run.h"
#include "json.h"

namespace {

Scratch scratch;  // holds the one image file
std::string image_path;

const char* const LOADER_NAMES[] = {"FCEUX", "Mednafen", "Nestopia", "Mesen2", "puNES"};

// The image as a plain walk of its bytes sees it.
struct Walked {
    bool unif = false;  // 32 header bytes, beginning with "UNIF"
    struct Block {
        std::uint64_t offset;
        std::string id;
        std::uint32_t length;
    };
    std::vector<Block> blocks;  // the whole ones
    bool tiles = false;         // the whole blocks end where the file ends
};

Walked walk(const std::string& bytes) {
    Walked walked;
    walked.unif = bytes.size() >= 32 && bytes.compare(0, 4, "UNIF") == 0;
    if (!walked.unif)
        return walked;
    std::size_t at = 32;
    while (bytes.size() - at >= 8) {
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < 4; ++i)
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 4 + i])) << (8 * i);
        if (bytes.size() - at - 8 < length)
            return walked;
        walked.blocks.push_back({at, bytes.substr(at, 4), length});
        at += 8 + length;
    }
    walked.tiles = at == bytes.size();
    return walked;
}

// An ID as the listing writes it.
std::string listed_id(const std::string& id) {
    std::string text;
    char escaped[8];
    for (char c : id) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\0') {
            text += "\\0";
        } else if (byte > 0x20 && byte < 0x7F) {
            text += c;
        } else {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

std::string hex(const std::string& bytes) {
    std::string text;
    char pair[3];
    for (char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        text += pair;
    }
    return text;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t lf = text.find('\n', at);
        FUZZ_CHECK(lf != std::string::npos, "output that does not end with LF");
        lines.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    return lines;
}

bool names_a_loader(const std::string& line) {
    for (const char* name : LOADER_NAMES)
        if (line.find(name) != std::string::npos)
            return true;
    return false;
}

using Run = EntryRun;

// unifinfo with the options on the image, in process.
Run run(std::vector<std::string> options) {
    options.insert(options.begin(), "unifinfo");
    options.push_back(image_path);
    return run_entry(info_run, std::move(options), scratch.fd, scratch);
}

void check_listing(const Walked& walked, const Run& listing) {
    FUZZ_CHECK((listing.status == 0) == (walked.unif && walked.tiles), "listing status and tiling");
    FUZZ_CHECK((listing.status == 0) == listing.err.empty(), "a message exactly when the status is 1");
    std::vector<std::string> lines = lines_of(listing.out);
    if (!walked.unif) {
        FUZZ_CHECK(lines.empty(), "a listing of no UNIF image");
        return;
    }
    FUZZ_CHECK(lines.size() >= 2 + walked.blocks.size(), "fewer lines than whole blocks");
    for (std::size_t i = 0; i < walked.blocks.size(); ++i) {
        const Walked::Block& block = walked.blocks[i];
        char start[64];
        std::snprintf(start, sizeof start, "%8llu  %-5s %8lu", static_cast<unsigned long long>(block.offset),
                      listed_id(block.id).c_str(), static_cast<unsigned long>(block.length));
        FUZZ_CHECK(lines[2 + i].compare(0, std::strlen(start), start) == 0, "a block line's offset, ID or length");
    }
    if (listing.status == 0)
        FUZZ_CHECK(lines.size() > 2 + walked.blocks.size() && lines[2 + walked.blocks.size()].empty(),
                   "the hashes after a whole listing");
}

Json parsed(const Run& run) {
    Json doc = Json::parse(run.out, nullptr, false);
    FUZZ_CHECK(!doc.is_discarded(), "--json output that does not parse");
    FUZZ_CHECK(doc.is_object(), "--json output that is no object");
    return doc;
}

void check_json(const Walked& walked, const Run& listing, const Run& json) {
    FUZZ_CHECK(json.status == listing.status, "--json status differs from the listing's");
    FUZZ_CHECK(json.err == listing.err, "--json messages differ from the listing's");
    Json doc = parsed(json);
    FUZZ_CHECK(doc["unif"] == walked.unif, "--json: unif");
    const Json& blocks = doc["blocks"];
    FUZZ_CHECK(blocks.is_array() && blocks.size() == walked.blocks.size(), "--json: the number of blocks");
    for (std::size_t i = 0; i < walked.blocks.size(); ++i) {
        const Walked::Block& block = walked.blocks[i];
        FUZZ_CHECK(blocks[i]["offset"] == block.offset, "--json: a block's offset");
        FUZZ_CHECK(blocks[i]["id_hex"] == hex(block.id), "--json: a block's ID");
        FUZZ_CHECK(blocks[i]["id"] == listed_id(block.id), "--json: a block's ID as listed");
        FUZZ_CHECK(blocks[i]["length"] == block.length, "--json: a block's length");
    }
    if (walked.unif)
        FUZZ_CHECK(doc["end"]["complete"] == walked.tiles, "--json: the end");
    FUZZ_CHECK(doc["hashes"].is_null() == (json.status != 0), "--json: hashes exactly for a whole image");
}

void check_findings(const Walked& walked, const Run& check, const Run& both) {
    std::vector<std::string> lines = lines_of(check.out);
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::size_t dropped = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.compare(0, 7, "error: ") == 0) {
            ++errors;
        } else if (line.compare(0, 9, "warning: ") == 0) {
            ++warnings;
        } else {
            FUZZ_CHECK(i + 2 == lines.size() && line.find(" more findings not shown") != std::string::npos,
                       "a --check line that is no finding");
            dropped = std::strtoull(line.c_str(), nullptr, 10);
            FUZZ_CHECK(!names_a_loader(line), "a line that is no finding names a loader");
        }
    }
    if (!walked.unif) {
        FUZZ_CHECK(lines.empty() && check.status == 1, "--check of no UNIF image");
    } else {
        FUZZ_CHECK(!lines.empty(), "--check without its count");
        FUZZ_CHECK(!names_a_loader(lines.back()), "the count names a loader");
        std::size_t all_errors = 0;
        std::size_t all_warnings = 0;
        FUZZ_CHECK(std::sscanf(lines.back().c_str(), "%zu error%*[s], %zu warning", &all_errors,
                               &all_warnings) == 2 ||
                       std::sscanf(lines.back().c_str(), "%zu error, %zu warning", &all_errors,
                                   &all_warnings) == 2,
                   "the count line");
        FUZZ_CHECK((check.status == 1) == (all_errors > 0), "--check status and its error findings");
        FUZZ_CHECK(all_errors + all_warnings == errors + warnings + dropped, "the count of findings");
        if (dropped == 0) {
            char count[96];
            std::snprintf(count, sizeof count, "%zu error%s, %zu warning%s", errors, errors == 1 ? "" : "s",
                          warnings, warnings == 1 ? "" : "s");
            FUZZ_CHECK(lines.back() == count, "the count line of findings");
        }
    }
    FUZZ_CHECK(both.status == check.status, "--json --check status");
    FUZZ_CHECK(both.err == check.err, "--json --check messages");
    Json doc = parsed(both);
    const Json& findings = doc["findings"];
    FUZZ_CHECK(findings.is_array(), "--json --check: findings");
    std::size_t shown = errors + warnings;
    FUZZ_CHECK(findings.size() == shown, "--json --check: the number of findings");
    for (std::size_t i = 0; i < shown; ++i) {
        const Json& finding = findings[i];
        std::string line = finding["severity"].get<std::string>() + ": " + finding["message"].get<std::string>();
        FUZZ_CHECK(line == lines[i], "--json --check: a finding differs from its line");
        FUZZ_CHECK(finding["affects"].is_array(), "--json --check: affects");
        for (const Json& loader : finding["affects"])
            FUZZ_CHECK(lines[i].find(loader.get<std::string>()) != std::string::npos,
                       "a finding does not name a loader it affects");
    }
}

void remove_scratch() {
    unlink(image_path.c_str());
    rmdir(scratch.path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = make_scratch("unifinfo-fuzz");
    image_path = scratch.path + "/image.unf";
    std::atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    int fd = open(image_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0, "creating the image file");
    FUZZ_CHECK(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "writing the image file");
    close(fd);

    Walked walked = walk(bytes);
    Run listing = run({});
    check_listing(walked, listing);
    check_json(walked, listing, run({"--json"}));
    check_findings(walked, run({"--check"}), run({"--json", "--check"}));
    return 0;
}
