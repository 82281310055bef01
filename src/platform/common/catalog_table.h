// The catalogue's texts as a table, for builds without message-table resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

struct CatalogText {
  uint32_t id;
  const wchar_t* text;  // with its stored CR LF line ends
};

extern const CatalogText kCatalogTexts[];
extern const size_t kCatalogTextCount;

// The stored text of catalogue message `id`, or null.
const wchar_t* FindCatalogText(uint32_t id);

}  // namespace plat
