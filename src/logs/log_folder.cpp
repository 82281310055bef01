// The scan of one LOGS folder: stale log files by their names.
#include <string_view>

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "logs/logs.h"
#include "workarea/workarea.h"

bool ParseLogName(const wchar_t* name, size_t length, int32_t& ownerId) {
  if (length < 5 || std::wstring_view(name + length - 4, 4) != L".log") return false;
  // The closing dot: the last one at positions length-5 down to 1.
  size_t closing = 0;
  for (size_t i = length - 5; i >= 1 && closing == 0; --i)
    if (name[i] == L'.') closing = i;
  if (closing == 0) return false;
  // The opening dot: the last one before it, again never position 0.
  size_t opening = 0;
  for (size_t i = closing - 1; i >= 1 && opening == 0; --i)
    if (name[i] == L'.') opening = i;
  if (opening == 0) return false;
  const std::wstring idText(name + opening + 1, name + closing);
  // An id field where the number reader finds no digit holds no id: no log of KEL's.
  if (!HoldsId(idText.c_str(), idText.size(), 16)) return false;
  ownerId = ReadProcessId(idText.c_str(), 16);
  return true;
}

void CleanLogFolder(const std::wstring& folder, size_t baseLength) {
  ItemScope& scope = ProgramScope();
  // A link on the way from the profile to LOGS would let whoever owns the
  // profile point the removal at any folder: it is reported, never followed.
  if (baseLength >= folder.size()) baseLength = folder.rfind(L'\\');
  plat::DirEntry entry;
  plat::Listing* listing =
      baseLength == std::wstring::npos
          ? plat::ListFirst(folder + L"\\*", entry)
          : plat::ListFirstNoLinksBelow(folder.substr(0, baseLength), folder.substr(baseLength + 1), entry);
  if (!listing) {
    ReportError(scope, plat::LastErrorCode(), folder.c_str());
    return;
  }
  ProgressFolder(folder);
  std::wstring child = folder + L'\\';
  const size_t stem = child.size();
  do {
    const wchar_t* name = entry.name;
    if (StopRequested()) break;
    int32_t ownerId = 0;
    if (IsDotEntry(name) || !ParseLogName(name, entry.nameLength, ownerId)) continue;
    HoldJudgement(scope);
    if (RunFlags & VerboseFlag) ReportMessage(scope, MSG_FOUND_LOG, folder.c_str(), name, false);
    BeginItem(scope, LogItem, folder, name, ownerId, nullptr, 0);
    const OwnerNow owner = IsOwnerAlive(scope, static_cast<uint32_t>(ownerId));
    const bool alive = owner != OwnerNow::NotRunning;
    if (alive)
      EndItem(scope, owner == OwnerNow::Unknown ? VerdictOwnerUnknown : VerdictRunning, ActionKept, 0, 0);
    else if (RunFlags == ReportFlag)
      ReportMessage(scope, MSG_FOUND_LOG, folder.c_str(), name, true);
    EndJudgement(scope, !alive);
    // A kept log, or one only listed, is settled: nothing more is written of it.
    if (alive || (DeleteEnabled == 0 && !ItemOpen(scope))) {
      SettleOutput(scope);
      continue;
    }
    child.resize(stem);
    child.append(name, entry.nameLength);
    RemoveStaleLog(scope, listing, name, child);
  } while (plat::ListNext(listing, entry));
  plat::ListClose(listing);
}
