#include "value_blocks.h"

#include <cstring>

#include "messages.h"
#include "unif_blocks.h"

namespace {

bool claims_payload(const char* key, Payload payload) {
    const BlockInfo* block = block_for_key(key);
    return block != nullptr && block->payload == payload;
}

bool claims_string(const char* key) {
    return claims_payload(key, Payload::text);
}

bool claims_byte(const char* key) {
    return claims_payload(key, Payload::byte);
}

BlockResult write_string(const char* key, const char* value, Image& image, MakefileReader&) {
    std::size_t length = std::strlen(value);
    progress("Storing %s as '%s'\n", key, value);
    // The text and its zero byte.
    write_block(image.stream, key, value, static_cast<std::uint32_t>(length + 1));
    return BlockResult::done;
}

BlockResult write_byte(const char* key, const char* value, Image& image, MakefileReader&) {
    std::uint8_t byte = byte_value(value);
    progress("Storing %s as %u\n", key, static_cast<unsigned>(byte));
    write_block(image.stream, key, &byte, 1);
    return BlockResult::done;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

const BlockKind STRING_BLOCKS = {claims_string, write_string};
const BlockKind BYTE_BLOCKS = {claims_byte, write_byte};

std::uint8_t byte_value(const char* value) {
    while (is_blank(*value))
        ++value;
    bool negative = *value == '-';
    if (*value == '-' || *value == '+')
        ++value;
    // The remainder is kept digit by digit, so no number is too long.
    unsigned remainder = 0;
    for (; *value >= '0' && *value <= '9'; ++value)
        remainder = (remainder * 10 + static_cast<unsigned>(*value - '0')) % 256;
    if (negative)
        remainder = (256 - remainder) % 256;
    return static_cast<std::uint8_t>(remainder);
}
