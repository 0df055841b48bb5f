// File blocks: the payload is the contents of a data file named by the
// directive's value (PRG and CHR memory dumps, a READ read-me text).
#pragma once

#include "block_kind.h"

extern const BlockKind FILE_BLOCKS;
