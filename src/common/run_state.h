// The run's switches and the facts every cleanup reads: what the command
// line set, the time text, this computer's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr uint32_t ReportFlag = 0x01;   // set by /LIST and /VERBOSE
inline constexpr uint32_t VerboseFlag = 0x10;  // set by /VERBOSE

extern uint32_t RunFlags;
extern uint32_t DeleteEnabled;
// The threads a /v walk runs on, from /MT:n; 0 until one is given.
extern uint32_t WalkThreads;
// From /MINAGE:n: an item whose newest last-write time (a FileTime) is at
// or after this one is young, and kept. 0 while /MINAGE is not given.
extern uint64_t YoungSince;
extern wchar_t* TimeText;     // process heap; the time of day as last formatted
extern int TimeTextLength;    // characters of TimeText, terminator included

// This computer's name, upper-cased; written once before parsing.
extern wchar_t HostName[16];

// The separator between the parts of the current item's paths: '/' for an
// item given in the system's own form (plat::IsNativeFormPath), '\' for any
// other. Written by the driver's thread before an item runs, while no other
// thread of the run exists; read-only while the item runs (a walk's threads
// start after that write and are joined before the item ends).
extern wchar_t ItemSeparator;

// The text the entries of the folder `path` are named under: `path` and one
// separator. A Windows-form path gains '\' whatever it ends with ("C:\Temp\"
// gives "C:\Temp\\", as it always has); a native one ends in exactly one '/'
// ("/srv/" and "/srv" give "/srv/", "/" stays "/").
std::wstring EntryStem(std::wstring_view path);
// Appends the item's separator to `path` unless it already ends with one.
inline void AppendSeparator(std::wstring& path) {
  if (path.empty() || path.back() != ItemSeparator) path += ItemSeparator;
}

// Formats the current local time into TimeText (on the process heap).
// 0, or the failure code (never 0 for a failure).
uint32_t FormatTimeText();

// Frees TimeText.
void FreeTimeText();

// Upper-cases the letters a to z in place; nothing else changes.
void UpperCaseAscii(wchar_t* text);

// ---- an orderly stop ----
// True once a stop was asked for (a signal, a console's close): nothing new
// is begun from then on, no folder listed and no item handed out; what is
// under way ends. Any thread may ask.
bool StopRequested();
// True once the stop was seen more than a few seconds ago: a removal still
// under way then gives up, so that a stopped run ends within bounded time.
bool StopOverdue();
