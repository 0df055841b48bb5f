// Hashes of an image's ROM data for ROM databases, which key on the data,
// not on the file: the PRG data (the PRG blocks joined in index order 0 to
// F), the CHR data likewise, and the two together (PRG, then CHR), each with
// CRC-32 (zlib), MD5, SHA-1 and SHA-256 (OpenSSL's libcrypto).
//
// The hasher takes the payloads as the reader reads them, in one pass and
// fixed memory. Of each index only the first block counts, and only the
// indexes 0-9 and A-F. When the blocks do not come in the order they are
// joined in (all PRG in index order, then all CHR), the chosen blocks are
// read again afterwards, which needs a stream that can seek.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image_reader.h"

struct Digests {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    unsigned char md5[16] = {};
    unsigned char sha1[20] = {};
    unsigned char sha256[32] = {};
};

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

// The running hashes of one stream of bytes.
struct HashState {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    evp_md_ctx_st* md5 = nullptr;
    evp_md_ctx_st* sha1 = nullptr;
    evp_md_ctx_st* sha256 = nullptr;
};

constexpr std::size_t CHIP_INDEXES = 16;

// Where a chosen block's payload lies, for reading it again.
struct ChipPlace {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
};

struct RomHasher {
    HashState prg;
    HashState chr;
    HashState both;          // a copy of `prg` once the CHR data begins
    bool in_chr = false;     // the CHR data has begun
    bool taking = false;     // the current block's data is hashed
    bool taking_prg = false;
    bool out_of_order = false;  // a chosen block came out of order
    bool failed = false;        // a digest function failed
    std::uint16_t prg_chips = 0;  // the indexes chosen, one bit each
    std::uint16_t chr_chips = 0;
    int last_prg = -1;  // the last index hashed in order
    int last_chr = -1;
    ChipPlace prg_places[CHIP_INDEXES];
    ChipPlace chr_places[CHIP_INDEXES];
};

struct RomDigests {
    Digests prg;
    Digests chr;
    Digests both;
    std::uint16_t prg_chips = 0;  // the indexes joined, one bit each
    std::uint16_t chr_chips = 0;
};

// Sets up the digest contexts; false when the digest library fails.
bool begin_hashes(RomHasher& hasher);

// The reader's payload sink, with the RomHasher as context: called at each
// block's start with no data, then with each piece of its payload.
void hash_payload(void* context, const ImageBlock& block, const unsigned char* data,
                  std::size_t size);

enum class HashResult {
    ok,
    cannot_seek,   // the blocks must be read again and the stream cannot seek
    read_error,    // reading them again failed; errno tells why
    digest_error,  // the digest library failed
};

// Finishes the hashes once the whole image was read, reading the chosen
// blocks again from `stream` through `buffer` when they came out of order.
HashResult finish_hashes(RomHasher& hasher, std::FILE* stream, unsigned char* buffer,
                         std::size_t buffer_size, RomDigests& digests);

// Frees the digest contexts.
void end_hashes(RomHasher& hasher);
