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

Listing* ListFirst(const std::wstring& pattern, DirEntry& entry) {
  DIR* dir = opendir(posix::NativeListingFolder(pattern).c_str());
  if (dir == nullptr) {
    posix::RecordError(errno);
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

bool RemoveEmptyDirectory(const std::wstring& path) {
  if (rmdir(posix::NativePath(path).c_str()) == 0) return true;
  // Linux says ENOTEMPTY, POSIX also allows EEXIST: both mean "not empty".
  posix::RecordError(errno == EEXIST ? ENOTEMPTY : errno);
  return false;
}

bool DeleteOneFile(const std::wstring& path) {
  if (unlink(posix::NativePath(path).c_str()) == 0) return true;
  posix::RecordError(errno);
  return false;
}

bool RemoveLinkItself(const std::wstring& path) {
  const std::string native = posix::NativePath(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) {
    posix::RecordError(errno);
    return false;
  }
  if (!S_ISLNK(st.st_mode)) {
    // Whatever stands there now is no link: leave it alone.
    posix::RecordError(EINVAL);
    return false;
  }
  if (unlink(native.c_str()) == 0) return true;
  posix::RecordError(errno);
  return false;
}

bool DirectoryIdentity(const std::wstring& path, FileIdentity& identity) {
  struct stat st;
  if (stat(posix::NativePath(path).c_str(), &st) != 0) {
    posix::RecordError(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    posix::RecordError(ENOTDIR);
    return false;
  }
  identity.volume = static_cast<uint64_t>(st.st_dev);
  identity.file = static_cast<uint64_t>(st.st_ino);
  return true;
}

}  // namespace plat
