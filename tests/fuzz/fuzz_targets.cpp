// The libFuzzer targets over the fake platform, one per build (FUZZ_<NAME>):
// the whole run's command line, the work-area name rule, the log name rule.
#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "driver/command_line.h"
#include "driver/driver.h"
#include "fake/fake_platform.h"
#include "logs/logs.h"
#include "workarea/workarea.h"

#define CHECK(condition) if (!(condition)) __builtin_trap()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text(data, data + size);  // a byte is a character
  ResetCommandLineState();
  fake::Reset();
#if defined(FUZZ_COMMAND_LINE)
  // NUL separates the arguments. Whatever they are, the run releases all it took.
  fake::Add(L"C:\\a\\_TD1\\f", false);  // a stale work area the first seed names
  std::vector<std::wstring> args{L"sweepdirs.exe", L""};
  for (wchar_t c : text)
    if (c) args.back() += c; else args.emplace_back();
  std::vector<wchar_t*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  RunCleanup(static_cast<int>(argv.size()), argv.data());
  CHECK(!fake::state.heapBlocks && !fake::state.listings && !fake::state.snapshots);
  CHECK(fake::state.socketsStarted == fake::state.socketsStopped);
#elif defined(FUZZ_WORK_AREA_NAME)
  // No KEL.EXE runs: a stale verdict needs a work-area form, a form judged
  // alive another host (never a probe), a name of neither form no output.
  if (text.empty() || text.find(L'\0') != std::wstring::npos) return 0;
  std::wcscpy(HostName, L"PC01");
  RunFlags = text[0] & 1 ? ReportFlag | VerboseFlag : text[0] & 2 ? ReportFlag : 0;
  bool probed = false;
  fake::Fault probe{.call = fake::Call::SnapshotOpen, .fromThenOn = true, .before = [&] { probed = true; }};
  fake::state.faults.push_back({probe, 0});
  const std::wstring name = text.substr(1);
  const int stale = IsStaleWorkArea(ProgramScope(), name.c_str(), L"C:\\w");
  const bool form = (name.size() >= 4 && (name.starts_with(L"_TD") || name.starts_with(L"#TD"))) ||
                    (name.size() >= 9 && name.starts_with(L"KEL_util"));
  CHECK(stale == 0 || (stale == 1 && form));
  CHECK(form ? stale || !probed : fake::state.output.empty());
#else
  // A log name: ".log" after two more dots, neither of them the first
  // character; between the last two, past blanks and a sign, a hexadecimal digit.
  bool rule = text.size() > 4 && text.ends_with(L".log") && std::count(text.begin() + 1, text.end() - 4, L'.') >= 2;
  if (rule) {
    const std::wstring body = text.substr(1, text.size() - 5);
    const size_t closing = body.rfind(L'.'), opening = body.rfind(L'.', closing - 1);
    const std::wstring field = body.substr(opening + 1, closing - opening - 1);
    size_t at = std::min(field.find_first_not_of(L" \t\n\v\f\r"), field.size());
    if (at < field.size() && (field[at] == L'+' || field[at] == L'-')) ++at;
    rule = at < field.size() && std::iswxdigit(field[at]);
  }
  int32_t owner = 0;
  CHECK(ParseLogName(text.c_str(), text.size(), owner) == rule);
#endif
  return 0;
}
