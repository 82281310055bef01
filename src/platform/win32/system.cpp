// Windows implementation of the platform seam only: places, names, message texts, heap and output.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>

#include "platform/platform.h"

namespace plat {

namespace {

// Message look-ups ask for the user's default language first; a module whose
// table lacks that language is asked again with the neutral choice, which
// lets the system pick the language the table has.
constexpr DWORD kUserDefaultLanguage = 0x0400;
constexpr DWORD kAnyLanguage = 0;

constexpr DWORD kUseAnsiCodePage = 0x40000000;  // LOCALE_USE_CP_ACP

// Turns every CR LF into "\n".
std::wstring WithNewlines(const wchar_t* text, size_t length) {
  std::wstring out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == L'\r' && i + 1 < length && text[i + 1] == L'\n') continue;
    out += text[i];
  }
  return out;
}

// FormatMessageW into a system-allocated buffer, tried with the user's
// default language and then with any language. Returns the length, 0 when
// there is no such message.
DWORD FormatAllocated(DWORD flags, HMODULE module, DWORD id, va_list* arguments, wchar_t*& buffer) {
  flags |= FORMAT_MESSAGE_ALLOCATE_BUFFER;
  buffer = nullptr;
  DWORD length = FormatMessageW(flags, module, id, kUserDefaultLanguage,
                                reinterpret_cast<LPWSTR>(&buffer), 0, arguments);
  if (length == 0) {
    buffer = nullptr;
    length = FormatMessageW(flags, module, id, kAnyLanguage, reinterpret_cast<LPWSTR>(&buffer), 0,
                            arguments);
  }
  if (length == 0) buffer = nullptr;
  return length;
}

const GUID& FolderId(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::Windows: return FOLDERID_Windows;
    case KnownFolder::RoamingAppData: return FOLDERID_RoamingAppData;
    case KnownFolder::UserProfiles: return FOLDERID_UserProfiles;
    case KnownFolder::System:
    case KnownFolder::SystemProfile: return FOLDERID_System;
  }
  return FOLDERID_System;  // not reached: every folder is named above
}

// ---- standard output ----
//
// Text is gathered as UTF-16 and written in blocks: at once after each line
// on a console, where a reader waits for it, otherwise when the block is
// full, and always at exit. A console gets the UTF-16 itself through
// WriteConsoleW; a file or pipe gets UTF-8, with an unpaired surrogate (a
// file name may hold one) written as its own three-byte sequence so that
// nothing is lost.

constexpr size_t kBlockUnits = 4096;

struct Output {
  bool started;
  bool console;
  HANDLE handle;
  wchar_t last;  // the last unit taken, so that a CR LF is never doubled
  size_t used;
  wchar_t units[kBlockUnits];
  char bytes[kBlockUnits * 3];
};
Output output;  // trivially destructible: still usable while the process exits

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

size_t EncodeUtf8(const wchar_t* units, size_t count, char* bytes) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t value = static_cast<uint16_t>(units[i]);
    if (IsHighSurrogate(units[i]) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<uint16_t>(units[i + 1]) - 0xDC00);
      ++i;
    }
    if (value < 0x80) {
      bytes[n++] = static_cast<char>(value);
    } else if (value < 0x800) {
      bytes[n++] = static_cast<char>(0xC0 | (value >> 6));
      bytes[n++] = static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
      bytes[n++] = static_cast<char>(0xE0 | (value >> 12));
      bytes[n++] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | (value & 0x3F));
    } else {
      bytes[n++] = static_cast<char>(0xF0 | (value >> 18));
      bytes[n++] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      bytes[n++] = static_cast<char>(0x80 | (value & 0x3F));
    }
  }
  return n;
}

void WriteUnits(const wchar_t* units, size_t count) {
  if (output.console) {
    while (count > 0) {
      DWORD written = 0;
      if (!WriteConsoleW(output.handle, units, static_cast<DWORD>(count), &written, nullptr) ||
          written == 0)
        return;
      units += written;
      count -= written;
    }
    return;
  }
  const char* bytes = output.bytes;
  size_t left = EncodeUtf8(units, count, output.bytes);
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(output.handle, bytes, static_cast<DWORD>(left), &written, nullptr) || written == 0)
      return;
    bytes += written;
    left -= written;
  }
}

// Writes the gathered text. Unless `final`, a high surrogate at the end waits
// for its partner, which the next text brings.
void Flush(bool final) {
  size_t count = output.used;
  if (!final && count > 0 && IsHighSurrogate(output.units[count - 1])) --count;
  if (count > 0 && output.handle && output.handle != INVALID_HANDLE_VALUE)
    WriteUnits(output.units, count);
  output.used -= count;
  if (output.used > 0) output.units[0] = output.units[count];
}

void FlushAtExit() { Flush(true); }

void StartOutput() {
  output.started = true;
  output.handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  output.console = output.handle && output.handle != INVALID_HANDLE_VALUE &&
                   GetConsoleMode(output.handle, &mode);
  atexit(FlushAtExit);
}

void Take(wchar_t unit) {
  if (output.used == kBlockUnits) Flush(false);
  output.units[output.used++] = unit;
  output.last = unit;
}

}  // namespace

// ---- places and names ----

uint32_t KnownFolderPath(KnownFolder folder, std::wstring& path) {
  PWSTR found = nullptr;
  HRESULT result = SHGetKnownFolderPath(FolderId(folder), 0, nullptr, &found);
  if (SUCCEEDED(result)) path = found;
  CoTaskMemFree(found);  // owed whether the call succeeded or not
  if (SUCCEEDED(result) && folder == KnownFolder::SystemProfile) path += L"\\config\\systemprofile";
  return SUCCEEDED(result) ? 0 : static_cast<uint32_t>(result);
}

bool PosixCommandLine() { return false; }
bool IsNativeFormPath(std::wstring_view) { return false; }

const wchar_t* const* PlatformRootExclusions() {
  static const wchar_t* const kNone[] = {nullptr};
  return kNone;
}

bool ComputerName(wchar_t* buffer, uint32_t capacity, uint32_t& length) {
  DWORD size = capacity;
  if (!GetComputerNameW(buffer, &size)) return false;
  length = size;
  return true;
}

int TimeOfDayText(wchar_t* buffer, int capacity) {
  return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, kUseAnsiCodePage, nullptr, nullptr, buffer,
                         buffer ? capacity : 0);
}

// ---- message texts ----

bool CatalogMessage(uint32_t id, const wchar_t* insert1, const wchar_t* insert2,
                    std::wstring& text) {
  DWORD_PTR inserts[2] = {reinterpret_cast<DWORD_PTR>(insert1 ? insert1 : L""),
                          reinterpret_cast<DWORD_PTR>(insert2 ? insert2 : L"")};
  wchar_t* buffer = nullptr;
  DWORD length = FormatAllocated(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 GetModuleHandleW(nullptr), id,
                                 reinterpret_cast<va_list*>(inserts), buffer);
  if (length == 0) return false;
  text = WithNewlines(buffer, length);
  LocalFree(buffer);
  return true;
}

bool SystemMessage(uint32_t code, std::wstring& text) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatAllocated(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, nullptr, buffer);
  if (length == 0) return false;
  text = WithNewlines(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  text += L'\n';
  return true;
}

// ---- process services ----

uint32_t SocketsStart() {
  WSADATA data;
  return static_cast<uint32_t>(WSAStartup(0x0202, &data));
}

void SocketsStop() { WSACleanup(); }

void* HeapAllocate(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void HeapRelease(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

void FlushText() {
  if (output.started) Flush(false);
}

uint32_t ExitCodeFor(uint32_t runStatus) { return runStatus; }

namespace {

// The stops asked for, counted by the control handler's thread, read by any.
std::atomic<long> g_stops{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
  // A second stop goes to the default handler, which ends the process at once.
  if (g_stops.fetch_add(1) != 0) return FALSE;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the console, logoff and shutdown end the process as soon as
  // this returns: it waits for the run to end and the process to exit,
  // as long as the system lets it.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void CatchStop() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool StopAsked() { return g_stops.load(std::memory_order_relaxed) != 0; }

std::string NativeBytes(const std::wstring& text) {
  std::string bytes;
  for (wchar_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
  }
  return bytes;
}

namespace {

uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool CurrentTime(uint64_t& now, uint32_t& localDate) {
  FILETIME clock;
  GetSystemTimeAsFileTime(&clock);
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&clock, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
  now = FileTimeValue(clock);
  localDate = local.wYear * 10000u + local.wMonth * 100u + local.wDay;
  return true;
}

bool LocalDateStart(uint32_t date, uint64_t& time) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(date / 10000);
  local.wMonth = static_cast<WORD>(date / 100 % 100);
  local.wDay = static_cast<WORD>(date % 100);
  SYSTEMTIME utc;
  FILETIME start;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &start)) return false;
  time = FileTimeValue(start);
  return true;
}

bool LocalTimestamp(std::wstring& text) {
  SYSTEMTIME local;
  GetLocalTime(&local);
  TIME_ZONE_INFORMATION zone;
  const DWORD which = GetTimeZoneInformation(&zone);
  if (which == TIME_ZONE_ID_INVALID) return false;
  LONG bias = zone.Bias + (which == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                           : which == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                            : 0);
  const wchar_t sign = bias > 0 ? L'-' : L'+';  // the bias is UTC minus local time
  if (bias < 0) bias = -bias;
  wchar_t stamp[40];
  std::swprintf(stamp, 40, L"%04u-%02u-%02uT%02u:%02u:%02u%lc%02ld:%02ld", local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond, sign, bias / 60, bias % 60);
  text = stamp;
  return true;
}

// A console, whatever its mode: every console acts on CR, LF and BS, and
// whether it interprets escape sequences is a mode any program in it may
// switch (Wine's hands every character to the terminal behind it).
bool OutputTerminal() {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// The console's own answer: a redirected handle is no console.
bool ProgressTerminal(uint32_t& columns) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!error || error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) return false;
  CONSOLE_SCREEN_BUFFER_INFO info;
  columns = GetConsoleScreenBufferInfo(error, &info) ? static_cast<uint32_t>(info.srWindow.Right - info.srWindow.Left + 1)
                                                     : 80;
  return true;
}

void WriteProgress(const wchar_t* text, size_t length) {
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

void Pause(uint32_t milliseconds) { Sleep(milliseconds); }

// A console takes UTF-16; a file or pipe gets UTF-8 with CR LF line ends.
void WriteErrorText(const wchar_t* text, size_t length) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0, written = 0;
  if (!error || error == INVALID_HANDLE_VALUE) return;
  if (GetConsoleMode(error, &mode)) {
    WriteConsoleW(error, text, static_cast<DWORD>(length), &written, nullptr);
    return;
  }
  std::wstring units;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) units += L'\r';
    units += text[i];
  }
  std::string bytes(units.size() * 3, '\0');
  bytes.resize(EncodeUtf8(units.data(), units.size(), bytes.data()));
  WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteText(const wchar_t* text, size_t length) {
  DWORD code = GetLastError();  // writing never disturbs a pending error code
  if (!output.started) StartOutput();
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == L'\n' && output.last != L'\r') Take(L'\r');
    Take(text[i]);
  }
  if (output.console && output.last == L'\n') Flush(false);
  SetLastError(code);
}

}  // namespace plat
