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

void TMethodIndex::Sync(const TRTTI* cls) {
  const std::vector<TFunction*>& methods = cls->methods;
  if (cls != cls_ || methods.size() < indexed_) {
    cls_ = cls;
    indexed_ = 0;
    byName_.clear();
  }
  for (; indexed_ < methods.size(); ++indexed_)
    byName_[methods[indexed_]->name].push_back(static_cast<uint32_t>(indexed_));
}

void TMethodIndex::Declare(TRTTI* cls, TFunction* fn) {
  Sync(cls);
  auto it = byName_.find(fn->name);
  if (it == byName_.end()) {
    AddMethod(cls, fn);
    return;
  }
  TFunction* entry = cls->methods[it->second.front()];
  if (Role(entry->kind) == Role(fn->kind)) AddOrOverrideMethod(cls, fn);
  else AddMethod(cls, fn);
}

TFunction* TMethodIndex::Declared(const TRTTI* cls, std::string_view name, FunctionKind kind) {
  SymbolId sym;
  if (!FindSymbol(name, sym)) return nullptr;
  Sync(cls);
  auto it = byName_.find(sym);
  if (it == byName_.end()) return nullptr;
  for (uint32_t i : it->second) {
    TFunction* entry = cls->methods[i];
    if (entry->owner == cls && entry->kind == kind) return entry;
  }
  return nullptr;
}

} // namespace brova
