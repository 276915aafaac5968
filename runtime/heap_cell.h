// A single value cell in the script heap, for values that code may reference with a
// `vtRef` (global values, class values). Owned by its C++ holder.
#pragma once
#include "runtime/value.h"

namespace brova {

class THeapCell {
public:
  THeapCell() : addr_(heap::Allocate(sizeof(TValue))) {}
  ~THeapCell() { heap::Free(addr_, sizeof(TValue)); }
  THeapCell(const THeapCell&) = delete;
  THeapCell& operator=(const THeapCell&) = delete;

  TValue& value() const { return *HeapPtr<TValue>(addr_); }
  HeapAddr addr() const { return addr_; }

private:
  HeapAddr addr_;
};

} // namespace brova
