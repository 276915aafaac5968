#include "natives/object_natives.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/host_clock.h"
#include "resources/generator.h"
#include "resources/resource_tree.h"
#include "runtime/collector.h"
#include "runtime/frame_scheduler.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/progress_note.h"
#include "tools/bregexp.h"

namespace brova::natives {
namespace {

std::function<void(const std::string&)> g_printSink;
std::function<std::string()> g_pageFileSource;
uint32_t g_randomState = kInitialRandomState;

constexpr uint32_t kRandomRange = 1u << 30;

// Sine and cosine of whole degrees, computed once in extended precision.
struct TAngleTables {
  double sine[360];
  double cosine[360];
  TAngleTables() {
    const long double pi = 3.141592653589793238462643383279502884L;
    for (int i = 0; i < 360; ++i) {
      long double r = pi * i / 180.0L;
      sine[i] = static_cast<double>(sinl(r));
      cosine[i] = static_cast<double>(cosl(r));
    }
  }
};
const TAngleTables g_angles;

// Degrees reduced to 0..359; 64 bits, so that the most negative integer has a negation.
int DegreeIndex(int32_t degrees) {
  int64_t d = degrees;
  if (d < 0) d = 360 - ((-d) % 360);
  return static_cast<int>(d % 360);
}

// The receiver as an object with a class, or null.
TfObject* Self(const TValue* result) {
  TfObject* obj = ObjectOf(*result);
  return obj && ClassOf(obj) ? obj : nullptr;
}

// The fields the object's block really holds: its class's list, cut to the size the block
// was laid out with (a class may gain field names after its instances were made).
size_t FieldCount(const TfObject* obj) {
  const TRTTI* cls = ClassOf(obj);
  size_t n = cls->fieldNames.size();
  if (cls->instanceSize >= 12) n = std::min(n, static_cast<size_t>(cls->instanceSize - 12) / 8);
  return n;
}

// Field number `index` of the receiver, or null when it has no such field.
TValue* FieldByIndex(TValue* result, const TValue& index) {
  TfObject* self = Self(result);
  if (!self) return nullptr;
  int32_t i = ValueToInt(index);
  if (i < 0 || static_cast<size_t>(i) >= FieldCount(self)) return nullptr;
  return &self->fields[i];
}

TRTTI* ClassOfValue(const TValue& v) {
  return dynamic_cast<TRTTI*>(NativeOfKind<TResource>(v));
}

TResource* ResolveFromRoot(const TValue& path) {
  TResource* root = ResourceRoot();
  return root ? root->resolve(ValueToText(path)) : nullptr;
}

// "12" and "-3.5" as numbers. The pattern's "$" also matches before a final line feed,
// which is no part of the number.
bool ParseNumberText(std::string_view t, bool asFloat, TValue& out) {
  if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
  const char* end = t.data() + t.size();
  if (asFloat) {
    float f = 0;
    auto [ptr, ec] = std::from_chars(t.data(), end, f);
    if (ec != std::errc() || ptr != end) return false;
    out = FloatValue(f);
  } else {
    int32_t i = 0;
    auto [ptr, ec] = std::from_chars(t.data(), end, i);
    if (ec != std::errc() || ptr != end) return false;
    out = IntValue(i);
  }
  return true;
}

std::string ExtensionOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

} // namespace

// ---- random generator and page hash

uint32_t RandomState() { return g_randomState; }
void SetRandomState(uint32_t state) { g_randomState = state; }

uint32_t RandomStep() {
  g_randomState = (g_randomState * 48828125u) & (kRandomRange - 1);
  return g_randomState;
}

int32_t PageHashCode(const std::string& path) {
  std::string ext = ExtensionOf(path);
  if (ext == ".dll" || ext == ".mid") return 0;
  ProgressNote("hashCode .." + path);
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint32_t sum = 0;
  for (size_t k = 0; k < bytes.size(); ++k) {
    uint32_t b = static_cast<uint8_t>(bytes[k]);
    g_randomState = (b * static_cast<uint32_t>(k)) ^ kInitialRandomState;
    RandomStep();
    uint32_t m = RandomStep() / (kRandomRange / 3) + 1;
    for (uint32_t j = 0; j < m; ++j) sum += RandomStep();
  }
  return static_cast<int32_t>(sum);
}

TfObject* ObjectFromId(uint32_t id) {
  if (id % 8 != 0 || !heap::Contains(id, sizeof(TfObject))) return nullptr;
  TfObject* obj = HeapPtr<TfObject>(id);
  const TRTTI* cls = ClassById(obj->cls);
  if (!cls || !cls->hasPool) return nullptr;
  return std::find(cls->pool.begin(), cls->pool.end(), id) != cls->pool.end() ? obj : nullptr;
}

void SetPrintSink(std::function<void(const std::string&)> sink) { g_printSink = std::move(sink); }

void SetCurrentPageFileSource(std::function<std::string()> source) {
  g_pageFileSource = std::move(source);
}

// ---- output and processes

void ObjectPrint(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::string text = ValueToText(Arg(result, 1));
  ProgressNote(text);
  if (g_printSink) g_printSink(text);
}

void ObjectSuspend(TValue*, int32_t, int32_t) {
  if (currentProcess) Suspend(currentProcess);
}

void ObjectCurrentProcess(TValue* result, int32_t, int32_t) {
  if (currentProcess) SetNative(*result, currentProcess->Handle());
  else SetNull(*result);
}

void ObjectBreakExec(TValue*, int32_t, int32_t) {
  if (TProcess* p = currentProcess) {
    p->sliceSteps -= p->avail; // steps not taken are not counted as run
    p->avail = 0;
  }
  stepAllowance = 0;
}

void ObjectCurrentFunc(TValue* result, int32_t, int32_t) {
  TProcess* p = currentProcess;
  if (!p || p->fp == kNoAddr) return;
  if (TFunction* fn = FunctionById(HeapPtr<TFrame>(p->fp)->function))
    SetStringResult(*result, fn->GetName());
}

void ObjectRefresh(TValue*, int32_t, int32_t) {
  if (const auto& service = FrameServices().serviceSynthesizer) service();
}

void ObjectGetTime(TValue* result, int32_t, int32_t) {
  SetInt(*result, static_cast<int32_t>(static_cast<uint32_t>(platform::TicksMs())));
}

// ---- globals

void ObjectGetGlobal(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TValue* slot = GlobalSlot(ValueToText(Arg(result, 1)));
  if (slot) AssignValue(*result, *slot);
  else SetInt(*result, 0);
}

void ObjectSetGlobal(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  SetGlobal(ValueToText(Arg(result, 1)), Arg(result, 2));
}

// ---- classes and objects

void ObjectGetClassName(TValue* result, int32_t, int32_t) {
  if (TfObject* self = Self(result)) SetStringResult(*result, ClassOf(self)->name);
}

void ObjectGetParentClassName(TValue* result, int32_t, int32_t) {
  TfObject* self = Self(result);
  if (!self) return;
  const TRTTI* super = ClassOf(self)->superClass;
  SetStringResult(*result, super ? super->name : std::string());
}

void ObjectNewInstance(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TRTTI* cls = dynamic_cast<TRTTI*>(ResolveFromRoot(Arg(result, 1)));
  if (cls) SetObject(*result, NewInstance(cls));
  else SetInt(*result, 0);
}

void ObjectClearAllValues(TValue* result, int32_t, int32_t) {
  TfObject* self = Self(result);
  if (!self) return;
  size_t n = FieldCount(self);
  for (size_t i = 0; i < n; ++i) SetInt(self->fields[i], 0);
}

void ObjectTObject(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  auto handle = static_cast<NativeHandle>(ValueToInt(Arg(result, 1)));
  if (NativeFromHandle(handle)) SetNative(*result, handle);
  else SetNull(*result);
}

void ObjectIs(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TfObject* self = Self(result);
  TRTTI* ancestor = ClassOfValue(Arg(result, 1));
  SetInt(*result, self && ancestor && IsSubclass(ClassOf(self), ancestor) ? 1 : 0);
}

void ObjectGcMark(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  MarkValue(Arg(result, 1));
}

void ObjectRefCount(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TfObject* obj = ObjectFromId(static_cast<uint32_t>(ValueToInt(Arg(result, 1))));
  if (obj) SetInt(*result, obj->refCount);
  else SetNull(*result);
}

void ObjectHandle(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  const TValue& v = Arg(result, 1);
  SetInt(*result, v.kind == vtObject ? static_cast<int32_t>(ObjectId(ObjectPtr(v))) : 0);
}

void ObjectErrorValue(TValue* result, int32_t, int32_t) { SetError(*result, 0); }

void ObjectGetValueByIndex(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TValue* field = FieldByIndex(result, Arg(result, 1));
  if (field) AssignValue(*result, *field);
  else SetNull(*result);
}

void ObjectSetValueByIndex(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  if (TValue* field = FieldByIndex(result, Arg(result, 1))) AssignValue(*field, Arg(result, 2));
}

void ObjectGetValueCount(TValue* result, int32_t, int32_t) {
  if (TfObject* self = Self(result)) SetInt(*result, static_cast<int32_t>(FieldCount(self)));
}

void ObjectGetValueName(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TfObject* self = Self(result);
  if (!self) return;
  int32_t i = ValueToInt(Arg(result, 1));
  if (i >= 0 && static_cast<size_t>(i) < FieldCount(self))
    SetStringResult(*result, SymbolName(ClassOf(self)->fieldNames[i].sym));
  else SetNull(*result);
}

void ObjectGetValueIndex(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TfObject* self = Self(result);
  if (!self) return;
  int32_t index = -1;
  SymbolId sym;
  if (FindSymbol(ValueToText(Arg(result, 1)), sym)) {
    int32_t cache = -1;
    index = FieldIndex(ClassOf(self), sym, cache);
    if (index >= 0 && static_cast<size_t>(index) >= FieldCount(self)) index = -1;
  }
  SetInt(*result, index);
}

void ObjectIsInt(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetInt(*result, Arg(result, 1).kind == vtInt ? 1 : 0);
}

void ObjectIsFloat(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetInt(*result, Arg(result, 1).kind == vtFloat ? 1 : 0);
}

// ---- numbers

void ObjectRandomize(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  g_randomState = (static_cast<uint32_t>(ValueToInt(Arg(result, 1))) & 0xffffff) ^
                  kInitialRandomState;
}

void ObjectRnd(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) {
    // The nearest float to a step close to 2^30 is 1.0, outside the promised range.
    float f = static_cast<float>(RandomStep() / static_cast<double>(kRandomRange));
    SetFloat(*result, std::min(f, std::nextafter(1.0f, 0.0f)));
    return;
  }
  int32_t n = ValueToInt(Arg(result, 1));
  if (n < 1) {
    SetInt(*result, 0);
    return;
  }
  // Above 2^30 the divisor would be 0; every step is then already below n.
  uint32_t c = std::max(1u, kRandomRange / static_cast<uint32_t>(n));
  uint32_t q;
  do q = RandomStep() / c;
  while (q >= static_cast<uint32_t>(n));
  SetInt(*result, static_cast<int32_t>(q));
}

void ObjectSin(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetFloat(*result, static_cast<float>(g_angles.sine[DegreeIndex(ValueToInt(Arg(result, 1)))]));
}

void ObjectCos(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetFloat(*result,
           static_cast<float>(g_angles.cosine[DegreeIndex(ValueToInt(Arg(result, 1)))]));
}

void ObjectAngle(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  double x = ValueToFloat(Arg(result, 1));
  double y = ValueToFloat(Arg(result, 2));
  if (std::fabs(x) < 0.0001 && std::fabs(y) < 0.0001) x = 1.0;
  double s = 1.0;
  if (y < 0) {
    y = -y;
    s = -1.0;
  }
  double a;
  if (x > 0) a = x > y ? (y / x) * 45 : 90 - (x / y) * 45;
  else a = -x > y ? 180 - (y / -x) * 45 : (-x / y) * 45 + 90;
  SetFloat(*result, static_cast<float>(a * s));
}

void ObjectDist(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  double x = ValueToFloat(Arg(result, 1));
  double y = ValueToFloat(Arg(result, 2));
  SetFloat(*result, static_cast<float>(std::sqrt(x * x + y * y)));
}

void ObjectTrunc(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetInt(*result, FloatToIntTruncated(ValueToFloat(Arg(result, 1))));
}

void ObjectFloor(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetInt(*result, FloatToIntTruncated(std::floor(static_cast<double>(ValueToFloat(Arg(result, 1))))));
}

void ObjectSqrt(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  double f = ValueToFloat(Arg(result, 1));
  if (f >= 0) SetFloat(*result, static_cast<float>(std::sqrt(f)));
  else SetNull(*result);
}

void ObjectValueOf(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  std::string t = ValueToText(Arg(result, 1));
  TBRegExp& re = GeneralRegExp();
  TValue number = NullValue();
  if (re.Match("/^-?[0-9]*\\.[0-9]+$/", t)) ParseNumberText(t, true, number);
  else if (re.Match("/^-?[0-9]+$/", t)) ParseNumberText(t, false, number);
  AssignValue(*result, number);
}

// ---- pages, resources and generators

void ObjectGetPageHashCode(TValue* result, int32_t, int32_t) {
  SetInt(*result, g_pageFileSource ? PageHashCode(g_pageFileSource()) : 0);
}

void ObjectInitResource(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  int32_t ok = 1;
  if (TResource* res = ResolveFromRoot(Arg(result, 1))) {
    try {
      res->initialize();
    } catch (const std::exception&) {
      ok = 0;
    }
  }
  SetInt(*result, ok);
}

void ObjectGetResource(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TResource* res = ResolveFromRoot(Arg(result, 1))) AssignValue(*result, res->scriptObject());
  else SetInt(*result, 0);
}

void ObjectInspect(TValue*, int32_t, int32_t) {}

void ObjectSetGenAttr(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  if (TGenerator* gen = GeneratorOf(Arg(result, 1)))
    SetGeneratorAttr(gen, ValueToText(Arg(result, 2)), ValueToLiteral(Arg(result, 3)));
}

const TNativeBinding kObjectNatives[] = {
    {"print", ObjectPrint},
    {"suspend", ObjectSuspend},
    {"currentProcess", ObjectCurrentProcess},
    {"getGlobal", ObjectGetGlobal},
    {"setGlobal", ObjectSetGlobal},
    {"_getClassName", ObjectGetClassName},
    {"_getParentClassName", ObjectGetParentClassName},
    {"_newInstance", ObjectNewInstance},
    {"_n_clearAllValues", ObjectClearAllValues},
    {"TObject", ObjectTObject},
    {"native_is", ObjectIs},
    {"native_gc_mark", ObjectGcMark},
    {"_n_refcount", ObjectRefCount},
    {"_n_objhandle", ObjectHandle},
    {"breakExec", ObjectBreakExec},
    {"currentFunc", ObjectCurrentFunc},
    {"_n_refresh", ObjectRefresh},
    {"_n_errorValue", ObjectErrorValue},
    {"getTime", ObjectGetTime},
    {"_n_randomize", ObjectRandomize},
    {"rnd", ObjectRnd},
    {"sin", ObjectSin},
    {"cos", ObjectCos},
    {"angle", ObjectAngle},
    {"dist", ObjectDist},
    {"trunc", ObjectTrunc},
    {"floor", ObjectFloor},
    {"sqrt", ObjectSqrt},
    {"valueOf", ObjectValueOf},
    {"getPageHashCode", ObjectGetPageHashCode},
    {"_n_initResource", ObjectInitResource},
    {"_n_getResource", ObjectGetResource},
    {"_inspect", ObjectInspect},
    {"_dynamicInspect", ObjectInspect},
    {"_n_setGenAttr", ObjectSetGenAttr},
    {"_n_getValueByIndex", ObjectGetValueByIndex},
    {"_n_setValueByIndex", ObjectSetValueByIndex},
    {"_n_getValueCount", ObjectGetValueCount},
    {"_n_getValueName", ObjectGetValueName},
    {"_n_getValueIndex", ObjectGetValueIndex},
    {"isInt", ObjectIsInt},
    {"isFloat", ObjectIsFloat},
};
const size_t kObjectNativeCount = std::size(kObjectNatives);

} // namespace brova::natives
