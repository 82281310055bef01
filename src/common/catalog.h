// The message catalogue access and the three printing operations.
#pragma once

#include <cstdint>
#include <string>

#include "common/item_scope.h"
#include "common/text_forms.h"
#include "platform/platform.h"
#include "sweepdirs.h"  // message ids, generated from res/sweepdirs.mc

// Codes above this bound are catalogue ids; system codes and HRESULTs are not.
inline constexpr uint32_t kCatalogIdBound = 0xC0020000u;

// "ERROR:", loaded once from the catalogue; empty when it could not be loaded.
extern wchar_t ErrorPrefix[30];

// The program's name in the first usage line.
extern const wchar_t* const ProgramName;

// Loads ErrorPrefix from the catalogue.
void LoadErrorPrefix();

// Prints catalogue message `id` as `scope` writes it, with up to two
// inserts, as text whatever the output options; with `lineEnd` the line is
// closed after it. Reports no failure.
void PrintMessage(ItemScope& scope, uint32_t id, const wchar_t* insert1, const wchar_t* insert2, bool lineEnd);
// The text for an error code: the catalogue first (with `insert`), then the
// platform's own texts, and a fixed text naming the code when neither has one.
std::wstring ErrorText(uint32_t code, const wchar_t* insert);


// Prints the 13 usage lines, then one line for each option added since.
void PrintUsage();
// Prints the program's name, version and the commit it was built from
// ("unknown" for a build outside a git work tree), as text whatever the
// output options.
void PrintVersion();

// ---- names on a terminal ----
// True when standard output is an interactive terminal or console: every
// insert (a name, a path, an argument) is then shown with its control and
// direction characters as visible escapes. Decided once, at the start of a
// run before any thread starts; read-only while threads run.
extern bool EscapeNames;

// Writes `text`, as `scope` writes it, to standard output through the one
// output path: held back where the scope holds its lines, into the place
// kept for another thread's lines, else in order behind lines other threads
// are still writing, if any.
void WriteOutput(ItemScope& scope, const std::wstring& text);
// An item is settled: what the program's thread wrote goes out now, so
// that a run killed later still leaves its lines in a file. Lines written
// for it by another thread go out, and out now, once they are complete.
void SettleOutput(ItemScope& scope);

// Hands `event` to the system's log through the same path: in order behind
// lines other threads are still writing, with the lines it follows.
void WriteEvent(ItemScope& scope, plat::Event event);

// ---- lines written by other threads, in order ----
struct OutputSegment;
// On the program's thread: keeps a place, behind everything written so
// far, for the lines another thread will write.
OutputSegment* ReserveOutput();
// On the thread that writes into `segment`: it holds all its lines.
void CompleteOutput(OutputSegment* segment);
// On the program's thread: writes out the complete segments at the front;
// true when nothing is held back any more.
bool WriteCompletedOutput();
