// Bodies of the hash-table natives. The table is the first argument, the vtNative value the
// script class keeps; a stale or foreign handle makes a body do nothing.
#pragma once
#include "natives/native_binding.h"

namespace brova::natives {

void LightHashTableInit(TValue* result, int32_t argc, int32_t reserved);
void HashTableInit(TValue* result, int32_t argc, int32_t reserved);
void HashTablePut(TValue* result, int32_t argc, int32_t reserved);
void HashTableGet(TValue* result, int32_t argc, int32_t reserved);
void HashTableRemove(TValue* result, int32_t argc, int32_t reserved);
void HashTableSize(TValue* result, int32_t argc, int32_t reserved);
void HashTableStartFind(TValue* result, int32_t argc, int32_t reserved);
void HashTableHasNext(TValue* result, int32_t argc, int32_t reserved);
void HashTableNextKey(TValue* result, int32_t argc, int32_t reserved);
void HashTableDestroy(TValue* result, int32_t argc, int32_t reserved);

// AbstractHashTable: _n_get, _n_put, _n_startFind, _n_hasNext, _n_nextKey, _n_remove, _n_size,
// _n_destroy.
extern const TNativeBinding kAbstractHashTableNatives[];
extern const size_t kAbstractHashTableNativeCount;
// LightHashTable and HashTable: _n_init.
extern const TNativeBinding kLightHashTableNatives[];
extern const size_t kLightHashTableNativeCount;
extern const TNativeBinding kHashTableNatives[];
extern const size_t kHashTableNativeCount;

} // namespace brova::natives
