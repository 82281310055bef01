// The command line: the action list and the switches the cleanup reads.
#pragma once

#include <cstdint>

enum ActionKind : uint32_t {
  DirectoryTarget = 0,
  VolumeTarget = 1,
  UserLogs = 2,
  AllUserLogs = 3,
};

// One node of the action list, in command-line order.
struct ActionItem {
  ActionItem* next;
  ActionKind kind;
  wchar_t* argument;  // points into the argument vector; null for the log kinds
};

inline constexpr uint32_t ReportFlag = 0x01;   // set by /LIST and /VERBOSE
inline constexpr uint32_t VerboseFlag = 0x10;  // set by /VERBOSE

extern uint32_t RunFlags;
extern uint32_t DeleteEnabled;
extern wchar_t* TimeText;     // process heap; the time of day as last formatted
extern int TimeTextLength;    // characters of TimeText, terminator included
extern uint32_t ActionCount;
extern ActionItem* LastActionItem;
extern const wchar_t InvalidPathCharacters[8];

// Checks every argument, sets the switches and builds the action list.
// 0: accepted; 1: "/?" printed the usage; otherwise the error id or code
// (already printed where it is a catalogue id) and the list is freed.
uint32_t ParseCommandLine(int argc, wchar_t** argv, ActionItem*& head);

// Formats the current local time into TimeText (on the process heap).
// 0, or the failure code (never 0 for a failure).
uint32_t FormatTimeText();

// Frees TimeText.
void FreeTimeText();

// Frees every item of the list and empties it.
void FreeActionList(ActionItem*& head);

// Upper-cases the letters a to z in place; nothing else changes.
void UpperCaseAscii(wchar_t* text);

// Puts every switch and counter back to its state at program start.
void ResetCommandLineState();
