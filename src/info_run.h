// One unifinfo run: lists a UNIF image's header and blocks.
#pragma once

// Runs unifinfo with the process's arguments; yields the exit status:
// 0 when the image was listed whole, 1 otherwise.
int info_run(int argc, char** argv);
