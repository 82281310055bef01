// POSIX only: the seam's file system calls (listing, attributes, removal) for Linux.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace plat {

struct Listing {
  DIR* dir = nullptr;
  std::wstring name;  // the current entry's name, reused from entry to entry
};

namespace {

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
  errno = 0;
  const dirent* d = readdir(listing->dir);
  if (d == nullptr) {
    // A null without errno is the end of the listing; FindNextFileW records
    // "no more files" there, ENOENT is the nearest code.
    posix::RecordError(errno != 0 ? errno : ENOENT);
    return false;
  }
  const int dirFd = dirfd(listing->dir);
  uint32_t attributes;
  switch (d->d_type) {
    case DT_DIR:
      attributes = kAttrDirectory;
      break;
    case DT_LNK:
      attributes = LinkAttributes(dirFd, d->d_name);
      break;
    case DT_UNKNOWN: {
      struct stat st;
      attributes = fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                       ? AttributesOf(st, dirFd, d->d_name)
                       : kAttrNormal;
      break;
    }
    default:
      attributes = kAttrNormal;
      break;
  }
  posix::DecodeUtf8(d->d_name, std::strlen(d->d_name), listing->name);
  entry.name = listing->name.c_str();
  entry.nameLength = listing->name.size();
  entry.attributes = attributes;
  return true;
}

}  // namespace

namespace {

// Wraps the open directory `fd` in a listing and delivers its first entry.
Listing* ListOpenDirectory(int fd, DirEntry& entry) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int code = errno;
    close(fd);
    posix::RecordError(code);
    return nullptr;
  }
  auto* listing = new (std::nothrow) Listing;
  if (listing == nullptr) {
    closedir(dir);
    posix::RecordError(ENOMEM);
    return nullptr;
  }
  listing->dir = dir;
  listing->name.reserve(256);
  if (!ReadEntry(listing, entry)) {
    const uint32_t code = LastErrorCode();
    ListClose(listing);
    posix::RecordError(static_cast<int>(code));
    return nullptr;
  }
  return listing;
}

int FdOf(Listing* listing) { return dirfd(listing->dir); }

// The system-call name of a listing entry.
std::string NativeName(const wchar_t* name) { return posix::Utf8FromWide(name); }

bool Fail(int code) {
  posix::RecordError(code);
  return false;
}

}  // namespace

Listing* ListFirst(const std::wstring& pattern, DirEntry& entry) {
  const int fd = open(posix::NativeListingFolder(pattern).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  return ListOpenDirectory(fd, entry);
}

bool ListNext(Listing* listing, DirEntry& entry) { return ReadEntry(listing, entry); }

void ListClose(Listing* listing) {
  if (listing == nullptr) return;
  closedir(listing->dir);
  delete listing;
}

uint32_t FileAttributes(const std::wstring& path) {
  const std::string native = posix::NativePath(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) {
    posix::RecordError(errno);
    return kInvalidAttributes;
  }
  return AttributesOf(st, AT_FDCWD, native.c_str());
}

bool ListingIdentity(Listing* listing, FileIdentity& identity) {
  struct stat st;
  if (fstat(FdOf(listing), &st) != 0) return Fail(errno);
  identity.volume = static_cast<uint64_t>(st.st_dev);
  identity.file = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool IdentityAt(Listing* parent, const wchar_t* name, const std::wstring&, FileIdentity& identity) {
  struct stat st;
  if (fstatat(FdOf(parent), NativeName(name).c_str(), &st, 0) != 0) return Fail(errno);
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  identity.volume = static_cast<uint64_t>(st.st_dev);
  identity.file = static_cast<uint64_t>(st.st_ino);
  return true;
}

Listing* ListChild(Listing* parent, const wchar_t* name, const std::wstring&, DirEntry& entry) {
  // Relative to the parent's descriptor: no path is resolved again, however deep.
  const int fd = openat(FdOf(parent), NativeName(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  return ListOpenDirectory(fd, entry);
}

Listing* ListForRemoval(Listing* parent, const wchar_t* name, const std::wstring&, DirEntry& entry) {
  const int parentFd = FdOf(parent);
  const std::string native = NativeName(name);
  struct stat before;
  if (fstatat(parentFd, native.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  if (S_ISLNK(before.st_mode)) {
    posix::RecordError(ELOOP);
    return nullptr;
  }
  const int fd = openat(parentFd, native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    posix::RecordError(errno);
    return nullptr;
  }
  struct stat opened, parentStat;
  int code = 0;
  if (fstat(fd, &opened) != 0 || fstat(parentFd, &parentStat) != 0) {
    code = errno;
  } else if (opened.st_dev != before.st_dev || opened.st_ino != before.st_ino) {
    code = EAGAIN;  // something else stands there now than what was looked at
  } else if (opened.st_dev != parentStat.st_dev) {
    code = EXDEV;  // a mount point: removal never crosses into another file system
  } else {
    struct statx extended;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &extended) == 0 &&
        (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
        (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT))
      code = EXDEV;  // a bind mount of the same file system
  }
  if (code != 0) {
    close(fd);
    posix::RecordError(code);
    return nullptr;
  }
  return ListOpenDirectory(fd, entry);
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
