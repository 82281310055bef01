// The run's switches, the time text and the computer name.
#include "common/run_state.h"

#include <atomic>

#include "platform/platform.h"

uint32_t RunFlags = 0;
uint32_t WalkThreads = 0;
uint64_t YoungSince = 0;
uint32_t DeleteEnabled = 1;
wchar_t* TimeText = nullptr;
int TimeTextLength = 0;
wchar_t HostName[16] = {};
wchar_t ItemSeparator = L'\\';

namespace {

// When StopRequested first saw the stop, plus 1 (0: not yet): set once, by
// whichever thread saw it first (compare-exchange), read by any.
std::atomic<uint64_t> StopSeenAt{0};
// A removal under way may go on this long after the stop; less than the
// five seconds Windows gives a console that is being closed.
constexpr uint64_t kStopGraceMilliseconds = 3000;

// The code for a failure the platform may not have given a code for.
uint32_t FailureCode() {
  uint32_t code = plat::LastErrorCode();
  return code != 0 ? code : plat::kErrorNotEnoughMemory;
}

}  // namespace

std::wstring EntryStem(std::wstring_view path) {
  std::wstring stem(path);
  if (ItemSeparator == L'/')
    while (!stem.empty() && stem.back() == L'/') stem.pop_back();
  stem += ItemSeparator;
  return stem;
}

void UpperCaseAscii(wchar_t* text) {
  for (; *text; ++text)
    if (*text >= L'a' && *text <= L'z') *text = static_cast<wchar_t>(*text - L'a' + L'A');
}

uint32_t FormatTimeText() {
  int length = plat::TimeOfDayText(nullptr, 0);
  if (length <= 0) return FailureCode();
  auto* text = static_cast<wchar_t*>(plat::HeapAllocate(static_cast<size_t>(length) * sizeof(wchar_t)));
  if (!text) return FailureCode();
  if (plat::TimeOfDayText(text, length) <= 0) {
    uint32_t code = FailureCode();
    plat::HeapRelease(text);
    return code;
  }
  FreeTimeText();
  TimeText = text;
  TimeTextLength = length;
  return 0;
}

void FreeTimeText() {
  if (TimeText) plat::HeapRelease(TimeText);
  TimeText = nullptr;
  TimeTextLength = 0;
}

bool StopRequested() {
  if (!plat::StopAsked()) return false;
  uint64_t unseen = 0;
  StopSeenAt.compare_exchange_strong(unseen, plat::MonotonicMilliseconds() + 1);
  return true;
}

bool StopOverdue() {
  if (!StopRequested()) return false;
  return plat::MonotonicMilliseconds() + 1 - StopSeenAt.load() >= kStopGraceMilliseconds;
}
