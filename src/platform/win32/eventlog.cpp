// Windows implementation of the platform seam only: the Application event log.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat {

namespace {

// The event source, registered at the first event. Where the installer has
// not registered "sweepdirs", the events still go to the Application log.
HANDLE Source = nullptr;

// The code of the call that just failed; the pending one is put back.
uint32_t Failure(DWORD pending) {
  const DWORD code = GetLastError();
  SetLastError(pending);
  return code != 0 ? code : ERROR_GEN_FAILURE;
}

}  // namespace

uint32_t EventLogWrite(const Event& event) {
  const DWORD pending = GetLastError();
  if (!Source) Source = RegisterEventSourceW(nullptr, L"sweepdirs");
  if (!Source) return Failure(pending);
  // The log renders the event's text from the catalogue in this executable,
  // with these strings for its inserts.
  std::vector<std::wstring> strings;
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& insert : event.inserts) {
    std::wstring text;
    for (wchar_t unit : insert) {
      if (unit == L'\n' && (text.empty() || text.back() != L'\r')) text += L'\r';
      text += unit;
    }
    strings.push_back(std::move(text));
  }
  for (const std::wstring& text : strings) pointers.push_back(text.c_str());
  if (!ReportEventW(Source, event.error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, event.messageId,
                   nullptr, static_cast<WORD>(pointers.size()), 0, pointers.data(), nullptr))
    return Failure(pending);
  SetLastError(pending);
  return 0;
}

void EventLogClose() {
  if (Source) DeregisterEventSource(Source);
  Source = nullptr;
}

}  // namespace plat
