#include "crc32.h"

#include <array>

namespace {

constexpr std::uint32_t POLYNOMIAL = 0xEDB88320;  // 0x04C11DB7 reflected

// The register's change for each byte value, one byte at a time.
constexpr std::array<std::uint32_t, 256> make_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t value = 0; value < 256; ++value) {
        std::uint32_t r = value;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) != 0 ? (r >> 1) ^ POLYNOMIAL : r >> 1;
        table[value] = r;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> TABLE = make_table();

}  // namespace

std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    std::uint32_t r = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        r = TABLE[(r ^ data[i]) & 0xFF] ^ (r >> 8);
    return ~r;
}
