#include "makefile_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

using namespace std::string_literals;

// Reads a whole makefile from memory and spells out what the reader
// answered, line by line: the output name, then each directive as
// [key|value], a malformed line as malformed[text], and the end.
std::string transcript(const std::string& bytes) {
    std::string copy = bytes;
    std::FILE* stream = fmemopen(copy.data(), copy.size(), "rb");
    if (stream == nullptr)
        return "fmemopen failed";
    MakefileReader reader;
    attach_makefile(reader, stream);
    std::string said;
    if (!check_magic_line(reader)) {
        close_makefile(reader);
        return "not-valid";
    }
    switch (read_output_name(reader)) {
    case OutputName::missing:
        close_makefile(reader);
        return "missing";
    case OutputName::too_long:
        close_makefile(reader);
        return "too-long";
    case OutputName::ok:
        said = "name[" + std::string(reader.output_name) + "]";
        break;
    }
    for (;;) {
        DirectiveResult result = next_directive(reader);
        if (result == DirectiveResult::end) {
            said += " end";
            break;
        }
        if (result == DirectiveResult::malformed) {
            said += " malformed[" + std::string(reader.line) + "]";
            break;
        }
        said += " [" + std::string(reader.key) + "|" + std::string(reader.value) + "]";
    }
    close_makefile(reader);
    return said;
}

const std::string MAGIC = "TALVORIN\n";
const std::string HEAD = MAGIC + "out.unf\n";

struct Case {
    const char* what;
    std::string makefile;
    std::string expected;
};

// A case shows as its description in test output...
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.what;
}

// ...and is named after it: "magic in lower case" runs as
// Transcript/MagicInLowerCase, so `ctest -R` can find it.
std::string case_name(const testing::TestParamInfo<Case>& info) {
    std::string name;
    bool word_start = true;
    for (const char* c = info.param.what; *c != '\0'; ++c) {
        bool alnum = std::isalnum(static_cast<unsigned char>(*c)) != 0;
        if (alnum)
            name += word_start ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
        word_start = !alnum;
    }
    return name;
}

class ReaderTest : public testing::TestWithParam<Case> {};

TEST_P(ReaderTest, Transcript) {
    EXPECT_EQ(transcript(GetParam().makefile), GetParam().expected) << GetParam().what;
}

const std::string NAME_249 = std::string(249, 'n');  // NAME, space, 249, LF: 255

INSTANTIATE_TEST_SUITE_P(MagicAndOutputName, ReaderTest, testing::Values(
    Case{"good head, no directives", HEAD, "name[out.unf] end"},
    Case{"empty makefile", "", "not-valid"},
    Case{"magic without LF", "TALVORIN", "not-valid"},
    Case{"magic with trailing blank", "TALVORIN \nout.unf\n", "not-valid"},
    Case{"magic in lower case", "talvorin\nout.unf\n", "not-valid"},
    Case{"magic after a byte-order mark", "\xEF\xBB\xBFTALVORIN\nout.unf\n", "not-valid"},
    Case{"Ctrl-Z inside the magic", "TALVO\x1ARIN\nout.unf\n", "not-valid"},
    Case{"zero byte inside the magic", "TALVORIN\0\n"s, "not-valid"},
    Case{"magic CR LF", "TALVORIN\r\nout.unf\r\n", "name[out.unf] end"},
    Case{"ends after the magic", MAGIC, "missing"},
    Case{"Ctrl-Z right after the magic", MAGIC + "\x1A" + "out.unf\n", "missing"},
    Case{"Ctrl-Z inside the output name", MAGIC + "out\x1A.unf\n", "too-long"},
    Case{"output name without LF", MAGIC + "out.unf", "too-long"},
    Case{"zero byte inside the output name", MAGIC + "out\0.unf\n"s, "too-long"},
    Case{"output name of 254 characters", MAGIC + std::string(254, 'o') + "\n",
         "name[" + std::string(254, 'o') + "] end"},
    Case{"output name of 255 characters", MAGIC + std::string(255, 'o') + "\n", "too-long"},
    Case{"output name of 254 characters and CR LF", MAGIC + std::string(254, 'o') + "\r\n",
         "name[" + std::string(254, 'o') + "] end"},
    Case{"blanks around the output name", MAGIC + " out.unf \n", "name[ out.unf ] end"},
    Case{"blank output name", MAGIC + "\n", "name[] end"},
    Case{"lone CR in the output name", MAGIC + "out\r.unf\n", "name[out\r.unf] end"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(Directives, ReaderTest, testing::Values(
    Case{"key and value", HEAD + "NAME My Game\nPRG0 a.prg\n",
         "name[out.unf] [NAME|My Game] [PRG0|a.prg] end"},
    Case{"CR LF reads as LF", MAGIC + "out.unf\r\nNAME My Game\r\nPRG0 a.prg\r\n",
         "name[out.unf] [NAME|My Game] [PRG0|a.prg] end"},
    Case{"lone CR is a character", HEAD + "NAME a\rb\nMAPR \r\r\n",
         "name[out.unf] [NAME|a\rb] [MAPR|\r] end"},
    Case{"CR as the last byte", HEAD + "NAME a\nNAME b\r", "name[out.unf] [NAME|a] end"},
    Case{"two spaces keep the second", HEAD + "NAME  My Game\n", "name[out.unf] [NAME| My Game] end"},
    Case{"empty key", HEAD + " x\n", "name[out.unf] [|x] end"},
    Case{"empty value", HEAD + "NAME \n", "name[out.unf] [NAME|] end"},
    Case{"trailing blanks kept", HEAD + "NAME a b  \n", "name[out.unf] [NAME|a b  ] end"},
    Case{"tab and bytes over 0x7F are characters", HEAD + "N\tX \t\xFF\n",
         "name[out.unf] [N\tX|\t\xFF] end"},
    Case{"blank line is malformed", HEAD + "NAME a\n\nNAME b\n", "name[out.unf] [NAME|a] malformed[\n]"},
    Case{"CR LF blank line is malformed", HEAD + "\r\n", "name[out.unf] malformed[\n]"},
    Case{"tab instead of space", HEAD + "NAME\tx\n", "name[out.unf] malformed[NAME\tx\n]"},
    Case{"zero byte before the LF", HEAD + "NAME a\0b\n"s, "name[out.unf] malformed[NAME a]"},
    Case{"last line without LF is ignored", HEAD + "NAME a\nNAME b", "name[out.unf] [NAME|a] end"},
    Case{"last line with a zero byte, no LF", HEAD + "NAME a\0b"s, "name[out.unf] end"},
    Case{"Ctrl-Z ends the makefile", HEAD + "NAME a\n\x1ANAME b\n", "name[out.unf] [NAME|a] end"},
    Case{"Ctrl-Z inside a directive", HEAD + "NAME a\x1A\nNAME b\n", "name[out.unf] end"},
    Case{"Ctrl-Z after CR", HEAD + "NAME a\r\x1A\n", "name[out.unf] end"},
    Case{"directive of 254 characters and LF", HEAD + "NAME " + NAME_249 + "\n",
         "name[out.unf] [NAME|" + NAME_249 + "] end"},
    Case{"directive of 254 characters and CR LF", HEAD + "NAME " + NAME_249 + "\r\n",
         "name[out.unf] [NAME|" + NAME_249 + "] end"},
    Case{"directive of 255 characters and LF", HEAD + "NAME " + NAME_249 + "n\nNAME b\n",
         "name[out.unf] malformed[NAME " + NAME_249 + "n]"},
    Case{"last line of 255 characters without LF", HEAD + "NAME " + NAME_249 + "n",
         "name[out.unf] malformed[NAME " + NAME_249 + "n]"},
    Case{"255 characters then CR kept as a character", HEAD + "NAME " + NAME_249 + "\rx\n",
         "name[out.unf] malformed[NAME " + NAME_249 + "\r]"}),
    case_name);

// A stream that yields its bytes, then fails as a failing disk would.
struct FailingSource {
    std::string bytes;
    std::size_t offset = 0;
};

ssize_t read_then_fail(void* cookie, char* buffer, std::size_t size) {
    auto* source = static_cast<FailingSource*>(cookie);
    if (source->offset == source->bytes.size()) {
        errno = EIO;
        return -1;
    }
    std::size_t count = std::min(size, source->bytes.size() - source->offset);
    std::memcpy(buffer, source->bytes.data() + source->offset, count);
    source->offset += count;
    return static_cast<ssize_t>(count);
}

TEST(MakefileReader, ReadFailureAmongDirectivesIsNoEnd) {
    for (const char* rest : {"", "NAM", "NAME b"}) {
        FailingSource source{HEAD + "NAME a\n" + rest};
        cookie_io_functions_t io = {read_then_fail, nullptr, nullptr, nullptr};
        MakefileReader reader;
        attach_makefile(reader, fopencookie(&source, "r", io));
        ASSERT_TRUE(check_magic_line(reader));
        ASSERT_EQ(read_output_name(reader), OutputName::ok);
        ASSERT_EQ(next_directive(reader), DirectiveResult::directive);
        EXPECT_EQ(next_directive(reader), DirectiveResult::malformed) << rest;
        EXPECT_STREQ(reader.line, rest);
        close_makefile(reader);
    }
}

TEST(SplitDirective, KeyBeforeFirstSpaceValueAfterWithoutLf) {
    char key[MAXLEN];
    char value[MAXLEN];
    ASSERT_TRUE(split_directive("PRG0 my game.prg\n", key, value));
    EXPECT_STREQ(key, "PRG0");
    EXPECT_STREQ(value, "my game.prg");
    EXPECT_FALSE(split_directive("PRG0\n", key, value));
    EXPECT_FALSE(split_directive("PRG0 x", key, value));
    EXPECT_FALSE(split_directive("", key, value));
}

struct PathCase {
    const char* makefile_path;
    const char* name;
    const char* resolved;  // null: does not fit, never truncated
};

TEST(ResolveName, BaseIsThePathUpToItsLastBackslash) {
    const std::string long_base = std::string(199, 'd') + "\\";  // 200 characters
    const std::string longest_base = std::string(254, 'd') + "\\";  // 255 characters
    const std::string too_long_base = std::string(255, 'd') + "\\";
    const std::string name_55(55, 'n');
    const std::string name_56(56, 'n');
    const std::string fits = long_base + name_55;
    const std::string long_path = long_base + "mk";
    const std::string longest_path = longest_base + "mk";
    const std::string too_long_path = too_long_base + "mk";
    const PathCase cases[] = {
        {"game.txt", "out.unf", "out.unf"},
        {"roms\\game.txt", "out.unf", "roms\\out.unf"},
        {"a\\b\\game.txt", "c\\out.unf", "a\\b\\c\\out.unf"},
        {"roms/game.txt", "out.unf", "out.unf"},  // a slash is an ordinary character
        {"c:game.txt", "out.unf", "out.unf"},
        {"roms\\game.txt", "/abs/out.unf", "roms\\/abs/out.unf"},
        {"roms\\game.txt", "", "roms\\"},
        {"game.txt", "", ""},
        {long_path.c_str(), name_55.c_str(), fits.c_str()},  // 255 characters
        {long_path.c_str(), name_56.c_str(), nullptr},       // 256 characters
        {longest_path.c_str(), "", longest_base.c_str()},
        {too_long_path.c_str(), "", nullptr},
    };
    for (const PathCase& c : cases) {
        MakefileReader reader;
        set_base_directory(reader, c.makefile_path);
        const char* resolved = resolve_name(reader, c.name);
        if (c.resolved == nullptr)
            EXPECT_EQ(resolved, nullptr) << c.makefile_path << " + " << c.name;
        else
            EXPECT_STREQ(resolved, c.resolved) << c.makefile_path << " + " << c.name;
    }
}

TEST(OpenMakefile, DirectoryAndMissingFileCannotBeOpened) {
    EXPECT_EQ(open_makefile("/"), nullptr);
    EXPECT_EQ(open_makefile("/nonexistent/makefile"), nullptr);
}

}  // namespace
