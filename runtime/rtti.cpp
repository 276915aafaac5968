#include "runtime/rtti.h"

#include <cstdlib>
#include <cstring>

#include "platform/message_sink.h"
#include "resources/alias_table.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "runtime/code.h"
#include "runtime/errors.h"
#include "runtime/progress_note.h"
#include "runtime/statistics.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

// Index 0 of both tables is never issued, so a zero operand names nothing. Ids are not
// reused: a retired id keeps naming nothing.
std::vector<TRTTI*>& Classes() {
  static auto* table = new std::vector<TRTTI*>(1, nullptr);
  return *table;
}
std::vector<TFunction*>& Functions() {
  static auto* table = new std::vector<TFunction*>(1, nullptr);
  return *table;
}

void PublishFunctionTable() {
  detail::g_functionTable = Functions().data();
  detail::g_functionCount = static_cast<uint32_t>(Functions().size());
}

void PublishClassTable() {
  detail::g_classTable = Classes().data();
  detail::g_classCount = static_cast<uint32_t>(Classes().size());
}

DestructorRunner g_destructorRunner = nullptr;
std::function<void(TRTTI&)> g_classCompiler;

void FreeFunctionShare(TFunction* fn) {
  if (--fn->shareCount <= 0) delete fn;
}

} // namespace

namespace detail {
TFunction* const* g_functionTable = nullptr;
uint32_t g_functionCount = 0;
TRTTI* const* g_classTable = nullptr;
uint32_t g_classCount = 0;
} // namespace detail

// ---- functions

TFunction::TFunction(FunctionKind kind, TRTTI* owner, std::string_view name)
    : kind(kind), owner(owner), name(Intern(name)) {
  id = static_cast<uint32_t>(Functions().size());
  Functions().push_back(this);
  PublishFunctionTable();
  ++g_live.functions;
}

TFunction::~TFunction() {
  Functions()[id] = nullptr;
  --g_live.functions;
}

TNormalFunction::TNormalFunction(TRTTI* owner, std::string_view name, FunctionKind kind)
    : TFunction(kind, owner, name) {}

TNormalFunction::~TNormalFunction() { delete code; }

// ---- classes

TRTTI::TRTTI() {
  id = static_cast<uint32_t>(Classes().size());
  Classes().push_back(this);
  PublishClassTable();
  classValue() = NativeValue(Handle());
}

TRTTI::~TRTTI() {
  ResetClass(this);
  Classes()[id] = nullptr;
  if (StringClass() == this) SetStringClass(nullptr);
}

void DestroyClassRecord(TRTTI* cls) {
  if (!HasNoLiveInstances(cls))
    throw EScriptError(ClassText(cls) + Translate(": Object still remaining"));
  delete cls;
}

void TRTTI::initPass(TInitContext& ctx) {
  if (!compiled && g_classCompiler) {
    ResetClass(this);
    g_classCompiler(*this);
  }
  if (compileFailed) ++ctx.failed;
  else if (compiled) ++ctx.done;
  else ++ctx.pending;
}

void TRTTI::releaseObjects() { DestroyAllInstances(this); }

void SetClassCompiler(std::function<void(TRTTI&)> compiler) {
  g_classCompiler = std::move(compiler);
}

// ---- lookups

int32_t FieldIndexSearch(const TRTTI* cls, SymbolId sym, int32_t& cacheIndex) {
  const auto& f = cls->fieldNames;
  int32_t n = static_cast<int32_t>(f.size());
  for (int32_t i = n - 1; i >= 0; --i) {
    if (f[i].sym == sym) return cacheIndex = i;
  }
  return cacheIndex = -1;
}

bool HasField(const TRTTI* cls, SymbolId sym) {
  int32_t cache = 0;
  return FieldIndex(cls, sym, cache) >= 0;
}

int32_t FieldIndexAdding(TRTTI* cls, std::string_view name) {
  SymbolId sym = Intern(name);
  int32_t cache = 0;
  int32_t idx = FieldIndex(cls, sym, cache);
  if (idx >= 0) return idx;
  cls->fieldNames.push_back({sym, 0});
  return static_cast<int32_t>(cls->fieldNames.size()) - 1;
}

TFunction* MethodBySym(const TRTTI* cls, SymbolId sym, int32_t& cacheIndex) {
  const auto& m = cls->methods;
  int32_t n = static_cast<int32_t>(m.size());
  if (cacheIndex >= 0 && cacheIndex < n && m[cacheIndex]->name == sym) return m[cacheIndex];
  for (int32_t i = n - 1; i >= 0; --i) {
    if (m[i]->name == sym) {
      cacheIndex = i;
      return m[i];
    }
  }
  cacheIndex = -1;
  return nullptr;
}

int32_t MethodIndexByName(const TRTTI* cls, std::string_view name) {
  SymbolId sym;
  if (!FindSymbol(name, sym)) return -1;
  for (size_t i = 0; i < cls->methods.size(); ++i)
    if (cls->methods[i]->name == sym) return static_cast<int32_t>(i);
  return -1;
}

TFunction* MethodByName(const TRTTI* cls, std::string_view name) {
  int32_t i = MethodIndexByName(cls, name);
  return i >= 0 ? cls->methods[i] : nullptr;
}

TFunction* MethodByIndex(const TRTTI* cls, int32_t index) {
  return index >= 0 && index < static_cast<int32_t>(cls->methods.size()) ? cls->methods[index]
                                                                          : nullptr;
}

int32_t IndexOfMethod(const TRTTI* cls, const TFunction* fn) {
  for (size_t i = 0; i < cls->methods.size(); ++i)
    if (cls->methods[i] == fn) return static_cast<int32_t>(i);
  return -1;
}

namespace {
TFunction* LastOfKind(TRTTI* cls, FunctionKind kind) {
  for (auto it = cls->methods.rbegin(); it != cls->methods.rend(); ++it)
    if ((*it)->kind == kind) return *it;
  return nullptr;
}
} // namespace

TFunction* ConstructorOf(TRTTI* cls) {
  if (!cls->constructorCache) cls->constructorCache = LastOfKind(cls, FunctionKind::Constructor);
  return cls->constructorCache;
}

TFunction* DestructorOf(TRTTI* cls) {
  // Every destroyed block asks; most classes have no destructor.
  if (!cls->destructorCache && !cls->noDestructor) {
    cls->destructorCache = LastOfKind(cls, FunctionKind::Destructor);
    cls->noDestructor = !cls->destructorCache;
  }
  return cls->destructorCache;
}

bool IsSubclass(const TRTTI* cls, const TRTTI* ancestor) {
  if (!ancestor) return false;
  // A broken (cyclic) superclass chain must not hang the test.
  for (int guard = 0; cls && guard < 100000; cls = cls->superClass, ++guard)
    if (cls == ancestor) return true;
  return false;
}

TValue* FieldSlot(TfObject* obj, SymbolId sym) {
  const TRTTI* cls = ClassOf(obj);
  if (!cls) return nullptr;
  int32_t cache = 0;
  int32_t idx = FieldIndex(cls, sym, cache);
  return idx >= 0 ? &obj->fields[idx] : nullptr;
}

TValue* FieldSlotByName(TfObject* obj, std::string_view name) {
  SymbolId sym;
  return FindSymbol(name, sym) ? FieldSlot(obj, sym) : nullptr;
}

void SetFieldByName(TfObject* obj, std::string_view name, const TValue& value) {
  if (TValue* slot = FieldSlotByName(obj, name)) AssignValue(*slot, value);
}

std::string ClassText(const TRTTI* cls) { return cls->name + "@" + std::to_string(cls->id); }

std::vector<TfObject*> LiveInstances(const TRTTI* cls) {
  std::vector<TfObject*> live;
  if (!cls->compiled || !cls->hasPool) return live;
  for (HeapAddr b : cls->pool) {
    TfObject* o = HeapPtr<TfObject>(b);
    if (o->refCount > 0) live.push_back(o);
  }
  return live;
}

bool HasNoLiveInstances(const TRTTI* cls) {
  if (!cls->compiled || !cls->hasPool) return true;
  for (HeapAddr b : cls->pool)
    if (HeapPtr<TfObject>(b)->refCount > 0) return false;
  return true;
}

// ---- building

void InheritFields(TRTTI* cls) {
  if (!cls->superClass) return;
  for (const auto& e : cls->superClass->fieldNames) cls->fieldNames.push_back(e);
}

void InheritMethods(TRTTI* cls) {
  if (!cls->superClass) return;
  for (TFunction* fn : cls->superClass->methods) AddMethod(cls, fn);
}

void AddMethod(TRTTI* cls, TFunction* fn) {
  cls->methods.push_back(fn);
  ++fn->shareCount;
  cls->noDestructor = false;
}

void AddOrOverrideMethod(TRTTI* cls, TFunction* fn) {
  for (TFunction*& slot : cls->methods) {
    if (slot->name == fn->name) {
      TFunction* old = slot;
      slot = fn;
      ++fn->shareCount;
      cls->noDestructor = false;
      FreeFunctionShare(old);
      return;
    }
  }
  AddMethod(cls, fn);
}

void FixLayout(TRTTI* cls) {
  cls->instanceSize = 12 + 8 * static_cast<int32_t>(cls->fieldNames.size());
  cls->pool.clear();
  cls->poolLastTaken = 0;
  cls->poolCursor = 0;
  cls->hasPool = true;
}

void ResetClass(TRTTI* cls) {
  cls->compiled = false;
  cls->fieldNames.clear();
  std::vector<TFunction*> methods;
  methods.swap(cls->methods);
  for (TFunction* fn : methods) FreeFunctionShare(fn);
  cls->constructorCache = nullptr;
  cls->destructorCache = nullptr;
  cls->noDestructor = false;
  for (HeapAddr b : cls->pool) heap::Free(b, static_cast<uint32_t>(cls->instanceSize));
  cls->pool.clear();
  cls->poolLastTaken = 0;
  cls->poolCursor = 0;
  cls->hasPool = false;
  cls->instanceSize = -1;
  delete cls->body;
  cls->body = nullptr;
}

// ---- instances

namespace {

// A small pool is searched whole, first block first. Past its first blocks a large one is
// searched a bounded stretch at a time from where the last search ended, so creation costs
// the same however many instances live, and a pool holding dead blocks grows by at most one
// block per stretch of live ones passed: the cursor comes round to the dead ones.
constexpr size_t kFirstBlocks = 32;
constexpr size_t kStretch = 32;

bool Reusable(HeapAddr b) {
  int32_t rc = HeapPtr<TfObject>(b)->refCount;
  return rc == 0 || rc == -1;
}

HeapAddr TakeReusableBlock(TRTTI* cls) {
  const std::vector<HeapAddr>& pool = cls->pool;
  const size_t n = pool.size();
  for (size_t i = 0; i < n && i < kFirstBlocks; ++i)
    if (Reusable(pool[i])) return pool[i];
  if (n <= kFirstBlocks) return kNoAddr;
  // The block handed out last is the likeliest to have died since: a temporary.
  if (cls->poolLastTaken < n && Reusable(pool[cls->poolLastTaken]))
    return pool[cls->poolLastTaken];
  size_t at = cls->poolCursor;
  for (size_t step = 0; step < kStretch; ++step, ++at) {
    if (at < kFirstBlocks || at >= n) at = kFirstBlocks;
    if (Reusable(pool[at])) {
      cls->poolLastTaken = at;
      cls->poolCursor = at + 1;
      return pool[at];
    }
  }
  cls->poolCursor = at;
  return kNoAddr;
}

} // namespace

HeapAddr NewInstance(TRTTI* cls) {
  if (!cls->compiled)
    throw EScriptError(Translate("Class") + ClassText(cls) +
                       "はコンパイルが完了していないため、インスタンスを生成できません");
  if (cls->instanceSize == -1) FixLayout(cls);
  ++cls->instancesCreated;
  HeapAddr block = TakeReusableBlock(cls);
  if (block == kNoAddr) {
    block = heap::Allocate(static_cast<uint32_t>(cls->instanceSize));
    cls->poolLastTaken = cls->pool.size();
    cls->pool.push_back(block);
    TfObject* o = HeapPtr<TfObject>(block);
    o->cls = cls->id;
    o->refCount = -1;
  }
  TfObject* o = HeapPtr<TfObject>(block);
  if (o->refCount == 0) DestroyInstance(o);
  o->refCount = 0;
  o->markCount = 0;
  o->cls = cls->id;
  for (size_t j = 0; j < cls->fieldNames.size(); ++j) o->fields[j] = UnsetValue(cls->fieldNames[j].sym);
  return block;
}

void DestroyInstance(TfObject* obj) {
  TRTTI* cls = ClassOf(obj);
  if (cls && DestructorOf(cls)) {
    if (g_destructorRunner) g_destructorRunner(obj);
  } else if (cls && IsSubclass(cls, StringClass())) {
    // String has no script destructor: freeing its text holder here spares a process per
    // string. A subclass with a destructor of its own frees nothing, as before.
    FreeStringBody(obj);
  }
  size_t n = cls ? cls->fieldNames.size() : 0;
  for (size_t j = 0; j < n; ++j) {
    try {
      Release(obj->fields[j]);
    } catch (const EScriptError&) {
      ProgressNote("Decref failed at " + cls->name + "." + SymbolName(cls->fieldNames[j].sym));
      break;
    }
  }
  obj->refCount = -1;
}

void DestroyAllInstances(TRTTI* cls) {
  cls->TResource::releaseObjects();
  for (HeapAddr b : cls->pool) {
    TfObject* o = HeapPtr<TfObject>(b);
    if (o->refCount >= 0) DestroyInstance(o);
  }
}

void SetDestructorRunner(DestructorRunner runner) { g_destructorRunner = runner; }

// ---- natives

void BindNative(TRTTI* cls, std::string_view name, NativeBody callback, LeafBody leaf) {
  TFunction* fn = MethodByName(cls, name);
  if (fn && fn->IsNative()) {
    static_cast<TNativeFunction*>(fn)->callback = callback;
    static_cast<TNativeFunction*>(fn)->leaf = leaf;
    return;
  }
  platform::ShowMessage(Translate("Class") + cls->name + Translate(": native function") +
                        std::string(name) + Translate(" is undefined."));
}

// ---- the class as a resource of the tree

void TRTTI::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  category = element.getAttr("category");
  if (AliasRegistrationOn() && !name.empty() && !Aliases().Contains(name)) {
    Aliases().Add(name, this);
    aliasRegistered = true;
  }
}

void TRTTI::save(std::vector<std::string>& lines, const std::string& indent) {
  lines.push_back(indent + ElementLine("class", {{"name", name},
                                                 {"src", RelativePath(src, ResourceBaseDir())},
                                                 {"category", category}}));
}

void TRTTI::gcMark() {
  TResource::gcMark();
  const TCollectorHooks& gc = CollectorHooks();
  if (!gc.checkMode || !gc.markValue) return;
  for (HeapAddr b : pool)
    if (HeapPtr<TfObject>(b)->refCount >= 0) gc.markValue(ObjectValue(b));
}

void TRTTI::gcSweep() {
  ProgressNote("sweeping " + name);
  auto sweep = CollectorHooks().sweepObject;
  if (!sweep) return;
  // A sweep may run a destructor that asks this class for a new instance.
  std::vector<HeapAddr> blocks = pool;
  for (HeapAddr b : blocks)
    if (HeapPtr<TfObject>(b)->refCount >= 0) sweep(HeapPtr<TfObject>(b));
}

} // namespace brova
