// CRC-32 as zlib and PNG compute it (zlib's own crc32): reflected
// polynomial 0xEDB88320, register started at all ones and complemented at
// the end. The CRC-32 of the ASCII text "123456789" is 0xCBF43926.
#pragma once

#include <cstddef>
#include <cstdint>

// Extends `crc`, the CRC-32 of the bytes so far (0 for none), with `size`
// more bytes: feeding data in pieces gives the CRC-32 of the whole.
std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, std::size_t size);
