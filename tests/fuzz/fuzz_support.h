// Shared by the fuzz targets: bytes to wide text, and a fresh fake machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/catalog.h"
#include "driver/command_line.h"
#include "driver/driver.h"
#include "fake/fake_platform.h"

// Every byte becomes one character; 0xFF selects a wide character from the
// next two bytes, so that names beyond Latin-1 are reached too.
inline std::wstring WideFrom(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      text += static_cast<wchar_t>(data[i + 1] << 8 | data[i + 2]);
      i += 2;
    } else {
      text += static_cast<wchar_t>(data[i]);
    }
  }
  return text;
}

inline void FreshMachine() {
  ResetCommandLineState();
  fake::Reset();
  LoadErrorPrefix();
  std::wcscpy(HostName, L"PC01");
}

#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) __builtin_trap(); \
  } while (0)
