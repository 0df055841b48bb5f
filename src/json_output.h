// unifinfo --json: the header, every block, how the image ended, the ROM
// hashes and the check's findings as one JSON document on standard output,
// written piece by piece as the image is read, so that it needs no more
// memory for a large image than for a small one. The keys are described in
// unifinfo(1).
#pragma once

#include <cstdint>

#include "image_check.h"
#include "image_reader.h"
#include "rom_hashes.h"

// Opens the document: the image path, and whether the image is a UNIF image
// at all (its header whole and beginning with the magic) with its revision.
void json_begin(const char* path, const ImageHeader& header);

// One whole block of the "blocks" list.
void json_block(const ImageBlock& block);

// How the reading ended: `how` as the reader's last call answered, `block`
// what it read of a block cut short.
void json_end(NextBlock how, const ImageBlock& block);

// Ends the document's blocks of a file that is no UNIF image: none, and
// no end.
void json_no_blocks();

// The ROM hashes, or null when none were computed.
void json_hashes(const RomDigests* digests);

// The check's findings and their count.
void json_findings(const ImageCheck& check);

// Closes the document.
void json_finish();

// "error" or "warning", as both outputs name a severity.
const char* severity_name(Severity severity);
