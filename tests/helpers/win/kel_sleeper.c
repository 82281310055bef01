/* A stand-in for a running KEL process: prints "<process id> <thread id>"
   and a line end, then sleeps until it is killed. */
#include <windows.h>
#include <stdio.h>

int wmain(void) {
  printf("%lu %lu\n", GetCurrentProcessId(), GetCurrentThreadId());
  fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
