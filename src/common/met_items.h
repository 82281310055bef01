// The items a run has met, by identity, so that one met twice (through a
// link) is counted once. Kept compact, because it grows with the items a
// run keeps or only lists: an id that fits 64 bits (every POSIX inode, most
// Windows file ids) takes 8 bytes, in an open-addressed table per volume;
// a 128-bit id goes to an ordered set of its own. Not thread-safe: its one
// user holds a lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <tuple>
#include <vector>

#include "platform/platform.h"

class MetItems {
 public:
  // True when `identity` was not there; it is there afterwards.
  bool Insert(const plat::FileIdentity& identity);
  // Takes `identity` away, if it is there.
  void Erase(const plat::FileIdentity& identity);
  void Clear();
  size_t Size() const;

 private:
  // Linear probing, 0 marks a free slot (the id 0 has its flag), and a
  // slot freed by Erase is filled by shifting later ones back, so no slot
  // ever holds a tombstone. At most three quarters of the slots are used.
  struct Table {
    uint64_t volume = 0;
    std::vector<uint64_t> slots;  // a power of two in size, or empty
    size_t used = 0;              // ids in `slots`
    bool zero = false;            // the id 0
  };
  Table* Find(uint64_t volume);
  static size_t Home(const Table& table, uint64_t id);
  static size_t Slot(const Table& table, uint64_t id);  // where `id` is, or the free slot that ends its run
  static void Grow(Table& table);

  std::vector<Table> tables_;  // one per volume met; a run meets few
  std::set<std::tuple<uint64_t, uint64_t, uint64_t>> wide_;
};
