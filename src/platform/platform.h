// The one seam between the portable code and the operating system.
//
// Three implementations exist, chosen at link time: win32/ (Windows), posix/
// (Linux) and the fake in tests/fake/ (unit tests). Every call that can fail
// records a platform error code that LastErrorCode() returns afterwards, as
// GetLastError() does on Windows. No system header leaks through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

// ---- error codes the portable code must recognise (the platform's own) ----
#if defined(_WIN32)
inline constexpr uint32_t kErrorFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kErrorPathNotFound = 3;       // ERROR_PATH_NOT_FOUND
inline constexpr uint32_t kErrorAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrorNotEnoughMemory = 8;    // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t kErrorDirNotEmpty = 145;      // ERROR_DIR_NOT_EMPTY
inline constexpr uint32_t kErrorLinkRefused = 1920;     // ERROR_CANT_ACCESS_FILE
inline constexpr uint32_t kErrorNoMoreProcesses = 18;   // ERROR_NO_MORE_FILES
inline constexpr uint32_t kErrorDeletePending = 303;    // ERROR_DELETE_PENDING
inline constexpr uint32_t kErrorOtherFileSystem = 17;   // ERROR_NOT_SAME_DEVICE
inline constexpr uint32_t kErrorNoMoreEntries = 18;     // ERROR_NO_MORE_FILES
#else
inline constexpr uint32_t kErrorFileNotFound = 2;       // ENOENT
inline constexpr uint32_t kErrorPathNotFound = 2;       // ENOENT
inline constexpr uint32_t kErrorAccessDenied = 13;      // EACCES
inline constexpr uint32_t kErrorNotEnoughMemory = 12;   // ENOMEM
inline constexpr uint32_t kErrorDirNotEmpty = 39;       // ENOTEMPTY
inline constexpr uint32_t kErrorLinkRefused = 40;       // ELOOP
inline constexpr uint32_t kErrorNoMoreProcesses = 3;    // ESRCH
inline constexpr uint32_t kErrorDeletePending = 0x7FFFFFFF;  // never: a name goes at once
inline constexpr uint32_t kErrorOtherFileSystem = 18;   // EXDEV
inline constexpr uint32_t kErrorNoMoreEntries = 2;      // ENOENT
#endif
// kErrorLinkRefused: a folder that must not be reached through a link is one.
// kErrorOtherFileSystem: a folder to be emptied lies on another file system.
// kErrorDeletePending: the entry is already deleted and goes once another
// program closes it; it counts as removed.

// True for the codes that say the process ran short of open files or memory
// for a moment (POSIX EMFILE, ENFILE, ENOMEM; Windows too many open files,
// out of memory, no system resources): what fails with one may work once
// other work gives back what it holds.
inline bool IsShortage(uint32_t code) {
#if defined(_WIN32)
  return code == 4 || code == 8 || code == 14 || code == 1450;
#else
  return code == 24 || code == 23 || code == 12;
#endif
}

// True for the codes that say an entry, or a folder on its path, is not
// there (any longer): only these mean that something was taken away.
inline bool IsNotFound(uint32_t code) { return code == kErrorFileNotFound || code == kErrorPathNotFound; }

// ---- attribute bits, as the Windows file system reports them ----
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrNormal = 0x80;
// A link: a junction, mount point or symbolic link. A reparse point of any
// other kind (a cloud provider's tag, say) is reported without this bit.
inline constexpr uint32_t kAttrReparsePoint = 0x400;
inline constexpr uint32_t kAttrOffline = 0x1000;
inline constexpr uint32_t kAttrRecallOnOpen = 0x40000;
inline constexpr uint32_t kAttrRecallOnDataAccess = 0x400000;
// Any of them: what the folder holds is kept elsewhere (a cloud provider, a
// storage manager) and opening or listing it would fetch it.
inline constexpr uint32_t kAttrKeptElsewhere = kAttrOffline | kAttrRecallOnOpen | kAttrRecallOnDataAccess;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// ---- times ----
// Times are FileTimes: 100-nanosecond units since 1601-01-01 00:00 UTC.
inline constexpr uint64_t kFileTimePerDay = 864000000000ull;

// ---- errors ----

// The error code recorded by the last failing platform call.
uint32_t LastErrorCode();

// ---- directory listing ----

// One entry of a listing. `name` stays valid until the next call on the
// listing: ListNext overwrites the text `name` points to (and ListClose
// frees it), so a thread that reads on while another uses an entry copies
// the name first. The other fields are the caller's own copy. No listing
// gives times: a directory's copy of them may be behind the file's own
// (LastWriteTimeAt reads those).
inline constexpr uint64_t kSizeNotListed = ~uint64_t{0};
struct DirEntry {
  const wchar_t* name = nullptr;
  size_t nameLength = 0;
  uint32_t attributes = 0;
  // The entry's file number as the listing gives it (Windows: its 128-bit id
  // folded to 64 bits, as ListChild compares it); 0 where none.
  uint64_t listedId = 0;
  // A file's length as the listing gives it, 0 for a directory or a link;
  // kSizeNotListed where the listing does not give it (LastWriteTimeAt does).
  uint64_t size = kSizeNotListed;
};

struct Listing;  // opaque, one open enumeration

// Opens the listing named by `pattern` (a folder followed by "\*") and
// delivers its first entry. "." and ".." are delivered like other entries
// where the file system has them. Returns null on failure (LastErrorCode()).
Listing* ListFirst(const std::wstring& pattern, DirEntry& entry);
// Delivers the next entry; false at the end (LastErrorCode() is then
// kErrorNoMoreEntries) or on any failure. Past the
// end a listing keeps only its handle: its buffer is given back.
bool ListNext(Listing* listing, DirEntry& entry);
// Closes a listing opened by ListFirst; it may not be used afterwards.
void ListClose(Listing* listing);

// ---- attributes ----

// The attribute bits of `path` itself (a final link is not followed; a link
// carries kAttrReparsePoint, plus kAttrDirectory when it leads to a
// directory). kInvalidAttributes on failure.
uint32_t FileAttributes(const std::wstring& path);

// What a directory is, whichever path leads to it: two paths that lead to
// the same directory give the same identity, and two different directories
// that exist at the same time never do (POSIX: device and inode; Windows:
// the volume's serial number and the 128-bit file id).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint64_t fileHigh = 0;  // the upper half of a 128-bit file id; 0 where ids are 64 bits
};
// The identity of the directory that `listing` lists.
bool ListingIdentity(Listing* listing, FileIdentity& identity);
// The identity of the directory `path` names, links followed. False on
// failure (LastErrorCode()), also when `path` is no directory.
bool PathIdentity(const std::wstring& path, FileIdentity& identity);
// True when the directory `listing` lists lies on a kernel pseudo file
// system (process and device tables, control groups and the like): nothing
// of KEL's lives there, and its links lead all over the machine. Decided by
// the file system's type, never by a name; never true on Windows.
bool OnPseudoFileSystem(Listing* listing);
// True when the directory `child` lists (opened with ListChild) lies on a
// network file system (NFS, SMB, SSHFS and the like; a remote volume on
// Windows) that is not the file system of the listing it was opened from:
// a mount point, link or junction leads onto another computer's files
// there. A child on its parent's file system costs no system call. On
// Windows a child reached through a link is asked about its own handle: it
// enters when that says remote, or cannot say, even from a share.
bool EntersRemoteVolume(Listing* child);
// The identity of the directory entry `name` of `parent` leads to, links
// followed. False on failure (LastErrorCode()).
bool IdentityAt(Listing* parent, const wchar_t* name, const std::wstring& path, FileIdentity& identity);

// The last-write time of the entry `name` of the directory `parent` lists,
// itself (a link's own, never its target's), as the file itself holds it,
// never a listing's copy; with `size`, also a file's length (0 for a link or
// a directory), from the same call. Nothing is fetched for a cloud
// placeholder. False on failure (LastErrorCode()).
bool LastWriteTimeAt(Listing* parent, const wchar_t* name, const std::wstring& path, uint64_t& time,
                     uint64_t* size = nullptr);

// ---- calls relative to an open listing ----
// `parent` is an open listing, `name` one of its entries and `path` the
// full path of that entry, the same item named from the top (used for
// nothing but the platforms that can only work by path). Where the platform
// can, these act on the directory the listing has open, so that swapping a
// directory on the way for a link cannot redirect them.

// Opens the listing of the folder `base` + "\\" + `below` and delivers its
// first entry, as ListFirst does for it. `base` may be reached through links;
// no component of `below` may be one: that fails with kErrorLinkRefused.
Listing* ListFirstNoLinksBelow(const std::wstring& base, const std::wstring& below, DirEntry& entry);

// Opens the listing of the subdirectory `child` (an entry as `parent`
// delivered it: name, attributes and listed id; the reparse bit tells
// Windows that the child may lie on another volume), following a link as
// ListFirst does, and delivers its first entry. A child listed as no link
// whose opened directory is not the one listed (swapped for a link since)
// fails with kErrorLinkRefused where the platform can tell (Windows). Any
// thread may open children of one listing at once, while another reads it.
Listing* ListChild(Listing* parent, const DirEntry& child, const std::wstring& path, DirEntry& entry);
// Opens the listing of the subdirectory `name` for emptying it: never
// through a link (that fails), never onto another file system (that fails
// too), and only when what was opened is what stood there.
Listing* ListForRemoval(Listing* parent, const wchar_t* name, const std::wstring& path, DirEntry& entry);
// The attribute bits of `name` itself, as FileAttributes gives them.
uint32_t AttributesAt(Listing* parent, const wchar_t* name, const std::wstring& path);
// The three removals below fail with kErrorDeletePending when `name` is
// already deleted and held open by another program.
// Removes the empty directory `name` (never what a link leads to).
bool RemoveEmptyDirectoryAt(Listing* parent, const wchar_t* name, const std::wstring& path);
// Deletes the file or file link `name`.
bool DeleteFileAt(Listing* parent, const wchar_t* name, const std::wstring& path);
// Removes the link `name` itself; fails when `name` is no link.
bool RemoveLinkAt(Listing* parent, const wchar_t* name, const std::wstring& path);

// ---- processes ----

struct Snapshot;  // opaque, one picture of the running processes

// Takes a fresh snapshot of the running processes for finding the one with
// id `processId`: it holds that process if it runs, and never is empty; it
// may hold every other process too (Windows, the fake) or only the caller
// (POSIX, where a full picture costs a /proc listing per question). Null on
// failure, or when whether `processId` runs cannot be known (LastErrorCode()).
// Any thread may take one; a snapshot is used by the thread that took it.
Snapshot* SnapshotOpen(uint32_t processId);
// Moves to the first / next process; false when there is none (then
// LastErrorCode() is kErrorNoMoreProcesses) or on failure.
bool SnapshotFirst(Snapshot* snapshot, uint32_t& processId);
bool SnapshotNext(Snapshot* snapshot, uint32_t& processId);
// The image file name of the current process of the snapshot (empty when
// unknown). Only asked for the process whose id matters.
std::wstring SnapshotImageName(Snapshot* snapshot);
// Further names the current process of the snapshot goes by, where the
// platform keeps any besides its image name (POSIX: its command name and the
// base names of its first two arguments, which every user may read): the
// name at `index`, from 0; false past the last. A name that cannot be read
// is left out.
bool SnapshotOtherName(Snapshot* snapshot, size_t index, std::wstring& name);
// Releases the snapshot.
void SnapshotClose(Snapshot* snapshot);

// ---- places and names ----

// SystemProfile: the profile folder of the system account, whose AppData a
// KEL process run by the system writes to.
enum class KnownFolder { Windows, RoamingAppData, UserProfiles, System, SystemProfile };

// The path of a known folder, without a final separator. Returns 0, or the
// platform's failure code (an HRESULT on Windows).
uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path);

// Folder texts that follow a drive letter, matched like the recycle bin at
// the root of a drive, that a volume walk must never enter on this platform
// besides the portable ones. Ends with a null pointer.
const wchar_t* const* PlatformRootExclusions();

// True where the command line also follows the system's own conventions
// (POSIX): paths in the system's form, --help, -h and --version.
bool PosixCommandLine();
// True when `path` is written in the system's own form rather than the
// Windows form: on POSIX a path that holds a '/' and begins with neither a
// drive prefix ("C:") nor a backslash. Such a path is taken as it is (a
// backslash in it is part of a name) and its parts are joined with '/'.
// Never true on Windows.
bool IsNativeFormPath(std::wstring_view path);

// Compares at most `count` characters of two strings, letter case ignored.
// 0 when equal.
int CompareNoCase(const wchar_t* a, const wchar_t* b, size_t count);

// Reads this computer's name into `buffer` of `capacity` characters.
// On success `length` is the number of characters (no terminator) and the
// result is true; false on failure (LastErrorCode()).
bool ComputerName(wchar_t* buffer, uint32_t capacity, uint32_t& length);

// Formats the current local time of day in the user's own format. With a
// null buffer returns the characters needed, terminator included; otherwise
// writes at most `capacity` characters and returns how many were written,
// terminator included. 0 on failure (LastErrorCode()).
int TimeOfDayText(wchar_t* buffer, int capacity);

// The current time, and today's local date as the number YYYYMMDD. False
// on failure (LastErrorCode()).
bool CurrentTime(uint64_t& now, uint32_t& localDate);
// The time at which the local date YYYYMMDD (an existing one) began. False
// on failure (LastErrorCode()).
bool LocalDateStart(uint32_t date, uint64_t& time);

// ---- message texts ----

// Formats catalogue message `id` with the inserts (%1, %2; either may be
// null) into `text`, with "\n" line ends. Returns false when the catalogue
// has no such message.
bool CatalogMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2,
                    std::wstring& text);
// The platform's own text for error code `code`, with "\n" line ends and a
// final line end. False when the platform has none.
bool SystemMessage(uint32_t code, std::wstring& text);

// ---- process services ----

// Starts / stops the sockets layer (a no-op where there is none).
uint32_t SocketsStart();
void SocketsStop();

// Process heap. HeapAllocate returns null on failure; the platform may or
// may not record a code then.
void* HeapAllocate(size_t bytes);
void HeapRelease(void* block);

// True when standard output is an interactive terminal or console (never a
// file or pipe), asked of the handle itself.
bool OutputTerminal();
// Writes text to standard output. "\n" becomes the platform's line end.
void WriteText(const wchar_t* text, size_t length);
// Hands what WriteText has gathered to standard output now.
void FlushText();

// The exit code the process returns for run status `runStatus`.
uint32_t ExitCodeFor(uint32_t runStatus);

// ---- an orderly stop ----
// Called once, before the run: from then on the first stop that the user or
// the system asks for (POSIX: SIGINT, SIGTERM, SIGHUP; Windows: Ctrl+C,
// Ctrl+Break, closing the console, logoff, shutdown) only sets what
// StopAsked() reads, and a second one ends the process at once.
void CatchStop();
// True once a stop was asked for. Any thread may ask, at any time.
bool StopAsked();

// The bytes the platform names `text` with (UTF-8 on POSIX, where a name
// that is no UTF-8 comes back byte for byte; UTF-16LE on Windows).
std::string NativeBytes(const std::wstring& text);

// The local date and time in ISO 8601 with the offset from UTC
// ("2026-12-08T09:14:02+01:00"). False on failure.
bool LocalTimestamp(std::wstring& text);

// ---- the system's event log ----

// What an event tells of: an item removed, an item that could not be, an
// error line, the end of the run.
enum class EventKind { Removed, Failed, Error, RunEnd };

struct Event {
  EventKind kind = EventKind::Error;
  bool error = false;  // an error event; otherwise information
  // The catalogue message that renders the event, and its inserts (%1,
  // %2, ...) in order. On Windows the id is the event id and the inserts
  // are the event's strings.
  uint32_t messageId = 0;
  std::vector<std::wstring> inserts;
  // Named fields for a log that keeps them ("SWEEPDIRS_PATH" and the like).
  std::vector<std::pair<const char*, std::wstring>> fields;
};

// Writes `event` to the system's log: on Windows the Application log, source
// "sweepdirs"; on POSIX the systemd journal or, where none listens, syslog.
// The log is opened at the first call. Returns 0, or the code of the
// failure when the event could not be written; LastErrorCode() is left as
// it was, since the event may come between a failure and its report.
uint32_t EventLogWrite(const Event& event);
// Closes the log, if it was opened.
void EventLogClose();
// Writes `text` to standard error. "\n" becomes the platform's line end.
void WriteErrorText(const wchar_t* text, size_t length);

// ---- progress on an interactive standard error ----

// True when standard error is an interactive terminal or console (never a
// file or pipe); `columns` is then its width.
bool ProgressTerminal(uint32_t& columns);
// Writes `text` to standard error as it stands: no line end is added.
void WriteProgress(const wchar_t* text, size_t length);
// Milliseconds from an arbitrary start, never going back.
uint64_t MonotonicMilliseconds();
// Lets `milliseconds` pass on the calling thread.
void Pause(uint32_t milliseconds);

// ---- threads ----
// Every call above may be made from any thread; the last error code is
// each thread's own. Output (WriteText, WriteProgress) is for one thread.
// One listing is read (ListNext) by one thread at a time; while it is, any
// thread may make the calls relative to it (ListChild, ListForRemoval,
// AttributesAt, IdentityAt, the removals) and ask OnPseudoFileSystem, which
// fill its cached facts atomically. A listing is closed by one thread, once
// no other uses it.

// The processors this process may run on; at least 1.
uint32_t ProcessorCount();
// How many listings the process may hold open at once, as far as the
// system limits it (POSIX: the descriptor limit); at least 1, and
// kListingsUnlimited where only memory limits them.
inline constexpr size_t kListingsUnlimited = size_t{1} << 24;
size_t OpenListingLimit();

struct Thread;  // opaque, one started thread
// Runs `body(argument)` on a new thread with room for deep recursion. Null
// when no thread could be started.
Thread* ThreadStart(void (*body)(void*), void* argument);
// Waits until the thread's body has returned, and releases it.
void ThreadJoin(Thread* thread);

struct Gate;  // opaque: a lock, and one condition its holders wait on
// Null on failure.
Gate* GateCreate();
void GateDestroy(Gate* gate);
void GateEnter(Gate* gate);
void GateLeave(Gate* gate);
// Waits, the gate left meanwhile, until woken; holds it again on return.
void GateWait(Gate* gate);
// Wakes every thread waiting on the gate.
void GateWakeAll(Gate* gate);

}  // namespace plat
