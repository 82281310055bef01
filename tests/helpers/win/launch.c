/* launch.exe PROGRAM [ARGUMENTS...]: runs PROGRAM with the rest of this
   program's command line passed on untouched, on this program's standard
   handles, waits for it, and then writes a NUL byte and PROGRAM's whole
   32-bit exit code in decimal to standard output. With SWEEPDIRS_TEST_CTRL_C=DIR
   set, once PROGRAM has taken an entry of DIR away, Ctrl+C goes to the console. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

static BOOL WINAPI Ignore(DWORD event) { return event == CTRL_C_EVENT; }

/* The entries of `folder`, "." and ".." included. */
static int Entries(const wchar_t* folder) {
  wchar_t pattern[MAX_PATH];
  WIN32_FIND_DATAW found;
  int count = 0;
  swprintf(pattern, MAX_PATH, L"%ls\\*", folder);
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do ++count; while (FindNextFileW(find, &found));
  FindClose(find);
  return count;
}

int wmain(void) {
  const wchar_t* p = GetCommandLineW();
  /* The program-name token has no escapes: a quoted run or text up to a blank. */
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {}
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  wchar_t* commandLine = _wcsdup(p); /* CreateProcessW may write into it */
  STARTUPINFOW startup = {0};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  for (int i = 0; i < 3; ++i)
    SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE - i), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const wchar_t* stopIn = _wgetenv(L"SWEEPDIRS_TEST_CTRL_C");
  const int before = stopIn ? Entries(stopIn) : 0;
  PROCESS_INFORMATION process;
  DWORD code = 0;
  if (!commandLine || !CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
    return 2;
  if (stopIn) {
    while (Entries(stopIn) == before && WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {}
    SetConsoleCtrlHandler(Ignore, TRUE);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &code)) return 3;
  char text[16];
  DWORD length = (DWORD)snprintf(text, sizeof text, "%c%lu", 0, code), written = 0;
  return WriteFile(startup.hStdOutput, text, length, &written, NULL) && written == length ? 0 : 4;
}
