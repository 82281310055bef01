// Fuzzes the work-area name rule: a verdict of stale needs a work-area form.
#include <cwchar>

#include "fuzz/fuzz_support.h"
#include "workarea/workarea.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  if (size == 0) return 0;
  RunFlags = data[0] & 1 ? 0x11 : (data[0] & 2 ? ReportFlag : 0);
  const std::wstring name = WideFrom(data + 1, size - 1);
  if (name.find(L'\0') != std::wstring::npos) return 0;
  const int stale = IsStaleWorkArea(name.c_str(), L"C:\\w");
  FUZZ_CHECK(stale == 0 || stale == 1);
  const bool formA = name.size() >= 4 && (name[0] == L'_' || name[0] == L'#') && name[1] == L'T' && name[2] == L'D';
  const bool formB = name.size() >= 9 && name.compare(0, 8, L"KEL_util") == 0;
  if (stale) FUZZ_CHECK(formA || formB);
  if (!formA && !formB) FUZZ_CHECK(fake::Output().empty());
  // No KEL.EXE runs, so a recognised name that is not stale must be another host's.
  if ((formA || formB) && !stale) FUZZ_CHECK(fake::Calls(fake::Call::SnapshotOpen) == 0);
  return 0;
}
