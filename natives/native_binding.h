// One row of a table of built-in bodies: the script method's name and the body bound to it.
#pragma once
#include <cstddef>

#include "runtime/rtti.h"

namespace brova::natives {

struct TNativeBinding {
  const char* name;
  NativeBody body;
  LeafBody leaf = nullptr;
};

// Argument i (1-based) of a body: the cell i slots below the receiver slot.
inline TValue& Arg(TValue* result, int32_t i) { return result[-i]; }

} // namespace brova::natives
