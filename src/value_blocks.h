// Value blocks: the payload comes from the directive's value itself.
// String blocks (MAPR, NAME) store the value's text and a zero byte; byte
// blocks (TVCI, MIRR, BATR) store one number modulo 256.
#pragma once

#include <cstdint>

#include "block_kind.h"

extern const BlockKind STRING_BLOCKS;
extern const BlockKind BYTE_BLOCKS;

// The byte a byte block stores for a value: its leading decimal number
// (after blanks and at most one sign) modulo 256 in two's complement, for
// any number of digits; 0 when the value holds no number.
std::uint8_t byte_value(const char* value);
