// Bodies of the natives of classes.lang.Object: the global functions every script class
// can call (output, processes, globals, reflection, random numbers, angles, numbers from
// text, resources, generators). The receiver is the calling object. The screen's natives
// (getkey, pset, setAdjust, setMapPat) and the file natives live with their subsystems.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "natives/native_binding.h"

namespace brova::natives {

void ObjectPrint(TValue* result, int32_t argc, int32_t reserved);
void ObjectSuspend(TValue* result, int32_t argc, int32_t reserved);
void ObjectCurrentProcess(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetGlobal(TValue* result, int32_t argc, int32_t reserved);
void ObjectSetGlobal(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetClassName(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetParentClassName(TValue* result, int32_t argc, int32_t reserved);
void ObjectNewInstance(TValue* result, int32_t argc, int32_t reserved);
void ObjectClearAllValues(TValue* result, int32_t argc, int32_t reserved);
void ObjectTObject(TValue* result, int32_t argc, int32_t reserved);
void ObjectIs(TValue* result, int32_t argc, int32_t reserved);
void ObjectGcMark(TValue* result, int32_t argc, int32_t reserved);
void ObjectRefCount(TValue* result, int32_t argc, int32_t reserved);
void ObjectHandle(TValue* result, int32_t argc, int32_t reserved);
void ObjectBreakExec(TValue* result, int32_t argc, int32_t reserved);
void ObjectCurrentFunc(TValue* result, int32_t argc, int32_t reserved);
void ObjectRefresh(TValue* result, int32_t argc, int32_t reserved);
void ObjectErrorValue(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetTime(TValue* result, int32_t argc, int32_t reserved);
void ObjectRandomize(TValue* result, int32_t argc, int32_t reserved);
void ObjectRnd(TValue* result, int32_t argc, int32_t reserved);
void ObjectSin(TValue* result, int32_t argc, int32_t reserved);
void ObjectCos(TValue* result, int32_t argc, int32_t reserved);
void ObjectAngle(TValue* result, int32_t argc, int32_t reserved);
void ObjectDist(TValue* result, int32_t argc, int32_t reserved);
void ObjectTrunc(TValue* result, int32_t argc, int32_t reserved);
void ObjectFloor(TValue* result, int32_t argc, int32_t reserved);
void ObjectSqrt(TValue* result, int32_t argc, int32_t reserved);
void ObjectValueOf(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetPageHashCode(TValue* result, int32_t argc, int32_t reserved);
void ObjectInitResource(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetResource(TValue* result, int32_t argc, int32_t reserved);
void ObjectInspect(TValue* result, int32_t argc, int32_t reserved);
void ObjectSetGenAttr(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetValueByIndex(TValue* result, int32_t argc, int32_t reserved);
void ObjectSetValueByIndex(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetValueCount(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetValueName(TValue* result, int32_t argc, int32_t reserved);
void ObjectGetValueIndex(TValue* result, int32_t argc, int32_t reserved);
void ObjectIsInt(TValue* result, int32_t argc, int32_t reserved);
void ObjectIsFloat(TValue* result, int32_t argc, int32_t reserved);

// Where `print` writes besides its progress note: `brova --run` and `--console` point it at
// stdout. An empty function stops it.
void SetPrintSink(std::function<void(const std::string&)> sink);

// The page file most recently loaded, for getPageHashCode; none while unset.
void SetCurrentPageFileSource(std::function<std::string()> source);

// The process-wide random generator: a 30-bit state, stepped by every rnd and page hash.
inline constexpr uint32_t kInitialRandomState = 0x75bd924;
uint32_t RandomState();
void SetRandomState(uint32_t state);
// One step; returns the new state, below 2^30.
uint32_t RandomStep();

// The file hash the page cache is checked with: 0 for a missing file and for the extensions
// ".dll" and ".mid". Leaves the random generator in the state of its last step.
int32_t PageHashCode(const std::string& path);

// The object whose identity (ObjectId) is `id`, when `id` is the address of a block in its
// class's pool, whatever the block's state; null for any other number.
TfObject* ObjectFromId(uint32_t id);

// classes.lang.Object: print, suspend, currentProcess, getGlobal, setGlobal, _getClassName,
// _getParentClassName, _newInstance, _n_clearAllValues, TObject, native_is, native_gc_mark,
// _n_refcount, _n_objhandle, breakExec, currentFunc, _n_refresh, _n_errorValue, getTime,
// _n_randomize, rnd, sin, cos, angle, dist, trunc, floor, sqrt, valueOf, getPageHashCode,
// _n_initResource, _n_getResource, _inspect, _dynamicInspect, _n_setGenAttr,
// _n_getValueByIndex, _n_setValueByIndex, _n_getValueCount, _n_getValueName,
// _n_getValueIndex, isInt, isFloat.
extern const TNativeBinding kObjectNatives[];
extern const size_t kObjectNativeCount;

} // namespace brova::natives
