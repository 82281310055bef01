// Is the owner process of a leftover still running?
#include <cwchar>

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_state.h"
#include "workarea/workarea.h"

namespace {

constexpr wchar_t kOwnerImagePrefix[] = L"KEL.EXE";
constexpr size_t kOwnerImagePrefixLength = 7;

// The processes could not be looked at: the owner's state is unknown, so
// the item must stay. Any open trace line is closed before the error line.
OwnerNow ProbeFailed(ItemScope& scope, uint32_t code) {
  if (RunFlags & VerboseFlag) ReportLineEnd(scope);
  ReportError(scope, code, nullptr);
  return OwnerNow::Unknown;
}

bool IsOwnerImage(std::wstring& image) {
  UpperCaseAscii(image.data());
  return image.size() >= kOwnerImagePrefixLength &&
         std::wcsncmp(image.c_str(), kOwnerImagePrefix, kOwnerImagePrefixLength) == 0;
}


// Looks through `snapshot` for process `processId` running as KEL.EXE:
// Running, NotRunning, or Unknown with the code that says why. Prints
// nothing and touches no shared state: any thread may look.
OwnerNow FindOwner(plat::Snapshot* snapshot, uint32_t processId, uint32_t& code) {
  uint32_t id = 0;
  if (!plat::SnapshotFirst(snapshot, id)) {
    code = plat::LastErrorCode();
    return OwnerNow::Unknown;
  }
  bool found = false;
  do {
    if (id != processId) continue;
    // Any name it goes by counts: which of them can be read depends on
    // who asks, and a verdict of "not running" must not.
    std::wstring image = plat::SnapshotImageName(snapshot);
    // A process whose program cannot be told by any of its names may be KEL.EXE.
    bool told = !image.empty();
    found = told && IsOwnerImage(image);
    for (size_t i = 0; !found && plat::SnapshotOtherName(snapshot, i, image); ++i) {
      told = told || !image.empty();
      found = IsOwnerImage(image);
    }
    if (!told) {
      code = MSG_OWNER_IMAGE_UNKNOWN;
      return OwnerNow::Unknown;
    }
  } while (!found && plat::SnapshotNext(snapshot, id));
  // A picture that broke off before its end may have hidden the owner.
  if (!found && plat::LastErrorCode() != plat::kErrorNoMoreProcesses) {
    code = plat::LastErrorCode();
    return OwnerNow::Unknown;
  }
  return found ? OwnerNow::Running : OwnerNow::NotRunning;
}

}  // namespace

OwnerNow IsOwnerAlive(ItemScope& scope, uint32_t processId) {
  plat::Snapshot* snapshot = plat::SnapshotOpen(processId);
  if (!snapshot && plat::IsShortage(plat::LastErrorCode()) && scope.relief && scope.relief->Relieve())
    snapshot = plat::SnapshotOpen(processId);
  if (!snapshot) return ProbeFailed(scope, plat::LastErrorCode());
  uint32_t code = 0;
  const OwnerNow owner = FindOwner(snapshot, processId, code);
  plat::SnapshotClose(snapshot);
  if (owner == OwnerNow::Unknown) return ProbeFailed(scope, code);

  const bool found = owner == OwnerNow::Running;
  // Under /MINAGE an owner that is not running leaves the verdict to the
  // item's age, which the removal reads.
  if ((RunFlags & VerboseFlag) && (found || YoungSince == 0))
    ReportMessage(scope, found ? MSG_PROCESS_ACTIVE : MSG_PROCESS_NOT_ACTIVE, nullptr, nullptr, false);
  return owner;
}

OwnerNow OwnerRunsNow(uint32_t processId, uint32_t& code) {
  plat::Snapshot* snapshot = plat::SnapshotOpen(processId);
  if (!snapshot) {
    code = plat::LastErrorCode();
    return OwnerNow::Unknown;
  }
  const OwnerNow owner = FindOwner(snapshot, processId, code);
  plat::SnapshotClose(snapshot);
  return owner;
}
