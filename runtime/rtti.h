// Script classes and their functions: field lists, method tables, lookups with their caches,
// inheritance, instance pools, and the binding of built-in bodies to native methods.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resource.h"
#include "runtime/heap_cell.h"
#include "runtime/symbols.h"
#include "runtime/value.h"

namespace brova {

class TRTTI;
struct TCompiledInfo;

// A built-in body: the receiver slot (which receives the result), the argument count, and a
// reserved 0. Argument i (1-based) is the cell at resultSlot - i.
using NativeBody = void (*)(TValue* resultSlot, int32_t argc, int32_t reserved);

// The short form of a body, for a call of a method that only forwards to it: the call then
// needs no frame. `operands[k]` is argument k + 1, not counted for it; `result` holds the
// receiver. It either does just what the body does, leaving the result in `result` without
// counting it, or returns false having changed nothing, and the body runs instead. So it
// never fails, warns, suspends, allocates, runs script code, looks at the process, or
// releases a value whose count could go below zero.
using LeafBody = bool (*)(TValue& result, const TValue* operands, int32_t count);

enum class FunctionKind : uint8_t { Normal, Constructor, Destructor, Native };

class TFunction {
public:
  TFunction(FunctionKind kind, TRTTI* owner, std::string_view name);
  TFunction(const TFunction&) = delete;
  TFunction& operator=(const TFunction&) = delete;
  virtual ~TFunction();

  virtual std::string GetName() const { return SymbolName(name); }

  const FunctionKind kind;
  TRTTI* owner;
  int32_t shareCount = 0; // how many method tables hold the record
  SymbolId name;
  uint32_t id;            // index in the function table, named by code operands and frames

  bool IsNative() const { return kind == FunctionKind::Native; }
};

class TNormalFunction : public TFunction {
public:
  TNormalFunction(TRTTI* owner, std::string_view name,
                  FunctionKind kind = FunctionKind::Normal);
  ~TNormalFunction() override;

  std::vector<std::string> paramNames;
  std::vector<std::string> localNames; // its count is the number of local slots of a call
  TCompiledInfo* code = nullptr;        // owned
};

class TConstructor final : public TNormalFunction {
public:
  TConstructor(TRTTI* owner, std::string_view name)
      : TNormalFunction(owner, name, FunctionKind::Constructor) {}
};

class TDestructor final : public TNormalFunction {
public:
  TDestructor(TRTTI* owner, std::string_view name)
      : TNormalFunction(owner, name, FunctionKind::Destructor) {}
};

class TNativeFunction final : public TFunction {
public:
  TNativeFunction(TRTTI* owner, std::string_view name)
      : TFunction(FunctionKind::Native, owner, name) {}
  NativeBody callback = nullptr; // none until bound
  LeafBody leaf = nullptr;       // bound with the callback, when the body has one
};

namespace detail {
// The function table as FunctionById reads it; kept current by the function records.
extern TFunction* const* g_functionTable;
extern uint32_t g_functionCount;
} // namespace detail

// The function behind a code operand or frame field; null for 0 or a retired id.
inline TFunction* FunctionById(uint32_t id) {
  return id < detail::g_functionCount ? detail::g_functionTable[id] : nullptr;
}

// One entry per field (or name): its symbol and a 32-bit value (0 for field lists).
struct TRapidStringEntry {
  SymbolId sym;
  int32_t value;
};
using TRapidStringList = std::vector<TRapidStringEntry>;

class TRTTI : public TResource {
public:
  TRTTI();
  ~TRTTI() override; // use DestroyClassRecord, which refuses while instances live
  const char* NativeClassName() const override { return "TRTTI"; }

  std::string category;
  TRTTI* superClass = nullptr;
  int32_t instanceSize = -1; // 12 + 8 x fields once the layout is fixed
  TRapidStringList fieldNames;
  std::vector<TFunction*> methods;
  TFunction* constructorCache = nullptr;
  TFunction* destructorCache = nullptr;
  bool noDestructor = false; // the method table was searched and has none: skip the search
  TCompiledInfo* body = nullptr; // owned
  std::vector<HeapAddr> pool;
  // Past the pool's first blocks NewInstance looks at the block it handed out last, then goes
  // on from the cursor.
  size_t poolLastTaken = 0;
  size_t poolCursor = 0;
  bool hasPool = false;
  bool compiled = false;
  bool compileFailed = false;
  bool aliasRegistered = false;
  int32_t instancesCreated = 0;
  uint32_t id; // index in the class table; what an object's `cls` holds

  // Always a vtNative value referring to this record; what a class name evaluates to.
  TValue& classValue() const { return classValue_.value(); }

  TValue* valuePtr() override { return &classValue(); }
  void initPass(TInitContext& ctx) override;
  void releaseObjects() override;

  // Creation from a `class` element: the category, and the short name entered in the alias
  // table when registration is on and the name is free.
  void readFrom(const TSGML& element, const std::string& baseDir) override;
  // One self-closed `class` element: name, src relative to the resource folder, category.
  void save(std::vector<std::string>& lines, const std::string& indent) override;
  // The wrapper, and in the collector's checking pass every block not free.
  void gcMark() override;
  // Sweeps every block not free.
  void gcSweep() override;

private:
  THeapCell classValue_;
};

namespace detail {
// The class table as ClassById reads it; kept current by the class records.
extern TRTTI* const* g_classTable;
extern uint32_t g_classCount;
} // namespace detail

// The class behind an object's `cls` or a code operand; null for 0 or a retired id.
inline TRTTI* ClassById(uint32_t id) {
  return id < detail::g_classCount ? detail::g_classTable[id] : nullptr;
}
// Raises "...: Object still remaining" while live instances exist; otherwise deletes.
void DestroyClassRecord(TRTTI* cls);
inline TRTTI* ClassOf(const TfObject* obj) { return ClassById(obj->cls); }

// ---- lookups (symbols only, never text)

// The search of FieldIndex past its cache.
int32_t FieldIndexSearch(const TRTTI* cls, SymbolId sym, int32_t& cacheIndex);
// Cache first, then a search from the last entry to the first; cacheIndex is left at the
// found index, or -1.
inline int32_t FieldIndex(const TRTTI* cls, SymbolId sym, int32_t& cacheIndex) {
  const TRapidStringList& f = cls->fieldNames;
  if (cacheIndex >= 0 && static_cast<size_t>(cacheIndex) < f.size() && f[cacheIndex].sym == sym)
    return cacheIndex;
  return FieldIndexSearch(cls, sym, cacheIndex);
}
bool HasField(const TRTTI* cls, SymbolId sym);
int32_t FieldIndexAdding(TRTTI* cls, std::string_view name);
TFunction* MethodBySym(const TRTTI* cls, SymbolId sym, int32_t& cacheIndex);
TFunction* MethodByName(const TRTTI* cls, std::string_view name);
int32_t MethodIndexByName(const TRTTI* cls, std::string_view name);
TFunction* MethodByIndex(const TRTTI* cls, int32_t index);
int32_t IndexOfMethod(const TRTTI* cls, const TFunction* fn);
TFunction* ConstructorOf(TRTTI* cls);
TFunction* DestructorOf(TRTTI* cls);
bool IsSubclass(const TRTTI* cls, const TRTTI* ancestor);
TValue* FieldSlot(TfObject* obj, SymbolId sym);
TValue* FieldSlotByName(TfObject* obj, std::string_view name);
void SetFieldByName(TfObject* obj, std::string_view name, const TValue& value);
std::string ClassText(const TRTTI* cls);
std::vector<TfObject*> LiveInstances(const TRTTI* cls);
bool HasNoLiveInstances(const TRTTI* cls);

// ---- building

void InheritFields(TRTTI* cls);
void InheritMethods(TRTTI* cls);
void AddMethod(TRTTI* cls, TFunction* fn);
void AddOrOverrideMethod(TRTTI* cls, TFunction* fn);
void FixLayout(TRTTI* cls);
void ResetClass(TRTTI* cls);

// ---- instances

HeapAddr NewInstance(TRTTI* cls);
void DestroyInstance(TfObject* obj);
void DestroyAllInstances(TRTTI* cls);

// Runs an object's destructor (installed by the process interpreter). Until one is
// installed, destroying an instance runs no script code.
using DestructorRunner = void (*)(TfObject* obj);
void SetDestructorRunner(DestructorRunner runner);

// Compiles a class from its source for the initialisation pass (installed by the class
// compiler). Until one is installed an uncompiled class stays pending.
void SetClassCompiler(std::function<void(TRTTI&)> compiler);

// ---- natives

// A binding replaces the body and the short form together.
void BindNative(TRTTI* cls, std::string_view name, NativeBody callback, LeafBody leaf = nullptr);

} // namespace brova
