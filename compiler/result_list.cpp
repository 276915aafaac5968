#include "compiler/result_list.h"

#include <string>

#include "runtime/errors.h"
#include "runtime/statistics.h"
#include "runtime/translate.h"

namespace brova {

int64_t TResultList::CountNodes(const TResultList* node) {
  if (!node->placed_) return 0;
  int64_t n = 1;
  for (uint32_t i = 0; i < node->count_; ++i)
    if (ItemIsList(node->Items()[i])) n += CountNodes(ItemList(node->Items()[i]));
  return n;
}

TResItem TResultList::At(int i) const {
  if (i < 0 || static_cast<uint32_t>(i) >= count_)
    throw EScriptError(Translate("List index out of bounds (") + std::to_string(i) + ")");
  return Items()[i];
}

void TResultList::NotAList(int i) const {
  At(i);
  throw EScriptError(Translate("Syntax tree item is a token, not a list: ") + std::to_string(i));
}

void TResultList::NotAToken(int i) const {
  At(i);
  throw EScriptError(Translate("Syntax tree item is a list, not a token: ") + std::to_string(i));
}

void TResultList::Delete(int i) {
  At(i);
  TResItem* items = Items();
  for (uint32_t k = static_cast<uint32_t>(i) + 1; k < count_; ++k) items[k - 1] = items[k];
  --count_;
}

TResultList* TResultList::MakeNode(TNodeArena& arena, std::span<const TResItem> items) const {
  return Place<TResultList>(arena, items);
}

} // namespace brova
