// Windows implementation of the platform seam only: directory listing, attributes and removal.
//
// A listing holds its directory open; every call on one of its entries opens
// that entry relative to the directory handle (NtCreateFile with a root
// directory), never through a final link, and acts on that very handle, so
// that swapping a directory on the way for a link cannot redirect it.
//
// Before anything is deleted, the opened item is checked to be the entry
// itself: Wine opens the target of a POSIX symbolic link even when asked for
// the link, and deleting through such a handle, DeleteFileW included, takes
// the target. The handle's own name then differs from the directory's name
// plus the entry's, and the call refuses instead.
//
// A listing gives each entry's file id and reparse tag; a subdirectory
// listed as no link is opened only when it is still the one listed, and only
// name-surrogate reparse points (junctions, mount points, symbolic links)
// count as links.
//
// An item is deleted with POSIX semantics where its volume takes them (its
// name goes at once, even while another program holds it open), with the
// classic disposition elsewhere.
#include <windows.h>
#include <winternl.h>
#include <shlwapi.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <deque>
#include <new>

#include "platform/common/delete_either_way.h"
#include "platform/common/windows_rules.h"
#include "platform/platform.h"

namespace plat {

namespace {

// The codes recorded when a call refuses rather than act through a link:
// the item opened is not the entry itself (the platform followed a link it
// cannot remove on its own), it is no link where one is to be removed, or a
// folder to be emptied is on another volume. A folder to be emptied that is
// a link fails with kErrorLinkRefused.
constexpr DWORD kThroughLink = ERROR_NOT_SUPPORTED;
constexpr DWORD kNotALink = ERROR_NOT_A_REPARSE_POINT;
constexpr DWORD kOtherVolume = ERROR_NOT_SAME_DEVICE;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kOpenFlags = FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;
constexpr ULONG kFileOpen = 1;  // FILE_OPEN: open an existing item only

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, wcslen(prefix), prefix) == 0;
}

// The text to hand to the path-based calls for `path`. A path that fits the
// classic MAX_PATH limit goes through unchanged, so that it behaves exactly as
// the plain call does; a longer one is made absolute and normalised by
// GetFullPathNameW (the "\\?\" form switches normalisation off) and then
// written in the extended form, "\\?\D:\..." or "\\?\UNC\server\share\...".
std::wstring SystemPath(const std::wstring& path) {
  if (path.size() < MAX_PATH || StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\"))
    return path;

  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;  // the plain call then fails the same way
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);

  // GetFullPathNameW leaves doubled separators after a UNC share; the
  // extended form would take them literally.
  std::wstring collapsed;
  collapsed.reserve(full.size());
  for (size_t i = 0; i < full.size(); ++i) {
    if (i >= 2 && full[i] == L'\\' && collapsed.back() == L'\\') continue;
    collapsed += full[i];
  }

  if (StartsWith(collapsed, L"\\\\?\\") || StartsWith(collapsed, L"\\\\.\\")) return collapsed;
  if (StartsWith(collapsed, L"\\\\")) return L"\\\\?\\UNC\\" + collapsed.substr(2);
  return L"\\\\?\\" + collapsed;
}

// ---- opening relative to a directory handle ----

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);
using NtQueryVolumeInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

// FileDispositionInfoEx, which the headers name only for newer targets.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);  // STATUS_DELETE_PENDING

template <typename Fn>
Fn NtdllFunction(const char* name) {
  FARPROC found = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(found));
}

// Opens `name` in the directory `root`: following a final link unless
// `options` holds FILE_OPEN_REPARSE_POINT. INVALID_HANDLE_VALUE on failure,
// with the Windows code recorded.
HANDLE OpenAt(HANDLE root, const wchar_t* name, ACCESS_MASK access, ULONG options) {
  static const NtCreateFileFn create = NtdllFunction<NtCreateFileFn>("NtCreateFile");
  static const RtlNtStatusToDosErrorFn toCode =
      NtdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  if (!create || !toCode) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const size_t length = wcslen(name);
  if (length > USHRT_MAX / sizeof(wchar_t)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name);
  text.Length = static_cast<USHORT>(length * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK status;
  HANDLE handle = nullptr;
  NTSTATUS result = create(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &object, &status,
                           nullptr, 0, kShareAll, kFileOpen, options | kOpenFlags, nullptr, 0);
  if (result < 0) {
    // An entry deleted already, that goes once another program closes it,
    // is told as such (the Win32 calls say "access denied").
    SetLastError(result == kStatusDeletePending ? ERROR_DELETE_PENDING : toCode(result));
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// What is known of one volume, found once in a run: whether it refused the
// POSIX-semantics disposition. Only that is kept by serial number, which
// another computer's volume may share: a wrong guess costs one refused call.
struct Volume {
  DWORD serial = 0;
  std::atomic<bool> posixRefused{false};
};

// Every volume met, under the lock; it never shrinks, so listings keep
// pointers into it.
SRWLOCK VolumesLock = SRWLOCK_INIT;
std::deque<Volume> Volumes;
Volume UnknownVolume;

// Whether the open item lies on a network file system (a share, a
// redirected drive) by its device's characteristics, asked of the handle
// itself every time.
winrules::Device DeviceOf(HANDLE handle) {
  static const NtQueryVolumeInformationFileFn query =
      NtdllFunction<NtQueryVolumeInformationFileFn>("NtQueryVolumeInformationFile");
  constexpr ULONG kFsDeviceInformation = 4;     // FileFsDeviceInformation
  constexpr ULONG kRemoteDevice = 0x10;         // FILE_REMOTE_DEVICE
  constexpr ULONG kNetworkFileSystem = 0x14;    // FILE_DEVICE_NETWORK_FILE_SYSTEM
  struct {
    ULONG deviceType, characteristics;
  } device{};
  IO_STATUS_BLOCK status;
  if (!query || query(handle, &status, &device, sizeof device, kFsDeviceInformation) < 0)
    return winrules::Device::Unknown;
  const bool remote = (device.characteristics & kRemoteDevice) || device.deviceType == kNetworkFileSystem;
  return remote ? winrules::Device::Remote : winrules::Device::Local;
}

// The volume of the open item `handle`, found in the table or added to it.
Volume* VolumeOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return &UnknownVolume;
  AcquireSRWLockExclusive(&VolumesLock);
  Volume* volume = nullptr;
  for (Volume& known : Volumes)
    if (known.serial == info.dwVolumeSerialNumber) volume = &known;
  if (!volume) {
    volume = &Volumes.emplace_back();
    volume->serial = info.dwVolumeSerialNumber;
  }
  ReleaseSRWLockExclusive(&VolumesLock);
  return volume;
}

// Closes `handle` without disturbing the code recorded before.
void CloseKeepingCode(HANDLE handle) {
  DWORD code = GetLastError();
  CloseHandle(handle);
  SetLastError(code);
}

bool Refuse(HANDLE handle, DWORD code) {
  CloseHandle(handle);
  SetLastError(code);
  return false;
}

// The name of the open item within its volume ("\dir\name"), empty when the
// file system does not tell.
std::wstring NameOnVolume(HANDLE handle) {
  DWORD bytes = sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(wchar_t);
  for (;;) {
    FILE_NAME_INFO* info = static_cast<FILE_NAME_INFO*>(operator new(bytes, std::nothrow));
    if (!info) return std::wstring();
    if (GetFileInformationByHandleEx(handle, FileNameInfo, info, bytes)) {
      std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      operator delete(info);
      return name;
    }
    const bool larger = GetLastError() == ERROR_MORE_DATA && bytes < 0x20000;
    operator delete(info);
    if (!larger) return std::wstring();
    bytes *= 2;
  }
}

}  // namespace

// ---- listings ----

constexpr DWORD kRecordBytes = 16 * 1024;

// FileIdExtdDirectoryInfo, whose records carry the 128-bit id and the
// reparse tag; where a volume or the system has no such listing (FAT, Wine),
// FileIdBothDirectoryInfo, with the 64-bit id and the tag in EaSize.
constexpr auto kExtendedListing = static_cast<FILE_INFO_BY_HANDLE_CLASS>(19);

struct Listing {
  HANDLE directory = INVALID_HANDLE_VALUE;  // the folder listed; entries are opened relative to it
  // Any thread may ask for the folder's name and identity: the four fields
  // below are read and written only under `factsLock`.
  SRWLOCK factsLock = SRWLOCK_INIT;
  bool nameKnown = false;
  std::wstring nameOnVolume;                // the folder's own name, asked for once
  bool identityKnown = false;
  FileIdentity identity;                    // the folder's own identity, asked for once
  FILE_INFO_BY_HANDLE_CLASS format = kExtendedListing;  // chosen at the first read
  const unsigned char* record = nullptr;    // the current entry within `records`
  std::wstring name;                        // the current entry's name, terminated
  unsigned char* records = nullptr;         // given back once the listing has been read to its end
  std::atomic<Volume*> volume{nullptr};     // the folder's volume, once asked for or inherited
  // Opened through a junction, mount point or symbolic link, it may lie on
  // another computer's files; `device` is what its own handle said. Set
  // before it is shared.
  bool throughLink = false;
  winrules::Device device = winrules::Device::Local;
};

namespace {

// One record of either listing, as an entry takes it: the name, the attribute
// bits (links told by their tags), the folded file id and a file's size.
struct RecordView {
  const wchar_t* name;
  size_t nameLength;
  uint32_t attributes;
  uint64_t id, size;
};

template <typename Record>
RecordView ViewFrom(const Record& record, uint32_t tag, uint64_t id) {
  const uint32_t attributes = winrules::LinkBits(record.FileAttributes, tag);
  const bool file = !(attributes & (kAttrReparsePoint | kAttrDirectory));
  return {record.FileName, record.FileNameLength / sizeof(wchar_t), attributes, id,
          file ? static_cast<uint64_t>(record.EndOfFile.QuadPart) : 0};
}

RecordView ViewOf(const Listing& listing, const unsigned char* at) {
  if (listing.format == kExtendedListing) {
    const auto& record = *reinterpret_cast<const FILE_ID_EXTD_DIR_INFO*>(at);
    uint64_t low, high;
    std::memcpy(&low, record.FileId.Identifier, 8);
    std::memcpy(&high, record.FileId.Identifier + 8, 8);
    return ViewFrom(record, record.ReparsePointTag, winrules::FoldedId(low, high));
  }
  const auto& record = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
  const uint32_t tag = record.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? record.EaSize : 0;
  return ViewFrom(record, tag, static_cast<uint64_t>(record.FileId.QuadPart));
}

void FillEntry(Listing& listing, DirEntry& entry) {
  const RecordView view = ViewOf(listing, listing.record);
  listing.name.assign(view.name, view.nameLength);
  entry.name = listing.name.c_str();
  entry.nameLength = listing.name.size();
  entry.attributes = view.attributes;
  entry.listedId = view.id;
  entry.size = view.size;
}

// The offset of the record after the one at `at`; 0 at the last of a block.
DWORD NextOffset(const unsigned char* at) {
  DWORD offset;  // the first field of both kinds of record
  std::memcpy(&offset, at, sizeof offset);
  return offset;
}

// The folded id of the "." entry in the first block a listing read: the
// folder's own id, as its parent's listing gives it; 0 where it is not there.
uint64_t DotId(const Listing& listing) {
  for (const unsigned char* at = listing.records; at; at = NextOffset(at) ? at + NextOffset(at) : nullptr) {
    const RecordView view = ViewOf(listing, at);
    if (view.nameLength == 1 && view.name[0] == L'.') return view.id;
  }
  return 0;
}

// Reads the next block of entries; false at the end (ERROR_NO_MORE_FILES) or on a failure.
bool ReadBlock(Listing& listing, bool first = false) {
  if (!listing.records) {
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }
  bool read = GetFileInformationByHandleEx(listing.directory, listing.format, listing.records, kRecordBytes) != 0;
  const DWORD refused = read ? 0 : GetLastError();
  if (first && (refused == ERROR_INVALID_PARAMETER || refused == ERROR_INVALID_LEVEL ||
                refused == ERROR_NOT_SUPPORTED || refused == ERROR_INVALID_FUNCTION)) {
    listing.format = FileIdBothDirectoryInfo;
    read = GetFileInformationByHandleEx(listing.directory, listing.format, listing.records, kRecordBytes) != 0;
  }
  if (!read) {
    const DWORD code = GetLastError();
    operator delete(listing.records, std::align_val_t{8});
    listing.records = nullptr;
    SetLastError(code);
    return false;
  }
  listing.record = listing.records;
  return true;
}

// Wraps the open folder `directory` in a listing and delivers its first
// entry. An empty folder fails as FindFirstFileW does, with ERROR_FILE_NOT_FOUND.
Listing* StartListing(HANDLE directory, DirEntry& entry) {
  Listing* listing = new (std::nothrow) Listing;
  if (!listing) {
    CloseHandle(directory);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  listing->directory = directory;
  listing->records = static_cast<unsigned char*>(operator new(kRecordBytes, std::align_val_t{8}, std::nothrow));
  if (!listing->records) {
    ListClose(listing);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (!ReadBlock(*listing, true)) {
    DWORD code = GetLastError();
    ListClose(listing);
    SetLastError(code == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : code);
    return nullptr;
  }
  FillEntry(*listing, entry);
  return listing;
}

std::wstring FolderName(Listing* listing) {
  AcquireSRWLockExclusive(&listing->factsLock);
  if (!listing->nameKnown) {
    listing->nameOnVolume = NameOnVolume(listing->directory);
    listing->nameKnown = true;
  }
  std::wstring name = listing->nameOnVolume;
  ReleaseSRWLockExclusive(&listing->factsLock);
  return name;
}

// Whether the item named `itemName` on its volume is the entry `name` of the
// folder named `folder` there, rather than what a link there leads to.
// Where the file system does not name its items, `unknown` answers.
bool NamedAsEntry(const std::wstring& folder, const std::wstring& itemName, const wchar_t* name, bool unknown) {
  if (folder.empty() || itemName.empty()) return unknown;
  std::wstring expected = folder;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  return CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), itemName.c_str(),
                              static_cast<int>(itemName.size()), TRUE) == CSTR_EQUAL;
}

// Whether `item`, opened as `name` in the listing's folder, is that entry
// itself; where the file system does not name its items, the open itself
// is trusted.
bool IsTheEntry(Listing* parent, HANDLE item, const wchar_t* name) {
  return NamedAsEntry(FolderName(parent), NameOnVolume(item), name, true);
}

// The entry `name` itself, opened with `access` and `options` on top of
// FILE_OPEN_REPARSE_POINT, with its attribute bits; a link that the platform
// followed all the same counts as a link.
HANDLE OpenEntry(Listing* parent, const wchar_t* name, ACCESS_MASK access, ULONG options,
                 uint32_t& attributes, bool& isTheEntry) {
  HANDLE item = OpenAt(parent->directory, name, access, options | FILE_OPEN_REPARSE_POINT);
  if (item == INVALID_HANDLE_VALUE) return item;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof tag)) {
    CloseKeepingCode(item);
    return INVALID_HANDLE_VALUE;
  }
  isTheEntry = IsTheEntry(parent, item, name);
  attributes = winrules::LinkBits(tag.FileAttributes, tag.ReparseTag) | (isTheEntry ? 0 : kAttrReparsePoint);
  return item;
}

// The volume of the folder `listing` lists, asked for once.
Volume* VolumeOf(Listing* listing) {
  Volume* volume = listing->volume.load(std::memory_order_acquire);
  if (!volume) {
    volume = VolumeOfHandle(listing->directory);
    listing->volume.store(volume, std::memory_order_release);
  }
  return volume;
}

// Deletes the open item `item` of the folder `parent` lists, then closes
// it: with POSIX semantics unless its volume refused them, else when its
// last handle closes. A read-only item is refused either way.
bool DeleteByHandle(Listing* parent, HANDLE item) {
  const bool deleted = DeleteEitherWay(
      VolumeOf(parent)->posixRefused,
      [item] {
        FILE_DISPOSITION_INFO_EX disposition{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
        return SetFileInformationByHandle(item, kDispositionInfoEx, &disposition, sizeof disposition) != 0;
      },
      [item] {
        FILE_DISPOSITION_INFO disposition{TRUE};
        return SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition) != 0;
      });
  CloseKeepingCode(item);
  return deleted;
}

// The volume's serial number and the file's 128-bit id (ReFS ids need all
// of it); where a volume gives no such id, the 64-bit index, which is the
// same number on NTFS. The serial is kept to the 32 bits both calls give.
bool IdentityOf(HANDLE handle, FileIdentity& identity) {
  FILE_ID_INFO id;
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    identity.volume = static_cast<uint32_t>(id.VolumeSerialNumber);
    std::memcpy(&identity.file, id.FileId.Identifier, 8);
    std::memcpy(&identity.fileHigh, id.FileId.Identifier + 8, 8);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.fileHigh = 0;
  return true;
}

// The identity of the folder `listing` lists, asked for once.
bool FolderIdentity(Listing* listing, FileIdentity& identity) {
  AcquireSRWLockExclusive(&listing->factsLock);
  if (!listing->identityKnown) listing->identityKnown = IdentityOf(listing->directory, listing->identity);
  const bool known = listing->identityKnown;
  identity = listing->identity;
  ReleaseSRWLockExclusive(&listing->factsLock);
  return known;
}

// Opening a folder below another one component at a time: each component
// opened as itself, and refused where it is a reparse point of any kind, or
// the platform followed a link all the same, or either cannot be told.
struct NoLinkSteps {
  const HANDLE kFailed = INVALID_HANDLE_VALUE;
  HANDLE Open(HANDLE folder, const std::wstring& name) {
    HANDLE next = OpenAt(folder, name.c_str(), FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    // A missing component fails as the plain listing call does.
    if (next == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    return next;
  }
  bool IsPlainFolder(HANDLE folder, HANDLE opened, const std::wstring& name) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag)) return false;
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        NamedAsEntry(NameOnVolume(folder), NameOnVolume(opened), name.c_str(), false))
      return true;
    SetLastError(kErrorLinkRefused);
    return false;
  }
  void Close(HANDLE handle) { CloseKeepingCode(handle); }
};

}  // namespace

uint32_t LastErrorCode() { return GetLastError(); }

Listing* ListFirst(const std::wstring& pattern, DirEntry& entry) {
  // The folder is the pattern without its final "*", separator kept, so
  // that "D:\*" opens the root of D: and "\*" that of the current drive.
  std::wstring folder = pattern;
  if (!folder.empty() && folder.back() == L'*') folder.pop_back();
  HANDLE directory = CreateFileW(SystemPath(folder).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    // Fail with the code the plain listing call gives for this pattern
    // ("path not found" for a missing folder, where opening it says "file
    // not found").
    DWORD code = GetLastError();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(SystemPath(pattern).c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    FindClose(find);
    SetLastError(code);
    return nullptr;
  }
  return StartListing(directory, entry);
}

bool ListNext(Listing* listing, DirEntry& entry) {
  if (!listing->records) {
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }
  if (const DWORD next = NextOffset(listing->record)) {
    listing->record += next;
  } else if (!ReadBlock(*listing)) {
    return false;
  }
  FillEntry(*listing, entry);
  return true;
}

void ListClose(Listing* listing) {
  if (!listing) return;
  CloseKeepingCode(listing->directory);
  if (listing->records) operator delete(listing->records, std::align_val_t{8});
  delete listing;
}

Listing* ListFirstNoLinksBelow(const std::wstring& base, const std::wstring& below, DirEntry& entry) {
  // `base` as ListFirst opens it, then one component at a time below it.
  HANDLE folder = CreateFileW(SystemPath(base).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  NoLinkSteps steps;
  folder = winrules::OpenNoLinksBelow(steps, folder, below);
  return folder == INVALID_HANDLE_VALUE ? nullptr : StartListing(folder, entry);
}

Listing* ListChild(Listing* parent, const DirEntry& child, const std::wstring&, DirEntry& entry) {
  // Listed as no link, it is opened as itself (on its parent's volume,
  // whatever stands there now) and must still be the directory listed: one
  // swapped for a link since is refused, as a link met now. Its listing's
  // "." names its id at no cost; where it does not say so, the handle is
  // asked before anything is refused.
  const bool throughLink = child.attributes & kAttrReparsePoint;
  HANDLE directory = OpenAt(parent->directory, child.name, FILE_LIST_DIRECTORY,
                            FILE_DIRECTORY_FILE | (throughLink ? 0 : FILE_OPEN_REPARSE_POINT));
  if (directory == INVALID_HANDLE_VALUE) return nullptr;
  // Through a link it may lead anywhere: its own handle says where.
  const winrules::Device device = throughLink ? DeviceOf(directory) : winrules::Device::Local;
  Listing* listing = StartListing(directory, entry);
  if (!listing) return nullptr;
  if (!throughLink) {
    bool listed = child.listedId != 0 && DotId(*listing) == child.listedId;
    if (!listed) {
      FileIdentity folder, opened;
      if (!FolderIdentity(parent, folder) || !IdentityOf(directory, opened)) {
        ListClose(listing);
        return nullptr;
      }
      listed = winrules::IsListedChild(child.listedId, folder, opened);
    }
    if (!listed) {
      ListClose(listing);
      SetLastError(kErrorLinkRefused);
      return nullptr;
    }
    listing->volume.store(parent->volume.load(std::memory_order_acquire), std::memory_order_release);
  }
  listing->throughLink = throughLink;
  listing->device = device;
  return listing;
}

Listing* ListForRemoval(Listing* parent, const wchar_t* name, const std::wstring&, DirEntry& entry) {
  uint32_t attributes = 0;
  bool isTheEntry = false;
  HANDLE directory = OpenEntry(parent, name, FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE, attributes, isTheEntry);
  if (directory == INVALID_HANDLE_VALUE) return nullptr;
  if (attributes & kAttrReparsePoint) {
    Refuse(directory, kErrorLinkRefused);
    return nullptr;
  }
  // A folder kept elsewhere (a cloud provider's placeholder) is never
  // listed: that could fetch it.
  if (attributes & kAttrKeptElsewhere) {
    Refuse(directory, ERROR_FILE_OFFLINE);
    return nullptr;
  }
  FileIdentity folder, item;
  if (!FolderIdentity(parent, folder) || !IdentityOf(directory, item)) {
    CloseKeepingCode(directory);
    return nullptr;
  }
  if (folder.volume != item.volume) {
    Refuse(directory, kOtherVolume);
    return nullptr;
  }
  Listing* listing = StartListing(directory, entry);
  if (listing) listing->volume.store(parent->volume.load(std::memory_order_acquire), std::memory_order_release);
  return listing;
}

// ---- attributes and identities ----

uint32_t FileAttributes(const std::wstring& path) {
  const std::wstring system = SystemPath(path);
  const DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return attributes;
  // A reparse point's tag tells whether it is a link; untold, it counts as one.
  HANDLE item = CreateFileW(system.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (item != INVALID_HANDLE_VALUE) {
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof tag)) tag.ReparseTag = 0;
    CloseHandle(item);
  }
  return winrules::LinkBits(attributes, tag.ReparseTag);
}

uint32_t AttributesAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  uint32_t attributes = 0;
  bool isTheEntry = false;
  HANDLE item = OpenEntry(parent, name, 0, 0, attributes, isTheEntry);
  if (item == INVALID_HANDLE_VALUE) return kInvalidAttributes;
  CloseHandle(item);
  return attributes;
}

bool ListingIdentity(Listing* listing, FileIdentity& identity) {
  return IdentityOf(listing->directory, identity);
}

bool LastWriteTimeAt(Listing* parent, const wchar_t* name, const std::wstring&, uint64_t& time, uint64_t* size) {
  HANDLE item = OpenAt(parent->directory, name, 0, FILE_OPEN_REPARSE_POINT);
  if (item == INVALID_HANDLE_VALUE) return false;
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  const bool known = GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic) &&
                     (!size || GetFileInformationByHandleEx(item, FileStandardInfo, &standard, sizeof standard));
  CloseKeepingCode(item);
  if (!known) return false;
  time = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
  // Asked for a file's size, the caller knows it for no link; a cloud
  // provider's placeholder keeps its reparse bit and has its length.
  if (size) *size = standard.Directory ? 0 : static_cast<uint64_t>(standard.EndOfFile.QuadPart);
  return true;
}

bool PathIdentity(const std::wstring& path, FileIdentity& identity) {
  HANDLE directory = CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(directory, &info) != 0;
  if (known && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_DIRECTORY);
    known = false;
  }
  if (known) known = IdentityOf(directory, identity);
  CloseKeepingCode(directory);
  return known;
}

// Windows has no file systems of kernel tables.
bool OnPseudoFileSystem(Listing*) { return false; }

bool EntersRemoteVolume(Listing* child) { return winrules::EntersRemote(child->throughLink, child->device); }

bool IdentityAt(Listing* parent, const wchar_t* name, const std::wstring&, FileIdentity& identity) {
  HANDLE directory = OpenAt(parent->directory, name, 0, FILE_DIRECTORY_FILE);
  if (directory == INVALID_HANDLE_VALUE) return false;
  bool known = IdentityOf(directory, identity);
  CloseKeepingCode(directory);
  return known;
}

// ---- removal ----

bool RemoveEmptyDirectoryAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  // A directory link is a directory too: opened as itself, it goes itself,
  // as RemoveDirectoryW removes a link and not its target.
  uint32_t attributes = 0;
  bool isTheEntry = false;
  HANDLE item = OpenEntry(parent, name, DELETE, FILE_DIRECTORY_FILE, attributes, isTheEntry);
  if (item == INVALID_HANDLE_VALUE) return false;
  if (!isTheEntry) return Refuse(item, kThroughLink);
  return DeleteByHandle(parent, item);  // a directory with entries fails: ERROR_DIR_NOT_EMPTY
}

bool DeleteFileAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  uint32_t attributes = 0;
  bool isTheEntry = false;
  HANDLE item = OpenEntry(parent, name, DELETE, FILE_NON_DIRECTORY_FILE, attributes, isTheEntry);
  if (item == INVALID_HANDLE_VALUE) return false;
  if (!isTheEntry) return Refuse(item, kThroughLink);
  return DeleteByHandle(parent, item);  // a read-only file fails: ERROR_ACCESS_DENIED
}

bool RemoveLinkAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  uint32_t attributes = 0;
  bool isTheEntry = false;
  HANDLE item = OpenEntry(parent, name, DELETE, 0, attributes, isTheEntry);
  if (item == INVALID_HANDLE_VALUE) return false;
  if (!isTheEntry) return Refuse(item, kThroughLink);
  if (!(attributes & kAttrReparsePoint)) return Refuse(item, kNotALink);
  return DeleteByHandle(parent, item);
}

int CompareNoCase(const wchar_t* a, const wchar_t* b, size_t count) {
  return StrCmpNIW(a, b, count > INT_MAX ? INT_MAX : static_cast<int>(count));
}

}  // namespace plat
