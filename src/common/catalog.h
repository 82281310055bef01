// The message catalogue access and the three printing operations.
#pragma once

#include <cstdint>
#include <string>

#include "sweepdirs.h"  // message ids, generated from res/sweepdirs.mc

// Codes above this bound are catalogue ids; system codes and HRESULTs are not.
inline constexpr uint32_t kCatalogIdBound = 0xC0020000u;

// "ERROR:", loaded once from the catalogue; empty when it could not be loaded.
extern wchar_t ErrorPrefix[30];

// The program's name in the first usage line.
extern const wchar_t* const ProgramName;

// Loads ErrorPrefix from the catalogue.
void LoadErrorPrefix();

// Prints catalogue message `id` with up to two inserts; with `lineEnd` the
// line is closed after it. Reports no failure.
void ReportMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd);

// Closes a line left open by a trace text (one without a line end).
void ReportLineEnd();

// Prints the error line for `code` (a catalogue id or a system code), about
// `path` when one is given, followed by an empty line.
void ReportError(uint32_t code, const wchar_t* path);

// Prints the 13 usage lines, then one line for each option added since.
void PrintUsage();

// Writes `text` to standard output through the one output path: in order
// behind lines other threads are still writing, if any.
void WriteOutput(const std::wstring& text);
// The lines this thread writes go into `text` from now on, until it is
// called with null.
void HoldOutput(std::wstring* text);

// ---- lines written by other threads, in order ----
struct OutputSegment;
// On the program's thread: keeps a place, behind everything written so
// far, for the lines another thread will write.
OutputSegment* ReserveOutput();
// On another thread: its lines go into `segment` from now on (null: none).
void CaptureOutput(OutputSegment* segment);
// On that thread: `segment` holds all its lines.
void CompleteOutput(OutputSegment* segment);
// On the program's thread: writes out the complete segments at the front;
// true when nothing is held back any more.
bool WriteCompletedOutput();
