// One build run, from the command line to the exit status.
#pragma once

// Runs the tool with the process's arguments; yields the exit status:
// 0 when the run reached its end, 1 when it stopped on an error.
int build_run(int argc, char** argv);
