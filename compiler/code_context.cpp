#include "compiler/code_context.h"

#include "runtime/rtti.h"

namespace brova {

void RaiseCmpError(const TContext& context, const std::string& text) {
  std::string name = context.CurrentClass ? context.CurrentClass->name : std::string();
  throw ECmpError(name + ":" + text);
}

} // namespace brova
