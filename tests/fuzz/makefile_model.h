// A second, plain account of what the tool does with a makefile, written from
// the README's rules with strings and no buffers (which key makes which kind
// of block comes from the tool's table of block kinds), for the fuzz targets to
// hold the real reader and build run against: what the reader yields, and
// the whole outcome of a run (status, both streams, the image).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "unif_blocks.h"

namespace model {

constexpr std::size_t LINE_LIMIT = 255;  // characters a line holds before it is cut
constexpr std::size_t PATH_LIMIT = 256;  // a resolved name must be shorter

// The characters the reader sees: CR LF reads as LF, a Ctrl-Z ends them.
inline std::string characters(const std::string& bytes) {
    std::string seen;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\x1A')
            break;
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            seen += '\n';
            ++i;
            continue;
        }
        seen += c;
    }
    return seen;
}

// One line as read: up to and including its LF, at most LINE_LIMIT
// characters. Its text is what stands before its first zero byte.
struct Line {
    std::string taken;
    std::string text() const { return taken.substr(0, taken.find('\0')); }
    bool ends_with_lf() const { return !text().empty() && text().back() == '\n'; }
};

inline std::vector<Line> lines(const std::string& characters) {
    std::vector<Line> all;
    std::size_t at = 0;
    while (at < characters.size()) {
        std::size_t lf = characters.find('\n', at);
        std::size_t length = lf == std::string::npos ? characters.size() - at : lf - at + 1;
        if (length > LINE_LIMIT)
            length = LINE_LIMIT;
        all.push_back({characters.substr(at, length)});
        at += length;
    }
    return all;
}

enum class Head { not_valid, missing, too_long, ok };

struct Reading {
    Head head = Head::not_valid;
    std::string output_name;
    std::vector<std::pair<std::string, std::string>> directives;  // key, value
    bool malformed = false;  // the directives stop at a malformed line...
    std::string malformed_text;  // ...whose text this is
};

inline Reading read(const std::string& bytes) {
    std::vector<Line> all = lines(characters(bytes));
    Reading reading;
    if (all.empty() || all[0].text() != "TALVORIN\n")
        return reading;
    if (all.size() < 2) {
        reading.head = Head::missing;
        return reading;
    }
    if (!all[1].ends_with_lf()) {
        reading.head = Head::too_long;
        return reading;
    }
    reading.head = Head::ok;
    reading.output_name = all[1].text();
    reading.output_name.pop_back();
    for (std::size_t i = 2; i < all.size(); ++i) {
        const Line& line = all[i];
        // A last line that runs into the end is ignored; one cut at the
        // limit is malformed like any line without LF.
        if (line.taken.size() < LINE_LIMIT && line.taken.back() != '\n')
            break;
        std::string text = line.text();
        std::size_t space = text.find(' ');
        if (space == std::string::npos || !line.ends_with_lf()) {
            reading.malformed = true;
            reading.malformed_text = text;
            break;
        }
        reading.directives.emplace_back(text.substr(0, space),
                                        text.substr(space + 1, text.size() - space - 2));
    }
    return reading;
}

// The makefile path up to and including its last backslash.
inline std::string base_of(const std::string& makefile_path) {
    std::size_t last = makefile_path.rfind('\\');
    return last == std::string::npos ? "" : makefile_path.substr(0, last + 1);
}

// Base and name, or nothing (false) when the result would not fit.
inline std::pair<bool, std::string> resolve(const std::string& base, const std::string& name) {
    if (base.size() >= PATH_LIMIT || base.size() + name.size() >= PATH_LIMIT)
        return {false, ""};
    return {true, base + name};
}

inline std::uint8_t byte_value(const std::string& value) {
    std::size_t i = value.find_first_not_of(" \t\v\f\r");
    if (i == std::string::npos)
        return 0;
    bool negative = value[i] == '-';
    if (value[i] == '-' || value[i] == '+')
        ++i;
    unsigned remainder = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        remainder = (remainder * 10 + static_cast<unsigned>(value[i] - '0')) % 256;
    return static_cast<std::uint8_t>(negative ? (256 - remainder) % 256 : remainder);
}

inline std::string le32(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

inline std::string block(const std::string& key, const std::string& payload) {
    std::string id = key.substr(0, 4);
    id.resize(4, '\0');
    return id + le32(static_cast<std::uint32_t>(payload.size())) + payload;
}

inline std::string header() {
    return "UNIF" + le32(7) + std::string(24, '\0');
}

// The directory a run starts in: the makefile, other regular files, and
// directories, by the names they have there. Names hold no slash.
struct Directory {
    std::string makefile;  // its name; its bytes are in files
    std::map<std::string, std::string> files;
    std::set<std::string> directories;
};

struct Outcome {
    int status = 1;
    std::string out;
    std::string err;
    Directory after;  // the directory once the run is over
};

// The block kind whose key rule claims the key, from the tool's table of
// block kinds: the ID's letters begin the key (as a string, so a shorter key
// never matches).
inline const BlockInfo* claimed_by(const std::string& key) {
    for (const BlockInfo& kind : UNIF_BLOCKS)
        if (kind.key != KeyMatch::none && key.compare(0, kind.id_size, kind.id) == 0)
            return &kind;
    return nullptr;
}

// A run of `unifpack <makefile>` in the directory, nothing failing but what
// the names and the makefile make fail.
inline Outcome run(const Directory& before) {
    Outcome outcome;
    outcome.after = before;
    Directory& dir = outcome.after;
    const std::string& bytes = before.files.at(before.makefile);
    Reading reading = read(bytes);
    switch (reading.head) {
    case Head::not_valid:
    case Head::missing:
        outcome.err = "Specified file is not a valid makefile!\n";
        return outcome;
    case Head::too_long:
        outcome.err = "Filename too long! Increase MAXLEN and recompile.\n";
        return outcome;
    case Head::ok:
        break;
    }
    const std::string base = base_of(before.makefile);
    const std::string& output_name = reading.output_name;
    auto [fits, image_name] = resolve(base, output_name);
    if (!fits || image_name.empty() || image_name == "." || image_name == ".." ||
        image_name == before.makefile || dir.directories.count(image_name) != 0) {
        outcome.err = "Unable to open file " + output_name + " for output!\n";
        return outcome;
    }
    std::string image = header();
    outcome.out = "Opened file " + output_name + " for output.\nWriting header...\n";
    dir.files[image_name] = "";  // created or truncated before any data file is read
    for (const auto& [key, value] : reading.directives) {
        const BlockInfo* kind = claimed_by(key);
        if (kind == nullptr) {
            outcome.err += "Unrecognized directive " + key + " encountered, skipping...\n";
            continue;
        }
        switch (kind->payload) {
        case Payload::text:
            outcome.out += "Storing " + key + " as '" + value + "'\n";
            image += block(key, value + '\0');
            break;
        case Payload::byte: {
            std::uint8_t byte = byte_value(value);
            outcome.out += "Storing " + key + " as " + std::to_string(byte) + "\n";
            image += block(key, std::string(1, static_cast<char>(byte)));
            break;
        }
        case Payload::file:
        case Payload::file_text: {
            auto [data_fits, data_name] = resolve(base, value);
            auto data = dir.files.find(data_name);
            if (!data_fits || data == dir.files.end() || data_name == image_name) {
                outcome.err += "Error writing block " + key + " - unable to open file '" + value + "'!\n";
                continue;
            }
            std::string payload = data->second;
            if (kind->payload == Payload::file_text)
                payload += '\0';
            outcome.out += "Storing " + key + " as from file " + value + " (" +
                           std::to_string(payload.size()) + " bytes)\n";
            image += block(key, payload);
            break;
        }
        case Payload::record:
        case Payload::crc32:
            // No kind of these is written; claimed_by never yields one.
            std::abort();
        }
    }
    dir.files[image_name] = image;
    if (reading.malformed) {
        outcome.err += "Error decoding line: " + reading.malformed_text + "\n";
        return outcome;
    }
    outcome.out += "Done!\n";
    outcome.status = 0;
    return outcome;
}

}  // namespace model
