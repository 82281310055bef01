// Finding the LOGS folders: the current user's, every profile's, the system account's.
#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_state.h"
#include "logs/logs.h"
#include "workarea/workarea.h"

namespace {

bool Exists(const std::wstring& path) { return plat::FileAttributes(path) != plat::kInvalidAttributes; }

}  // namespace

void CleanUserLogs() {
  std::wstring path;
  if (uint32_t code = plat::KnownFolderPath(plat::KnownFolder::RoamingAppData, path)) {
    ReportError(ProgramScope(), code, nullptr);
    return;
  }
  const size_t base = path.size();
  path += L"\\KEL\\LOGS";
  if (!Exists(path)) {
    ReportError(ProgramScope(), MSG_PATH_NOT_FOUND, path.c_str());
    return;
  }
  CleanLogFolder(path, base);
}

uint32_t CleanAllUserLogs() {
  std::wstring profiles;
  if (plat::KnownFolderPath(plat::KnownFolder::UserProfiles, profiles) != 0) return plat::kErrorPathNotFound;
  plat::DirEntry entry;
  plat::Listing* listing = plat::ListFirst(profiles + L"\\*", entry);
  if (!listing) return plat::LastErrorCode();

  std::wstring path = profiles + L'\\';
  const size_t stem = path.size();
  do {
    if (StopRequested()) break;
    if (IsDotEntry(entry.name) || !(entry.attributes & plat::kAttrDirectory)) continue;
    path.resize(stem);
    path.append(entry.name, entry.nameLength);
    const size_t profile = path.size();
    path += L"\\AppData\\Roaming\\KEL\\LOGS";
    if (Exists(path)) CleanLogFolder(path, profile);
  } while (plat::ListNext(listing, entry));

  // The system account's profile comes last, while the profile search is still open.
  std::wstring system;
  if (plat::KnownFolderPath(plat::KnownFolder::SystemProfile, system) != 0) {
    plat::ListClose(listing);
    return plat::kErrorPathNotFound;
  }
  const size_t profile = system.size();
  system += L"\\AppData\\Roaming\\KEL\\LOGS";
  if (!StopRequested() && Exists(system)) CleanLogFolder(system, profile);
  plat::ListClose(listing);
  return 0;
}
