// The program driver: what the platform's entry point calls.
#pragma once

#include <cstdint>

// This computer's name, upper-cased; written once before parsing.
extern wchar_t HostName[16];

// Runs sweepdirs once with the program's arguments (element 0 is the
// program's own path) and returns the run status, the exit code.
uint32_t RunCleanup(int argc, wchar_t** argv);
