// The body a native method has from its declaration until native binding puts the real one in.
#pragma once
#include <cstdint>

#include "runtime/value.h"

namespace brova {

// Raises "native Method is not implemented."; the interpreter turns it into a runtime error.
void NativeNotImplemented(TValue* resultSlot, int32_t argc, int32_t reserved);

} // namespace brova
