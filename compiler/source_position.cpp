#include "compiler/source_position.h"

#include "runtime/code.h"
#include "runtime/rtti.h"

namespace brova {

std::string SourcePositionOf(const TCompiledInfo& code, HeapAddr address) {
  if (!code.owner) return "none";
  int64_t offset = int64_t(address) - int64_t(code.code);
  const TPositionMark* found = nullptr;
  for (const TPositionMark& mark : code.symbols.positions)
    if (mark.offset < offset) found = &mark;
  if (!found) return "none";
  return code.owner->dottedPath() + "," + found->position;
}

} // namespace brova
