// The driver: prepares the run, runs the action items in order, closes it.
#include "driver/driver.h"

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "common/run_state.h"
#include "driver/command_line.h"
#include "logs/logs.h"
#include "platform/platform.h"
#include "workarea/workarea.h"

namespace {

// Runs one item; returns true with `status` set when the item's outcome
// replaces the run status.
bool RunItem(const ActionItem& item, uint32_t& status) {
  // Before the item starts any thread of its own.
  ItemSeparator = item.separator;
  switch (item.kind) {
    case DirectoryTarget:
      CleanDirectory(item.argument);
      return false;
    case VolumeTarget:
      status = RunVolumeTarget(item.argument);
      return true;
    case UserLogs:
      CleanUserLogs();
      return false;
    case AllUserLogs:
      status = CleanAllUserLogs();
      if (status != 0) ReportError(ProgramScope(), status, nullptr);
      return true;
  }
  return false;
}

// /JSON and /EVENTLOG hold for the whole run wherever they stand, so that
// even a refused command line is told in JSON and in the event log.
bool Asks(int argc, wchar_t** argv, const wchar_t* option) {
  for (int i = 1; i < argc; ++i)
    if (IsOptionNamed(argv[i], option)) return true;
  return false;
}

// `answered`: the command line only asked for the usage or the version,
// which is all the run prints besides the time lines.
void CloseRun(uint32_t status, bool ran = false, bool answered = false) {
  if (status == MSG_INTERRUPTED) ReportError(ProgramScope(), status, nullptr);
  if (DeleteEnabled == 0 && status == 0 && !answered)
    ReportMessage(ProgramScope(), MSG_NOTHING_DELETED, nullptr, nullptr, false);
  const bool verbose = RunFlags & VerboseFlag;
  const bool timed = verbose && FormatTimeText() == 0;
  if (verbose && !timed) FreeTimeText();
  // The summary comes after the last line of the run and before the finishing time.
  if (!answered) WriteRunSummary(status, ran);
  if (timed) ReportMessage(ProgramScope(), MSG_FINISHED_AT, TimeText, nullptr, false);
  FreeTimeText();
  ResetRunReport();
}

}  // namespace

uint32_t RunCleanup(int argc, wchar_t** argv) {
  EscapeNames = plat::OutputTerminal();
  LoadErrorPrefix();
  if (Asks(argc, argv, L"/JSON")) OutputFlags |= JsonFlag;
  if (Asks(argc, argv, L"/EVENTLOG")) OutputFlags |= EventLogFlag;
  if (argc < 2) {
    PrintUsage();
    CloseRun(1);
    return 1;
  }

  uint32_t status = plat::SocketsStart();
  if (status != 0) {
    ReportError(ProgramScope(), status, nullptr);
    CloseRun(status);
    return status;
  }

  bool ran = false, answered = false;
  uint32_t length = 0;
  if (!plat::ComputerName(HostName, sizeof HostName / sizeof HostName[0], length)) {
    status = plat::LastErrorCode();
    ReportError(ProgramScope(), status, nullptr);
  } else {
    HostName[length] = L'\0';
    UpperCaseAscii(HostName);

    ActionItem* head = nullptr;
    status = ParseCommandLine(argc, argv, head, answered);
    ran = status == 0 && !answered;
    if (ran) {
      WriteStartEvent();
      ResolveChosenExclusions();
      // After a stop no further item is begun.
      while (head && !StopRequested()) {
        ActionItem* item = head;
        uint32_t outcome = 0;
        if (RunItem(*item, outcome)) status = outcome;
        head = item->next;
        plat::HeapRelease(item);
      }
      LastActionItem = nullptr;
      ItemSeparator = L'\\';
      if (StopRequested()) status = MSG_INTERRUPTED;
    }
    // After "/?" the items made before it are never run, only returned.
    FreeActionList(head);
    ClearChosenExclusions();
  }

  plat::SocketsStop();
  CloseRun(status, ran, answered);
  return status;
}
