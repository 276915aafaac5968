#include "natives/array_natives.h"

#include <algorithm>
#include <iterator>

#include "runtime/errors.h"
#include "runtime/statistics.h"
#include "runtime/translate.h"
#include "runtime/value_list.h"

namespace brova::natives {
namespace {

// The element calls run once per script call: their handle check stays inline.
inline TList* ListOf(const TValue& v) {
  return v.kind == vtNative ? NativeFromHandleAs<TList>(v.u) : nullptr;
}
inline TList* ListArg(TValue* result) { return ListOf(Arg(result, 1)); }

// Every element is one value cell: both counters move together.
void CountElements(int64_t n) {
  g_live.listElements += n;
  g_live.valueCells += n;
}

[[noreturn, gnu::noinline, gnu::cold]] void FailIndex(int32_t i) {
  throw EScriptError(Translate("List index out of bounds") + " (" + std::to_string(i) + ")");
}

inline int32_t IndexOf(const TValue& v) { return v.kind == vtInt ? v.i : ValueToInt(v); }
inline bool InRange(int32_t i, size_t limit) { return i >= 0 && static_cast<size_t>(i) < limit; }

// The index in `v`, checked against `limit` (the size, or one past it for an insertion).
inline size_t CheckedIndex(const TValue& v, size_t limit) {
  int32_t i = IndexOf(v);
  if (!InRange(i, limit)) FailIndex(i);
  return static_cast<size_t>(i);
}

// The short forms leave a growing list and an index out of range to the bodies.
bool ArrayAddLeaf(TValue&, const TValue* operands, int32_t count) {
  TList* list = count >= 2 ? ListOf(operands[0]) : nullptr;
  if (!list || list->items.size() == list->items.capacity()) return false;
  list->items.push_back(operands[1]);
  AddRef(operands[1]);
  CountElements(1);
  return true;
}

bool ArrayGetLeaf(TValue& result, const TValue* operands, int32_t count) {
  TList* list = count >= 2 ? ListOf(operands[0]) : nullptr;
  if (!list) return false;
  int32_t i = IndexOf(operands[1]);
  if (!InRange(i, list->items.size())) return false;
  result = list->items[static_cast<size_t>(i)];
  return true;
}

bool ArraySetLeaf(TValue&, const TValue* operands, int32_t count) {
  TList* list = count >= 3 ? ListOf(operands[0]) : nullptr;
  if (!list) return false;
  int32_t i = IndexOf(operands[1]);
  if (!InRange(i, list->items.size())) return false;
  TValue& cell = list->items[static_cast<size_t>(i)];
  if (cell.kind == vtObject && ObjectPtr(cell)->refCount <= 0) return false;
  AssignValue(cell, operands[2]);
  return true;
}

void InsertCopy(TList& list, size_t at, const TValue& v) {
  list.items.insert(list.items.begin() + static_cast<ptrdiff_t>(at), v);
  AddRef(v);
  CountElements(1);
}

} // namespace

NativeHandle NewElementList(std::vector<TValue>&& items) {
  auto* list = new TList;
  list->items = std::move(items);
  CountElements(static_cast<int64_t>(list->items.size()));
  return list->Handle();
}

void ArrayInit(TValue* result, int32_t, int32_t) { SetNative(*result, NewElementList({})); }

void ArrayAdd(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TList* list = ListArg(result);
  if (!list) return;
  const TValue& v = Arg(result, 2);
  list->items.push_back(v);
  AddRef(v);
  CountElements(1);
}

void ArrayInsert(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  TList* list = ListArg(result);
  if (!list) return;
  InsertCopy(*list, CheckedIndex(Arg(result, 2), list->items.size() + 1), Arg(result, 3));
}

void ArrayGet(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TList* list = ListArg(result);
  if (!list) return SetNull(*result);
  AssignValue(*result, list->items[CheckedIndex(Arg(result, 2), list->items.size())]);
}

void ArraySet(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  TList* list = ListArg(result);
  if (!list) return;
  AssignValue(list->items[CheckedIndex(Arg(result, 2), list->items.size())], Arg(result, 3));
}

void ArrayDelete(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TList* list = ListArg(result);
  if (!list) return SetNull(*result);
  size_t i = CheckedIndex(Arg(result, 2), list->items.size());
  TValue removed = list->items[i];
  list->items.erase(list->items.begin() + static_cast<ptrdiff_t>(i));
  CountElements(-1);
  AssignValue(*result, removed); // the result's reference first: the cell's never goes below 0
  Release(removed);
}

void ArraySize(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TList* list = ListArg(result);
  if (list) SetFloat(*result, static_cast<float>(list->items.size()));
  else SetNull(*result);
}

namespace {

// The first index whose element matches argument 2, or -1; both index natives share it.
template <class Matches>
void IndexOfMatch(TValue* result, int32_t argc, Matches matches) {
  if (argc < 2) return;
  TList* list = ListArg(result);
  int32_t found = -1;
  if (list) {
    const TValue& v = Arg(result, 2);
    for (size_t i = 0; i < list->items.size(); ++i) {
      if (matches(list->items[i], v)) {
        found = static_cast<int32_t>(i);
        break;
      }
    }
  }
  SetInt(*result, found);
}

} // namespace

void ArrayIndexOf(TValue* result, int32_t argc, int32_t) {
  IndexOfMatch(result, argc,
               [](const TValue& e, const TValue& v) { return CompareValues(e, v) == 0; });
}

void ArrayLightIndexOf(TValue* result, int32_t argc, int32_t) {
  IndexOfMatch(result, argc,
               [](const TValue& e, const TValue& v) { return e.kind == v.kind && e.u == v.u; });
}

void ArrayFree(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TList* list = ListArg(result);
  if (!list) return;
  CountElements(-static_cast<int64_t>(list->items.size()));
  delete list; // gives up the elements' references
}

void ArrayPack(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TList* list = ListArg(result);
  if (!list) return;
  // Objects count as 1, so nothing removed holds a reference.
  auto kept = std::remove_if(list->items.begin(), list->items.end(),
                             [](const TValue& v) { return ValueToInt(v) == 0; });
  CountElements(-static_cast<int64_t>(list->items.end() - kept));
  list->items.erase(kept, list->items.end());
}

const TNativeBinding kArrayNatives[] = {
    {"native_add", ArrayAdd, ArrayAddLeaf}, {"_n_insert", ArrayInsert},
    {"native_init", ArrayInit},     {"native_get", ArrayGet, ArrayGetLeaf},
    {"native_set", ArraySet, ArraySetLeaf}, {"native_size", ArraySize},
    {"native_free", ArrayFree},     {"native_delete", ArrayDelete},
    {"native_indexof", ArrayIndexOf}, {"native_lightindexof", ArrayLightIndexOf},
    {"_n_pack", ArrayPack},
};
const size_t kArrayNativeCount = std::size(kArrayNatives);

} // namespace brova::natives
