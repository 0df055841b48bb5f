#include "rom_hashes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <openssl/evp.h>
#include <sys/types.h>

#include "crc32.h"

namespace {

// The chip index of a PRG or CHR block: 0-15 for 0-9 and A-F, -1 otherwise.
int chip_index(const ImageBlock& block) {
    unsigned char c = block.id[3];
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool is_kind(const ImageBlock& block, const char* id) {
    return block.kind != nullptr && std::strcmp(block.kind->id, id) == 0;
}

bool start_state(HashState& state) {
    state.size = 0;
    state.crc32 = 0;
    for (evp_md_ctx_st** context : {&state.md5, &state.sha1, &state.sha256}) {
        if (*context == nullptr)
            *context = EVP_MD_CTX_new();
        if (*context == nullptr)
            return false;
    }
    return EVP_DigestInit_ex(state.md5, EVP_md5(), nullptr) == 1 &&
           EVP_DigestInit_ex(state.sha1, EVP_sha1(), nullptr) == 1 &&
           EVP_DigestInit_ex(state.sha256, EVP_sha256(), nullptr) == 1;
}

bool update_state(HashState& state, const unsigned char* data, std::size_t size) {
    state.size += size;
    state.crc32 = crc32_update(state.crc32, data, size);
    return EVP_DigestUpdate(state.md5, data, size) == 1 &&
           EVP_DigestUpdate(state.sha1, data, size) == 1 &&
           EVP_DigestUpdate(state.sha256, data, size) == 1;
}

bool copy_state(HashState& to, const HashState& from) {
    to.size = from.size;
    to.crc32 = from.crc32;
    return EVP_MD_CTX_copy_ex(to.md5, from.md5) == 1 && EVP_MD_CTX_copy_ex(to.sha1, from.sha1) == 1 &&
           EVP_MD_CTX_copy_ex(to.sha256, from.sha256) == 1;
}

bool final_state(HashState& state, Digests& digests) {
    digests.size = state.size;
    digests.crc32 = state.crc32;
    return EVP_DigestFinal_ex(state.md5, digests.md5, nullptr) == 1 &&
           EVP_DigestFinal_ex(state.sha1, digests.sha1, nullptr) == 1 &&
           EVP_DigestFinal_ex(state.sha256, digests.sha256, nullptr) == 1;
}

void free_state(HashState& state) {
    for (evp_md_ctx_st** context : {&state.md5, &state.sha1, &state.sha256}) {
        EVP_MD_CTX_free(*context);
        *context = nullptr;
    }
}

// The CHR data begins: the joined hashes go on from the PRG's.
void begin_chr(RomHasher& hasher) {
    if (!hasher.in_chr && !copy_state(hasher.both, hasher.prg))
        hasher.failed = true;
    hasher.in_chr = true;
}

void feed(RomHasher& hasher, bool prg, const unsigned char* data, std::size_t size) {
    bool ok = true;
    if (prg) {
        ok = update_state(hasher.prg, data, size);
    } else {
        begin_chr(hasher);
        ok = update_state(hasher.chr, data, size) && update_state(hasher.both, data, size);
    }
    if (!ok)
        hasher.failed = true;
}

// A block begins: is it the first of its index, and does it come in order?
void start_block(RomHasher& hasher, const ImageBlock& block) {
    hasher.taking = false;
    bool prg = is_kind(block, "PRG");
    if (!prg && !is_kind(block, "CHR"))
        return;
    int index = chip_index(block);
    std::uint16_t& chips = prg ? hasher.prg_chips : hasher.chr_chips;
    if (index < 0 || (chips & (1u << index)) != 0)
        return;
    chips = static_cast<std::uint16_t>(chips | (1u << index));
    ChipPlace& place = (prg ? hasher.prg_places : hasher.chr_places)[index];
    place.offset = block.offset + BLOCK_START_SIZE;
    place.length = block.length;
    int& last = prg ? hasher.last_prg : hasher.last_chr;
    // An empty block adds no bytes: its place in the order does not matter.
    if (block.length == 0)
        return;
    if (index < last || (prg && hasher.in_chr))
        hasher.out_of_order = true;
    if (hasher.out_of_order)
        return;
    last = index;
    hasher.taking = true;
    hasher.taking_prg = prg;
}

// Reads `length` bytes at `offset` again, feeding them to the hashes.
HashResult reread(RomHasher& hasher, bool prg, const ChipPlace& place, std::FILE* stream,
                  unsigned char* buffer, std::size_t buffer_size) {
    if (fseeko(stream, static_cast<off_t>(place.offset), SEEK_SET) != 0)
        return HashResult::cannot_seek;
    std::uint64_t left = place.length;
    while (left > 0) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_size));
        std::size_t got = std::fread(buffer, 1, chunk, stream);
        if (got != chunk) {
            if (std::ferror(stream) == 0)
                errno = EIO;  // the image shrank since it was read
            return HashResult::read_error;
        }
        feed(hasher, prg, buffer, got);
        left -= got;
    }
    return HashResult::ok;
}

HashResult hash_again(RomHasher& hasher, std::FILE* stream, unsigned char* buffer,
                      std::size_t buffer_size) {
    hasher.in_chr = false;
    if (!start_state(hasher.prg) || !start_state(hasher.chr) || !start_state(hasher.both))
        return HashResult::digest_error;
    for (bool prg : {true, false}) {
        for (std::size_t index = 0; index < CHIP_INDEXES; ++index) {
            std::uint16_t chips = prg ? hasher.prg_chips : hasher.chr_chips;
            if ((chips & (1u << index)) == 0)
                continue;
            const ChipPlace& place = (prg ? hasher.prg_places : hasher.chr_places)[index];
            HashResult result = reread(hasher, prg, place, stream, buffer, buffer_size);
            if (result != HashResult::ok)
                return result;
        }
    }
    return HashResult::ok;
}

}  // namespace

bool begin_hashes(RomHasher& hasher) {
    end_hashes(hasher);
    hasher = RomHasher{};
    return start_state(hasher.prg) && start_state(hasher.chr) && start_state(hasher.both);
}

void hash_payload(void* context, const ImageBlock& block, const unsigned char* data,
                  std::size_t size) {
    RomHasher& hasher = *static_cast<RomHasher*>(context);
    if (data == nullptr)
        start_block(hasher, block);
    else if (hasher.taking)
        feed(hasher, hasher.taking_prg, data, size);
}

HashResult finish_hashes(RomHasher& hasher, std::FILE* stream, unsigned char* buffer,
                         std::size_t buffer_size, RomDigests& digests) {
    if (hasher.out_of_order) {
        HashResult result = hash_again(hasher, stream, buffer, buffer_size);
        if (result != HashResult::ok)
            return result;
    }
    begin_chr(hasher);
    if (hasher.failed || !final_state(hasher.prg, digests.prg) ||
        !final_state(hasher.chr, digests.chr) || !final_state(hasher.both, digests.both))
        return HashResult::digest_error;
    digests.prg_chips = hasher.prg_chips;
    digests.chr_chips = hasher.chr_chips;
    return HashResult::ok;
}

void end_hashes(RomHasher& hasher) {
    free_state(hasher.prg);
    free_state(hasher.chr);
    free_state(hasher.both);
}
