// The image writer: creates the UNIF image file, writes its header and
// frames every block (ID and length); the block kinds write the payloads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <sys/stat.h>
#include <sys/types.h>

#include "unif_format.h"

// Identity of an open file, for telling whether two names are one file.
struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// The identity of the file open on a descriptor: unknown when it cannot be
// told, and with `except_devices` also for a character device (a terminal,
// /dev/null), which many runs may share.
FileIdentity identity_of(int fd, bool except_devices);

// True when `info` describes the file `identity` names.
bool is_file(const struct stat& info, const FileIdentity& identity);

// The size of the image stream's buffer: blocks reach the file in writes
// of this size.
constexpr std::size_t IMAGE_BUFFER_SIZE = std::size_t{64} * 1024;

struct Image {
    std::FILE* stream = nullptr;
    FileIdentity identity;  // the file written, so that no data file can be it
};

// Creates the file at the path, or truncates an existing one, for binary
// writing. Fails (null stream) when it cannot be created, and also when it
// is one of the files in `keep` (the makefile, a file that standard output
// or error goes to): those are never truncated or written over.
Image create_image(const char* path, std::span<const FileIdentity> keep);

// Writes the 32 header bytes.
void write_header(std::FILE* image);

// Writes the block ID made from the key's first four bytes (a three-letter
// key gets a zero byte) and the payload length. The caller writes exactly
// `length` payload bytes right after.
void write_block_start(std::FILE* image, const char* key, std::uint32_t length);

// Writes a whole block whose payload is in memory: block start and payload
// go to the stream together.
void write_block(std::FILE* image, const char* key, const void* payload, std::uint32_t length);

// True while every write to the image so far has succeeded.
bool image_ok(std::FILE* image);

// Flushes and closes the image; true when everything reached the file.
bool close_image(Image& image);
