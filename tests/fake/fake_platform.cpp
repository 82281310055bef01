// The fake implementation of the platform seam, for unit tests.
#include "fake/fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <map>
#include <set>

#include "platform/common/catalog_table.h"
#include "platform/common/format_inserts.h"

namespace {

enum class Kind { Directory, File, Link };

struct Node {
  Kind kind;
  bool mountPoint = false;
  std::wstring target;  // links: canonical path of what the link leads to
  uint64_t serial;      // creation order: listing order and identity
};

struct Injection {
  uint32_t code;
  int nth;  // calls still to go before it fires
  bool fromThenOn;
  bool firing;
};

struct State {
  std::map<std::wstring, Node> tree;
  uint64_t nextSerial = 1;
  std::map<std::pair<int, std::wstring>, uint32_t> pathFailures;
  std::vector<std::wstring> operations;
  std::vector<std::pair<uint32_t, std::wstring>> processes;
  int imageReads = 0;
  std::map<plat::KnownFolder, std::wstring> folders;
  std::map<plat::KnownFolder, uint32_t> folderFailures;
  std::wstring host = L"pc01";
  std::vector<std::wstring> times{L"10:00:00"};
  size_t timeIndex = 0;
  std::vector<const wchar_t*> rootExclusions{nullptr};
  std::vector<Injection> injections[static_cast<int>(fake::Call::Count)];
  std::function<void()> hooks[static_cast<int>(fake::Call::Count)];
  int calls[static_cast<int>(fake::Call::Count)] = {};
  std::wstring output;
  std::set<void*> heap;
  int socketsStarted = 0, socketsStopped = 0, openListings = 0, openSnapshots = 0;
  uint32_t lastError = 0;
};

State& S() {
  static State state;
  return state;
}

// Counts the call, runs its hook and tells whether an injected failure fires.
bool Enter(fake::Call call) {
  State& s = S();
  const int index = static_cast<int>(call);
  ++s.calls[index];
  if (s.hooks[index]) {
    auto hook = std::move(s.hooks[index]);
    s.hooks[index] = nullptr;
    hook();
  }
  for (Injection& injection : s.injections[index]) {
    if (injection.firing) {
      s.lastError = injection.code;
      return true;
    }
    if (--injection.nth == 0) {
      injection.firing = injection.fromThenOn;
      s.lastError = injection.code;
      return true;
    }
  }
  return false;
}

bool Fail(uint32_t code) {
  S().lastError = code;
  return false;
}

// Canonical form: drive letter upper-cased, separators single, no final
// separator; a path without a drive starts at C:.
std::wstring Canonical(const std::wstring& path) {
  std::wstring rest = path;
  std::wstring drive = L"C:";
  if (rest.size() >= 2 && rest[1] == L':') {
    drive = std::wstring(1, static_cast<wchar_t>(std::towupper(rest[0]))) + L":";
    rest = rest.substr(2);
  }
  std::wstring out = drive;
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && rest[i] == L'\\') ++i;
    size_t j = i;
    while (j < rest.size() && rest[j] != L'\\') ++j;
    if (j > i) out += L"\\" + rest.substr(i, j - i);
    i = j;
  }
  return out;
}

std::wstring ParentOf(const std::wstring& canonical) {
  size_t slash = canonical.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : canonical.substr(0, slash);
}

bool IsRoot(const std::wstring& canonical) { return canonical.size() == 2; }

// Resolves links in every component; the last one too when `followLast`.
// Returns the canonical path of the item, or empty when a component is missing.
std::wstring Resolve(const std::wstring& path, bool followLast) {
  const std::wstring canonical = Canonical(path);
  std::wstring current = canonical.substr(0, 2);
  size_t i = 2;
  int hops = 0;
  while (i < canonical.size()) {
    size_t j = canonical.find(L'\\', i + 1);
    if (j == std::wstring::npos) j = canonical.size();
    current += canonical.substr(i, j - i);
    const bool last = j == canonical.size();
    auto it = S().tree.find(current);
    if (it == S().tree.end()) return std::wstring();
    while (it->second.kind == Kind::Link && (!last || followLast)) {
      if (++hops > 40) return std::wstring();
      current = it->second.target;
      it = S().tree.find(current);
      if (it == S().tree.end()) return std::wstring();
    }
    i = j;
  }
  return current;
}

const Node* Find(const std::wstring& canonical) {
  if (IsRoot(canonical)) {
    // Drive C: always exists; any other drive once something is on it.
    static const Node root{Kind::Directory, false, std::wstring(), 0};
    auto next = S().tree.lower_bound(canonical);
    const bool used = next != S().tree.end() && next->first.compare(0, 2, canonical) == 0;
    return canonical == L"C:" || used ? &root : nullptr;
  }
  auto it = S().tree.find(canonical);
  return it == S().tree.end() ? nullptr : &it->second;
}

uint32_t PathFailure(fake::Call call, const std::wstring& canonical) {
  auto it = S().pathFailures.find({static_cast<int>(call), canonical});
  return it == S().pathFailures.end() ? 0 : it->second;
}

std::vector<std::wstring> ChildrenOf(const std::wstring& canonical) {
  std::vector<std::pair<uint64_t, std::wstring>> children;
  const std::wstring prefix = canonical + L"\\";
  for (auto& [key, node] : S().tree)
    if (key.compare(0, prefix.size(), prefix) == 0 && key.find(L'\\', prefix.size()) == std::wstring::npos)
      children.push_back({node.serial, key.substr(prefix.size())});
  std::sort(children.begin(), children.end());
  std::vector<std::wstring> names;
  for (auto& child : children) names.push_back(child.second);
  return names;
}

void AddNode(const std::wstring& path, Kind kind, const std::wstring& target) {
  const std::wstring canonical = Canonical(path);
  std::vector<std::wstring> parents;
  for (std::wstring parent = ParentOf(canonical); !parent.empty() && !IsRoot(parent); parent = ParentOf(parent))
    parents.push_back(parent);
  for (auto it = parents.rbegin(); it != parents.rend(); ++it)
    if (!S().tree.count(*it)) S().tree[*it] = Node{Kind::Directory, false, std::wstring(), S().nextSerial++};
  S().tree[canonical] = Node{kind, false, target, S().nextSerial++};
}

uint32_t AttributesOf(const std::wstring& canonical) {
  const Node* node = Find(canonical);
  if (!node) return plat::kInvalidAttributes;
  switch (node->kind) {
    case Kind::Directory:
      return plat::kAttrDirectory;
    case Kind::File:
      return plat::kAttrNormal;
    case Kind::Link: {
      const std::wstring target = Resolve(canonical, true);
      const Node* to = target.empty() ? nullptr : Find(target);
      return plat::kAttrReparsePoint | (to && to->kind == Kind::Directory ? plat::kAttrDirectory : 0);
    }
  }
  return plat::kInvalidAttributes;
}

}  // namespace

struct plat::Listing {
  std::vector<std::wstring> names;
  std::wstring directory;
  size_t next = 0;
  std::wstring current;
};

struct plat::Snapshot {
  std::vector<std::pair<uint32_t, std::wstring>> processes;
  size_t current = 0;
};

namespace fake {

void Reset() {
  for (void* block : S().heap) std::free(block);
  S() = State();
  S().processes = {{4242, L"sweepdirs.exe"}};  // the program itself always runs
  S().folders[plat::KnownFolder::Windows] = L"C:\\Windows";
  S().folders[plat::KnownFolder::RoamingAppData] = L"C:\\Users\\me\\AppData\\Roaming";
  S().folders[plat::KnownFolder::UserProfiles] = L"C:\\Users";
  S().folders[plat::KnownFolder::System] = L"C:\\Windows\\System32";
}

void AddDirectory(const std::wstring& path) { AddNode(path, Kind::Directory, std::wstring()); }
void AddFile(const std::wstring& path) { AddNode(path, Kind::File, std::wstring()); }
void AddLink(const std::wstring& path, const std::wstring& target) { AddNode(path, Kind::Link, Canonical(target)); }
bool Exists(const std::wstring& path) { return Find(Canonical(path)) != nullptr; }

void Remove(const std::wstring& path) {
  const std::wstring canonical = Canonical(path);
  for (auto it = S().tree.begin(); it != S().tree.end();) {
    if (it->first == canonical || it->first.compare(0, canonical.size() + 1, canonical + L"\\") == 0)
      it = S().tree.erase(it);
    else
      ++it;
  }
}

void MakeMountPoint(const std::wstring& path) {
  auto it = S().tree.find(Canonical(path));
  if (it != S().tree.end()) it->second.mountPoint = true;
}

void FailOnPath(Call call, const std::wstring& path, uint32_t code) {
  S().pathFailures[{static_cast<int>(call), Canonical(path)}] = code;
}
const std::vector<std::wstring>& Operations() { return S().operations; }
void AddProcess(uint32_t processId, const std::wstring& image) { S().processes.push_back({processId, image}); }
void ClearProcesses() { S().processes = {{4242, L"sweepdirs.exe"}}; }
int ImageNameReads() { return S().imageReads; }
void SetKnownFolder(plat::KnownFolder folder, const std::wstring& path) { S().folders[folder] = path; }
void FailKnownFolder(plat::KnownFolder folder, uint32_t code) { S().folderFailures[folder] = code; }
void SetHostName(const std::wstring& name) { S().host = name; }
void SetTimes(const std::vector<std::wstring>& times) {
  S().times = times;
  S().timeIndex = 0;
}
void SetRootExclusions(const std::vector<const wchar_t*>& suffixes) {
  S().rootExclusions = suffixes;
  S().rootExclusions.push_back(nullptr);
}
void FailCall(Call call, uint32_t code, int nth, bool fromThenOn) {
  S().injections[static_cast<int>(call)].push_back({code, nth, fromThenOn, false});
}
void BeforeNextCall(Call call, std::function<void()> action) { S().hooks[static_cast<int>(call)] = std::move(action); }
int Calls(Call call) { return S().calls[static_cast<int>(call)]; }
const std::wstring& Output() { return S().output; }
void ClearOutput() { S().output.clear(); }
int LiveHeapBlocks() { return static_cast<int>(S().heap.size()); }
int SocketsStarted() { return S().socketsStarted; }
int SocketsStopped() { return S().socketsStopped; }
int OpenListings() { return S().openListings; }
int OpenSnapshots() { return S().openSnapshots; }

}  // namespace fake

namespace plat {

using fake::Call;

uint32_t LastErrorCode() { return S().lastError; }

static bool Deliver(Listing* listing, DirEntry& entry);

static Listing* OpenListing(const std::wstring& canonical, DirEntry& entry);

Listing* ListFirst(const std::wstring& pattern, DirEntry& entry) {
  if (Enter(Call::ListFirst)) return nullptr;
  if (pattern.empty() || pattern.back() != L'*') {
    Fail(fake::kInvalid);
    return nullptr;
  }
  const std::wstring folder = pattern.substr(0, pattern.size() - 1);
  return OpenListing(Resolve(folder.empty() ? L"\\" : folder, true), entry);
}

bool ListNext(Listing* listing, DirEntry& entry) {
  if (Enter(Call::ListNext)) return false;
  return Deliver(listing, entry);
}

static bool Deliver(Listing* listing, DirEntry& entry) {
  while (listing->next < listing->names.size()) {
    const std::wstring& name = listing->names[listing->next++];
    const uint32_t attributes =
        name == L"." || name == L".." ? kAttrDirectory : AttributesOf(listing->directory + L"\\" + name);
    if (attributes == kInvalidAttributes) continue;  // vanished since the listing opened
    listing->current = name;
    entry.name = listing->current.c_str();
    entry.nameLength = listing->current.size();
    entry.attributes = attributes;
    return true;
  }
  return Fail(18);  // no more entries
}

void ListClose(Listing* listing) {
  --S().openListings;
  delete listing;
}

uint32_t FileAttributes(const std::wstring& path) {
  if (Enter(Call::FileAttributes)) return kInvalidAttributes;
  const std::wstring canonical = Resolve(path, false);
  if (canonical.empty() || !Find(canonical)) {
    Fail(kErrorFileNotFound);
    return kInvalidAttributes;
  }
  return AttributesOf(canonical);
}

// Listings know the folder they list; the calls relative to them name
// their entry inside it, whatever became of the path that led there.
static std::wstring Entry(Listing* parent, const wchar_t* name) { return parent->directory + L"\\" + name; }

static Listing* OpenListing(const std::wstring& canonical, DirEntry& entry) {
  const Node* node = canonical.empty() ? nullptr : Find(canonical);
  if (!node) {
    Fail(kErrorPathNotFound);
    return nullptr;
  }
  if (node->kind != Kind::Directory) {
    Fail(fake::kNotADirectory);
    return nullptr;
  }
  if (uint32_t code = PathFailure(Call::ListFirst, canonical)) {
    Fail(code);
    return nullptr;
  }
  S().operations.push_back(L"list " + canonical);
  auto* listing = new Listing;
  listing->directory = canonical;
  listing->names = {L".", L".."};
  for (auto& name : ChildrenOf(canonical)) listing->names.push_back(name);
  ++S().openListings;
  Deliver(listing, entry);  // "." always comes first
  return listing;
}

Listing* ListChild(Listing* parent, const wchar_t* name, const std::wstring&, DirEntry& entry) {
  if (Enter(Call::ListChild)) return nullptr;
  return OpenListing(Resolve(Entry(parent, name), true), entry);
}

Listing* ListForRemoval(Listing* parent, const wchar_t* name, const std::wstring&, DirEntry& entry) {
  if (Enter(Call::ListForRemoval)) return nullptr;
  const std::wstring canonical = Entry(parent, name);
  const Node* node = Find(canonical);
  if (node && node->kind == Kind::Link) {
    Fail(fake::kLoop);
    return nullptr;
  }
  if (node && node->mountPoint) {
    Fail(fake::kCrossDevice);
    return nullptr;
  }
  return OpenListing(node ? canonical : std::wstring(), entry);
}

uint32_t AttributesAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  if (Enter(Call::AttributesAt)) return kInvalidAttributes;
  const std::wstring canonical = Entry(parent, name);
  if (!Find(canonical)) {
    Fail(kErrorFileNotFound);
    return kInvalidAttributes;
  }
  return AttributesOf(canonical);
}

bool RemoveEmptyDirectoryAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  if (Enter(Call::RemoveEmptyDirectory)) return false;
  const std::wstring canonical = Entry(parent, name);
  const Node* node = Find(canonical);
  if (!node) return Fail(kErrorFileNotFound);
  if (node->kind != Kind::Directory) return Fail(fake::kNotADirectory);
  if (uint32_t code = PathFailure(Call::RemoveEmptyDirectory, canonical)) return Fail(code);
  if (!ChildrenOf(canonical).empty()) return Fail(kErrorDirNotEmpty);
  S().operations.push_back(L"rmdir " + canonical);
  S().tree.erase(canonical);
  return true;
}

bool DeleteFileAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  if (Enter(Call::DeleteFile)) return false;
  const std::wstring canonical = Entry(parent, name);
  const Node* node = Find(canonical);
  if (!node) return Fail(kErrorFileNotFound);
  if (node->kind == Kind::Directory) return Fail(fake::kIsADirectory);
  if (uint32_t code = PathFailure(Call::DeleteFile, canonical)) return Fail(code);
  S().operations.push_back(L"delete " + canonical);
  S().tree.erase(canonical);
  return true;
}

bool RemoveLinkAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  if (Enter(Call::RemoveLink)) return false;
  const std::wstring canonical = Entry(parent, name);
  const Node* node = Find(canonical);
  if (!node) return Fail(kErrorFileNotFound);
  if (node->kind != Kind::Link) return Fail(fake::kInvalid);
  if (uint32_t code = PathFailure(Call::RemoveLink, canonical)) return Fail(code);
  S().operations.push_back(L"unlink " + canonical);
  S().tree.erase(canonical);
  return true;
}

static bool IdentityOf(const std::wstring& canonical, FileIdentity& identity) {
  const Node* node = canonical.empty() ? nullptr : Find(canonical);
  if (!node) return Fail(kErrorPathNotFound);
  if (node->kind != Kind::Directory) return Fail(fake::kNotADirectory);
  identity.volume = static_cast<uint64_t>(canonical[0]);
  identity.file = IsRoot(canonical) ? 0 : node->serial;
  return true;
}

bool ListingIdentity(Listing* listing, FileIdentity& identity) {
  if (Enter(Call::Identity)) return false;
  return IdentityOf(listing->directory, identity);
}

bool IdentityAt(Listing* parent, const wchar_t* name, const std::wstring&, FileIdentity& identity) {
  if (Enter(Call::Identity)) return false;
  return IdentityOf(Resolve(Entry(parent, name), true), identity);
}

bool PathIdentity(const std::wstring& path, FileIdentity& identity) {
  if (Enter(Call::Identity)) return false;
  return IdentityOf(Resolve(path, true), identity);
}

bool OnPseudoFileSystem(Listing*) { return false; }

Listing* ListFirstNoLinksBelow(const std::wstring& base, const std::wstring& below, DirEntry& entry) {
  for (size_t end = below.find(L'\\');; end = below.find(L'\\', end + 1)) {
    const uint32_t bits = FileAttributes(base + L'\\' + below.substr(0, end));
    if (bits != kInvalidAttributes && (bits & kAttrReparsePoint)) {
      Fail(kErrorLinkRefused);
      return nullptr;
    }
    if (end == std::wstring::npos) break;
  }
  return ListFirst(base + L'\\' + below + L"\\*", entry);
}

Snapshot* SnapshotOpen(uint32_t) {
  if (Enter(Call::SnapshotOpen)) return nullptr;
  ++S().openSnapshots;
  auto* snapshot = new Snapshot;
  snapshot->processes = S().processes;
  return snapshot;
}

bool SnapshotFirst(Snapshot* snapshot, uint32_t& processId) {
  if (Enter(Call::SnapshotFirst)) return false;
  snapshot->current = 0;
  if (snapshot->processes.empty()) return Fail(18);
  processId = snapshot->processes[0].first;
  return true;
}

bool SnapshotNext(Snapshot* snapshot, uint32_t& processId) {
  if (Enter(Call::SnapshotNext)) return false;
  if (snapshot->current + 1 >= snapshot->processes.size()) return Fail(18);
  processId = snapshot->processes[++snapshot->current].first;
  return true;
}

std::wstring SnapshotImageName(Snapshot* snapshot) {
  ++S().imageReads;
  return snapshot->processes[snapshot->current].second;
}

void SnapshotClose(Snapshot* snapshot) {
  --S().openSnapshots;
  delete snapshot;
}

uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path) {
  if (Enter(Call::KnownFolderPath)) return S().lastError;
  if (folder == KnownFolder::SystemProfile) {  // below the system folder, as on Windows
    const uint32_t code = KnownFolderPath(KnownFolder::System, path);
    if (code == 0) path += L"\\config\\systemprofile";
    return code;
  }
  auto failure = S().folderFailures.find(folder);
  if (failure != S().folderFailures.end()) return failure->second;
  path = S().folders[folder];
  return 0;
}

const wchar_t* const* PlatformRootExclusions() { return S().rootExclusions.data(); }

int CompareNoCase(const wchar_t* a, const wchar_t* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
    if (x != y) return x < y ? -1 : 1;
    if (x == L'\0') return 0;
  }
  return 0;
}

bool ComputerName(wchar_t* buffer, uint32_t capacity, uint32_t& length) {
  if (Enter(Call::ComputerName)) return false;
  if (S().host.size() + 1 > capacity) return Fail(111);
  std::wmemcpy(buffer, S().host.c_str(), S().host.size() + 1);
  length = static_cast<uint32_t>(S().host.size());
  return true;
}

int TimeOfDayText(wchar_t* buffer, int capacity) {
  if (Enter(Call::TimeOfDayText)) return 0;
  State& s = S();
  if (!buffer) {
    // A fresh look at the clock: the next time of the list.
    if (s.timeIndex + 1 < s.times.size() && s.calls[static_cast<int>(Call::TimeOfDayText)] > 1) ++s.timeIndex;
    return static_cast<int>(s.times[s.timeIndex].size() + 1);
  }
  const std::wstring& text = s.times[s.timeIndex];
  if (static_cast<int>(text.size() + 1) > capacity) {
    Fail(122);
    return 0;
  }
  std::wmemcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size() + 1);
}

bool CatalogMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2, std::wstring& text) {
  if (Enter(Call::CatalogMessage)) return false;
  const wchar_t* stored = FindCatalogText(id);
  if (!stored) return false;
  text = ExpandInserts(stored, insert1, insert2);
  return true;
}

bool SystemMessage(uint32_t code, std::wstring& text) {
  if (code == fake::kNoTextCode) return false;
  wchar_t buffer[64];
  std::swprintf(buffer, 64, L"System text %u.\n", static_cast<unsigned>(code));
  text = buffer;
  return true;
}

uint32_t SocketsStart() {
  if (Enter(Call::SocketsStart)) return S().lastError;
  ++S().socketsStarted;
  return 0;
}

void SocketsStop() { ++S().socketsStopped; }

void* HeapAllocate(size_t bytes) {
  if (Enter(Call::HeapAllocate)) return nullptr;
  void* block = std::malloc(bytes);
  S().heap.insert(block);
  return block;
}

void HeapRelease(void* block) {
  S().heap.erase(block);
  std::free(block);
}

void WriteText(const wchar_t* text, size_t length) { S().output.append(text, length); }

}  // namespace plat
