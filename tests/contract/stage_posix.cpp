// Contract staging on the real POSIX layer, in a temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "contract/stage.h"

namespace {

std::string Native(const std::wstring& path) {
  std::string out;
  for (size_t i = path.compare(0, 2, L"C:") == 0 ? 2 : 0; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c == L'\\') {
      out += '/';
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

std::wstring StageRoot() {
  char pattern[] = "/tmp/sweepdirs-contract-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) std::abort();
  std::wstring root = L"C:";
  for (const char* p = made; *p; ++p) root += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return root;
}

void StageDirectory(const std::wstring& path) {
  std::string native = Native(path);
  for (size_t slash = native.find('/', 1); slash != std::string::npos; slash = native.find('/', slash + 1))
    mkdir(native.substr(0, slash).c_str(), 0755);
  mkdir(native.c_str(), 0755);
}

void StageFile(const std::wstring& path) {
  StageDirectory(path.substr(0, path.rfind(L'\\')));
  int fd = open(Native(path).c_str(), O_CREAT | O_WRONLY, 0644);
  if (fd >= 0) close(fd);
}

void StageLink(const std::wstring& path, const std::wstring& target) {
  if (symlink(Native(target).c_str(), Native(path).c_str()) != 0) std::abort();
}

bool StageExists(const std::wstring& path) {
  struct stat st;
  return lstat(Native(path).c_str(), &st) == 0;
}
