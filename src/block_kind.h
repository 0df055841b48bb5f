// What a block kind offers the build run: `claims` answers whether the kind
// handles a directive key, `write` turns the directive into one block.
#pragma once

#include "image_writer.h"
#include "makefile_reader.h"

enum class BlockResult {
    done,         // one whole block written, or a skip already reported
    image_error,  // a write to the image failed: the run stops
    read_error,   // a data file gave fewer bytes than measured: the run stops
};

struct BlockKind {
    bool (*claims)(const char* key);
    // The makefile reader resolves data-file names against its base
    // directory; `image` is the stream and identity of the image file.
    BlockResult (*write)(const char* key, const char* value, Image& image,
                         MakefileReader& makefile);
};
