// A registry key of the platform's registry, closed on destruction.
#pragma once

#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/UniqueAny.h"

namespace qp {

struct RegKeyTraits {
  using Handle = HKey;
  static constexpr HKey Invalid() noexcept { return 0; }
  static void Close(HKey key) noexcept { IgnoreResult(Platform().Registry().CloseKey(key)); }
};

using ScopedKey = TUniqueAny<RegKeyTraits>;

} // namespace qp
