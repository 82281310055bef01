// Fuzzes the command line: arguments separated by NUL bytes.
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FreshMachine();
  std::vector<std::wstring> storage{L"sweepdirs.exe"};
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      storage.push_back(WideFrom(data + start, i - start));
      start = i + 1;
    }
  }
  std::vector<wchar_t*> argv;
  for (auto& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  ActionItem* head = nullptr;
  const uint32_t result = ParseCommandLine(static_cast<int>(storage.size()), argv.data(), head);
  uint32_t items = 0;
  for (ActionItem* item = head; item; item = item->next) {
    ++items;
    FUZZ_CHECK(item->kind <= AllUserLogs);
    FUZZ_CHECK((item->argument == nullptr) == (item->kind == UserLogs || item->kind == AllUserLogs));
  }
  if (result == 0) FUZZ_CHECK(items > 0 && items == ActionCount);
  if (result != 0 && result != 1) FUZZ_CHECK(head == nullptr);
  FUZZ_CHECK(DeleteEnabled == 0 || DeleteEnabled == 1);
  FreeActionList(head);
  ResetCommandLineState();
  FUZZ_CHECK(fake::LiveHeapBlocks() == 0);
  return 0;
}
