// The fake platform: folders and files in memory, a process table, fixed
// places and names, and one fault table that makes chosen calls fail.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum class Call { None, ListFirst, ListNext, ListChild, ListForRemoval, AttributesAt, LastWriteTimeAt, SnapshotOpen,
                  SnapshotFirst, SnapshotNext, KnownFolderPath, ComputerName, TimeOfDayText, SocketsStart, HeapAllocate,
                  CatalogMessage, Remove, PosixDelete, EventLogWrite, ThreadStart };

// The `nth` call of `call` fails with `code` (0: none recorded), and every
// later one too `fromThenOn`. With `path` only the calls on it count: the
// folder listed, the entry acted on, a catalogue id in decimal. With
// `before` the call does not fail: the action runs right before it.
struct Fault {
  Call call = Call::None;
  int nth = 1;
  uint32_t code = 0;
  bool fromThenOn = false;
  std::wstring path;
  std::function<void()> before;
};

// All the fake holds and records, read by the tests directly; paths in
// Windows form with single separators. Host "pc01", time "10:00:00", roaming
// folder C:\Users\zed\AppData\Roaming, system folder C:\Windows\System32;
// the clock says 2026-01-01 10:00 (UTC is local time) and every entry was
// last written 10 days before.
struct State {
  std::vector<std::pair<std::wstring, bool>> tree;  // path, directory?; in the order made, the listing order
  std::vector<std::pair<uint32_t, std::wstring>> processes{{4242, L"sweepdirs.exe"}};  // the program itself
  std::vector<std::pair<Fault, int>> faults;  // with the matching calls seen so far
  std::vector<std::wstring> removed;  // by the program, in order
  // Attribute bits besides the directory bit, and the folders that are
  // mounts of another computer's files.
  std::map<std::wstring, uint32_t> attributes;
  std::vector<std::wstring> remote;
  // A Remove fault with kErrorDeletePending leaves the entry to go at the
  // next Pause, as when another program closes it; `paused` adds up pauses.
  std::vector<std::wstring> pending;
  uint32_t paused = 0;
  std::wstring output;
  bool threads = false;     // threads can be started (a test of the threaded walk's parts)
  bool identities = false;  // directories have identities: their place in `tree`
  bool terminal = false;  // standard output is one
  bool progress = false;  // standard error is one, of 80 columns: progress lines join the output, 250 ms apart
  std::vector<std::wstring> events;  // "I " or "E " (information, error) and the event's text
  std::wstring errors;               // standard error
  bool eventLogOpen = false;
  int heapBlocks = 0, listings = 0, gates = 0, snapshots = 0, socketsStarted = 0, socketsStopped = 0;  // held now / so far
  uint32_t lastError = 0;
};
inline State state;

void Reset();
void Add(const std::wstring& path, bool directory);  // after its missing parents
void Remove(const std::wstring& path);               // with everything below it
bool Exists(const std::wstring& path);

}  // namespace fake
