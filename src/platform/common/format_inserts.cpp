// Catalogue lookup and %1 ... %99 / %0 expansion for the POSIX build and the fake.
#include "platform/common/format_inserts.h"

#include "platform/common/catalog_table.h"

namespace plat {

const wchar_t* FindCatalogText(uint32_t id) {
  for (size_t i = 0; i < kCatalogTextCount; ++i)
    if (kCatalogTexts[i].id == id) return kCatalogTexts[i].text;
  return nullptr;
}

std::wstring ExpandInsertList(const wchar_t* text, const std::vector<std::wstring>& inserts) {
  std::wstring out;
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'%' && p[1] >= L'1' && p[1] <= L'9') {
      size_t number = static_cast<size_t>(*++p - L'0');
      if (p[1] >= L'0' && p[1] <= L'9') number = number * 10 + static_cast<size_t>(*++p - L'0');
      if (number <= inserts.size()) out += inserts[number - 1];
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

std::wstring ExpandInserts(const wchar_t* text, const wchar_t* insert1, const wchar_t* insert2) {
  return ExpandInsertList(text, {insert1 ? insert1 : L"", insert2 ? insert2 : L""});
}

}  // namespace plat
