#include "crc32.h"

#include <zlib.h>

std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}
