// The fake implementation of the platform seam, for unit tests. It holds no
// links, so every path leads where it says and no identity is ever needed.
#include "fake/fake_platform.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/common/catalog_table.h"
#include "platform/common/delete_either_way.h"
#include "platform/common/format_inserts.h"

using fake::Call;
using fake::state;

static bool Fail(uint32_t code) { state.lastError = code; return false; }
// True when a fault makes this call fail; runs the actions due before it.
static bool Enter(Call call, const std::wstring& path = std::wstring()) {
  for (auto& [fault, seen] : state.faults) {
    if (fault.call != call || (!fault.path.empty() && fault.path != path)) continue;
    if (++seen < fault.nth || (seen > fault.nth && !fault.fromThenOn)) continue;
    if (!fault.before) return !Fail(fault.code);
    std::function<void()>(fault.before)();  // a copy: the action may change the table
  }
  return false;
}
static auto Node(const std::wstring& path) {
  return std::find_if(state.tree.begin(), state.tree.end(), [&](auto& node) { return node.first == path; });
}
static uint32_t Attributes(const std::wstring& path) {
  auto node = Node(path);
  if (node == state.tree.end()) return plat::kInvalidAttributes;
  return (node->second ? plat::kAttrDirectory : plat::kAttrNormal) | state.attributes[path];
}

static std::atomic<bool> posixRefused;  // by the one volume the fake has
void fake::Reset() { state = State(), posixRefused = false; }
void fake::Add(const std::wstring& path, bool directory) {
  for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    if (!Exists(path.substr(0, at))) state.tree.push_back({path.substr(0, at), true});
  state.tree.push_back({path, directory});
}
void fake::Remove(const std::wstring& path) {
  std::erase_if(state.tree, [&](auto& node) { return (node.first + L'\\').starts_with(path + L'\\'); });
}
bool fake::Exists(const std::wstring& path) { return Node(path) != state.tree.end(); }
struct plat::Listing {
  std::wstring folder;
  std::vector<std::pair<std::wstring, uint32_t>> entries;  // as they stood when the listing opened
  size_t next = 0;
};
struct plat::Snapshot { size_t current = 0; };

namespace plat {

uint32_t LastErrorCode() { return state.lastError; }
static bool Deliver(Listing* listing, DirEntry& entry) {
  if (listing->next == listing->entries.size()) return Fail(kErrorNoMoreEntries);
  auto& [name, bits] = listing->entries[listing->next++];
  entry = DirEntry{name.c_str(), name.size(), bits};
  return true;
}
static Listing* Open(const std::wstring& folder, DirEntry& entry) {
  if (!fake::Exists(folder) || !(Attributes(folder) & kAttrDirectory)) return Fail(kErrorPathNotFound), nullptr;
  auto* listing = new Listing{folder, {{L".", kAttrDirectory}, {L"..", kAttrDirectory}}};
  for (auto& node : state.tree)
    if (node.first.starts_with(folder + L'\\') && node.first.find(L'\\', folder.size() + 1) == std::wstring::npos)
      listing->entries.push_back({node.first.substr(folder.size() + 1), Attributes(node.first)});
  ++state.listings;
  Deliver(listing, entry);
  return listing;
}
static std::wstring At(Listing* parent, const wchar_t* name) { return parent->folder + L'\\' + name; }

Listing* ListFirst(const std::wstring& pattern, DirEntry& entry) {
  const std::wstring folder = pattern.substr(0, pattern.size() - 2);  // without "\*"
  return Enter(Call::ListFirst, folder) ? nullptr : Open(folder, entry);
}
bool ListNext(Listing* listing, DirEntry& entry) {
  return !Enter(Call::ListNext, listing->folder) && Deliver(listing, entry);
}
void ListClose(Listing* listing) { --state.listings, delete listing; }
Listing* ListFirstNoLinksBelow(const std::wstring& base, const std::wstring& below, DirEntry& entry) {
  return ListFirst(base + L'\\' + below + L"\\*", entry);
}
Listing* ListChild(Listing* parent, const DirEntry& child, const std::wstring&, DirEntry& entry) {
  return Enter(Call::ListChild, At(parent, child.name)) ? nullptr : Open(At(parent, child.name), entry);
}
Listing* ListForRemoval(Listing* p, const wchar_t* n, const std::wstring&, DirEntry& e) {
  return Enter(Call::ListForRemoval, At(p, n)) ? nullptr : Open(At(p, n), e);
}
uint32_t FileAttributes(const std::wstring& path) {
  return fake::Exists(path) ? Attributes(path) : (Fail(kErrorFileNotFound), kInvalidAttributes);
}
uint32_t AttributesAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  return Enter(Call::AttributesAt, At(parent, name)) ? kInvalidAttributes : FileAttributes(At(parent, name));
}
bool ListingIdentity(Listing*, FileIdentity&) { return Fail(38); }  // ENOSYS
bool PathIdentity(const std::wstring&, FileIdentity&) { return Fail(38); }
bool IdentityAt(Listing* parent, const wchar_t* name, const std::wstring&, FileIdentity& identity) {
  if (!state.identities) return Fail(38);
  auto node = Node(At(parent, name));
  if (node == state.tree.end()) return Fail(kErrorFileNotFound);
  identity = FileIdentity{1, static_cast<uint64_t>(node - state.tree.begin()) + 1, 0};
  return true;
}
bool OnPseudoFileSystem(Listing*) { return false; }
bool EntersRemoteVolume(Listing* child) {
  return std::find(state.remote.begin(), state.remote.end(), child->folder) != state.remote.end();
}
// The FileTime at which day `date` (YYYYMMDD) begins, UTC.
static uint64_t DayStart(uint32_t date) {
  const int y = static_cast<int>(date / 10000) - (date / 100 % 100 <= 2), m = static_cast<int>(date / 100 % 100);
  const int era = y / 400, yoe = y - era * 400, doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + date % 100 - 1;
  const int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;  // since 1970-01-01
  return static_cast<uint64_t>((days * 86400 + 11644473600) * 10000000);
}
bool CurrentTime(uint64_t& now, uint32_t& date) { return now = DayStart(date = 20260101), true; }
bool LocalDateStart(uint32_t date, uint64_t& time) { return time = DayStart(date), true; }
bool LastWriteTimeAt(Listing* parent, const wchar_t* name, const std::wstring&, uint64_t& time, uint64_t* size) {
  if (Enter(Call::LastWriteTimeAt, At(parent, name))) return false;
  if (!fake::Exists(At(parent, name))) return Fail(kErrorFileNotFound);
  time = DayStart(20251222);
  if (size) *size = 0;
  return true;
}
// Removes the entry when it is of the kind the call removes.
static bool RemoveAt(Listing* parent, const wchar_t* name, bool directory) {
  const std::wstring path = At(parent, name);
  if (!fake::Exists(path)) return Fail(kErrorFileNotFound);
  if (Enter(Call::Remove, path)) {
    if (state.lastError == kErrorDeletePending) state.pending.push_back(path);
    return false;
  }
  if (bool(Attributes(path) & kAttrDirectory) != directory) return Fail(directory ? 20 : 21);  // ENOTDIR, EISDIR
  auto below = [&](auto& node) { return node.first.starts_with(path + L'\\'); };
  if (std::any_of(state.tree.begin(), state.tree.end(), below)) return Fail(kErrorDirNotEmpty);
  state.tree.erase(Node(path));
  state.removed.push_back(path);
  return true;
}
// The POSIX-semantics deletion first, as on Windows; a PosixDelete fault refuses it.
static bool Delete(Listing* p, const wchar_t* n, bool directory) {
  return DeleteEitherWay(
      posixRefused, [&] { return !Enter(Call::PosixDelete, At(p, n)) && RemoveAt(p, n, directory); },
      [&] { return RemoveAt(p, n, directory); });
}
bool RemoveEmptyDirectoryAt(Listing* p, const wchar_t* n, const std::wstring&) { return Delete(p, n, true); }
bool DeleteFileAt(Listing* p, const wchar_t* n, const std::wstring&) { return Delete(p, n, false); }
bool RemoveLinkAt(Listing*, const wchar_t*, const std::wstring&) { return Fail(22); }  // EINVAL: no link
Snapshot* SnapshotOpen(uint32_t) { return Enter(Call::SnapshotOpen) ? nullptr : (++state.snapshots, new Snapshot); }
static bool MoveTo(Call call, Snapshot* snapshot, size_t index, uint32_t& id) {
  if (Enter(call)) return false;
  if (index >= state.processes.size()) return Fail(kErrorNoMoreProcesses);
  id = state.processes[snapshot->current = index].first;
  return true;
}
bool SnapshotFirst(Snapshot* snapshot, uint32_t& id) { return MoveTo(Call::SnapshotFirst, snapshot, 0, id); }
bool SnapshotNext(Snapshot* s, uint32_t& id) { return MoveTo(Call::SnapshotNext, s, s->current + 1, id); }
std::wstring SnapshotImageName(Snapshot* snapshot) { return state.processes[snapshot->current].second; }
bool SnapshotOtherName(Snapshot*, size_t, std::wstring&) { return false; }
void SnapshotClose(Snapshot* snapshot) { --state.snapshots, delete snapshot; }

static const wchar_t* const kFolders[] = {L"C:\\Windows", L"C:\\Users\\zed\\AppData\\Roaming", L"C:\\Users",
                                          L"C:\\Windows\\System32", L"C:\\Windows\\System32\\config\\systemprofile"};
uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path) {
  return Enter(Call::KnownFolderPath) ? state.lastError : (path = kFolders[static_cast<int>(folder)], 0);
}
static const wchar_t* const kNoExclusions[] = {nullptr};
const wchar_t* const* PlatformRootExclusions() { return kNoExclusions; }
bool PosixCommandLine() { return false; }
bool IsNativeFormPath(std::wstring_view) { return false; }
int CompareNoCase(const wchar_t* a, const wchar_t* b, size_t count) { return wcsncasecmp(a, b, count); }
bool ComputerName(wchar_t* buffer, uint32_t capacity, uint32_t& length) {
  return !Enter(Call::ComputerName) && capacity > 4 && std::wmemcpy(buffer, L"pc01", length = 4);
}
int TimeOfDayText(wchar_t* buffer, int capacity) {
  if (Enter(Call::TimeOfDayText) || (buffer && capacity < 9)) return 0;
  if (buffer) std::wmemcpy(buffer, L"10:00:00", 9);
  return 9;
}
bool LocalTimestamp(std::wstring& text) { return text = L"2026-01-01T10:00:00+00:00", true; }
uint64_t MonotonicMilliseconds() { static uint64_t now; return now += 250; }
void Pause(uint32_t milliseconds) {
  state.paused += milliseconds;
  for (auto& path : state.pending) fake::Remove(path);
  state.pending.clear();
}
bool CatalogMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2, std::wstring& text) {
  const wchar_t* stored = FindCatalogText(id);
  if (Enter(Call::CatalogMessage, std::to_wstring(id)) || !stored) return false;
  return text = ExpandInserts(stored, insert1, insert2), true;
}
bool SystemMessage(uint32_t code, std::wstring& text) {
  if (code > 0xC0020000u) return false;  // the catalogue's ids have no system text, as on Windows
  return text = L"System text " + std::to_wstring(code) + L".\n", true;
}

uint32_t SocketsStart() { return Enter(Call::SocketsStart) ? state.lastError : (++state.socketsStarted, 0); }
void SocketsStop() { ++state.socketsStopped; }
void* HeapAllocate(size_t n) { return Enter(Call::HeapAllocate) ? nullptr : (++state.heapBlocks, std::malloc(n)); }
void HeapRelease(void* block) { --state.heapBlocks, std::free(block); }
uint32_t ExitCodeFor(uint32_t runStatus) { return runStatus; }
bool StopAsked() { return false; }
std::string NativeBytes(const std::wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII names

// The output is what WriteText gathers, on a terminal when the test says so,
// and progress lines where the test asks for them.
bool OutputTerminal() { return state.terminal; }
void WriteText(const wchar_t* text, size_t length) { state.output.append(text, length); }
void FlushText() {}
bool ProgressTerminal(uint32_t& columns) { return columns = 80, state.progress; }
void WriteProgress(const wchar_t* text, size_t length) { state.output.append(text, length); }
void WriteErrorText(const wchar_t* text, size_t length) { state.errors.append(text, length); }

// The event log keeps each event's kind and its text as the catalogue renders it.
uint32_t EventLogWrite(const Event& event) {
  const uint32_t pending = state.lastError;
  if (Enter(Call::EventLogWrite)) return std::exchange(state.lastError, pending);
  state.eventLogOpen = true;
  std::wstring text = ExpandInsertList(FindCatalogText(event.messageId), event.inserts);
  if (text.ends_with(L'\n')) text.pop_back();
  // An item's event names its verdict among its fields.
  for (const auto& [name, value] : event.fields)
    if (std::string_view(name) == "SWEEPDIRS_VERDICT") text += L" [" + value + L"]";
  state.events.push_back((event.error ? L"E " : L"I ") + text);
  return 0;
}
void EventLogClose() { state.eventLogOpen = false; }

// No threads: a walk asked to share its work does it alone.
uint32_t ProcessorCount() { return 1; }
size_t OpenListingLimit() { return kListingsUnlimited; }
// Threads only where a test asks for them: else the walk runs alone.
struct Thread {
  std::thread thread;
};
Thread* ThreadStart(void (*body)(void*), void* argument) {
  return state.threads && !Enter(Call::ThreadStart) ? new Thread{std::thread(body, argument)} : nullptr;
}
void ThreadJoin(Thread* thread) {
  thread->thread.join();
  delete thread;
}
// Real gates, for the tests of the threaded walk's parts.
struct Gate {
  std::mutex lock;
  std::condition_variable_any wake;
};
Gate* GateCreate() { return ++state.gates, new Gate; }
void GateDestroy(Gate* gate) { --state.gates, delete gate; }
void GateEnter(Gate* gate) { gate->lock.lock(); }
void GateLeave(Gate* gate) { gate->lock.unlock(); }
void GateWait(Gate* gate) { gate->wake.wait(gate->lock); }
void GateWakeAll(Gate* gate) { gate->wake.notify_all(); }

}  // namespace plat
