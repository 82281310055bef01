// The shared walk's removal line: the stale items the walk handed out, in
// its order, each with its item record and its place in the output.
#include "common/catalog.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/shared_walk.h"

#include <utility>

namespace sharedwalk {

RemovalLine::~RemovalLine() {
  for (Task* task : handed_) delete task;
}

Task* RemovalLine::HandOut(ItemScope& judged, Folder* folder, const wchar_t* name, const std::wstring& path,
                           bool behindLink) {
  assert(OnWalkThread);
  auto* task = new Task;
  task->behindLink = behindLink;
  behindLink_ += behindLink;
  task->folder = FolderHold::Add(folder);
  task->name = name;
  task->path = path;
  HandItemOver(judged, task->scope);
  task->scope.segment = ReserveOutput();
  plat::FileIdentity identity;
  if (DeleteEnabled && plat::IdentityAt(folder->listing, name, path, identity)) {
    task->identified = true;
    task->identity = {identity.volume, identity.file, identity.fileHigh};
    byIdentity_[task->identity] = task;
  }
  handed_.push_back(task);
  return task;
}

bool RemovalLine::Make(Task* task, ListingStore& store, bool giveUp) {
  assert(task->state.load(std::memory_order_relaxed) != TaskDone);
  task->scope.giveUpOnShortage = giveUp;
  const bool made =
      RemoveStaleItem(task->scope, task->folder->listing, task->name.c_str(), task->path, task->measure);
  if (made) {
    // Once complete, the segment is the walk's to write out and free.
    CompleteOutput(std::exchange(task->scope.segment, nullptr));
    task->folder.Reset();
  } else {
    store.Stop();
  }
  task->state.store(made ? TaskDone : TaskGaveUp, std::memory_order_seq_cst);
  return made;
}

void RemovalLine::Settle() {
  assert(OnWalkThread);
  while (!handed_.empty() && handed_.front()->state.load(std::memory_order_seq_cst) == TaskDone) {
    Task* task = handed_.front();
    handed_.pop_front();
    behindLink_ -= task->behindLink;
    if (task->identified) {
      auto found = byIdentity_.find(task->identity);
      if (found != byIdentity_.end() && found->second == task) byIdentity_.erase(found);
    }
    delete task;
  }
}

Task* RemovalLine::Removing(const IdentityKey& identity) const {
  assert(OnWalkThread);
  auto found = byIdentity_.find(identity);
  return found == byIdentity_.end() ? nullptr : found->second;
}

void RemovalLine::MakeAll(ListingStore& store, const ItemScope& walk) {
  assert(OnWalkThread && !ItemOpen(walk));
  (void)walk;
  for (Task* task : handed_)
    if (task->state.load(std::memory_order_acquire) != TaskDone) Make(task, store, false);
  Settle();
  assert(handed_.empty());
}

}  // namespace sharedwalk
