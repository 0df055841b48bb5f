// unifinfo --json end to end: the document is parsed back, the listing is
// made again from it and compared with unifinfo's own listing of the same
// image, and the findings with those of --check.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "json.h"
#include "tool_run.h"

namespace {

using namespace std::string_literals;

std::string unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// The length of the well-formed UTF-8 sequence at text[i], 0 for none, and
// its code point.
std::size_t utf8_at(const std::string& text, std::size_t i, std::uint32_t& code) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = at(i);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size())
        return 0;
    code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (at(i + k) & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// A text as the listing quotes it: ASCII controls and every byte of a C1
// control, a bidirectional control or malformed UTF-8 as \xHH.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    char escaped[8];
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        char c = text[i];
        if (byte >= 0x80) {
            std::uint32_t code = 0;
            std::size_t length = utf8_at(text, i, code);
            bool control = (code >= 0x80 && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
                           (code >= 0x2066 && code <= 0x2069);
            for (std::size_t end = i + std::max<std::size_t>(length, 1); i < end; ++i) {
                if (length > 0 && !control) {
                    out += text[i];
                } else {
                    std::snprintf(escaped, sizeof escaped, "\\x%02X",
                                  static_cast<unsigned char>(text[i]));
                    out += escaped;
                }
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
        ++i;
    }
    return out + "\"";
}

std::string contents_of(const Json& block) {
    if (block.contains("text")) {
        return quoted(unhex(block["text_hex"].get<std::string>())) +
               (block["text_cut"].get<bool>() ? "..." : "") +
               (block["zero_byte"].get<bool>() ? "" : " (no zero byte)");
    }
    if (block.contains("value")) {
        if (block["value"].is_null())
            return "(empty)";
        std::string text = std::to_string(block["value"].get<int>());
        if (!block["meaning"].is_null())
            text += " (" + block["meaning"].get<std::string>() + ")";
        return text;
    }
    if (block["kind"] == "PRGn" || block["kind"] == "CHRn")
        return "crc32 " + block["crc32"].get<std::string>();
    return "";
}

std::string digests_of(const Json& hashes) {
    return "  CRC-32   " + hashes["crc32"].get<std::string>() + "\n  MD5      " +
           hashes["md5"].get<std::string>() + "\n  SHA-1    " + hashes["sha1"].get<std::string>() +
           "\n  SHA-256  " + hashes["sha256"].get<std::string>() + "\n";
}

// The listing, made from the JSON document alone.
std::string listing_from(const Json& doc) {
    std::string out = "UNIF revision " + std::to_string(doc["revision"].get<std::uint32_t>()) +
                      "\n  offset  id      length  contents\n";
    for (const Json& block : doc["blocks"]) {
        std::string contents = contents_of(block);
        char line[2048];
        std::snprintf(line, sizeof line, "%8" PRIu64 "  %-5s %8" PRIu32 "%s%s\n",
                      block["offset"].get<std::uint64_t>(), block["id"].get<std::string>().c_str(),
                      block["length"].get<std::uint32_t>(), contents.empty() ? "" : "  ",
                      contents.c_str());
        out += line;
    }
    const Json& hashes = doc["hashes"];
    if (hashes.is_null())
        return out;
    out += "\n";
    for (const char* data : {"prg", "chr"}) {
        const Json& part = hashes[data];
        std::string letters = data == std::string("prg") ? "PRG" : "CHR";
        if (part["size"] == 0) {
            out += letters + ": no data\n";
            continue;
        }
        std::string blocks;
        for (const Json& name : part["blocks"])
            blocks += (blocks.empty() ? "" : ", ") + name.get<std::string>();
        out += letters + " (" + blocks + "): " + std::to_string(part["size"].get<std::uint64_t>()) +
               " bytes\n" + digests_of(part);
    }
    if (hashes["prg"]["size"] != 0 && hashes["chr"]["size"] != 0)
        out += "PRG and CHR: " + std::to_string(hashes["prg_chr"]["size"].get<std::uint64_t>()) +
               " bytes\n" + digests_of(hashes["prg_chr"]);
    return out;
}

// The lines of --check, made from the JSON document alone.
std::string findings_from(const Json& doc) {
    std::string out;
    for (const Json& finding : doc["findings"]) {
        out += finding["severity"].get<std::string>() + ": " + finding["message"].get<std::string>() + "\n";
        for (const Json& loader : finding["affects"])
            EXPECT_NE(out.rfind(loader.get<std::string>()), std::string::npos) << "named in the message";
    }
    auto errors = doc["errors"].get<std::size_t>();
    auto warnings = doc["warnings"].get<std::size_t>();
    return out + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") + ", " +
           std::to_string(warnings) + " warning" + (warnings == 1 ? "" : "s") + "\n";
}

std::string pattern(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes += static_cast<char>((i * 7) & 0xFF);
    return bytes;
}

TEST(Json, ParsesBackToTheListingAndTheFindings) {
    const std::string long_text(300, 'n');
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"every kind of view",
         unif_header() + block("MAPR", "NES-NROM-128\0"s) + block("NAME", "q\"b\\s\t\r\n\x01\x7F \xC3\xA9\0"s) +
             block("TVCI", "\x01") + block("MIRR", "\x09") + block("BATR", "") +
             block("PRG0", pattern(16384)) + block("CHR0", pattern(8192)) +
             block("READ", "line one\nline two\0"s) + block("DINF", std::string(204, '\0'))},
        {"texts that are not UTF-8, odd IDs",
         unif_header() + block("MAPR", "\xFF\xFE\xC3(\0"s) + block("NAME", long_text + "\xE2\x82") +
             block("\x01\x7F\x80\xFF", "x") + block("PRG\0"s, "abc") + block("\"\\\0\x20"s, "") +
             block("CHR1", "123456789")},
        {"blocks out of order", unif_header() + block("CHR1", "6789") + block("PRG1", "6789") +
                                    block("PRG0", "12345") + block("CHR0", "12345")},
        {"no blocks", unif_header()},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("img", c.bytes);
        RunResult listing = dir.run({"img"}, {.program = Program::unifinfo});
        RunResult json = dir.run({"--json", "img"}, {.program = Program::unifinfo});
        EXPECT_EQ(json.status, listing.status) << c.what;
        EXPECT_EQ(json.err, listing.err) << c.what;
        Json doc = Json::parse(json.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << c.what << ": " << json.out;
        EXPECT_EQ(doc["path"], "img");
        EXPECT_EQ(doc["unif"], true);
        EXPECT_EQ(doc["end"]["complete"], true) << c.what;
        EXPECT_FALSE(doc.contains("findings")) << c.what;
        EXPECT_EQ(listing_from(doc), listing.out) << c.what;

        RunResult check = dir.run({"--check", "img"}, {.program = Program::unifinfo});
        RunResult both = dir.run({"--json", "--check", "img"}, {.program = Program::unifinfo});
        EXPECT_EQ(both.status, check.status) << c.what;
        EXPECT_EQ(both.err, check.err) << c.what;
        Json checked = Json::parse(both.out, nullptr, false);
        ASSERT_FALSE(checked.is_discarded()) << c.what << ": " << both.out;
        EXPECT_EQ(listing_from(checked), listing.out) << c.what;
        EXPECT_EQ(findings_from(checked), check.out) << c.what;
    }
}

// Texts keep every byte in text_hex; where they are not UTF-8, the JSON
// string has U+FFFD in place of each byte that is not.
TEST(Json, TextsThatAreNotUtf8) {
    ScratchDir dir;
    dir.write("img", unif_header() + block("NAME", "a\xFF" "b\xC3\xA9\0"s));
    RunResult run = dir.run({"--json", "img"}, {.program = Program::unifinfo});
    EXPECT_EQ(run.status, 0);
    Json doc = Json::parse(run.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << run.out;
    EXPECT_EQ(doc["blocks"][0]["text"], "a\xEF\xBF\xBD" "b\xC3\xA9");
    EXPECT_EQ(doc["blocks"][0]["text_hex"], "61ff62c3a9");
}

// Files that are no whole image: the same messages and status as the
// listing, and still one JSON document saying how far it got.
TEST(Json, ImagesThatAreNotWhole) {
    const std::string image = unif_header() + block("NAME", "x\0"s);
    struct Case {
        const char* what;
        std::string bytes;
        std::string end;  // the "end" object
        bool unif;
    };
    const Case cases[] = {
        {"not a UNIF image", "TALVORIN\n", "null", false},
        {"header cut short", unif_header().substr(0, 20), "null", false},
        {"cut inside a block start", image + "PRG0\x10"s,
         R"({"complete":false,"reason":"block start cut short","offset":42,"present":5})", true},
        {"cut inside a payload", image + "PRG0\x10\x00\x00\x00"s + "abc",
         R"({"complete":false,"reason":"payload cut short","offset":42,"id":"PRG0","length":16,"present":3})",
         true},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("img", c.bytes);
        RunResult listing = dir.run({"img"}, {.program = Program::unifinfo});
        RunResult json = dir.run({"--json", "img"}, {.program = Program::unifinfo});
        EXPECT_EQ(json.status, 1) << c.what;
        EXPECT_EQ(json.err, listing.err) << c.what;
        Json doc = Json::parse(json.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << c.what << ": " << json.out;
        EXPECT_EQ(doc["unif"], c.unif) << c.what;
        EXPECT_EQ(json_text(doc["end"]), c.end) << c.what;
        EXPECT_TRUE(doc["hashes"].is_null()) << c.what;
        EXPECT_EQ(doc["blocks"].size(), c.unif ? 1u : 0u) << c.what;
    }
}

}  // namespace
