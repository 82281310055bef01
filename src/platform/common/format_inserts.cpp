// Catalogue lookup and %1 / %2 / %0 expansion for the POSIX build and the fake.
#include "platform/common/format_inserts.h"

#include "platform/common/catalog_table.h"

namespace plat {

const wchar_t* FindCatalogText(uint32_t id) {
  for (size_t i = 0; i < kCatalogTextCount; ++i)
    if (kCatalogTexts[i].id == id) return kCatalogTexts[i].text;
  return nullptr;
}

std::wstring ExpandInserts(const wchar_t* text, const wchar_t* insert1, const wchar_t* insert2) {
  std::wstring out;
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'%' && (p[1] == L'1' || p[1] == L'2')) {
      const wchar_t* insert = p[1] == L'1' ? insert1 : insert2;
      if (insert) out += insert;
      ++p;
    } else if (p[0] == L'%' && p[1] == L'0') {
      break;
    } else if (p[0] == L'\r' && p[1] == L'\n') {
      // The stored CR LF becomes the one line end the output layer knows.
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace plat
