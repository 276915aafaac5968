// Calls native bodies the way the interpreter does: receiver and arguments in a block of the
// script heap, argument i at the receiver slot minus i, every cell holding a counted value.
#pragma once
#include <initializer_list>

#include "runtime/rtti.h"
#include "runtime/script_heap.h"
#include "runtime/value.h"

namespace brova::testing {

class TNativeFrame {
public:
  static constexpr int kCells = 8;

  TNativeFrame() : addr_(heap::Allocate(kCells * sizeof(TValue))) {}
  ~TNativeFrame() {
    Clear();
    heap::Free(addr_, kCells * sizeof(TValue));
  }
  TNativeFrame(const TNativeFrame&) = delete;
  TNativeFrame& operator=(const TNativeFrame&) = delete;

  // The call's value, valid until the next call. The arguments are released on return.
  const TValue& Call(NativeBody body, const TValue& receiver, std::initializer_list<TValue> args) {
    Clear();
    TValue* cells = HeapPtr<TValue>(addr_);
    int argc = static_cast<int>(args.size());
    int i = 1;
    for (const TValue& a : args) AssignValue(cells[argc - i++], a);
    AssignValue(cells[argc], receiver);
    used_ = argc + 1;
    body(&cells[argc], argc, 0);
    for (int k = 0; k < argc; ++k) SetNull(cells[k]); // as the interpreter pops them
    return cells[argc];
  }

private:
  void Clear() {
    TValue* cells = HeapPtr<TValue>(addr_);
    for (int i = 0; i < used_; ++i) SetNull(cells[i]);
    used_ = 0;
  }

  HeapAddr addr_;
  int used_ = 0;
};

// An object value that keeps its own reference, so the value outlives the cells it passes
// through.
inline TValue Held(HeapAddr obj) {
  TValue v = ObjectValue(obj);
  AddRef(v);
  return v;
}

} // namespace brova::testing
