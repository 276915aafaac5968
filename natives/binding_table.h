// The start-up binding table: which built-in bodies are bound to which kernel class, in the
// order the boot binds them. A class the kernel lacks binds nothing.
#pragma once
#include <cstddef>
#include <functional>

#include "natives/native_binding.h"

namespace brova::natives {

struct TBindingEntry {
  int row;               // the row of the table the entry belongs to
  const char* classPath; // resolved from the resource root (short names work through aliases)
  const TNativeBinding* natives;
  const size_t* count;
};

extern const TBindingEntry kStartupBindings[];
extern const size_t kStartupBindingCount;

// Binds every entry in order; `findClass` resolves a class path (null: skip the entry).
void BindStartupNatives(const std::function<TRTTI*(const char*)>& findClass);

} // namespace brova::natives
