#include "makefile_reader.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr char CTRL_Z = '\x1A';

// Reads the next piece of the makefile. False when nothing more could be
// read: the makefile's end, or a failed read, which is then noted.
bool read_input(MakefileReader& reader) {
    reader.input_at = 0;
    reader.input_end = 0;
    if (!reader.input_done) {
        reader.input_end = std::fread(reader.input, 1, INPUT_SIZE, reader.stream);
        reader.input_done = reader.input_end < INPUT_SIZE;
    }
    if (reader.input_end > 0)
        return true;
    reader.read_failed = std::ferror(reader.stream) != 0;
    return false;
}

// The bytes with a meaning in the makefile's text; every other byte is an
// ordinary character.
bool has_meaning(char c) {
    return c == '\n' || c == '\r' || c == CTRL_Z;
}

// Reads one line into reader.line under the text rules: up to and including
// its LF, but never more than MAXLEN - 1 characters; CR LF reads as LF and
// a Ctrl-Z ends the makefile for good. Yields the number of characters
// taken; the line's text is what stands before its first zero byte.
std::size_t read_line(MakefileReader& reader) {
    std::size_t count = 0;
    while (count < MAXLEN - 1 && !reader.ended) {
        if (reader.input_at == reader.input_end && !read_input(reader))
            break;
        // Ordinary characters go over in one run.
        const char* next = reader.input + reader.input_at;
        std::size_t limit = std::min(reader.input_end - reader.input_at, MAXLEN - 1 - count);
        std::size_t run = 0;
        while (run < limit && !has_meaning(next[run]))
            ++run;
        std::memcpy(reader.line + count, next, run);
        count += run;
        reader.input_at += run;
        if (run == limit)
            continue;
        char c = next[run];
        ++reader.input_at;
        if (c == CTRL_Z) {
            reader.ended = true;
            break;
        }
        // A CR reads as LF when an LF follows it, and is kept otherwise.
        if (c == '\r') {
            if (reader.input_at == reader.input_end)
                read_input(reader);
            if (reader.input_at < reader.input_end && reader.input[reader.input_at] == '\n') {
                ++reader.input_at;
                c = '\n';
            }
        }
        reader.line[count++] = c;
        if (c == '\n')
            break;
    }
    reader.line[count] = '\0';
    return count;
}

bool ends_with_lf(const char* text) {
    std::size_t length = std::strlen(text);
    return length > 0 && text[length - 1] == '\n';
}

}  // namespace

std::FILE* open_makefile(const char* path) {
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr)
        return nullptr;
    struct stat info;
    if (fstat(fileno(stream), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

void attach_makefile(MakefileReader& reader, std::FILE* stream) {
    reader.stream = stream;
    reader.ended = false;
    reader.input_done = false;
    reader.read_failed = false;
    reader.input_at = 0;
    reader.input_end = 0;
    reader.line[0] = '\0';
}

void close_makefile(MakefileReader& reader) {
    if (reader.stream != nullptr)
        std::fclose(reader.stream);
    reader.stream = nullptr;
}

void set_base_directory(MakefileReader& reader, const char* path) {
    const char* last = std::strrchr(path, '\\');
    std::size_t length = last == nullptr ? 0 : static_cast<std::size_t>(last - path) + 1;
    reader.base_fits = length < MAXLEN;
    if (!reader.base_fits)
        length = 0;
    std::memcpy(reader.base, path, length);
    reader.base[length] = '\0';
}

bool check_magic_line(MakefileReader& reader) {
    read_line(reader);
    return std::strcmp(reader.line, MAGIC_LINE) == 0;
}

OutputName read_output_name(MakefileReader& reader) {
    if (read_line(reader) == 0)
        return OutputName::missing;
    if (!ends_with_lf(reader.line))
        return OutputName::too_long;
    std::size_t length = std::strlen(reader.line) - 1;
    std::memcpy(reader.output_name, reader.line, length);
    reader.output_name[length] = '\0';
    return OutputName::ok;
}

DirectiveResult next_directive(MakefileReader& reader) {
    std::size_t count = read_line(reader);
    // A read that failed is no end of the makefile: what was read of the
    // line is reported, and the run stops.
    if (reader.read_failed)
        return DirectiveResult::malformed;
    // A last line that runs into the end of the makefile is ignored.
    if (count == 0 || (count < MAXLEN - 1 && reader.line[count - 1] != '\n'))
        return DirectiveResult::end;
    if (!split_directive(reader.line, reader.key, reader.value))
        return DirectiveResult::malformed;
    return DirectiveResult::directive;
}

bool split_directive(const char* line, char* key, char* value) {
    // The line's text ends at its first zero byte, and must end with LF.
    std::size_t length = std::strlen(line);
    if (length == 0 || line[length - 1] != '\n')
        return false;
    const char* space = std::strchr(line, ' ');
    if (space == nullptr)
        return false;
    std::size_t key_length = static_cast<std::size_t>(space - line);
    std::memcpy(key, line, key_length);
    key[key_length] = '\0';
    // The value: what stands between the space and the LF.
    std::size_t value_length = length - key_length - 2;
    std::memcpy(value, space + 1, value_length);
    value[value_length] = '\0';
    return true;
}

const char* resolve_name(MakefileReader& reader, const char* name) {
    std::size_t base_length = std::strlen(reader.base);
    std::size_t name_length = std::strlen(name);
    if (!reader.base_fits || base_length + name_length >= MAXLEN)
        return nullptr;
    std::memcpy(reader.resolved, reader.base, base_length);
    std::memcpy(reader.resolved + base_length, name, name_length + 1);
    return reader.resolved;
}
