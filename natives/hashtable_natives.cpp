#include "natives/hashtable_natives.h"

#include <iterator>
#include <memory>

#include "natives/hashtable.h"

namespace brova::natives {
namespace {

// get and put run once per script call: their handle check stays inline.
inline TAbstractHashtable* TableOf(const TValue& v) {
  return v.kind == vtNative ? NativeFromHandleAs<TAbstractHashtable>(v.u) : nullptr;
}
inline TAbstractHashtable* TableArg(TValue* result) { return TableOf(Arg(result, 1)); }

bool HashTableGetLeaf(TValue& result, const TValue* operands, int32_t count) {
  TAbstractHashtable* table = count >= 2 ? TableOf(operands[0]) : nullptr;
  if (!table) return false;
  TAbstractHashtable::Entry* e = table->Find(operands[1]);
  result = e ? e->value : NullValue();
  return true;
}

bool HashTablePutLeaf(TValue&, const TValue* operands, int32_t count) {
  TAbstractHashtable* table = count >= 3 ? TableOf(operands[0]) : nullptr;
  return table && table->PutInPlace(operands[1], operands[2]);
}

} // namespace

void LightHashTableInit(TValue* result, int32_t, int32_t) {
  SetNative(*result, (new TLightHashtable)->Handle());
}

void HashTableInit(TValue* result, int32_t, int32_t) {
  SetNative(*result, (new THashtable)->Handle());
}

void HashTablePut(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  if (TAbstractHashtable* table = TableArg(result)) table->Put(Arg(result, 2), Arg(result, 3));
}

void HashTableGet(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TAbstractHashtable* table = TableArg(result);
  if (!table) return;
  TAbstractHashtable::Entry* e = table->Find(Arg(result, 2));
  AssignValue(*result, e ? e->value : NullValue());
}

void HashTableRemove(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TAbstractHashtable* table = TableArg(result);
  if (table && !table->Remove(Arg(result, 2), *result)) SetNull(*result);
}

void HashTableSize(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TAbstractHashtable* table = TableArg(result)) SetInt(*result, table->Size());
}

void HashTableStartFind(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TAbstractHashtable* table = TableArg(result)) table->StartWalk();
}

void HashTableHasNext(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TAbstractHashtable* table = TableArg(result))
    SetInt(*result, table->WalkStandsOnEntry() ? 1 : 0);
}

void HashTableNextKey(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TAbstractHashtable* table = TableArg(result)) AssignValue(*result, table->NextKey());
}

void HashTableDestroy(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::unique_ptr<TAbstractHashtable> table(TableArg(result));
  if (table) table->ReleaseAll();
}

const TNativeBinding kAbstractHashTableNatives[] = {
    {"_n_get", HashTableGet, HashTableGetLeaf}, {"_n_put", HashTablePut, HashTablePutLeaf},
    {"_n_startFind", HashTableStartFind}, {"_n_hasNext", HashTableHasNext},
    {"_n_nextKey", HashTableNextKey}, {"_n_remove", HashTableRemove},
    {"_n_size", HashTableSize},       {"_n_destroy", HashTableDestroy},
};
const size_t kAbstractHashTableNativeCount = std::size(kAbstractHashTableNatives);

const TNativeBinding kLightHashTableNatives[] = {{"_n_init", LightHashTableInit}};
const size_t kLightHashTableNativeCount = std::size(kLightHashTableNatives);

const TNativeBinding kHashTableNatives[] = {{"_n_init", HashTableInit}};
const size_t kHashTableNativeCount = std::size(kHashTableNatives);

} // namespace brova::natives
