// Bodies of the natives of classes.lang.Array. The first argument is the element list, the
// vtNative value the Array keeps in `_x`; a value that is no live list makes a body do
// nothing (value-giving bodies give null, the index searches -1). An index outside the
// list raises "List index out of bounds (i)", which ends the process.
#pragma once
#include <vector>

#include "natives/native_binding.h"

namespace brova::natives {

void ArrayInit(TValue* result, int32_t argc, int32_t reserved);
void ArrayAdd(TValue* result, int32_t argc, int32_t reserved);
void ArrayInsert(TValue* result, int32_t argc, int32_t reserved);
void ArrayGet(TValue* result, int32_t argc, int32_t reserved);
void ArraySet(TValue* result, int32_t argc, int32_t reserved);
void ArrayDelete(TValue* result, int32_t argc, int32_t reserved);
void ArraySize(TValue* result, int32_t argc, int32_t reserved);
void ArrayIndexOf(TValue* result, int32_t argc, int32_t reserved);
void ArrayLightIndexOf(TValue* result, int32_t argc, int32_t reserved);
void ArrayFree(TValue* result, int32_t argc, int32_t reserved);
void ArrayPack(TValue* result, int32_t argc, int32_t reserved);

// A new element list that takes over the items and their counted references; what the
// list service of script_services.h is set to at start-up.
NativeHandle NewElementList(std::vector<TValue>&& items);

// classes.lang.Array: native_add, _n_insert, native_init, native_get, native_set,
// native_size, native_free, native_delete, native_indexof, native_lightindexof, _n_pack.
extern const TNativeBinding kArrayNatives[];
extern const size_t kArrayNativeCount;

} // namespace brova::natives
