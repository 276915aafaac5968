#include "runtime/source_place.h"

#include "runtime/process.h"
#include "runtime/rtti.h"

namespace brova {
namespace {

// Only classes read from a source file: code built any other way has nothing to look up.
std::string PlaceIn(const TRTTI* cls, const std::string& method) {
  if (!cls || cls->src.empty()) return "";
  return " (" + cls->name + (method.empty() ? "" : "." + method) + ")";
}

} // namespace

std::string SourcePlace(const TProcess* p) {
  if (p->fp == kNoAddr || p->stackBase == kNoAddr) return "";
  const TFrame* frame = HeapPtr<TFrame>(p->fp);
  if (TFunction* fn = FunctionById(frame->function))
    return PlaceIn(fn->owner, fn->GetName());
  if (frame->function != 0 || p->thisSlot == kNoAddr) return "";
  const TValue& self = *HeapPtr<TValue>(p->thisSlot);
  const TRTTI* cls = self.kind == vtObject ? ClassById(ObjectPtr(self)->cls) : nullptr;
  return PlaceIn(cls, "");
}

} // namespace brova
