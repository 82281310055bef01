// The items met, by identity: a table of 64-bit ids per volume.
#include "common/met_items.h"

#include <utility>

bool MetItems::Insert(const plat::FileIdentity& identity) {
  if (identity.fileHigh != 0) return wide_.insert({identity.volume, identity.file, identity.fileHigh}).second;
  Table* table = Find(identity.volume);
  if (!table) table = &tables_.emplace_back(Table{identity.volume, {}, 0, false});
  if (identity.file == 0) return !std::exchange(table->zero, true);
  if ((table->used + 1) * 4 > table->slots.size() * 3) Grow(*table);
  uint64_t& slot = table->slots[Slot(*table, identity.file)];
  if (slot == identity.file) return false;
  slot = identity.file;
  ++table->used;
  return true;
}

void MetItems::Erase(const plat::FileIdentity& identity) {
  if (identity.fileHigh != 0) {
    wide_.erase({identity.volume, identity.file, identity.fileHigh});
    return;
  }
  Table* table = Find(identity.volume);
  if (!table) return;
  if (identity.file == 0) {
    table->zero = false;
    return;
  }
  if (table->slots.empty()) return;
  size_t hole = Slot(*table, identity.file);
  if (table->slots[hole] != identity.file) return;
  --table->used;
  // Every id after the hole in its run moves into it when the hole lies
  // between the id's home slot and where it is, so a search from its home
  // still meets it before a free slot.
  const size_t mask = table->slots.size() - 1;
  for (size_t next = (hole + 1) & mask; table->slots[next] != 0; next = (next + 1) & mask) {
    const size_t home = Home(*table, table->slots[next]);
    if (((next - home) & mask) >= ((next - hole) & mask)) {
      table->slots[hole] = table->slots[next];
      hole = next;
    }
  }
  table->slots[hole] = 0;
}

void MetItems::Clear() {
  tables_.clear();
  wide_.clear();
}

size_t MetItems::Size() const {
  size_t size = wide_.size();
  for (const Table& table : tables_) size += table.used + table.zero;
  return size;
}

MetItems::Table* MetItems::Find(uint64_t volume) {
  for (Table& table : tables_)
    if (table.volume == volume) return &table;
  return nullptr;
}

size_t MetItems::Home(const Table& table, uint64_t id) {
  // Ids come in runs (inodes handed out in order): mixed, they spread.
  id ^= id >> 30;
  id *= 0xbf58476d1ce4e5b9u;
  id ^= id >> 27;
  id *= 0x94d049bb133111ebu;
  id ^= id >> 31;
  return id & (table.slots.size() - 1);
}

size_t MetItems::Slot(const Table& table, uint64_t id) {
  const size_t mask = table.slots.size() - 1;
  size_t slot = Home(table, id);
  while (table.slots[slot] != 0 && table.slots[slot] != id) slot = (slot + 1) & mask;
  return slot;
}

void MetItems::Grow(Table& table) {
  std::vector<uint64_t> old = std::exchange(table.slots, std::vector<uint64_t>(table.slots.empty() ? 64 : table.slots.size() * 2));
  for (const uint64_t id : old)
    if (id != 0) table.slots[Slot(table, id)] = id;
}
