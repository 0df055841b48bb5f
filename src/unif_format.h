// The UNIF image layout, shared by the writer (unifpack) and the reader
// (unifinfo): a 32-byte header, then blocks one after another.
#pragma once

#include <cstddef>
#include <cstdint>

// The UNIF header: magic, revision, then reserved zero bytes.
constexpr char UNIF_MAGIC[4] = {'U', 'N', 'I', 'F'};
constexpr std::uint32_t UNIF_REVISION = 7;
constexpr std::size_t UNIF_HEADER_SIZE = 32;
// Each block: a 4-byte ID, a 32-bit little-endian payload length, payload.
constexpr std::size_t BLOCK_ID_SIZE = 4;
constexpr std::size_t BLOCK_START_SIZE = 8;
