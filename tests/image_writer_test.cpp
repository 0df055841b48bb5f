#include "image_writer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace std::string_literals;

// Collects what the writer puts on a stream.
class Bytes {
public:
    Bytes() : stream_(open_memstream(&data_, &size_)) {}
    ~Bytes() {
        if (stream_ != nullptr)
            std::fclose(stream_);
        std::free(data_);
    }
    std::FILE* stream() { return stream_; }
    std::string take() {
        std::fflush(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

TEST(ImageWriter, HeaderIsMagicRevisionSevenAndZeros) {
    Bytes bytes;
    write_header(bytes.stream());
    EXPECT_EQ(bytes.take(),
              "UNIF"s                  // magic
              "\x07\x00\x00\x00"s      // revision 7, little-endian
              + std::string(24, '\0'));  // reserved
}

TEST(ImageWriter, BlockIdIsTheKeysFirstFourBytesWithItsZeroByte) {
    struct Case {
        const char* key;
        std::uint32_t length;
        std::string expected;
    };
    const Case cases[] = {
        {"PRG0", 100, "PRG0" "\x64\x00\x00\x00"s},
        {"MAPRX", 0, "MAPR" "\x00\x00\x00\x00"s},
        {"PRG", 0x12345678, "PRG\0" "\x78\x56\x34\x12"s},
        {"READ", 0xFFFFFFFF, "READ" "\xFF\xFF\xFF\xFF"s},
        {"a", 1, "a\0\0\0" "\x01\x00\x00\x00"s},
    };
    for (const Case& c : cases) {
        Bytes bytes;
        write_block_start(bytes.stream(), c.key, c.length);
        EXPECT_EQ(bytes.take(), c.expected) << c.key;
    }
}

TEST(ImageWriter, WriteFailureIsSeenAtClose) {
    Image image = create_image("/dev/full", {});
    ASSERT_NE(image.stream, nullptr);
    write_header(image.stream);
    EXPECT_FALSE(close_image(image));
}

}  // namespace
