// The choice between the two ways Windows deletes an open item, apart from
// the calls themselves so that the fake platform makes the same choice.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace plat {

// The Windows codes by which a volume refuses a disposition class it does
// not know: ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED, ERROR_INVALID_PARAMETER.
inline bool RefusedAsUnknownClass(uint32_t code) { return code == 1 || code == 50 || code == 87; }

// Deletes through `posixDelete` (the name goes at once, even while other
// programs hold the item open) unless the volume refused that before, as
// `refused` remembers; a refusal as an unknown class is remembered and the
// item deleted through `classicDelete` (it goes once the last handle
// closes). Each returns false on failure, LastErrorCode() telling why.
template <typename PosixDelete, typename ClassicDelete>
bool DeleteEitherWay(std::atomic<bool>& refused, PosixDelete posixDelete, ClassicDelete classicDelete) {
  if (!refused.load(std::memory_order_relaxed)) {
    if (posixDelete()) return true;
    if (!RefusedAsUnknownClass(LastErrorCode())) return false;
    refused.store(true, std::memory_order_relaxed);
  }
  return classicDelete();
}

}  // namespace plat
