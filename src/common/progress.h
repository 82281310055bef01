// The progress line on an interactive standard error: folders looked at,
// stale items found, bytes given back, and the folder the walk is in.
// Without a terminal, nothing here prints or costs anything.
#pragma once

#include <cstdint>
#include <string>

// True when the progress line is shown: standard error is an interactive
// terminal wide enough. Asked once a run.
bool ProgressActive();
// Notes that the walk looks at the folder `path`; redraws the progress
// line at most a few times a second, only on an interactive standard error.
void ProgressFolder(const std::wstring& path);
// Notes a stale item found, and the bytes a removal gave back.
void ProgressStale(uint64_t bytesFreed);
// Takes the progress line away, before anything goes to standard output.
void ProgressErase();
// Forgets the line and its counts, for the next run.
void ResetProgress();
