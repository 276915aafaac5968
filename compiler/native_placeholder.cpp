#include "compiler/native_placeholder.h"

#include "runtime/errors.h"
#include "runtime/translate.h"

namespace brova {

void NativeNotImplemented(TValue*, int32_t, int32_t) {
  throw EScriptError(Translate("native Method is not implemented."));
}

} // namespace brova
