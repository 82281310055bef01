/* winfacts.exe FACT...  where FACT is "host", "message CODE" (CODE decimal
   or 0x-hex) or "folder N" (N: 0 Windows, 1 RoamingAppData, 2 UserProfiles,
   3 System). Prints each fact as the platform gives it, in UTF-8, each one
   followed by a NUL byte: the computer name from GetComputerNameW, the
   system's own text for CODE from FormatMessageW with its line ends
   untouched, the known folder's path from SHGetKnownFolderPath; an empty
   record when there is none. */
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

static void Put(const wchar_t* text, DWORD length) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  char bytes[8192];
  int n = length ? WideCharToMultiByte(CP_UTF8, 0, text, (int)length, bytes, sizeof bytes - 1, NULL, NULL) : 0;
  bytes[n] = 0;
  WriteFile(out, bytes, (DWORD)n + 1, &written, NULL);
}

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"host") == 0) {
      wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
      DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
      if (!GetComputerNameW(name, &length)) length = 0;
      Put(name, length);
    } else if (wcscmp(argv[i], L"message") == 0 && i + 1 < argc) {
      DWORD code = wcstoul(argv[++i], NULL, 0);
      DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
      wchar_t* text = NULL;
      DWORD length = FormatMessageW(flags, NULL, code, 0x0400, (LPWSTR)&text, 0, NULL);
      if (!length) length = FormatMessageW(flags, NULL, code, 0, (LPWSTR)&text, 0, NULL);
      Put(length ? text : L"", length);
      if (length) LocalFree(text);
    } else if (wcscmp(argv[i], L"folder") == 0 && i + 1 < argc) {
      static const KNOWNFOLDERID* const kFolders[] = {&FOLDERID_Windows, &FOLDERID_RoamingAppData,
                                                      &FOLDERID_UserProfiles, &FOLDERID_System};
      unsigned long which = wcstoul(argv[++i], NULL, 10);
      PWSTR path = NULL;
      if (which < 4 && SUCCEEDED(SHGetKnownFolderPath(kFolders[which], 0, NULL, &path)))
        Put(path, (DWORD)wcslen(path));
      else
        Put(L"", 0);
      CoTaskMemFree(path);
    } else {
      return 2;
    }
  }
  return 0;
}
