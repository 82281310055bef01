// The shared walk's removal line: the stale items the walk handed out, in
// its order, each with its item record and its place in the output.
#include "common/catalog.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/shared_walk.h"

namespace sharedwalk {

RemovalLine::~RemovalLine() {
  for (Task* task : handed_) delete task;
}

Task* RemovalLine::HandOut(Folder* folder, const wchar_t* name, const std::wstring& path) {
  assert(OnWalkThread);
  auto* task = new Task;
  task->folder = FolderHold::Add(folder);
  task->name = name;
  task->path = path;
  task->item = DetachItem();
  task->output = ReserveOutput();
  plat::FileIdentity identity;
  if (DeleteEnabled && plat::IdentityAt(folder->listing, name, path, identity)) {
    task->identified = true;
    task->identity = {identity.volume, identity.file, identity.fileHigh};
    byIdentity_[task->identity] = task;
  }
  handed_.push_back(task);
  return task;
}

bool RemovalLine::Make(Task* task, ListingStore& store) {
  assert(task->state.load(std::memory_order_relaxed) != TaskDone);
  CaptureOutput(task->output);
  AttachItem(task->item);
  task->item = nullptr;
  const bool made = RemoveStaleItem(task->folder->listing, task->name.c_str(), task->path, task->measure);
  if (made) {
    CaptureOutput(nullptr);
    CompleteOutput(task->output);
    task->folder.Reset();
  } else {
    task->item = DetachItem();
    CaptureOutput(nullptr);
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

void RemovalLine::MakeAll(ListingStore& store) {
  assert(OnWalkThread && !ItemOpen());
  for (Task* task : handed_)
    if (task->state.load(std::memory_order_acquire) != TaskDone) Make(task, store);
  Settle();
  assert(handed_.empty());
}

}  // namespace sharedwalk
