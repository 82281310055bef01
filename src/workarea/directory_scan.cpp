// The /d scan: the stale work areas directly inside one directory.
#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/workarea.h"

void CleanDirectory(const wchar_t* directory) {
  ItemScope& scope = ProgramScope();
  const std::wstring parent = directory;
  plat::DirEntry entry;
  std::wstring child = EntryStem(parent);
  plat::Listing* listing = plat::ListFirst(child + L'*', entry);
  if (!listing) {
    ReportError(scope, plat::LastErrorCode(), directory);
    return;
  }
  ProgressFolder(parent);
  const size_t stem = child.size();
  do {
    const wchar_t* name = entry.name;
    if (StopRequested()) break;
    if (IsDotEntry(name)) continue;
    if (!(entry.attributes & plat::kAttrDirectory)) continue;
    child.resize(stem);
    child.append(name, entry.nameLength);
    if (!IsStaleWorkAreaAt(scope, listing, name, child, directory)) continue;
    if (DeleteEnabled == 0 && !ItemOpen(scope)) continue;
    RemoveStaleEntry(scope, listing, name, child);
  } while (plat::ListNext(listing, entry));
  plat::ListClose(listing);
}
