// What one thread keeps while it judges or removes one item, handed to
// every call that writes or records for it: where its lines go, the item's
// record, the lines held back while it is judged, and what a removal does
// when it runs short of descriptors. The program's thread has one
// (ProgramScope); a removal handed to another thread carries its own, into
// which the item is moved (HandItemOver). Nothing of an item lives in a
// thread's own variables: whoever holds the scope holds the item.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

struct OutputSegment;
class ShortageRelief;

enum ItemKind : uint32_t { WorkAreaItem = 0, LogItem = 1 };

// The record of the item being judged or removed.
struct OpenItem {
  bool open = false;
  ItemKind kind = WorkAreaItem;
  std::wstring path;
  int32_t ownerId = 0;
  bool hasHost = false;
  std::wstring host;
  bool hasError = false;
  uint32_t errorCode = 0;
  std::wstring errorMessage;
  bool errorHasPath = false;
  std::wstring errorPath;
  std::wstring errorLine;   // as printed, for the event log
  std::wstring judged;      // the lines held while a stale item was judged (/MINAGE)
  bool counted = true;      // the first time this item was met: it is counted when it ends
  bool identified = false;  // its identity is known (IdentifyNextItem): forgotten once it is removed
  plat::FileIdentity identity;
};

struct ItemScope {
  // Where its lines go: a place kept in the output, which the program's
  // thread writes out in order (ReserveOutput); null: out now, in order.
  OutputSegment* segment = nullptr;
  // While set, its lines are held back here before all else (a judgement
  // under /MINAGE, HoldJudgement).
  std::wstring* held = nullptr;
  OpenItem item;
  std::wstring judging;  // what `held` points to while an item is judged
  // The identity the next item begun is known by (IdentifyNextItem).
  bool nextIdentified = false;
  plat::FileIdentity nextIdentity;
  // A removal or a measuring that runs short of descriptors or memory gives
  // up at once, unreported, to be made again once they are given back.
  bool giveUpOnShortage = false;
  // The walk that can let go of what it holds ahead, while one runs on the
  // program's thread; the owner probe asks it before it fails for want of
  // descriptors.
  ShortageRelief* relief = nullptr;
};

// The program's thread's scope; only that thread uses it.
ItemScope& ProgramScope();
