// The program driver: what the platform's entry point calls.
#pragma once

#include <cstdint>

// Runs sweepdirs once with the program's arguments (element 0 is the
// program's own path) and returns the run status, the exit code.
uint32_t RunCleanup(int argc, wchar_t** argv);
