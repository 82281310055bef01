// Recognising work-area directory names and judging whether they are stale.
#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "workarea/walk_rules.h"
#include "workarea/workarea.h"

namespace {

// KEL never writes a work-area name without its id: a name where the
// number reader finds no digit is some other folder (`_TDocs`,
// `KEL_utilities_backup`), and must never read as id 0.
bool IsFormA(const wchar_t* name, size_t length) {
  return length >= 4 && (name[0] == L'_' || name[0] == L'#') && name[1] == L'T' && name[2] == L'D' &&
         HoldsId(name + 3, length - 3, 10);
}

bool IsFormB(const wchar_t* name, size_t length) {
  return length >= 9 && std::wcsncmp(name, L"KEL_util", 8) == 0 && length > 12 &&
         HoldsId(name + 12, std::min<size_t>(length - 12, 8), 16);
}

// Compares a host text taken from a name with this computer's name.
bool HostMatches(ItemScope& scope, std::wstring host) {
  UpperCaseAscii(host.data());
  if (host == HostName) return true;
  if (RunFlags & VerboseFlag) ReportMessage(scope, MSG_HOST_MISMATCH, nullptr, nullptr, false);
  EndItem(scope, VerdictOtherHost, ActionKept, 0, 0);
  return false;
}

}  // namespace

bool LooksLikeWorkArea(const wchar_t* name, size_t length) {
  return length >= 4 && (IsFormA(name, length) || IsFormB(name, length));
}

bool HoldsId(const wchar_t* text, size_t length, int base) {
  // Where the number reader starts: past blanks and one sign.
  size_t at = 0;
  while (at < length && std::iswspace(text[at])) ++at;
  if (at < length && (text[at] == L'+' || text[at] == L'-')) ++at;
  if (at == length) return false;
  const wchar_t c = text[at];
  return (c >= L'0' && c <= L'9') || (base == 16 && ((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')));
}

int32_t ReadProcessId(const wchar_t* text, int base) {
  long value = std::wcstol(text, nullptr, base);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

namespace {

// The owner id of a work-area name of form A (`formA`) or B: form A's
// decimal after "_TD"/"#TD", form B's up to 8 hex digits from position 12.
int32_t OwnerIdOf(const wchar_t* name, size_t length, bool formA) {
  if (formA) return ReadProcessId(name + 3, 10);
  const std::wstring idText = length > 12 ? std::wstring(name + 12, std::min<size_t>(length - 12, 8)) : std::wstring();
  return ReadProcessId(idText.c_str(), 16);
}

int JudgeWorkArea(ItemScope& scope, const wchar_t* name, size_t length, std::wstring_view parentText) {
  const bool formA = IsFormA(name, length);

  // The parent's text is made only when a line names it.
  const bool reporting = RunFlags & ReportFlag;
  const std::wstring parent = reporting ? std::wstring(parentText) : std::wstring();
  if (RunFlags & VerboseFlag) ReportMessage(scope, MSG_FOUND, parent.c_str(), name, false);

  const int32_t processId = OwnerIdOf(name, length, formA);
  if (formA) {
    if (name[length - 1] == L'_') {
      // The host runs from the first "_" at position 3 or later up to the closing "_".
      const wchar_t* open = std::wcschr(name + 3, L'_');
      const wchar_t* hostStart = open + 1;
      const wchar_t* hostEnd = name + length - 1;
      std::wstring host = hostStart <= hostEnd ? std::wstring(hostStart, hostEnd) : std::wstring();
      BeginItem(scope, WorkAreaItem, parentText, name, processId, host.c_str(), host.size());
      if (!HostMatches(scope, host)) return 0;
    } else {
      BeginItem(scope, WorkAreaItem, parentText, name, processId, nullptr, 0);
    }
  } else {
    std::wstring host = length > 21 ? std::wstring(name + 21, name + length) : std::wstring();
    BeginItem(scope, WorkAreaItem, parentText, name, processId, host.c_str(), host.size());
    if (!HostMatches(scope, host)) return 0;
  }

  if (const OwnerNow owner = IsOwnerAlive(scope, static_cast<uint32_t>(processId)); owner != OwnerNow::NotRunning) {
    EndItem(scope, owner == OwnerNow::Unknown ? VerdictOwnerUnknown : VerdictRunning, ActionKept, 0, 0);
    return 0;
  }
  if (RunFlags == ReportFlag) ReportMessage(scope, MSG_FOUND, parent.c_str(), name, true);
  return 1;
}

}  // namespace

bool WorkAreaOwnerId(const wchar_t* name, int32_t& processId) {
  const size_t length = std::wcslen(name);
  if (!LooksLikeWorkArea(name, length)) return false;
  processId = OwnerIdOf(name, length, IsFormA(name, length));
  return true;
}

int IsStaleWorkAreaAt(ItemScope& scope, plat::Listing* listing, const wchar_t* name, const std::wstring& path,
                      std::wstring_view parentText) {
  // Where items are counted, one met twice (through a link) counts once.
  plat::FileIdentity identity;
  if (AccountsItems() && LooksLikeWorkArea(name, std::wcslen(name)) && plat::IdentityAt(listing, name, path, identity))
    IdentifyNextItem(scope, identity);
  return IsStaleWorkArea(scope, name, parentText);
}

int IsStaleWorkArea(ItemScope& scope, const wchar_t* name, std::wstring_view parentText) {
  const size_t length = std::wcslen(name);
  if (!LooksLikeWorkArea(name, length)) return 0;
  HoldJudgement(scope);
  const int stale = JudgeWorkArea(scope, name, length, parentText);
  EndJudgement(scope, stale != 0);
  // A kept item, or one only listed, is settled: nothing more is written of it.
  if (!stale || (DeleteEnabled == 0 && !ItemOpen(scope))) SettleOutput(scope);
  return stale;
}
