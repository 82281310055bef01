// Windows implementation of the platform seam only: the Tool Help process snapshot.
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <new>

#include "platform/platform.h"

namespace plat {

struct Snapshot {
  HANDLE handle = INVALID_HANDLE_VALUE;
  PROCESSENTRY32W entry;
};

// The Tool Help picture holds every process; the id asked about is not needed.
Snapshot* SnapshotOpen(uint32_t) {
  Snapshot* snapshot = new (std::nothrow) Snapshot;
  if (!snapshot) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  ZeroMemory(&snapshot->entry, sizeof snapshot->entry);
  snapshot->handle = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot->handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    delete snapshot;
    SetLastError(code);
    return nullptr;
  }
  snapshot->entry.dwSize = sizeof snapshot->entry;
  return snapshot;
}

bool SnapshotFirst(Snapshot* snapshot, uint32_t& processId) {
  if (!Process32FirstW(snapshot->handle, &snapshot->entry)) return false;
  processId = snapshot->entry.th32ProcessID;
  return true;
}

bool SnapshotNext(Snapshot* snapshot, uint32_t& processId) {
  if (!Process32NextW(snapshot->handle, &snapshot->entry)) return false;
  processId = snapshot->entry.th32ProcessID;
  return true;
}

std::wstring SnapshotImageName(Snapshot* snapshot) {
  const wchar_t* name = snapshot->entry.szExeFile;
  return std::wstring(name, wcsnlen(name, MAX_PATH));
}

// The image name is the only name a process goes by here.
bool SnapshotOtherName(Snapshot*, size_t, std::wstring&) { return false; }

void SnapshotClose(Snapshot* snapshot) {
  if (!snapshot) return;
  CloseHandle(snapshot->handle);
  delete snapshot;
}

}  // namespace plat
