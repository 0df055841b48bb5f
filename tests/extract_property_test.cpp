// Properties of unifinfo --extract over many random inputs, with the real
// programs:
// - every image unifpack builds from a random makefile is extracted with
//   status 0, and unifpack run inside the extraction rebuilds it byte for
//   byte;
// - a random image that holds inexpressible blocks (and header fields) gets
//   one line on standard error for each of them, in image order, status 1
//   and nothing on disk; with --lossy the extraction rebuilds the image
//   without exactly those blocks.
// The generators use fixed seeds, so a failure repeats; its message shows
// the input.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace {

using namespace std::string_literals;

constexpr int RUNS = 100;
constexpr char CTRL_Z = '\x1A';

class Random {
public:
    explicit Random(unsigned seed) : engine_(seed) {}
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_); }
    bool chance(std::size_t in) { return below(in) == 0; }
    char byte() { return static_cast<char>(below(256)); }
    std::string bytes(std::size_t size) {
        std::string out;
        for (std::size_t i = 0; i < size; ++i)
            out += byte();
        return out;
    }
    // Bytes with none of `excluded`.
    std::string bytes_without(std::size_t size, const std::string& excluded) {
        std::string out;
        while (out.size() < size) {
            char c = byte();
            if (excluded.find(c) == std::string::npos)
                out += c;
        }
        return out;
    }
    template <typename T>
    const T& pick(const std::vector<T>& from) { return from[below(from.size())]; }
    // Mostly small sizes, sometimes past the reader's 64 KiB pieces.
    std::size_t data_size() { return chance(20) ? 65536 + below(70000) : below(chance(3) ? 3000 : 20); }

private:
    std::mt19937 engine_;
};

// The ID as the messages show it.
std::string shown_id(const std::string& id) {
    std::string out;
    for (unsigned char c : id) {
        char hex[8];
        if (c == '\\')
            out += "\\\\";
        else if (c == 0)
            out += "\\0";
        else if (c > 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string printable(const std::string& bytes) {
    return shown_id(bytes.size() > 600 ? bytes.substr(0, 600) + "..." : bytes);
}

RunResult rebuild_in(const ScratchDir& dir, const std::string& sub) {
    RunOptions inside;
    inside.wrapper = {"env", "-C", sub};
    return dir.run({"game.mk"}, inside);
}

// A makefile of random directives of every kind, with its data files.
std::string random_makefile(Random& random, ScratchDir& dir) {
    std::vector<std::string> data_names;
    for (int i = 0; i < 4; ++i) {
        std::string name = "d" + std::to_string(i) + ".bin";
        dir.write(name, random.bytes(random.data_size()));
        data_names.push_back(name);
    }
    const std::vector<std::string> text_keys = {"MAPR", "NAME", "MAPRX", "NAME2"};
    const std::vector<std::string> byte_keys = {"TVCI", "MIRR", "BATR", "BATRY"};
    const std::vector<std::string> numbers = {"0", "1", "255", "256", "-1", "300", " 7abc", "", "x", "+5", "\t12",
                                              "99999999999999999999"};
    std::string makefile = "TALVORIN\nimg.unf\n";
    std::size_t lines = random.below(12);
    for (std::size_t i = 0; i < lines; ++i) {
        std::string key;
        std::string value;
        switch (random.below(5)) {
        case 0:
            key = random.pick(text_keys);
            // A line holds 254 characters before its LF.
            value = random.bytes_without(random.below(254 - key.size()), "\n\0\x1A"s);
            break;
        case 1:
            key = random.pick(byte_keys);
            value = random.pick(numbers);
            break;
        case 2:
        case 3: {
            key = random.chance(2) ? "PRG" : "CHR";
            if (!random.chance(5))
                key += random.bytes_without(1, " \n\0\x1A"s);
            if (random.chance(5))
                key += "0";
            value = random.pick(data_names);
            break;
        }
        default:
            key = random.chance(4) ? "READX" : "READ";
            value = random.pick(data_names);
            break;
        }
        makefile += key + " " + value + (random.chance(4) ? "\r\n" : "\n");
    }
    if (random.chance(5))
        makefile += CTRL_Z + "NAME after the end\n"s;
    return makefile;
}

TEST(ExtractProperty, ImagesFromRandomMakefilesRebuildByteForByte) {
    Random random(12);
    for (int round = 0; round < RUNS; ++round) {
        ScratchDir dir;
        std::string makefile = random_makefile(random, dir);
        dir.write("mk", makefile);
        RunResult pack = dir.run({"mk"});
        ASSERT_EQ(pack.status, 0) << pack.err << printable(makefile);
        RunResult extracted = dir.run({"--extract", "out", "img.unf"}, {.program = Program::unifinfo});
        ASSERT_EQ(extracted.status, 0) << extracted.err << "\nmakefile: " << printable(makefile);
        ASSERT_EQ(extracted.err, "");
        RunResult again = rebuild_in(dir, "out");
        ASSERT_EQ(again.status, 0) << again.err;
        ASSERT_EQ(dir.read("out/game.unf"), dir.read("img.unf")) << "makefile: " << printable(makefile);
    }
}

struct Piece {
    std::string bytes;     // the whole block
    std::string id;
    bool expressible;
};

Piece good_block(Random& random) {
    std::string id;
    std::string payload;
    switch (random.below(4)) {
    case 0:
        id = random.chance(2) ? "MAPR" : "NAME";
        payload = random.bytes_without(random.below(250), "\n\0\x1A"s);
        if (!payload.empty() && payload.back() == '\r')
            payload.back() = 'r';
        payload += '\0';
        break;
    case 1:
        id = random.pick(std::vector<std::string>{"TVCI", "MIRR", "BATR"});
        payload = random.bytes(1);
        break;
    case 2:
        id = (random.chance(2) ? "PRG" : "CHR") + random.bytes_without(1, " \n\x1A"s);
        payload = random.bytes(random.data_size());
        break;
    default:
        id = "READ";
        payload = random.bytes(random.data_size()) + '\0';
        break;
    }
    return {block(id, payload), id, true};
}

Piece bad_block(Random& random) {
    std::string id;
    std::string payload;
    switch (random.below(5)) {
    case 0: {
        // An ID no key makes.
        const std::vector<std::string> known = {"MAPR", "NAME", "TVCI", "MIRR", "BATR", "READ"};
        do
            id = random.chance(2) ? random.pick(std::vector<std::string>{"DINF", "WRTR", "CTRL", "VROR", "PCK0", "CCKF"})
                                  : random.bytes(4);
        while (std::find(known.begin(), known.end(), id) != known.end() || id.compare(0, 3, "PRG") == 0 ||
               id.compare(0, 3, "CHR") == 0);
        payload = random.bytes(random.below(300));
        break;
    }
    case 1:
        id = (random.chance(2) ? "PRG" : "CHR") + std::string(1, " \n\x1A"[random.below(3)]);
        payload = random.bytes(random.below(100));
        break;
    case 2: {
        id = random.chance(2) ? "MAPR" : "NAME";
        std::string text = random.bytes_without(1 + random.below(200), "\n\0\x1A"s);
        switch (random.below(6)) {
        case 0: payload = text; break;                                  // no zero byte at the end
        case 1: payload = text + '\0' + text + '\0'; break;             // a zero byte inside
        case 2: payload = text + '\n' + text + '\0'; break;
        case 3: payload = text + CTRL_Z + '\0'; break;
        case 4: payload = text + "\r\0"s; break;
        default: payload = random.bytes_without(250 + random.below(100), "\n\0\x1A"s) + '\0'; break;
        }
        break;
    }
    case 3:
        id = random.pick(std::vector<std::string>{"TVCI", "MIRR", "BATR"});
        payload = random.bytes(random.chance(2) ? 0 : 2 + random.below(4));
        break;
    default:
        id = "READ";
        payload = random.bytes(random.below(100)) + static_cast<char>(1 + random.below(255));
        break;
    }
    return {block(id, payload), id, false};
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(ExtractProperty, EveryInexpressibleBlockIsNamedAndLossyKeepsTheRest) {
    Random random(21);
    for (int round = 0; round < RUNS; ++round) {
        std::vector<std::string> expected;  // the start of each line on standard error
        std::string header = unif_header();
        if (random.chance(5)) {
            header.replace(4, 4, le32(static_cast<std::uint32_t>(random.below(7))));
            expected.push_back("Header at offset 4 cannot be expressed: ");
        }
        if (random.chance(5)) {
            header[8 + random.below(24)] = static_cast<char>(1 + random.below(255));
            expected.push_back("Header at offset 8 cannot be expressed: ");
        }
        std::string image = header;
        std::string kept = unif_header();
        std::size_t blocks = random.below(10);
        for (std::size_t i = 0; i < blocks; ++i) {
            Piece piece = random.chance(3) ? bad_block(random) : good_block(random);
            if (piece.expressible)
                kept += piece.bytes;
            else
                expected.push_back("Block " + shown_id(piece.id) + " at offset " + std::to_string(image.size()) +
                                   " cannot be expressed: ");
            image += piece.bytes;
        }
        ScratchDir dir;
        dir.write("img", image);
        for (bool lossy : {false, true}) {
            std::vector<std::string> args = {"--extract", "out", "img"};
            if (lossy)
                args.insert(args.begin() + 1, "--lossy");
            RunResult run = dir.run(args, {.program = Program::unifinfo});
            std::string what = (lossy ? "--lossy, image " : "image ") + printable(image) + "\nerr: " + run.err;
            ASSERT_EQ(run.status, expected.empty() ? 0 : 1) << what;
            std::vector<std::string> lines = lines_of(run.err);
            ASSERT_EQ(lines.size(), expected.size()) << what;
            for (std::size_t i = 0; i < lines.size(); ++i)
                ASSERT_EQ(lines[i].substr(0, expected[i].size()), expected[i]) << what;
            if (!lossy && !expected.empty()) {
                ASSERT_EQ(dir.list(), std::vector<std::string>{"img"}) << what;
                continue;
            }
            RunResult again = rebuild_in(dir, "out");
            ASSERT_EQ(again.status, 0) << again.err;
            ASSERT_EQ(dir.read("out/game.unf"), lossy ? kept : image) << what;
            std::filesystem::remove_all(dir / "out");
        }
    }
}

}  // namespace
