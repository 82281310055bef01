// Parsing the command line into the ordered action list.
#include "driver/command_line.h"

#include <cwchar>

#include "common/catalog.h"
#include "common/report_lines.h"
#include "common/run_report.h"
#include "platform/platform.h"
#include "workarea/workarea.h"

uint32_t ActionCount = 0;
ActionItem* LastActionItem = nullptr;
const wchar_t InvalidPathCharacters[8] = L"/*?\"<>|";

namespace {

// The code for a failure the platform may not have given a code for.
uint32_t FailureCode() {
  uint32_t code = plat::LastErrorCode();
  return code != 0 ? code : plat::kErrorNotEnoughMemory;
}

uint32_t AppendItem(ActionItem*& head, ActionKind kind, wchar_t* argument) {
  auto* item = static_cast<ActionItem*>(plat::HeapAllocate(sizeof(ActionItem)));
  if (!item) return FailureCode();
  item->next = nullptr;
  item->kind = kind;
  item->argument = argument;
  item->separator = argument && plat::IsNativeFormPath(argument) ? L'/' : L'\\';
  if (head == nullptr)
    head = item;
  else
    LastActionItem->next = item;
  LastActionItem = item;
  ++ActionCount;
  return 0;
}

uint32_t Refuse(ActionItem*& head, uint32_t id, const wchar_t* argument) {
  ReportError(ProgramScope(), id, argument);
  FreeActionList(head);
  ClearChosenExclusions();
  return id;
}

// A path in the system's own form may hold any character; a Windows-form
// one none of InvalidPathCharacters.
bool HoldsInvalidPathCharacter(const wchar_t* argument) {
  return !plat::IsNativeFormPath(argument) && std::wcspbrk(argument, InvalidPathCharacters) != nullptr;
}

bool IsThreadsOption(const wchar_t* argument) {
  return (argument[1] & ~0x20) == L'M' && (argument[2] & ~0x20) == L'T' && argument[3] == L':';
}

// The n of /MT:n: one or two decimal digits, 1 to 64; 0 when it is none.
uint32_t ThreadCount(const wchar_t* digits) {
  uint32_t value = 0;
  size_t count = 0;
  for (; digits[count] >= L'0' && digits[count] <= L'9' && count < 3; ++count)
    value = value * 10 + static_cast<uint32_t>(digits[count] - L'0');
  if (count == 0 || count > 2 || digits[count] != L'\0' || value < 1 || value > 64) return 0;
  return value;
}

// "/MINAGE" in any letter case, alone or followed by ":".
bool IsMinimumAgeOption(const wchar_t* argument) {
  static const wchar_t kName[] = L"MINAGE";
  for (size_t i = 0; i < 6; ++i)
    if ((argument[i + 1] & ~0x20) != kName[i]) return false;
  return argument[7] == L'\0' || argument[7] == L':';
}

bool IsExistingDate(uint32_t date) {
  static const uint32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const uint32_t year = date / 10000, month = date / 100 % 100, day = date % 100;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return year >= 1900 && month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1] + (month == 2 && leap);
}

// Sets YoungSince from the text after "/MINAGE": ":n" with n days under
// 1900 before now, or from 1900 on the local date YYYYMMDD, not after
// today. 0, MSG_INVALID_MIN_AGE, or the platform's failure code.
uint32_t ReadMinimumAge(const wchar_t* text) {
  if (*text++ != L':') return MSG_INVALID_MIN_AGE;
  uint32_t value = 0;
  size_t count = 0;
  for (; text[count] >= L'0' && text[count] <= L'9'; ++count) {
    if (count == 8) return MSG_INVALID_MIN_AGE;
    value = value * 10 + static_cast<uint32_t>(text[count] - L'0');
  }
  if (count == 0 || text[count] != L'\0') return MSG_INVALID_MIN_AGE;
  uint64_t now = 0, since = 0;
  uint32_t today = 0;
  if (!plat::CurrentTime(now, today)) return FailureCode();
  if (value < 1900) {
    // Young: written less than n days before now.
    YoungSince = now - value * plat::kFileTimePerDay + 1;
    return 0;
  }
  if (!IsExistingDate(value) || value > today) return MSG_INVALID_MIN_AGE;
  if (!plat::LocalDateStart(value, since)) return FailureCode();
  YoungSince = since;
  return 0;
}

// True when `argument` is one of the program's options, well formed or not
// (/MT:0 and /MINAGE:x are options with a bad value).
bool IsProgramOption(const wchar_t* argument) {
  static const wchar_t* const kNames[] = {L"/?",       L"/D",       L"/V",        L"/XD",   L"/ALLLOGS", L"/USERLOG",
                                          L"/SUMMARY", L"/VERBOSE", L"/EVENTLOG", L"/JSON", L"/LIST",    L"/VERSION"};
  for (const wchar_t* name : kNames)
    if (IsOptionNamed(argument, name)) return true;
  return IsThreadsOption(argument) || IsMinimumAgeOption(argument);
}

// True when an argument that begins with '/' names a path in the system's
// own form (POSIX only): it is no option of the program, and it either
// holds a second '/' ("/srv/cache", "/tmp/nothere") or names something that
// exists ("/srv", "/"). A mistyped option ("/bogus", "/lsit") names nothing
// at the root and stays a mistyped option.
bool IsNativeRootedPath(const wchar_t* argument) {
  if (!plat::PosixCommandLine() || IsProgramOption(argument)) return false;
  return std::wcschr(argument + 1, L'/') != nullptr || plat::FileAttributes(argument) != plat::kInvalidAttributes;
}

// True for the arguments a place option (/d, /v, /XD) takes as its places.
bool IsPlace(const wchar_t* argument) { return argument[0] != L'/' || IsNativeRootedPath(argument); }

}  // namespace

bool IsOptionNamed(const wchar_t* argument, const wchar_t* name) {
  for (; *name; ++argument, ++name) {
    const wchar_t c = *argument >= L'a' && *argument <= L'z' ? static_cast<wchar_t>(*argument - 0x20) : *argument;
    if (c != *name) return false;
  }
  return *argument == L'\0';
}

void FreeActionList(ActionItem*& head) {
  while (head) {
    ActionItem* next = head->next;
    plat::HeapRelease(head);
    head = next;
  }
  LastActionItem = nullptr;
}

void ResetCommandLineState() {
  RunFlags = 0;
  DeleteEnabled = 1;
  WalkThreads = 0;
  YoungSince = 0;
  FreeTimeText();
  ActionCount = 0;
  LastActionItem = nullptr;
}

uint32_t ParseCommandLine(int argc, wchar_t** argv, ActionItem*& head, bool& answered) {
  answered = false;
  int index = 1;
  while (index < argc) {
    wchar_t* argument = argv[index];
    const size_t length = std::wcslen(argument);

    if (length == 2 && argument[0] == L'/' && argument[1] == L'?') {
      PrintUsage();
      return 1;
    }
    // What a POSIX user types first. Asked for and answered: status 0.
    const bool posix = plat::PosixCommandLine();
    const bool help = posix && (std::wcscmp(argument, L"--help") == 0 || std::wcscmp(argument, L"-h") == 0);
    if (help || (posix && std::wcscmp(argument, L"--version") == 0) || IsOptionNamed(argument, L"/VERSION")) {
      if (help)
        PrintUsage();
      else
        PrintVersion();
      FreeActionList(head);
      ClearChosenExclusions();
      answered = true;
      return 0;
    }
    if (argument[0] != L'/') return Refuse(head, MSG_INVALID_PARAMETER, argument);

    if (IsThreadsOption(argument)) {
      WalkThreads = ThreadCount(argument + 4);
      if (WalkThreads == 0) return Refuse(head, MSG_INVALID_THREADS, argument);
      ++index;
      continue;
    }

    if (IsMinimumAgeOption(argument)) {
      if (uint32_t code = ReadMinimumAge(argument + 7)) {
        if (code > kCatalogIdBound) return Refuse(head, code, argument);
        FreeActionList(head);
        return code;
      }
      ++index;
      continue;
    }

    if (length == 2) {
      const wchar_t option = static_cast<wchar_t>(argument[1] & ~0x20);
      if (option != L'D' && option != L'V') return Refuse(head, MSG_INVALID_PARAMETER, argument);
      const ActionKind kind = option == L'D' ? DirectoryTarget : VolumeTarget;
      const uint32_t nothingCollected = option == L'D' ? MSG_NO_DIRECTORY : MSG_NO_VOLUME;
      ++index;
      const int first = index;
      while (index < argc && IsPlace(argv[index])) {
        if (HoldsInvalidPathCharacter(argv[index]))
          return Refuse(head, MSG_INVALID_PARAMETER, argv[index]);
        if (uint32_t code = AppendItem(head, kind, argv[index])) {
          FreeActionList(head);
          return code;
        }
        ++index;
      }
      if (index == first) return Refuse(head, nothingCollected, nullptr);
      continue;
    }

    if (length == 3 && (argument[1] & ~0x20) == L'X' && (argument[2] & ~0x20) == L'D') {
      ++index;
      const int first = index;
      while (index < argc && IsPlace(argv[index])) {
        if (HoldsInvalidPathCharacter(argv[index]))
          return Refuse(head, MSG_INVALID_PARAMETER, argv[index]);
        ChosenExclusionPaths.push_back(argv[index]);
        ++index;
      }
      if (index == first) return Refuse(head, MSG_NO_EXCLUDED_FOLDER, nullptr);
      continue;
    }

    if (length == 8) {
      UpperCaseAscii(argument);
      ActionKind kind;
      if (std::wcsncmp(argument, L"/ALLLOGS", 8) == 0) {
        kind = AllUserLogs;
      } else if (std::wcsncmp(argument, L"/USERLOG", 8) == 0) {
        kind = UserLogs;
      } else if (std::wcsncmp(argument, L"/SUMMARY", 8) == 0) {
        OutputFlags |= SummaryFlag;
        ++index;
        continue;
      } else if (std::wcsncmp(argument, L"/VERBOSE", 8) == 0) {
        RunFlags |= ReportFlag | VerboseFlag;
        if (uint32_t code = FormatTimeText()) {
          FreeActionList(head);
          return code;
        }
        ReportMessage(ProgramScope(), MSG_STARTED_AT, TimeText, nullptr, false);
        ++index;
        continue;
      } else {
        return Refuse(head, MSG_INVALID_PARAMETER, argument);
      }
      if (uint32_t code = AppendItem(head, kind, nullptr)) {
        FreeActionList(head);
        return code;
      }
      ++index;
      continue;
    }

    if (IsOptionNamed(argument, L"/EVENTLOG")) {
      OutputFlags |= EventLogFlag;
      ++index;
      continue;
    }

    if (length == 5) {
      UpperCaseAscii(argument);
      if (std::wcsncmp(argument, L"/JSON", 5) == 0) {
        OutputFlags |= JsonFlag;
        ++index;
        continue;
      }
      if (std::wcsncmp(argument, L"/LIST", 5) != 0) return Refuse(head, MSG_INVALID_PARAMETER, argument);
      RunFlags |= ReportFlag;
      DeleteEnabled = 0;
      ++index;
      continue;
    }

    return Refuse(head, MSG_INVALID_PARAMETER, argument);
  }

  if (ActionCount == 0) return Refuse(head, MSG_ONLY_LIST_OR_VERBOSE, nullptr);
  return 0;
}
