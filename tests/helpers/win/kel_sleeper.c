/* A stand-in for a running KEL process: KEL.EXE [SECONDS [PIDFILE]].
   Sleeps SECONDS (absent or 0: until killed); with PIDFILE, first writes its
   process id there as decimal text followed by a line end. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  unsigned long seconds = argc > 1 ? wcstoul(argv[1], NULL, 10) : 0;
  if (argc > 2) {
    /* Written under a temporary name and then renamed, so that a reader
       never sees a partial number. */
    wchar_t partial[MAX_PATH + 8];
    char text[16];
    HANDLE file;
    DWORD written = 0;
    int length = snprintf(text, sizeof text, "%lu\n", GetCurrentProcessId());
    swprintf(partial, MAX_PATH + 8, L"%ls.part", argv[2]);
    file = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 2;
    WriteFile(file, text, (DWORD)length, &written, NULL);
    CloseHandle(file);
    if (!MoveFileExW(partial, argv[2], MOVEFILE_REPLACE_EXISTING)) return 3;
  }
  Sleep(seconds ? (DWORD)(seconds * 1000) : INFINITE);
  return 0;
}
