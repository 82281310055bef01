/* winfacts.exe CODE...: prints the system's own text for each error code
   (FormatMessageW, in UTF-8, line ends untouched), each followed by a NUL. */
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    wchar_t* text = NULL;
    char bytes[4096];
    DWORD written = 0, flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    DWORD length = FormatMessageW(flags, NULL, wcstoul(argv[i], NULL, 0), 0, (LPWSTR)&text, 0, NULL);
    int n = length ? WideCharToMultiByte(CP_UTF8, 0, text, (int)length, bytes, sizeof bytes - 1, NULL, NULL) : 0;
    bytes[n] = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, (DWORD)n + 1, &written, NULL);
    LocalFree(text);
  }
  return 0;
}
