// Result lists: the nodes of a syntax tree. Each holds, in order, the tokens and the child
// lists that its rule matched. Child lists belong to the tree, tokens to their token list.
//
// The parser places nodes in their tree's arena, and the tree releases them all at once
// (TSyntaxTree): a node of a tree is never destroyed on its own, so node classes hold
// nothing that needs a destructor. Result lists made with new (the prototypes) are deleted
// as usual.
#pragma once
#include <cstdint>
#include <new>
#include <span>

#include "compiler/node_arena.h"
#include "runtime/statistics.h"

namespace brova {

struct TLexElem;

// One item of a result list: a token, or a result list with the low bit set.
using TResItem = std::uintptr_t;

class TResultList {
public:
  TResultList() { ++g_live.syntaxNodes; }
  virtual ~TResultList() { --g_live.syntaxNodes; }
  TResultList(const TResultList&) = delete;
  TResultList& operator=(const TResultList&) = delete;

  int Count() const { return static_cast<int>(count_); }
  bool IsToken(int i) const { return (At(i) & 1u) == 0; }
  // Both throw EScriptError when the index is out of range or the item is of the other kind.
  TResultList* ListAt(int i) const {
    if (static_cast<uint32_t>(i) < count_ && ItemIsList(Items()[i])) return ItemList(Items()[i]);
    NotAList(i);
  }
  const TLexElem* TokenAt(int i) const {
    if (static_cast<uint32_t>(i) < count_ && !ItemIsList(Items()[i]))
      return reinterpret_cast<const TLexElem*>(Items()[i]);
    NotAToken(i);
  }
  // Removes an item. A removed list is freed, and uncounted, with the rest of its tree.
  void Delete(int i);

  // The node of this object's rule for the items, made through its rule's prototype. It is a
  // new node of the prototype's class placed in the arena, or a node that stands for one: a
  // list among the items (a level that adds nothing to its operand), or a node in no tree at
  // all (an empty node may be the prototype itself, which outlives the trees).
  virtual TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const;
  // What MakeNode gives for no items when that is one node in no tree every time, or null.
  virtual const TResultList* EmptyNode() const { return nullptr; }
  // Whether MakeNode gives the list at `operand` for two items whose item at `group` is an
  // empty list.
  virtual bool PassesOperand(int /*operand*/, int /*group*/) const { return false; }
  // Whether the node was placed in a tree's arena (and is counted with the tree).
  bool Placed() const { return placed_; }

  static TResItem ItemOf(const TLexElem* token) { return reinterpret_cast<TResItem>(token); }
  static TResItem ItemOf(const TResultList* list) { return reinterpret_cast<TResItem>(list) | 1u; }
  static bool ItemIsList(TResItem item) { return (item & 1u) != 0; }
  static TResultList* ItemList(TResItem item) {
    return reinterpret_cast<TResultList*>(item & ~static_cast<TResItem>(1));
  }
  // The number of result lists placed in a tree, the node itself included.
  static int64_t CountNodes(const TResultList* node);

protected:
  template <class T> static T* Place(TNodeArena& arena, std::span<const TResItem> items);

private:
  TResItem At(int i) const;
  [[noreturn]] void NotAList(int i) const;
  [[noreturn]] void NotAToken(int i) const;
  // The items follow the node in memory: node classes add no fields, so every node has the
  // size of this class.
  TResItem* Items() const {
    return const_cast<TResItem*>(reinterpret_cast<const TResItem*>(this + 1));
  }

  uint32_t count_ = 0;
  bool placed_ = false;
};

template <class T> T* TResultList::Place(TNodeArena& arena, std::span<const TResItem> items) {
  static_assert(sizeof(T) == sizeof(TResultList), "node classes add no fields");
  static_assert(sizeof(TResultList) % alignof(TResItem) == 0);
  void* memory = arena.Allocate(sizeof(T) + items.size_bytes(), alignof(T));
  T* node = ::new (memory) T();
  TResultList* base = node;
  TResItem* stored = base->Items();
  for (size_t i = 0; i < items.size(); ++i) stored[i] = items[i];
  base->count_ = static_cast<uint32_t>(items.size());
  base->placed_ = true;
  return node;
}

} // namespace brova
