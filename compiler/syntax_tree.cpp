#include "compiler/syntax_tree.h"

#include "runtime/errors.h"
#include "runtime/translate.h"

namespace brova {

int TResList::Generate(TContext&) { throw EScriptError(Translate("not generated")); }

TResultList* TResList::MakeNode(TNodeArena& arena, std::span<const TResItem> items) const {
  return Place<TResList>(arena, items);
}

} // namespace brova
