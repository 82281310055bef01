// The fake platform: an in-memory file tree, process table, known folders,
// clock and host name, with switches that make any call fail.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum class Call {
  ListFirst,
  ListNext,
  ListChild,
  ListForRemoval,
  FileAttributes,
  AttributesAt,
  RemoveEmptyDirectory,
  DeleteFile,
  RemoveLink,
  Identity,
  SnapshotOpen,
  SnapshotFirst,
  SnapshotNext,
  KnownFolderPath,
  ComputerName,
  TimeOfDayText,
  SocketsStart,
  HeapAllocate,
  CatalogMessage,
  Count
};

// Codes the fake gives where the POSIX layer gives the same errno.
inline constexpr uint32_t kNotADirectory = 20;  // ENOTDIR
inline constexpr uint32_t kIsADirectory = 21;   // EISDIR
inline constexpr uint32_t kInvalid = 22;        // EINVAL
inline constexpr uint32_t kCrossDevice = 18;    // EXDEV
inline constexpr uint32_t kLoop = 40;           // ELOOP
inline constexpr uint32_t kNoTextCode = 0x00ABCDEFu;  // a code without a system text

// Empties everything: no files, no processes, host "pc01", time "10:00:00",
// known folders under C:\Users, no failures, no output; one process runs:
// the program itself.
void Reset();

// ---- the file tree (paths in Windows form; parents are created) ----
void AddDirectory(const std::wstring& path);
void AddFile(const std::wstring& path);
void AddLink(const std::wstring& path, const std::wstring& target);
bool Exists(const std::wstring& path);  // the item itself, links not followed
void Remove(const std::wstring& path);  // takes an item away behind the program's back
// Makes the directory `path` the root of another file system.
void MakeMountPoint(const std::wstring& path);
// Makes `call` fail with `code` whenever it is made on `path`.
void FailOnPath(Call call, const std::wstring& path, uint32_t code);
// The mutating operations in order: "rmdir P", "delete P", "unlink P", "list P".
const std::vector<std::wstring>& Operations();

// ---- processes ----
void AddProcess(uint32_t processId, const std::wstring& image);
void ClearProcesses();  // all but the program itself, id 4242
int ImageNameReads();  // how often an image name was asked for

// ---- places, names, time ----
void SetKnownFolder(plat::KnownFolder folder, const std::wstring& path);
void FailKnownFolder(plat::KnownFolder folder, uint32_t code);
void SetHostName(const std::wstring& name);
// Each time the time is asked for anew, the next text is used (the last one stays).
void SetTimes(const std::vector<std::wstring>& times);
void SetRootExclusions(const std::vector<const wchar_t*>& suffixes);

// ---- fault injection ----
// The `nth` call of `call` from now fails with `code`; with `fromThenOn`
// every call after it fails as well. A code of 0 means "no code recorded".
void FailCall(Call call, uint32_t code, int nth = 1, bool fromThenOn = false);
// Runs `action` right before the next call of `call`.
void BeforeNextCall(Call call, std::function<void()> action);
int Calls(Call call);

// ---- what the program did ----
const std::wstring& Output();
void ClearOutput();
int LiveHeapBlocks();
int SocketsStarted();
int SocketsStopped();
int OpenListings();
int OpenSnapshots();

}  // namespace fake
