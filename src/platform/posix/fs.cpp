// POSIX only: the seam's file system calls (listing, attributes, removal) for Linux.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace plat {

// A listing reads the directory's entries straight into a buffer of its
// own with getdents64: one open, the reads and one close per directory, no
// stat for ordinary entries.
struct Listing {
  int fd = -1;
  char* buffer = nullptr;
  size_t capacity = 0;
  size_t position = 0;
  size_t filled = 0;
  std::wstring name;  // the current entry's name, reused from entry to entry
  // The file system of the directory, once asked for; any thread may ask.
  std::atomic<bool> deviceKnown{false};
  std::atomic<dev_t> device{0};
  // What the directory's file system is, once known: kKindKnown with
  // kKindPseudo and kKindWholeReads as they apply. Any thread may ask.
  std::atomic<uint8_t> kind{0};
  // The listing is read to its end: no read is left to make.
  bool atEnd = false;
  // Opened through a mount point or a link, it may lie on another file
  // system than its parent's, whose device this is. Set before it is shared.
  bool crossing = false;
  dev_t parentDevice = 0;
};

namespace {

// The first levels of a walk read with large buffers; the levels of a very
// deep tree, whose directories are small, with small ones, so that memory
// stays low however deep the tree.
constexpr size_t kLargeBufferBytes = 32 * 1024;
constexpr size_t kSmallBufferBytes = 4 * 1024;
constexpr size_t kLargeBufferLevels = 32;

// Buffers are kept for the next listing instead of being allocated per
// directory, by each thread for itself. `open` counts the buffers a thread
// took and has not given back, which for one thread's walk is its depth.
// A buffer given back by another thread than took it joins that thread's
// spares, up to a few.
constexpr size_t kSpareBuffers = 64;

struct BufferPool {
  std::vector<char*> large, small;
  long open = 0;
  ~BufferPool() {
    for (char* buffer : large) delete[] buffer;
    for (char* buffer : small) delete[] buffer;
  }
};

BufferPool& Pool() {
  thread_local BufferPool pool;
  return pool;
}

char* TakeBuffer(size_t& capacity) {
  BufferPool& pool = Pool();
  const bool large = pool.open < static_cast<long>(kLargeBufferLevels);
  capacity = large ? kLargeBufferBytes : kSmallBufferBytes;
  std::vector<char*>& spare = large ? pool.large : pool.small;
  char* buffer;
  if (spare.empty()) {
    buffer = new (std::nothrow) char[capacity];
  } else {
    buffer = spare.back();
    spare.pop_back();
  }
  if (buffer) ++pool.open;
  return buffer;
}

void GiveBackBuffer(char* buffer, size_t capacity) {
  BufferPool& pool = Pool();
  if (pool.open > 0) --pool.open;
  std::vector<char*>& spare = capacity == kLargeBufferBytes ? pool.large : pool.small;
  if (spare.size() < kSpareBuffers)
    spare.push_back(buffer);
  else
    delete[] buffer;
}

constexpr uint8_t kKindKnown = 1, kKindPseudo = 2, kKindWholeReads = 4;
// The longest record getdents64 writes, a 255-byte name's: a read that left
// this much of the buffer unused ended at the end of the listing, on a file
// system that fills the buffer whenever it has more entries.
constexpr size_t kLongestRecord = 280;

// The record getdents64 writes; the name follows the fixed part.
struct LinuxDirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
};
constexpr size_t kDirentNameOffset = 19;

int FdOf(Listing* listing) { return listing->fd; }

bool IdentityOf(const struct stat& st, FileIdentity& identity) {
  identity.volume = static_cast<uint64_t>(st.st_dev);
  identity.file = static_cast<uint64_t>(st.st_ino);
  return true;
}

// A link's bits: the directory bit tells where it leads.
uint32_t LinkAttributes(int dirFd, const char* path) {
  struct stat target;
  const bool toDirectory = fstatat(dirFd, path, &target, 0) == 0 && S_ISDIR(target.st_mode);
  return kAttrReparsePoint | (toDirectory ? kAttrDirectory : 0);
}

// The attribute bits of a stat record taken without following a link.
uint32_t AttributesOf(const struct stat& st, int dirFd, const char* path) {
  if (S_ISLNK(st.st_mode)) return LinkAttributes(dirFd, path);
  return S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrNormal;
}

// Fills `entry` from the next directory entry; false at the end or on a
// failure (recorded).
bool ReadEntry(Listing* listing, DirEntry& entry) {
  if (listing->buffer == nullptr) {
    posix::RecordError(ENOENT);
    return false;
  }
  if (listing->position >= listing->filled) {
    // Where a read that did not fill the buffer took the last entries, the
    // read that would say so is not made: one system call less a directory.
    long got = 0;
    if (!(listing->atEnd && (listing->kind.load(std::memory_order_acquire) & kKindWholeReads))) {
      do {
        got = syscall(SYS_getdents64, listing->fd, listing->buffer, listing->capacity);
      } while (got < 0 && errno == EINTR);
    }
    if (got <= 0) {
      // The end of the listing; FindNextFileW records "no more files"
      // there, ENOENT is the nearest code.
      const int code = got < 0 ? errno : ENOENT;
      // Read to its end, the listing needs no buffer any more.
      GiveBackBuffer(listing->buffer, listing->capacity);
      listing->buffer = nullptr;
      listing->filled = listing->position = 0;
      posix::RecordError(code);
      return false;
    }
    listing->position = 0;
    listing->filled = static_cast<size_t>(got);
    listing->atEnd = listing->filled + kLongestRecord <= listing->capacity;
  }
  const char* record = listing->buffer + listing->position;
  LinuxDirent64 fixed;
  std::memcpy(&fixed, record, sizeof fixed);
  const char* name = record + kDirentNameOffset;
  listing->position += fixed.d_reclen;
  const int dirFd = listing->fd;
  uint32_t attributes;
  switch (fixed.d_type) {
    case DT_DIR:
      attributes = kAttrDirectory;
      break;
    case DT_LNK:
      attributes = LinkAttributes(dirFd, name);
      break;
    case DT_UNKNOWN: {
      struct stat st;
      attributes = fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0
                       ? AttributesOf(st, dirFd, name)
                       : kAttrNormal;
      break;
    }
    default:
      attributes = kAttrNormal;
      break;
  }
  entry.listedId = fixed.d_ino;
  entry.size = kSizeNotListed;  // asked of the entry itself where needed
  posix::DecodeUtf8(name, std::strlen(name), listing->name);
  entry.name = listing->name.c_str();
  entry.nameLength = listing->name.size();
  entry.attributes = attributes;
  return true;
}

}  // namespace

namespace {

// What the file system of the open directory `fd` is, by its type: a
// kernel pseudo file system, or one whose directory reads fill the buffer
// whenever more entries are left (so that a read with room to spare was the
// last). devtmpfs says it is a tmpfs, like /tmp: the /dev exclusion and the
// link rules are what bound a walk there.
// One that cannot be asked is taken for a pseudo file system, and not remembered.
uint8_t FileSystemKind(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return kKindPseudo;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC: case TMPFS_MAGIC: case XFS_SUPER_MAGIC: case BTRFS_SUPER_MAGIC:
      return kKindKnown | kKindWholeReads;
    case PROC_SUPER_MAGIC: case SYSFS_MAGIC: case DEVPTS_SUPER_MAGIC: case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC: case DEBUGFS_MAGIC: case TRACEFS_MAGIC: case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC: case PSTOREFS_MAGIC: case EFIVARFS_MAGIC: case BINFMTFS_MAGIC:
    case AUTOFS_SUPER_MAGIC: case NSFS_MAGIC:
    case 0x62656570:  // configfs
    case 0x65735543:  // fusectl
    case 0x19800202:  // mqueue
      return kKindKnown | kKindPseudo;
    default:
      return kKindKnown;
  }
}

// The kind of `listing`'s file system, asked for once.
uint8_t KindOf(Listing* listing) {
  uint8_t kind = listing->kind.load(std::memory_order_acquire);
  if (!kind) {
    kind = FileSystemKind(listing->fd);
    if (kind & kKindKnown) listing->kind.store(kind, std::memory_order_release);
  }
  return kind;
}

// The device of the directory `listing` lists, asked for once.
bool DeviceOf(Listing* listing, dev_t& device) {
  if (!listing->deviceKnown.load(std::memory_order_acquire)) {
    struct stat st;
    if (fstat(listing->fd, &st) != 0) return false;
    listing->device.store(st.st_dev, std::memory_order_relaxed);
    listing->deviceKnown.store(true, std::memory_order_release);
  }
  device = listing->device.load(std::memory_order_relaxed);
  return true;
}

// The file system types by which another computer's files are mounted
// (FUSE file systems appear as "fuse.<name>" in the mount table).
constexpr const char* kNetworkTypes[] = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "afs", "ncpfs", "coda", "ceph", "glusterfs", "lustre", "gfs2",
    "ocfs2", "davfs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs", "fuse.ceph", "fuse.ceph-fuse",
    "fuse.gcsfuse", "fuse.davfs", "fuse.curlftpfs", "fuse.smbnetfs"};

// Each mounted device, and whether it is a network file system, as the
// mount table said when it was last read; read again when a device is not
// in it. Any thread, under the lock.
std::mutex MountsLock;
std::vector<std::pair<dev_t, bool>> Mounts;

// False when the table could not be read whole: what it held before stays.
bool ReadMounts() {
  const int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string table;
  char block[16384];
  for (ssize_t got; (got = read(fd, block, sizeof block)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      return false;
    }
    table.append(block, static_cast<size_t>(got));
  }
  close(fd);
  Mounts.clear();
  // "id parent major:minor root mountpoint options [tags...] - type source options"
  for (size_t line = 0, end; line < table.size(); line = end + 1) {
    end = table.find('\n', line);
    if (end == std::string::npos) end = table.size();
    unsigned major = 0, minor = 0;
    const size_t dash = table.find(" - ", line);
    if (dash >= end || std::sscanf(table.c_str() + line, "%*u %*u %u:%u", &major, &minor) != 2) continue;
    const size_t typeAt = dash + 3, typeEnd = std::min(table.find(' ', typeAt), end);
    const std::string type = table.substr(typeAt, typeEnd - typeAt);
    bool network = false;
    for (const char* known : kNetworkTypes) network = network || type == known;
    Mounts.push_back({makedev(major, minor), network});
  }
  return true;
}

// A device whose file system cannot be learnt (the table cannot be read)
// counts as another computer's, and nothing is remembered for it: the
// table is read again at the next question.
bool OnNetworkFileSystem(dev_t device) {
  std::lock_guard<std::mutex> hold(MountsLock);
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& [mounted, network] : Mounts)
      if (mounted == device) return network;
    if (pass == 0 && !ReadMounts()) return true;
  }
  // A device the table does not name (a Btrfs subvolume's, say) belongs to
  // a local file system; remembered, so the table is not read again for it.
  Mounts.push_back({device, false});
  return false;
}

// The inode number of the "." entry in the first block a listing read, 0
// when the block does not hold it.
uint64_t DotInode(const Listing* listing) {
  for (size_t at = 0; at < listing->filled;) {
    LinuxDirent64 fixed;
    std::memcpy(&fixed, listing->buffer + at, sizeof fixed);
    const char* name = listing->buffer + at + kDirentNameOffset;
    if (name[0] == '.' && name[1] == '\0') return fixed.d_ino;
    at += fixed.d_reclen;
  }
  return 0;
}

// Wraps the open directory `fd` in a listing and delivers its first entry.
Listing* ListOpenDirectory(int fd, DirEntry& entry) {
  auto* listing = new (std::nothrow) Listing;
  size_t capacity = 0;
  char* buffer = listing ? TakeBuffer(capacity) : nullptr;
  if (buffer == nullptr) {
    delete listing;
    close(fd);
    posix::RecordError(ENOMEM);
    return nullptr;
  }
  listing->fd = fd;
  listing->buffer = buffer;
  listing->capacity = capacity;
  if (!ReadEntry(listing, entry)) {
    const uint32_t code = LastErrorCode();
    ListClose(listing);
    posix::RecordError(static_cast<int>(code));
    return nullptr;
  }
  return listing;
}

// The system-call name of a listing entry.
std::string NativeName(const wchar_t* name) { return posix::Utf8FromWide(name); }

bool Fail(int code) {
  posix::RecordError(code);
  return false;
}

// Where a path of any length is opened: the directory that holds its last
// part and, in `last`, that part. A path the system takes in one call is
// left whole, at the current directory (AT_FDCWD); a longer one, given on
// the command line, is reached piece by piece (each under PATH_MAX, cut at
// a '/'), links followed as one call would follow them. The caller closes
// a descriptor other than AT_FDCWD; -1 on failure (errno).
int PathEnd(const std::string& path, std::string& last) {
  if (path.size() < PATH_MAX) {
    last = path;
    return AT_FDCWD;
  }
  int fd = AT_FDCWD;
  size_t start = 0;
  if (path[0] == '/') {
    fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    start = 1;
  }
  while (path.size() - start >= PATH_MAX) {
    const size_t cut = path.rfind('/', start + PATH_MAX - 1);
    int next = fd, code = ENAMETOOLONG;
    if (cut != std::string::npos && cut >= start) {
      next = cut == start ? fd : openat(fd, path.substr(start, cut - start).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      code = errno;
    } else {
      next = -1;  // one name longer than any the system takes
    }
    if (next != fd && fd != AT_FDCWD) close(fd);
    if (next < 0) {
      errno = code;
      return -1;
    }
    fd = next;
    start = cut + 1;
  }
  last = start < path.size() ? path.substr(start) : ".";
  return fd;
}

void ClosePathEnd(int fd) {
  if (fd != AT_FDCWD) close(fd);
}

}  // namespace

Listing* ListFirst(const std::wstring& pattern, DirEntry& entry) {
  std::string last;
  const int at = PathEnd(posix::NativeListingFolder(pattern), last);
  const int fd = at == -1 ? -1 : openat(at, last.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int code = errno;
  if (at != -1) ClosePathEnd(at);
  errno = code;
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  return ListOpenDirectory(fd, entry);
}

bool ListNext(Listing* listing, DirEntry& entry) { return ReadEntry(listing, entry); }

void ListClose(Listing* listing) {
  if (listing == nullptr) return;
  close(listing->fd);
  if (listing->buffer) GiveBackBuffer(listing->buffer, listing->capacity);
  delete listing;
}

uint32_t FileAttributes(const std::wstring& path) {
  std::string last;
  const int at = PathEnd(posix::NativePath(path), last);
  struct stat st;
  if (at == -1 || fstatat(at, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    posix::RecordError(errno);
    if (at != -1) ClosePathEnd(at);
    return kInvalidAttributes;
  }
  const uint32_t attributes = AttributesOf(st, at, last.c_str());
  ClosePathEnd(at);
  return attributes;
}

bool ListingIdentity(Listing* listing, FileIdentity& identity) {
  struct stat st;
  if (fstat(FdOf(listing), &st) != 0) return Fail(errno);
  return IdentityOf(st, identity);
}

bool LastWriteTimeAt(Listing* parent, const wchar_t* name, const std::wstring&, uint64_t& time, uint64_t* size) {
  struct stat st;
  if (fstatat(FdOf(parent), NativeName(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail(errno);
  time = posix::FileTimeOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  if (size) *size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

bool PathIdentity(const std::wstring& path, FileIdentity& identity) {
  std::string last;
  const int at = PathEnd(posix::NativePath(path), last);
  struct stat st;
  const bool found = at != -1 && fstatat(at, last.c_str(), &st, 0) == 0;
  const int code = errno;
  if (at != -1) ClosePathEnd(at);
  if (!found) return Fail(code);
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  return IdentityOf(st, identity);
}

bool OnPseudoFileSystem(Listing* listing) { return KindOf(listing) & kKindPseudo; }

bool EntersRemoteVolume(Listing* child) {
  // Only a child reached through a mount point or a link may cross; the
  // mount table names the type of the mount its device belongs to.
  // One whose device cannot be had is taken for a remote one.
  dev_t device;
  if (!child->crossing) return false;
  if (!DeviceOf(child, device)) return true;
  return device != child->parentDevice && OnNetworkFileSystem(device);
}

bool IdentityAt(Listing* parent, const wchar_t* name, const std::wstring&, FileIdentity& identity) {
  struct stat st;
  if (fstatat(FdOf(parent), NativeName(name).c_str(), &st, 0) != 0) return Fail(errno);
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  return IdentityOf(st, identity);
}

Listing* ListFirstNoLinksBelow(const std::wstring& base, const std::wstring& below, DirEntry& entry) {
  int fd = openat(AT_FDCWD, posix::NativePath(base).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // One component at a time, never through a link: a link fails with ELOOP.
  const std::string rest = posix::NativePath(below);
  for (size_t start = 0; fd >= 0 && start < rest.size();) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    const std::string component = rest.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    const int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int code = errno;
    // With O_DIRECTORY a link says "not a directory": tell it for a link.
    struct stat st;
    if (next < 0 && code == ENOTDIR && fstatat(fd, component.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
      code = ELOOP;
    close(fd);
    fd = next;
    errno = code;
  }
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  return ListOpenDirectory(fd, entry);
}

Listing* ListChild(Listing* parent, const DirEntry& child, const std::wstring&, DirEntry& entry) {
  // Relative to the parent's descriptor: no path is resolved again, however deep.
  const int fd = openat(FdOf(parent), NativeName(child.name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  Listing* listing = ListOpenDirectory(fd, entry);
  // A directory whose "." is the very inode its parent listed for it was
  // reached through no mount point and no link: it lies on its parent's
  // file system, which need not be asked for again. Anything else is.
  if (listing && child.listedId != 0 && DotInode(listing) == child.listedId) {
    listing->kind.store(KindOf(parent), std::memory_order_release);
  } else if (listing) {
    listing->crossing = true;
    DeviceOf(parent, listing->parentDevice);
  }
  return listing;
}

Listing* ListForRemoval(Listing* parent, const wchar_t* name, const std::wstring&, DirEntry& entry) {
  const int parentFd = FdOf(parent);
  // O_NOFOLLOW: a link standing there, whenever it was put there, is refused
  // by the open itself, and what is opened is the directory that stood there.
  const int fd = openat(parentFd, NativeName(name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  int code = 0;
  dev_t device = 0;
  bool mountRoot = false;
  struct statx extended;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &extended) == 0) {
    device = makedev(extended.stx_dev_major, extended.stx_dev_minor);
    mountRoot =
        (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT);
  } else {
    struct stat opened;
    if (fstat(fd, &opened) == 0) {
      device = opened.st_dev;
    } else {
      code = errno;
    }
  }
  dev_t parentDevice = 0;
  if (code == 0 && !DeviceOf(parent, parentDevice)) code = errno;
  // A mount point, or a bind mount of the same file system: removal never
  // crosses into another file system.
  if (code == 0 && (device != parentDevice || mountRoot)) code = EXDEV;
  if (code != 0) {
    close(fd);
    posix::RecordError(code);
    return nullptr;
  }
  Listing* listing = ListOpenDirectory(fd, entry);
  if (listing) {
    // Its subdirectories are compared with it in turn.
    listing->device.store(device, std::memory_order_relaxed);
    listing->deviceKnown.store(true, std::memory_order_release);
    // On its parent's device, it is on its parent's file system.
    listing->kind.store(KindOf(parent), std::memory_order_release);
  }
  return listing;
}

uint32_t AttributesAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  const std::string native = NativeName(name);
  struct stat st;
  if (fstatat(FdOf(parent), native.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    posix::RecordError(errno);
    return kInvalidAttributes;
  }
  return AttributesOf(st, FdOf(parent), native.c_str());
}

bool RemoveEmptyDirectoryAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  if (unlinkat(FdOf(parent), NativeName(name).c_str(), AT_REMOVEDIR) == 0) return true;
  // Linux says ENOTEMPTY, POSIX also allows EEXIST: both mean "not empty".
  return Fail(errno == EEXIST ? ENOTEMPTY : errno);
}

bool DeleteFileAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  // unlinkat never follows a link, and refuses a directory.
  if (unlinkat(FdOf(parent), NativeName(name).c_str(), 0) == 0) return true;
  return Fail(errno);
}

bool RemoveLinkAt(Listing* parent, const wchar_t* name, const std::wstring&) {
  const std::string native = NativeName(name);
  struct stat st;
  if (fstatat(FdOf(parent), native.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail(errno);
  // Whatever stands there now is no link: leave it alone.
  if (!S_ISLNK(st.st_mode)) return Fail(EINVAL);
  if (unlinkat(FdOf(parent), native.c_str(), 0) == 0) return true;
  return Fail(errno);
}

}  // namespace plat
