// What unifinfo says about an image it cannot read whole, the same for the
// listing and the extraction: each a message on standard error.
#pragma once

#include <cstdio>

#include "image_reader.h"

// Opens the image for reading; a directory is refused. Null after the
// message "Unable to open image ...".
std::FILE* open_image(const char* path);

// The message for a header that is not whole or not UNIF (any result but
// ok), or a failed read.
void report_header_failure(const char* path, HeaderResult result, const ImageReader& reader);

// The message for an image that ends inside a block, or a failed read
// (cut_start, cut_payload, read_error).
void report_block_failure(const char* path, NextBlock next, const ImageBlock& block,
                          const ImageReader& reader);
