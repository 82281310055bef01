// The command line: the action list it builds and the parser.
#pragma once

#include <cstdint>

#include "common/run_state.h"

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
  wchar_t separator;  // between the parts of the item's paths: '/' for a path in the system's own form, else '\\'
};

extern uint32_t ActionCount;
extern ActionItem* LastActionItem;
extern const wchar_t InvalidPathCharacters[8];

// Checks every argument, sets the switches and builds the action list.
// 0: accepted; 1: "/?" printed the usage; otherwise the error id or code
// (already printed where it is a catalogue id) and the list is freed.
// `answered` is set when an argument asked only for the usage or the
// version (--help, -h, --version on POSIX, /VERSION), which was printed: the
// result is then 0 and nothing is to run.
uint32_t ParseCommandLine(int argc, wchar_t** argv, ActionItem*& head, bool& answered);

// True when `argument` is the option `name` (upper case), in any letter
// case of a to z; the argument is left as typed.
bool IsOptionNamed(const wchar_t* argument, const wchar_t* name);

// Frees every item of the list and empties it.
void FreeActionList(ActionItem*& head);

// Puts every switch and counter back to its state at program start.
void ResetCommandLineState();
