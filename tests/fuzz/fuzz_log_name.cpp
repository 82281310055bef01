// Fuzzes the log-name rule against its definition.
#include "fuzz/fuzz_support.h"
#include "logs/logs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring name = WideFrom(data, size);
  int32_t owner = 0;
  const bool candidate = ParseLogName(name.c_str(), name.size(), owner);
  if (!candidate) return 0;
  const size_t n = name.size();
  FUZZ_CHECK(n >= 7 && name.compare(n - 4, 4, L".log") == 0);
  const size_t closing = name.rfind(L'.', n - 5);
  FUZZ_CHECK(closing != std::wstring::npos && closing >= 2);
  const size_t opening = name.rfind(L'.', closing - 1);
  FUZZ_CHECK(opening != std::wstring::npos && opening >= 1);
  return 0;
}
