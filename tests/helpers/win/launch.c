/* launch.exe PROGRAM [ARGUMENTS...]: runs PROGRAM with the rest of this
   program's command line passed on untouched, on this program's standard
   handles, waits for it, and then writes a NUL byte and PROGRAM's whole
   32-bit exit code in decimal to standard output. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

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
  PROCESS_INFORMATION process;
  DWORD code = 0;
  if (!commandLine || !CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
    return 2;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &code)) return 3;
  char text[16];
  DWORD length = (DWORD)snprintf(text, sizeof text, "%c%lu", 0, code), written = 0;
  return WriteFile(startup.hStdOutput, text, length, &written, NULL) && written == length ? 0 : 4;
}
