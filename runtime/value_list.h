// The native element list behind an Array's `_x` field.
#pragma once
#include <vector>

#include "runtime/native_object.h"
#include "runtime/value.h"

namespace brova {

class TList final : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::List;
  TList() : TNativeObject(kKind) {}
  // Each element keeps a counted reference; the list gives them up when it goes.
  ~TList() override {
    for (TValue& v : items)
      if (v.kind == vtObject && ObjectPtr(v)->refCount > 0) --ObjectPtr(v)->refCount;
  }
  const char* NativeClassName() const override { return "TList"; }

  std::vector<TValue> items;
};

} // namespace brova
