// Fuzz target: arbitrary bytes as a makefile, read from memory by the
// makefile reader, which must yield exactly what the plain model of the
// text rules yields: the head, every directive, the malformed line. The
// bytes up to their first zero byte also serve as the makefile path, whose
// base every value is resolved against.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "makefile_model.h"
#include "makefile_reader.h"

namespace {

void check_resolution(MakefileReader& reader, const std::string& base, const std::string& name) {
    auto [fits, expected] = model::resolve(base, name);
    const char* resolved = resolve_name(reader, name.c_str());
    FUZZ_CHECK(fits == (resolved != nullptr), "resolve_name: fits or not");
    if (resolved != nullptr) {
        FUZZ_CHECK(expected == resolved, "resolve_name: base and name");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    model::Reading expected = model::read(bytes);

    std::string buffer = bytes;  // fmemopen wants a writable buffer, even to read
    std::FILE* stream = fmemopen(buffer.data(), buffer.size(), "rb");
    FUZZ_CHECK(stream != nullptr, "fmemopen");
    static MakefileReader reader;  // large: not on the stack
    reader = MakefileReader{};
    attach_makefile(reader, stream);
    const std::string path = bytes.c_str();
    set_base_directory(reader, path.c_str());
    const std::string base = model::base_of(path);

    bool magic = check_magic_line(reader);
    FUZZ_CHECK(magic == (expected.head != model::Head::not_valid), "check_magic_line");
    if (!magic) {
        close_makefile(reader);
        return 0;
    }
    OutputName head = read_output_name(reader);
    FUZZ_CHECK((head == OutputName::missing) == (expected.head == model::Head::missing),
               "read_output_name: missing");
    FUZZ_CHECK((head == OutputName::too_long) == (expected.head == model::Head::too_long),
               "read_output_name: too long");
    if (head != OutputName::ok) {
        close_makefile(reader);
        return 0;
    }
    FUZZ_CHECK(expected.output_name == reader.output_name, "read_output_name: the name");
    check_resolution(reader, base, reader.output_name);

    std::size_t count = 0;
    for (;;) {
        DirectiveResult next = next_directive(reader);
        if (next == DirectiveResult::end) {
            FUZZ_CHECK(!expected.malformed, "next_directive: end instead of a malformed line");
            break;
        }
        if (next == DirectiveResult::malformed) {
            FUZZ_CHECK(expected.malformed, "next_directive: malformed line the model reads");
            FUZZ_CHECK(expected.malformed_text == reader.line, "next_directive: the malformed line");
            break;
        }
        FUZZ_CHECK(count < expected.directives.size(), "next_directive: more directives than the model");
        FUZZ_CHECK(expected.directives[count].first == reader.key, "next_directive: key");
        FUZZ_CHECK(expected.directives[count].second == reader.value, "next_directive: value");
        check_resolution(reader, base, reader.value);
        ++count;
    }
    FUZZ_CHECK(count == expected.directives.size(), "next_directive: fewer directives than the model");
    // Once at its end the reader stays there.
    FUZZ_CHECK(next_directive(reader) == DirectiveResult::end || expected.malformed,
               "next_directive: a directive after the end");
    close_makefile(reader);
    return 0;
}
