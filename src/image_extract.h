// unifinfo --extract: turns a UNIF image back into a makefile and data
// files from which unifpack, run inside the new directory, rebuilds the
// image byte for byte. Whatever no makefile line can reproduce is named on
// standard error, never dropped silently.
#pragma once

// The names written into the directory: the makefile, and the image it
// builds. Data files are named after their block IDs (prg0.bin, chr0.bin,
// readme.txt, ...).
constexpr char EXTRACT_MAKEFILE[] = "game.mk";
constexpr char EXTRACT_OUTPUT[] = "game.unf";

// Extracts the image at `image_path` into the directory `dir`, which must
// not exist yet or be empty. Everything is written into a fresh directory
// beside `dir`, renamed onto `dir` only at the end; any failure removes it.
// When something cannot be expressed, nothing is created, unless `lossy`
// asks for the makefile of the rest. Yields the exit status: 0 when the
// directory rebuilds the image exactly, 1 otherwise.
int extract_image(const char* dir, const char* image_path, bool lossy);
