/* launch.exe EXITFILE PROGRAM [ARGUMENTS...]
   Runs PROGRAM with the rest of this program's own command line passed on
   untouched, sharing this program's standard handles, waits for it and
   writes its whole 32-bit exit code as decimal text to EXITFILE (a Windows
   path). Its own exit code is 0, or 120 + a step number when it failed. */
#include <windows.h>
#include <stdio.h>

/* Skips the program-name token, which has no escapes: a quoted run or the
   text up to the first blank. */
static const wchar_t* SkipProgramName(const wchar_t* p) {
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  return p;
}

static const wchar_t* SkipBlanks(const wchar_t* p) {
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

/* Reads one argument by the usual rules (backslashes escape quotes only when
   they precede one; quotes toggle blanks into the argument) into `out`. */
static const wchar_t* ReadArgument(const wchar_t* p, wchar_t* out, size_t capacity) {
  size_t n = 0;
  int quoted = 0;
  while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
    size_t slashes = 0;
    while (p[slashes] == L'\\') ++slashes;
    if (p[slashes] == L'"') {
      for (size_t i = 0; i < slashes / 2; ++i)
        if (n + 1 < capacity) out[n++] = L'\\';
      p += slashes;
      if (slashes % 2) {
        if (n + 1 < capacity) out[n++] = L'"';
      } else if (quoted && p[1] == L'"') {
        if (n + 1 < capacity) out[n++] = L'"';
        ++p;
      } else {
        quoted = !quoted;
      }
      ++p;
    } else if (slashes) {
      for (size_t i = 0; i < slashes; ++i)
        if (n + 1 < capacity) out[n++] = L'\\';
      p += slashes;
    } else {
      if (n + 1 < capacity) out[n++] = *p;
      ++p;
    }
  }
  out[n] = 0;
  return p;
}

static void MakeInheritable(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle && handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

int wmain(void) {
  static wchar_t exitFile[32768];
  const wchar_t* p = SkipBlanks(SkipProgramName(GetCommandLineW()));
  p = SkipBlanks(ReadArgument(p, exitFile, sizeof exitFile / sizeof exitFile[0]));
  if (!exitFile[0] || !*p) return 121;

  /* CreateProcessW may write into the command line it is given. */
  size_t length = wcslen(p);
  wchar_t* commandLine = HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t));
  if (!commandLine) return 122;
  memcpy(commandLine, p, (length + 1) * sizeof(wchar_t));

  MakeInheritable(STD_INPUT_HANDLE);
  MakeInheritable(STD_OUTPUT_HANDLE);
  MakeInheritable(STD_ERROR_HANDLE);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
    return 123;
  CloseHandle(process.hThread);

  DWORD exitCode = 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) return 124;
  CloseHandle(process.hProcess);

  char text[16];
  int textLength = snprintf(text, sizeof text, "%lu\n", exitCode);
  HANDLE file = CreateFileW(exitFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 125;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text, (DWORD)textLength, &written, NULL);
  CloseHandle(file);
  return ok && written == (DWORD)textLength ? 0 : 126;
}
