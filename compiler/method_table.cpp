#include "compiler/method_table.h"

#include "runtime/rtti.h"

namespace brova {
namespace {

FunctionKind Role(FunctionKind k) { return k == FunctionKind::Native ? FunctionKind::Normal : k; }

} // namespace

void DeclareMethod(TRTTI* cls, TFunction* fn) {
  for (TFunction* entry : cls->methods) {
    if (entry->name != fn->name) continue;
    if (Role(entry->kind) == Role(fn->kind)) AddOrOverrideMethod(cls, fn);
    else AddMethod(cls, fn);
    return;
  }
  AddMethod(cls, fn);
}

TFunction* DeclaredMethod(const TRTTI* cls, std::string_view name, FunctionKind kind) {
  SymbolId sym;
  if (!FindSymbol(name, sym)) return nullptr;
  for (TFunction* entry : cls->methods)
    if (entry->name == sym && entry->owner == cls && entry->kind == kind) return entry;
  return nullptr;
}

} // namespace brova
