#include "resources/resource.h"

namespace brova {

TResource::TResource() : TNativeObject(kKind) { ClearValue(wrapper()); }

TResource::~TResource() = default;

void TResource::releaseObjects() {
  TValue& w = wrapper();
  if (w.kind == vtObject || w.kind == vtNative) ClearValue(w);
}

} // namespace brova
