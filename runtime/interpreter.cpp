// The instruction loop. pc, sp, fp, the receiver and the step count live in locals and go
// back into the process record before anything that can fail, run script code or look at
// the process (natives, warnings, string and instance creation). Rare cases leave the loop
// for out-of-line functions, so the common paths stay short. Each instruction goes to the
// handler its block's decoding chose (see "the decode map"): the instruction alone, or the
// operation, test or statement it begins, whose opcodes were checked once at decoding.
#include <climits>
#include <cmath>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/interpreter.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "runtime/value_list.h"

#if defined(__GNUC__)
// Each instruction keeps its own dispatch jump: merged into one, the indirect branch
// predicts far worse. Only gcc takes these options; clang keeps the jumps apart anyway.
#if defined(__clang__)
#define BROVA_THREADED
#else
#define BROVA_THREADED __attribute__((optimize("no-crossjumping", "no-gcse")))
#endif
#define BROVA_COLD __attribute__((noinline, cold))
#define BROVA_LIKELY(x) __builtin_expect(!!(x), 1)
#define BROVA_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define BROVA_THREADED
#define BROVA_COLD
#define BROVA_LIKELY(x) (x)
#define BROVA_UNLIKELY(x) (x)
#endif

namespace brova {
namespace {

TRTTI* g_objectClass = nullptr;
TRTTI* g_arrayClass = nullptr;
int32_t g_listFieldCache = 0; // the one process-wide cache of `_x` lookups

SymbolId ListFieldSymbol() {
  static const SymbolId sym = Intern("_x");
  return sym;
}

// Fields an object's block holds (its class's layout), 0 for any other value.
[[gnu::always_inline]] inline uint32_t FieldCountOf(const TValue& v) {
  if (v.kind != vtObject) return 0;
  const TRTTI* cls = ClassById(ObjectPtr(v)->cls);
  return cls && cls->instanceSize >= 12 ? static_cast<uint32_t>(cls->instanceSize - 12) / 8 : 0;
}

inline bool Truthy(const TValue& v) {
  switch (v.kind) {
  case vtInt: return v.i != 0;
  case vtFloat: return v.f < 0.0f || v.f > 0.0f; // NaN is false
  case vtObject:
  case vtNative: return true;
  default: return false;
  }
}

inline TValue FloatFlag(bool b) { return FloatValue(b ? 1.0f : 0.0f); }

// An integer comparison GT ... NEQ without a branch: bit k of the comparison's row is its
// outcome when the left side is below (k = 0), equal to (1) or above (2) the right side.
inline bool IntCompare(uint32_t op, int32_t a, int32_t b) {
  constexpr uint32_t kRows = 0b100u | 0b110u << 3 | 0b001u << 6 | 0b011u << 9 | 0b010u << 12 |
                             0b101u << 15;
  static_assert(Op_GT == Op_Mod + 1 && Op_GTE == Op_GT + 1 && Op_LT == Op_GT + 2 &&
                Op_LTE == Op_GT + 3 && Op_EQ == Op_GT + 4 && Op_NEQ == Op_GT + 5);
  uint32_t k = uint32_t(a > b) + uint32_t(a >= b);
  return (kRows >> (3 * (op - Op_GT) + k)) & 1;
}

inline uint64_t WordOf(const TValue* cell) {
  uint64_t w;
  std::memcpy(&w, cell, sizeof w);
  return w;
}
inline void PutWord(TValue* cell, uint64_t w) { std::memcpy(cell, &w, sizeof w); }
inline TValue ValueOfWord(uint64_t w) {
  TValue v;
  std::memcpy(&v, &w, sizeof v);
  return v;
}
// Results are stored as whole words: a narrower store followed by the next instruction's
// whole-word load of the same cell stalls the load until the store retires.
inline uint64_t IntWord(uint32_t i) { return uint64_t(vtInt) | uint64_t(i) << 32; }
inline uint32_t Payload(uint64_t w) { return static_cast<uint32_t>(w >> 32); }

std::string NotObject(const TValue& v) {
  return ValueToText(v) + Translate(v.kind == vtUnset ? " is not initialized." : " is not Object.");
}

[[noreturn]] BROVA_COLD void Fail(const std::string& text) { throw EScriptError(text); }

[[noreturn]] BROVA_COLD void FailNegativeCount(TValue v) { RaiseNegativeRefCount(v); }

[[noreturn]] BROVA_COLD void FailInvalid(uint32_t op) {
  Fail(Translate("Invalid Instruction") + std::to_string(op));
}

[[noreturn]] BROVA_COLD void FailStack(const TCompiledInfo* code) {
  Fail(Translate(code->Runnable() ? "Stack Overflow." : "Invalid Instruction"));
}

[[noreturn]] BROVA_COLD void FailNotDefined(const std::string& name) {
  Fail(Translate("Method") + name + Translate(" is not defined."));
}

[[noreturn]] BROVA_COLD void FailNative(const std::string& name) {
  Fail("Native関数" + name + Translate(" cannot be invoked."));
}

TNormalFunction* Callable(TFunction* fn) {
  if (fn->IsNative()) FailNative(fn->GetName());
  return static_cast<TNormalFunction*>(fn);
}

// ---- member access off the fast paths

// The name of field `index` of the running function's class, for messages.
std::string FieldNameOf(TProcess* p, uint32_t index) {
  const TFunction* fn = FunctionById(HeapPtr<TFrame>(p->fp)->function);
  const TRTTI* cls = fn ? fn->owner : nullptr;
  if (cls && index < cls->fieldNames.size()) return SymbolName(cls->fieldNames[index].sym);
  return std::to_string(index);
}

// A field of a value that is not an object: a warning (not for an error value) and the
// error value, or a reference to the scratch slot holding it.
TValue FieldOfNonObject(const TValue& v, const std::string& name, bool deref) {
  if (v.kind != vtError) Warn(NotObject(v) + Translate(" Field") + name + Translate(" cannot be read."));
  if (deref) return ErrorValue(0);
  SetError(ScratchValue(), 0);
  return RefValue(heap::kScratchValueAddr);
}

// `cell` (an object, or not) becomes field `index` of it or a reference to it.
BROVA_COLD void StaticField(TProcess* p, TValue* cell, uint32_t index, bool deref) {
  TValue v = *cell;
  if (v.kind != vtObject) {
    *cell = FieldOfNonObject(v, FieldNameOf(p, index), deref);
    return;
  }
  // Only a corrupt block names a field past the object's end.
  Fail(Translate("Variable") + FieldNameOf(p, index) + Translate(" is not defined."));
}

// The receiver's field `index` for a receiver that is not an object (or too small).
BROVA_COLD TValue ThisField(TProcess* p, const TValue& self, uint32_t index, bool deref) {
  if (self.kind == vtObject)
    Fail(Translate("Variable") + FieldNameOf(p, index) + Translate(" is not defined."));
  return FieldOfNonObject(self, FieldNameOf(p, index), deref);
}

// Op_DMemberValPtr(_Deref) after a missed cache: the top becomes the field looked up by
// name, or the error value after a warning.
BROVA_COLD void DynamicField(TProcess* p, uint32_t* pc, bool deref) {
  TValue* cell = HeapPtr<TValue>(p->sp);
  TValue v = *cell;
  SymbolId sym = pc[1];
  int32_t& cache = reinterpret_cast<int32_t&>(pc[2]);
  if (v.kind != vtObject) {
    *cell = FieldOfNonObject(v, SymbolName(sym), deref);
    return;
  }
  TfObject* obj = ObjectPtr(v);
  const TRTTI* cls = ClassById(obj->cls);
  int32_t index = cls ? FieldIndex(cls, sym, cache) : -1;
  if (index >= 0 && static_cast<uint32_t>(index) < FieldCountOf(v)) {
    TValue& field = obj->fields[index];
    if (deref) {
      *cell = field;
      AddRef(*cell);
    } else {
      *cell = RefValue(HeapAddrOf(&field));
    }
  } else {
    cache = 0;
    Warn(Translate("Variable") + SymbolName(sym) + Translate(" is not defined."));
    if (deref) {
      *cell = ErrorValue(0);
    } else {
      SetError(ScratchValue(), 0);
      *cell = RefValue(heap::kScratchValueAddr);
    }
  }
  Release(v);
}

// ---- strings

// Pushes a new String object; false when a nested run released the process meanwhile.
BROVA_COLD bool PushString(TProcess* p, const uint32_t* pc) {
  const char* text = reinterpret_cast<const char*>(pc + 2);
  int32_t allowance = stepAllowance;
  HeapAddr obj = MakeString(std::string(text, strnlen(text, pc[1])));
  stepAllowance = allowance;
  if (p->released) return false;
  TValue* cell = HeapPtr<TValue>(p->sp) - 1;
  *cell = ObjectValue(obj);
  AddRef(*cell);
  p->sp = HeapAddrOf(cell);
  return true;
}

// PushString followed by Add with a String on the left: the literal joins the left text
// without becoming an object of its own. `at` is the literal's instruction, the process
// stands at the Add; false when a nested run released the process meanwhile.
BROVA_COLD bool JoinLiteral(TProcess* p, const uint32_t* at) {
  const char* chars = reinterpret_cast<const char*>(at + 2);
  std::string_view literal(chars, strnlen(chars, at[1]));
  TValue* left = HeapPtr<TValue>(p->sp);
  if (std::string* own = SoleStringText(*left)) {
    CheckJoinedLength(own->size(), literal.size());
    own->append(literal);
    return true;
  }
  const std::string* base = StringTextOf(ObjectPtr(*left));
  size_t baseSize = base ? base->size() : 0;
  CheckJoinedLength(baseSize, literal.size());
  // Room for a few more pieces: the result usually goes on growing in place.
  std::string text = TakeSpareText();
  text.reserve(baseSize + literal.size() + 16);
  if (base) text.append(*base);
  text.append(literal);
  int32_t allowance = stepAllowance;
  HeapAddr obj = MakeString(std::move(text));
  stepAllowance = allowance;
  if (p->released) return false;
  TValue l = *left;
  *left = ObjectValue(obj);
  AddRef(*left);
  Release(l);
  return true;
}

// ---- arithmetic off the fast paths

// Trunc of a float into 64 bits; values without an integer part are an error.
int64_t Trunc64(float f) {
  if (!std::isfinite(f) || std::fabs(f) >= 9.2e18f) Fail(Translate("Invalid floating point operation"));
  return static_cast<int64_t>(f);
}

int32_t Remainder64(int64_t a, int64_t b) {
  if (b == 0) Fail(Translate("Division by zero"));
  return static_cast<int32_t>(b == -1 ? 0 : a % b);
}

TValue IntOp(uint32_t op, int32_t a, int32_t b) {
  uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
  switch (op) {
  case Op_Add: return IntValue(static_cast<int32_t>(ua + ub));
  case Op_Sub: return IntValue(static_cast<int32_t>(ua - ub));
  case Op_Mul: return IntValue(static_cast<int32_t>(ua * ub));
  default: break;
  }
  if (b == 0) Fail(Translate("Division by zero"));
  if (a == INT32_MIN && b == -1) Fail(Translate("Integer overflow"));
  if (op == Op_Mod) return IntValue(a % b);
  if (a % b == 0) return IntValue(a / b);
  return FloatValue(static_cast<float>(a) / static_cast<float>(b));
}

TValue FloatOp(uint32_t op, float a, float b) {
  switch (op) {
  case Op_Add: return FloatValue(a + b);
  case Op_Sub: return FloatValue(a - b);
  case Op_Mul: return FloatValue(a * b);
  default:
    if (b == 0.0f) Fail(Translate("Floating point division by zero"));
    return FloatValue(a / b);
  }
}

TValue NumberOp(uint32_t op, const TValue& l, const TValue& r) {
  if (l.kind == vtInt && r.kind == vtInt) return IntOp(op, l.i, r.i);
  if (op == Op_Mod) {
    int64_t a = l.kind == vtInt ? l.i : Trunc64(l.f);
    int64_t b = r.kind == vtInt ? r.i : Trunc64(r.f);
    return IntValue(Remainder64(a, b));
  }
  return FloatOp(op, ValueToFloat(l), ValueToFloat(r));
}

// The whole operand table of Add, Sub, Mul, Div and Mod; false when a nested run released
// the process meanwhile.
BROVA_COLD bool Arithmetic(TProcess* p, uint32_t op) {
  TValue* right = HeapPtr<TValue>(p->sp);
  TValue* left = right + 1;
  TValue l = *left, r = *right;
  bool lNumber = l.kind == vtInt || l.kind == vtFloat;
  bool rNumber = r.kind == vtInt || r.kind == vtFloat;
  TValue result = l;
  bool replaced = false;
  if (lNumber || l.kind == vtObject) {
    if (lNumber && rNumber) {
      result = NumberOp(op, l, r);
      replaced = true;
    } else if (std::string* own = op == Op_Add ? SoleStringText(l) : nullptr) {
      // A String that only this slot holds (a join's result, a literal) grows in place.
      if (r.kind != vtNull && r.kind != vtUnset) AppendText(*own, r);
    } else if (op == Op_Add && (l.kind == vtObject || r.kind == vtObject)) {
      std::string text = lNumber || (r.kind != vtNull && r.kind != vtUnset) ? JoinTexts(l, r)
                                                                             : ValueToText(l);
      int32_t allowance = stepAllowance;
      HeapAddr obj = MakeString(std::move(text));
      stepAllowance = allowance;
      if (p->released) return false;
      result = ObjectValue(obj);
      AddRef(result);
      replaced = true;
    }
  } else {
    result = r;
    if (op == Op_Sub && r.kind == vtInt) result.i = static_cast<int32_t>(0u - r.u);
    else if (op == Op_Sub && r.kind == vtFloat) result.f = -r.f;
    AddRef(result);
    replaced = true;
  }
  *left = result;
  p->sp = HeapAddrOf(left);
  Release(r);
  if (replaced) Release(l);
  return true;
}

BROVA_COLD void Comparison(TProcess* p, uint32_t op) {
  TValue* right = HeapPtr<TValue>(p->sp);
  TValue* left = right + 1;
  TValue l = *left, r = *right;
  float d = CompareValues(l, r);
  bool t = false;
  switch (op) {
  case Op_GT: t = d > 0; break;
  case Op_GTE: t = d >= 0; break;
  case Op_LT: t = d < 0; break;
  case Op_LTE: t = d <= 0; break;
  case Op_EQ: t = d == 0; break;
  default: t = d != 0; break;
  }
  *left = FloatFlag(t);
  p->sp = HeapAddrOf(left);
  Release(r);
  Release(l);
}

// Op_AddSubst / Op_SubSubst: the target changes in place and the reference stays on top.
BROVA_COLD void CompoundAssign(TProcess* p, bool subtract) {
  TValue* top = HeapPtr<TValue>(p->sp);
  TValue x = top[0], ref = top[1];
  p->sp = HeapAddrOf(top + 1);
  if (ref.kind == vtRef) {
    TValue& t = *RefPtr(ref);
    bool xNumber = x.kind == vtInt || x.kind == vtFloat;
    float sign = subtract ? -1.0f : 1.0f;
    switch (t.kind) {
    case vtInt:
      if (x.kind == vtInt)
        t.i = static_cast<int32_t>(subtract ? t.u - x.u : t.u + x.u);
      else if (x.kind == vtFloat)
        t = FloatValue(static_cast<float>(t.i) + sign * x.f);
      break;
    case vtFloat:
      if (xNumber) t.f = subtract ? t.f - ValueToFloat(x) : t.f + ValueToFloat(x);
      break;
    case vtObject: break; // the target is left as it is
    default: AssignValue(t, x); break;
    }
  }
  Release(x);
}

// ---- for-in

BROVA_COLD void InitForIn(TProcess* p) {
  TValue* top = HeapPtr<TValue>(p->sp);
  const TValue& collection = top[0];
  const TRTTI* cls = collection.kind == vtObject ? ClassById(ObjectPtr(collection)->cls) : nullptr;
  if (!cls || !g_arrayClass || !IsSubclass(cls, g_arrayClass))
    Fail(Translate("\"Cannot apply \"\"for in ..\"\" to non-Array Value.\""));
  TValue list = NullValue();
  int32_t index = FieldIndex(cls, ListFieldSymbol(), g_listFieldCache);
  if (index >= 0 && static_cast<uint32_t>(index) < FieldCountOf(collection))
    list = ObjectPtr(collection)->fields[index];
  else
    g_listFieldCache = 0;
  top[-1] = list; // not counted: ClearForIn drops it without a release
  top[-2] = IntValue(0);
  p->sp = HeapAddrOf(top - 2);
}

// ---- calls off the fast paths

BROVA_COLD TNormalFunction* ResolveDynamicCall(const TValue& receiver, uint32_t* pc) {
  SymbolId sym = pc[2];
  int32_t& cache = reinterpret_cast<int32_t&>(pc[3]);
  const std::string& name = SymbolName(sym);
  TFunction* fn = nullptr;
  if (receiver.kind == vtObject) {
    const TRTTI* cls = ClassById(ObjectPtr(receiver)->cls);
    if (!cls) FailNotDefined(name);
    fn = MethodBySym(cls, sym, cache);
    if (fn) return Callable(fn);
    cache = 0;
    Warn(Translate("Method") + name + Translate(" is not defined."));
    fn = MethodBySym(cls, kSymErrorHook, cache);
    if (!fn) {
      cache = 0;
      FailNotDefined(name);
    }
  } else {
    std::string text = NotObject(receiver) + Translate(" Method") + name + Translate(" cannot be called.");
    if (receiver.kind != vtError) Warn(text);
    fn = g_objectClass ? MethodBySym(g_objectClass, kSymErrorHook, cache) : nullptr;
    if (!fn) {
      cache = 0;
      Fail(text);
    }
  }
  return Callable(fn);
}

BROVA_COLD TNormalFunction* ResolveIndexedCall(const TValue& receiver, int32_t index) {
  if (receiver.kind != vtObject)
    Fail(NotObject(receiver) + Translate(" Method") + std::to_string(index) + Translate(" cannot be called."));
  const TRTTI* cls = ClassById(ObjectPtr(receiver)->cls);
  TFunction* fn = cls ? MethodByIndex(cls, index) : nullptr;
  if (!fn) FailNotDefined(std::to_string(index));
  return Callable(fn);
}

BROVA_COLD TNormalFunction* ResolveSuperCall(uint32_t id) {
  TFunction* fn = FunctionById(id);
  if (!fn) FailNotDefined("#" + std::to_string(id));
  return Callable(fn);
}

// Op_Constructor: the class's constructor, after the new instance went into the receiver
// cell; null when a nested run released the process meanwhile.
BROVA_COLD TNormalFunction* Construct(TProcess* p, const uint32_t* pc) {
  TRTTI* cls = ClassById(pc[2]);
  if (!cls) Fail(Translate("Invalid Instruction") + std::to_string(Op_Constructor));
  TFunction* ctor = ConstructorOf(cls);
  if (!ctor) Fail(Translate("Class") + ClassText(cls) + Translate(" has no constructor."));
  TNormalFunction* fn = Callable(ctor);
  if (!fn->code) FailNotDefined(fn->GetName());
  // Refuse before the instance exists, so an overflow leaves nothing behind.
  uint32_t locals = detail::FrameLocals(static_cast<uint32_t>(fn->localNames.size()), *fn->code);
  int64_t frame = int64_t(p->sp) - 40;
  if (frame - int64_t(p->stackBase) < detail::FrameReserve(locals, *fn->code)) FailStack(fn->code);
  int32_t allowance = stepAllowance;
  HeapAddr obj = NewInstance(cls);
  stepAllowance = allowance;
  if (p->released) return nullptr;
  TValue& receiver = HeapPtr<TValue>(p->sp)[static_cast<int32_t>(pc[1])];
  receiver = ObjectValue(obj); // overwritten without a release: it held a placeholder
  AddRef(receiver);
  return fn;
}

BROVA_COLD NativeBody ResolveNative(uint32_t id) {
  TFunction* fn = FunctionById(id);
  if (!fn || !fn->IsNative()) Fail(Translate("Invalid Instruction") + std::to_string(Op_NativeCall));
  NativeBody body = static_cast<TNativeFunction*>(fn)->callback;
  if (!body) Fail(Translate("native Method is not implemented."));
  return body;
}

// ---- the decode map

// Handler numbers in the decode map. Operand instructions come in three kinds (K): a
// constant (Push, C), a local (LocalValPtr_Deref, L) and an argument (ArgValPtr_Deref, A),
// each 12 bytes; O is one of Add, Sub, Mul, Mod, and a test is a comparison GT ... NEQ
// followed by JumpZero. Every form but the plain ones spans several instructions and runs
// them in one pass when the values allow, each still counted.
enum : uint8_t {
  kUndecoded = 0,
  kPlain = 1, // + opcode: the instruction alone; + kOpcodeCount: an invalid opcode
  kOperandOp = kPlain + kOpcodeCount + 1, // + 4 K + O: `top O operand`
  kOperandTest = kOperandOp + 12,         // + K: `top < operand` deciding a jump
  kTwoOperandOp = kOperandTest + 3,       // + 12 K1 + 4 K2 + O: `a O b`
  kTwoOperandTest = kTwoOperandOp + 36,   // + K2: `c < b` deciding a jump, c a constant
  kTest = kTwoOperandTest + 3,            // + comparison - GT: a comparison and its JumpZero
  kAssignStatement = kTest + 6,           // Subst Pop
  kAddStatement,                          // AddSubst Pop
  kSubStatement,                          // SubSubst Pop
  kLocalCopy,                             // LocalValPtr, L, Subst, Pop: `x = y;`
  kLocalUpdate,    // + 4 (K == L) + 2 (a Jump follows) + (SubSubst): `x += c;`, `x -= y;`
  kRefOperand = kLocalUpdate + 8, // + K: LocalValPtr and an operand, a statement's start
  kOperandAssign = kRefOperand + 3, // + 4 K + O, then Subst Pop: `... = top O operand;`
  // + 24 (K1 - L) + 8 K2 + 2 O + (Sub): `top + a O b`, `top - a O b`, K1 a local or an
  // argument
  kAccumulate = kOperandAssign + 12,
  // + 18 (K1 - L) + 6 K2 + comparison - GT: `a < b` deciding a jump (a loop's test), K1 a
  // local or an argument
  kLoopTest = kAccumulate + 48,
  // + 8 K + 4 (Sub) + O, with Push, O, Subst, Pop after `top + a` or `top - a`:
  // `... = (top + a) O c;`
  kOperandThenConstantAssign = kLoopTest + 36,
  // + 2 (K == A) + (DMemberValPtr_Deref): a field of a local or an argument by name, `p.x`
  kOperandField = kOperandThenConstantAssign + 24,
  kFormCount = kOperandField + 4
};
static_assert(kFormCount <= 256);

constexpr int32_t OperandKind(uint32_t op) {
  return op == Op_Push ? 0 : op == Op_LocalValPtr_Deref ? 1 : op == Op_ArgValPtr_Deref ? 2 : -1;
}
// Add, Sub, Mul and Mod as 0 ... 3 (Div, whose integer result may be a float, has no form);
// -1 for any other opcode.
constexpr int32_t IntOpIndex(uint32_t op) {
  return op == Op_Mod ? 3 : op - Op_Add <= Op_Mul - Op_Add ? static_cast<int32_t>(op - Op_Add) : -1;
}
constexpr bool IsComparison(uint32_t op) { return op - Op_GT <= Op_NEQ - Op_GT; }

// The form of the instruction at `at`, which InstructionSize has accepted.
uint8_t FormAt(const uint32_t* w, uint32_t at, uint32_t size) {
  auto op = [&](uint32_t off) { return InstructionSize(w, off, size) ? w[off / 4] : UINT32_MAX; };
  const uint32_t first = w[at / 4];
  if (int32_t k = OperandKind(first); k >= 0) {
    const uint32_t second = op(at + 12);
    if (int32_t o = IntOpIndex(second); o >= 0) {
      if (op(at + 16) == Op_Subst && op(at + 20) == Op_Pop)
        return static_cast<uint8_t>(kOperandAssign + 4 * k + o);
      const int32_t o2 = op(at + 16) == Op_Push ? IntOpIndex(op(at + 28)) : -1;
      if (o < 2 && o2 >= 0 && op(at + 32) == Op_Subst && op(at + 36) == Op_Pop)
        return static_cast<uint8_t>(kOperandThenConstantAssign + 8 * k + 4 * o + o2);
      return static_cast<uint8_t>(kOperandOp + 4 * k + o);
    }
    if (IsComparison(second) && op(at + 16) == Op_JumpZero)
      return static_cast<uint8_t>(kOperandTest + k);
    if (k > 0 && (second == Op_DMemberValPtr || second == Op_DMemberValPtr_Deref))
      return static_cast<uint8_t>(kOperandField + 2 * (k - 1) + (second == Op_DMemberValPtr_Deref));
    if (int32_t k2 = OperandKind(second); k2 >= 0) {
      const uint32_t third = op(at + 24);
      if (int32_t o = IntOpIndex(third); o >= 0) {
        const uint32_t fourth = op(at + 28);
        if (k > 0 && (fourth == Op_Add || fourth == Op_Sub))
          return static_cast<uint8_t>(kAccumulate + 24 * (k - 1) + 8 * k2 + 2 * o +
                                      (fourth == Op_Sub));
        return static_cast<uint8_t>(kTwoOperandOp + 12 * k + 4 * k2 + o);
      }
      if (IsComparison(third) && op(at + 28) == Op_JumpZero)
        return static_cast<uint8_t>(k == 0 ? kTwoOperandTest + k2
                                           : kLoopTest + 18 * (k - 1) + 6 * k2 + third - Op_GT);
    }
  }
  if (IsComparison(first) && op(at + 4) == Op_JumpZero)
    return static_cast<uint8_t>(kTest + first - Op_GT);
  if (op(at + 4) == Op_Pop) {
    if (first == Op_Subst) return kAssignStatement;
    if (first == Op_AddSubst) return kAddStatement;
    if (first == Op_SubSubst) return kSubStatement;
  }
  if (first == Op_LocalValPtr && op(at + 24) == Op_Pop) {
    const uint32_t operand = op(at + 8), assign = op(at + 20);
    if (operand == Op_LocalValPtr_Deref && assign == Op_Subst) return kLocalCopy;
    if ((operand == Op_Push || operand == Op_LocalValPtr_Deref) &&
        (assign == Op_AddSubst || assign == Op_SubSubst))
      return static_cast<uint8_t>(kLocalUpdate + 4 * (operand == Op_LocalValPtr_Deref) +
                                  2 * (op(at + 28) == Op_Jump) + (assign == Op_SubSubst));
  }
  if (first == Op_LocalValPtr)
    if (int32_t k = OperandKind(op(at + 8)); k >= 0) return static_cast<uint8_t>(kRefOperand + k);
  return static_cast<uint8_t>(kPlain + first);
}

} // namespace

void SetObjectClass(TRTTI* cls) { g_objectClass = cls; }
void SetArrayClass(TRTTI* cls) { g_arrayClass = cls; }

namespace detail {

void Decode(const TCompiledInfo& info) {
  const uint32_t* w = info.Words();
  uint8_t* map = heap::DecodeEntries(info.code);
  for (uint32_t at = 0; at < info.size;) {
    uint32_t n = InstructionSize(w, at, info.size);
    if (n == 0) break; // the rest dispatches on its opcode words
    map[at / 4] = FormAt(w, at, info.size);
    at += n;
  }
}

void ForgetDecoding(HeapAddr code, uint32_t size) {
  if (code != kNoAddr) std::memset(heap::DecodeEntries(code), 0, size / 4);
}

BROVA_THREADED void ExecuteSlice(TProcess* p) {
  uint8_t* const hb = g_heapBase;
  uint8_t* const stackLow = hb + p->stackBase;
  uint32_t* pc = reinterpret_cast<uint32_t*>(hb + p->pc);
  TValue* sp = reinterpret_cast<TValue*>(hb + p->sp);
  uint8_t* fp = hb + p->fp; // hb itself: no frame
  TValue* self = reinterpret_cast<TValue*>(hb + p->thisSlot);
  // Fields of the receiver's block, found on the first field access of a frame (0 until).
  uint32_t selfFields = 0;
  int32_t avail = p->avail;

  // Shared by the call instructions.
  TNormalFunction* fn = nullptr;
  TValue* receiver = nullptr;
  int32_t argc = 0;
  uint32_t callSize = 0;
  // The reserve the call needs: indexed and dynamic calls keep room below the locals.
  int64_t TCompiledInfo::TFrameShape::*reserveOf = &TCompiledInfo::TFrameShape::reserve;

#define ADDR(ptr) static_cast<HeapAddr>(reinterpret_cast<const uint8_t*>(ptr) - hb)
#define SAVE()                                                                                   \
  (p->pc = ADDR(pc), p->sp = ADDR(sp), p->fp = ADDR(fp), p->thisSlot = ADDR(self),              \
   p->avail = avail)
#define FRAME reinterpret_cast<TFrame*>(fp)
// Hot paths move values as 64-bit words: the kind in the low byte, the payload on top.
#define KIND(w) static_cast<uint8_t>(w)
#define OBJECT_AT(w) reinterpret_cast<TfObject*>(hb + static_cast<uint32_t>((w) >> 32))
#define ADDREF_W(w)                                                                              \
  do {                                                                                           \
    if (KIND(w) == vtObject) ++OBJECT_AT(w)->refCount;                                           \
  } while (0)
#define RELEASE_W(w)                                                                             \
  do {                                                                                           \
    if (KIND(w) == vtObject && BROVA_UNLIKELY(--OBJECT_AT(w)->refCount == -1)) {                 \
      SAVE();                                                                                    \
      FailNegativeCount(ValueOfWord(w));                                                         \
    }                                                                                            \
  } while (0)
#define LOCAL(k) (reinterpret_cast<TValue*>(fp) - static_cast<int32_t>(k))
#define ARG(n) (self - 1 - (n))
#define ADDREF(v)                                                                                \
  do {                                                                                           \
    if ((v).kind == vtObject) ++ObjectPtr(v)->refCount;                                          \
  } while (0)
#define RELEASE(v)                                                                               \
  do {                                                                                           \
    if ((v).kind == vtObject && BROVA_UNLIKELY(--ObjectPtr(v)->refCount == -1)) {                \
      SAVE();                                                                                    \
      FailNegativeCount(v);                                                                      \
    }                                                                                            \
  } while (0)

#if defined(__GNUC__)
  // The map's byte of the word at pc is at formOf + pc / 4: the heap's base is page-aligned.
  const uintptr_t formOf =
      reinterpret_cast<uintptr_t>(g_decodeMap) - (reinterpret_cast<uintptr_t>(hb) >> 2);
#define BROVA_LABEL(num, name, size, operands, listing, pops, pushes) &&op_##name,
#define OPERAND_OP_LABELS(K) &&f_KO_##K##_Add, &&f_KO_##K##_Sub, &&f_KO_##K##_Mul, &&f_KO_##K##_Mod,
#define TWO_OPERAND_OP_LABELS(K1, K2)                                                            \
  &&f_KKO_##K1##K2##_Add, &&f_KKO_##K1##K2##_Sub, &&f_KKO_##K1##K2##_Mul, &&f_KKO_##K1##K2##_Mod,
#define OPERAND_ASSIGN_LABELS(K)                                                                 \
  &&f_KA_##K##_Add, &&f_KA_##K##_Sub, &&f_KA_##K##_Mul, &&f_KA_##K##_Mod,
#define ACCUMULATE_LABELS_OF(K1, K2, O) &&f_Acc_##K1##K2##_##O##_Add, &&f_Acc_##K1##K2##_##O##_Sub,
#define ACCUMULATE_LABELS(K1, K2)                                                                \
  ACCUMULATE_LABELS_OF(K1, K2, Add) ACCUMULATE_LABELS_OF(K1, K2, Sub)                            \
  ACCUMULATE_LABELS_OF(K1, K2, Mul) ACCUMULATE_LABELS_OF(K1, K2, Mod)
#define LOOP_TEST_LABELS(K1, K2)                                                                 \
  &&f_Loop_##K1##K2##_GT, &&f_Loop_##K1##K2##_GTE, &&f_Loop_##K1##K2##_LT,                       \
  &&f_Loop_##K1##K2##_LTE, &&f_Loop_##K1##K2##_EQ, &&f_Loop_##K1##K2##_NEQ,
#define OPERAND_THEN_CONSTANT_LABELS_OF(K, O)                                                    \
  &&f_KCA_##K##_##O##_Add, &&f_KCA_##K##_##O##_Sub, &&f_KCA_##K##_##O##_Mul,                     \
  &&f_KCA_##K##_##O##_Mod,
#define OPERAND_THEN_CONSTANT_LABELS(K)                                                          \
  OPERAND_THEN_CONSTANT_LABELS_OF(K, Add) OPERAND_THEN_CONSTANT_LABELS_OF(K, Sub)
  // By decode map entry, in the order of the handler numbers.
  static const void* const kLabels[] = {
      &&op_Undecoded, BROVA_OPCODES(BROVA_LABEL) && op_Invalid,
      OPERAND_OP_LABELS(C) OPERAND_OP_LABELS(L) OPERAND_OP_LABELS(A)
      &&f_KJ_C, &&f_KJ_L, &&f_KJ_A,
      TWO_OPERAND_OP_LABELS(C, C) TWO_OPERAND_OP_LABELS(C, L) TWO_OPERAND_OP_LABELS(C, A)
      TWO_OPERAND_OP_LABELS(L, C) TWO_OPERAND_OP_LABELS(L, L) TWO_OPERAND_OP_LABELS(L, A)
      TWO_OPERAND_OP_LABELS(A, C) TWO_OPERAND_OP_LABELS(A, L) TWO_OPERAND_OP_LABELS(A, A)
      &&f_KKJ_CC, &&f_KKJ_CL, &&f_KKJ_CA,
      &&f_Test_GT, &&f_Test_GTE, &&f_Test_LT, &&f_Test_LTE, &&f_Test_EQ, &&f_Test_NEQ,
      &&f_AssignStatement, &&f_AddStatement, &&f_SubStatement, &&f_LocalCopy,
      &&f_LocalUpdate_C_Add, &&f_LocalUpdate_C_Sub, &&f_LocalUpdateJump_C_Add,
      &&f_LocalUpdateJump_C_Sub, &&f_LocalUpdate_L_Add, &&f_LocalUpdate_L_Sub,
      &&f_LocalUpdateJump_L_Add, &&f_LocalUpdateJump_L_Sub,
      &&f_RefOperand_C, &&f_RefOperand_L, &&f_RefOperand_A,
      OPERAND_ASSIGN_LABELS(C) OPERAND_ASSIGN_LABELS(L) OPERAND_ASSIGN_LABELS(A)
      ACCUMULATE_LABELS(L, C) ACCUMULATE_LABELS(L, L) ACCUMULATE_LABELS(L, A)
      ACCUMULATE_LABELS(A, C) ACCUMULATE_LABELS(A, L) ACCUMULATE_LABELS(A, A)
      LOOP_TEST_LABELS(L, C) LOOP_TEST_LABELS(L, L) LOOP_TEST_LABELS(L, A)
      LOOP_TEST_LABELS(A, C) LOOP_TEST_LABELS(A, L) LOOP_TEST_LABELS(A, A)
      OPERAND_THEN_CONSTANT_LABELS(C) OPERAND_THEN_CONSTANT_LABELS(L)
      OPERAND_THEN_CONSTANT_LABELS(A)
      &&f_Field_L, &&f_FieldValue_L, &&f_Field_A, &&f_FieldValue_A};
  static_assert(sizeof kLabels / sizeof kLabels[0] == kFormCount);
#undef BROVA_LABEL
#undef OPERAND_OP_LABELS
#undef TWO_OPERAND_OP_LABELS
#undef OPERAND_ASSIGN_LABELS
#undef ACCUMULATE_LABELS_OF
#undef ACCUMULATE_LABELS
#undef LOOP_TEST_LABELS
#undef OPERAND_THEN_CONSTANT_LABELS_OF
#undef OPERAND_THEN_CONSTANT_LABELS
  // The table's address hidden from the optimiser, so that it is formed once and not again
  // at every dispatch (which measured a few host instructions more per instruction).
  const void* const* labels = kLabels;
  asm("" : "+r"(labels));
#define FORM_AT(at)                                                                              \
  (*reinterpret_cast<const uint8_t*>(formOf + (reinterpret_cast<uintptr_t>(at) >> 2)))
#define DISPATCH()                                                                               \
  {                                                                                              \
    if (BROVA_UNLIKELY(--avail < 0)) goto slice_done;                                            \
    goto* labels[FORM_AT(pc)];                                                                   \
  }
#define CASE(name) op_##name:
#define FORM(name) f_##name:
#define INVALID_CASE op_Invalid:
  DISPATCH();
  // Code that was never decoded (or the inner instruction of a fused pair, reached by a jump)
  // runs by its opcode word.
op_Undecoded: {
  uint32_t op_ = *pc;
  goto* labels[kPlain + (op_ < kOpcodeCount ? op_ : kOpcodeCount)];
}
#else
// Without computed gotos the decode map is not read: every instruction runs alone.
#define DISPATCH() continue;
#define CASE(name)                                                                               \
  case Op_##name:                                                                                \
  op_##name:
#define FORM(name) f_##name:
#define INVALID_CASE                                                                             \
  default:                                                                                       \
  op_Invalid:
  for (;;) {
    if (--avail < 0) goto slice_done;
    switch (*pc) {
#endif
#define NEXT(bytes)                                                                              \
  {                                                                                              \
    pc = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pc) + (bytes));                  \
    DISPATCH();                                                                                  \
  }
#define JUMP() NEXT(static_cast<int32_t>(pc[1]))

  CASE(Pop) {
    uint64_t w = WordOf(sp++);
    RELEASE_W(w);
    NEXT(4);
  }
  CASE(Push) {
    PutWord(--sp, (pc[1] & 0xFF) | uint64_t(pc[2]) << 32);
    NEXT(12);
  }
  CASE(PushString) {
    uint32_t* add = pc + 2 + pc[1] / 4;
    if (*add == Op_Add && avail > 0 && IsStringObject(*sp)) {
      // Both instructions counted; should the join fail, the process stands at the Add.
      const uint32_t* literal = pc;
      --avail;
      pc = add;
      SAVE();
      if (!JoinLiteral(p, literal)) return;
      NEXT(4);
    }
    SAVE();
    if (!PushString(p, pc)) return;
    --sp;
    NEXT(8 + pc[1]);
  }
  CASE(PushThis) {
    uint64_t w = WordOf(self);
    ADDREF_W(w);
    PutWord(--sp, w);
    NEXT(4);
  }
  CASE(SMemberValPtr) {
    uint32_t i = pc[1];
    if (BROVA_LIKELY(i < FieldCountOf(*sp))) {
      TValue obj = *sp;
      *sp = RefValue(ADDR(&ObjectPtr(obj)->fields[i]));
      RELEASE(obj);
      NEXT(8);
    }
    SAVE();
    StaticField(p, sp, i, false);
    NEXT(8);
  }
  CASE(DMemberValPtr) {
    if (BROVA_LIKELY(sp->kind == vtObject)) {
      TValue obj = *sp;
      TfObject* o = ObjectPtr(obj);
      const TRTTI* cls = ClassById(o->cls);
      uint32_t cache = pc[2];
      if (BROVA_LIKELY(cls && cache < static_cast<uint32_t>(cls->instanceSize - 12) / 8 &&
                       cls->fieldNames[cache].sym == pc[1])) {
        *sp = RefValue(ADDR(&o->fields[cache]));
        RELEASE(obj);
        NEXT(12);
      }
    }
    SAVE();
    DynamicField(p, pc, false);
    NEXT(12);
  }
  CASE(LocalValPtr) {
    *--sp = RefValue(ADDR(LOCAL(pc[1])));
    NEXT(8);
  }
  CASE(ArgValPtr) {
    uint32_t n = pc[1];
    if (BROVA_LIKELY(n < static_cast<uint32_t>(FRAME->argc))) {
      *--sp = RefValue(ADDR(ARG(n)));
      NEXT(8);
    }
    SAVE();
    SetNull(ScratchValue());
    *--sp = RefValue(heap::kScratchValueAddr);
    NEXT(8);
  }
  CASE(PushThis_SMemberValPtr) {
    uint32_t i = pc[2];
    if (BROVA_LIKELY(i < selfFields || i < (selfFields = FieldCountOf(*self)))) {
      *--sp = RefValue(ADDR(&ObjectPtr(*self)->fields[i]));
      NEXT(12);
    }
    SAVE();
    TValue v = ThisField(p, *self, i, false);
    *--sp = v;
    NEXT(12);
  }
  CASE(PushThis_SMemberValPtr_Deref) {
    uint32_t i = pc[2];
    if (BROVA_LIKELY(i < selfFields || i < (selfFields = FieldCountOf(*self)))) {
      uint64_t w = WordOf(&reinterpret_cast<TfObject*>(hb + self->u)->fields[i]);
      ADDREF_W(w);
      PutWord(--sp, w);
      NEXT(16);
    }
    SAVE();
    TValue v = ThisField(p, *self, i, true);
    *--sp = v;
    NEXT(16);
  }
  CASE(DMemberValPtr_Deref) {
    if (BROVA_LIKELY(sp->kind == vtObject)) {
      TValue obj = *sp;
      TfObject* o = ObjectPtr(obj);
      const TRTTI* cls = ClassById(o->cls);
      uint32_t cache = pc[2];
      if (BROVA_LIKELY(cls && cache < static_cast<uint32_t>(cls->instanceSize - 12) / 8 &&
                       cls->fieldNames[cache].sym == pc[1])) {
        TValue v = o->fields[cache];
        ADDREF(v);
        *sp = v;
        RELEASE(obj);
        NEXT(16);
      }
    }
    SAVE();
    DynamicField(p, pc, true);
    NEXT(16);
  }
  CASE(LocalValPtr_Deref) {
    uint64_t w = WordOf(LOCAL(pc[1]));
    ADDREF_W(w);
    PutWord(--sp, w);
    NEXT(12);
  }
  CASE(ArgValPtr_Deref) {
    uint32_t n = pc[1];
    uint64_t w = n < static_cast<uint32_t>(FRAME->argc) ? WordOf(ARG(n)) : uint64_t(vtNull);
    ADDREF_W(w);
    PutWord(--sp, w);
    NEXT(12);
  }
  CASE(Push_Deref) {
    uint64_t w = (pc[1] & 0xFF) | uint64_t(pc[2]) << 32;
    if (BROVA_LIKELY(KIND(w) == vtRef)) {
      w = WordOf(reinterpret_cast<TValue*>(hb + pc[2]));
      ADDREF_W(w);
    }
    PutWord(--sp, w);
    NEXT(16);
  }
  CASE(DCall) {
    argc = static_cast<int32_t>(pc[1]);
    receiver = sp + argc;
    fn = nullptr;
    if (BROVA_LIKELY(receiver->kind == vtObject)) {
      const TRTTI* cls = ClassById(ObjectPtr(*receiver)->cls);
      uint32_t cache = pc[3];
      if (BROVA_LIKELY(cls && cache < cls->methods.size())) {
        TFunction* m = cls->methods[cache];
        if (BROVA_LIKELY(m->name == pc[2] && !m->IsNative())) fn = static_cast<TNormalFunction*>(m);
      }
    }
    if (BROVA_UNLIKELY(!fn)) {
      SAVE();
      fn = ResolveDynamicCall(*receiver, pc);
    }
    callSize = 16;
    reserveOf = &TCompiledInfo::TFrameShape::dynamicReserve;
    goto call;
  }
  CASE(SCall) {
    argc = static_cast<int32_t>(pc[1]);
    receiver = sp + argc;
    fn = nullptr;
    if (BROVA_LIKELY(receiver->kind == vtObject)) {
      const TRTTI* cls = ClassById(ObjectPtr(*receiver)->cls);
      uint32_t index = pc[2];
      if (BROVA_LIKELY(cls && index < cls->methods.size() && !cls->methods[index]->IsNative()))
        fn = static_cast<TNormalFunction*>(cls->methods[index]);
    }
    if (BROVA_UNLIKELY(!fn)) {
      SAVE();
      fn = ResolveIndexedCall(*receiver, static_cast<int32_t>(pc[2]));
    }
    callSize = 12;
    reserveOf = &TCompiledInfo::TFrameShape::dynamicReserve;
    goto call;
  }
  CASE(SuperCall) {
    argc = static_cast<int32_t>(pc[1]);
    receiver = sp + argc;
    TFunction* m = FunctionById(pc[2]);
    if (BROVA_LIKELY(m && !m->IsNative())) {
      fn = static_cast<TNormalFunction*>(m);
    } else {
      SAVE();
      fn = ResolveSuperCall(pc[2]);
    }
    callSize = 12;
    reserveOf = &TCompiledInfo::TFrameShape::reserve;
    goto call;
  }
  CASE(NativeCall) {
    argc = static_cast<int32_t>(pc[1]);
    receiver = sp + argc;
    TFunction* m = FunctionById(pc[2]);
    NativeBody body = m && m->IsNative() ? static_cast<TNativeFunction*>(m)->callback : nullptr;
    // Saved with the arguments still on the stack: if the native fails, they are released
    // with it.
    SAVE();
    if (BROVA_UNLIKELY(!body)) body = ResolveNative(pc[2]);
    body(receiver, argc, 0);
    if (BROVA_UNLIKELY(p->released)) return;
    avail = p->avail; // the native may have suspended or finished the process
    TValue* args = sp;
    sp = receiver;
    for (TValue* a = args; a < receiver; ++a) RELEASE(*a);
    NEXT(12);
  }
  CASE(Constructor) {
    argc = static_cast<int32_t>(pc[1]);
    receiver = sp + argc;
    SAVE();
    fn = Construct(p, pc);
    if (!fn) return;
    callSize = 12;
    reserveOf = &TCompiledInfo::TFrameShape::reserve;
    goto call;
  }
  CASE(Add) {
    TValue* l = sp + 1;
    uint64_t lw = WordOf(l), rw = WordOf(sp);
    if (BROVA_LIKELY(KIND(lw) == vtInt && KIND(rw) == vtInt)) {
      PutWord(l, IntWord(Payload(lw) + Payload(rw)));
      sp = l;
      NEXT(4);
    }
    if (l->kind == vtFloat && sp->kind == vtFloat) {
      l->f += sp->f;
      sp = l;
      NEXT(4);
    }
    SAVE();
    if (!Arithmetic(p, Op_Add)) return;
    ++sp;
    NEXT(4);
  }
  CASE(Sub) {
    TValue* l = sp + 1;
    uint64_t lw = WordOf(l), rw = WordOf(sp);
    if (BROVA_LIKELY(KIND(lw) == vtInt && KIND(rw) == vtInt)) {
      PutWord(l, IntWord(Payload(lw) - Payload(rw)));
      sp = l;
      NEXT(4);
    }
    if (l->kind == vtFloat && sp->kind == vtFloat) {
      l->f -= sp->f;
      sp = l;
      NEXT(4);
    }
    SAVE();
    if (!Arithmetic(p, Op_Sub)) return;
    ++sp;
    NEXT(4);
  }
  CASE(Mul) {
    TValue* l = sp + 1;
    uint64_t lw = WordOf(l), rw = WordOf(sp);
    if (BROVA_LIKELY(KIND(lw) == vtInt && KIND(rw) == vtInt)) {
      PutWord(l, IntWord(Payload(lw) * Payload(rw)));
      sp = l;
      NEXT(4);
    }
    if (l->kind == vtFloat && sp->kind == vtFloat) {
      l->f *= sp->f;
      sp = l;
      NEXT(4);
    }
    SAVE();
    if (!Arithmetic(p, Op_Mul)) return;
    ++sp;
    NEXT(4);
  }
  CASE(Div) {
    TValue* l = sp + 1;
    if (BROVA_LIKELY(l->kind == vtInt && sp->kind == vtInt && sp->i > 0)) {
      int32_t a = l->i, b = sp->i;
      *l = a % b == 0 ? IntValue(a / b) : FloatValue(static_cast<float>(a) / static_cast<float>(b));
      sp = l;
      NEXT(4);
    }
    if (l->kind == vtFloat && sp->kind == vtFloat && sp->f != 0.0f) {
      l->f /= sp->f;
      sp = l;
      NEXT(4);
    }
    SAVE();
    if (!Arithmetic(p, Op_Div)) return;
    ++sp;
    NEXT(4);
  }
  CASE(Mod) {
    TValue* l = sp + 1;
    if (BROVA_LIKELY(l->kind == vtInt && sp->kind == vtInt && sp->i > 0)) {
      PutWord(l, IntWord(static_cast<uint32_t>(l->i % sp->i)));
      sp = l;
      NEXT(4);
    }
    SAVE();
    if (!Arithmetic(p, Op_Mod)) return;
    ++sp;
    NEXT(4);
  }

#define COMPARISON(name, rel)                                                                    \
  CASE(name) {                                                                                   \
    TValue* l = sp + 1;                                                                          \
    if (BROVA_LIKELY(l->kind == vtInt && sp->kind == vtInt)) {                                   \
      *l = FloatFlag(l->i rel sp->i);                                                            \
      sp = l;                                                                                    \
      NEXT(4);                                                                                   \
    }                                                                                            \
    if (l->kind == vtFloat && sp->kind == vtFloat) {                                             \
      float d = l->f - sp->f;                                                                    \
      *l = FloatFlag(d rel 0.0f);                                                                \
      sp = l;                                                                                    \
      NEXT(4);                                                                                   \
    }                                                                                            \
    SAVE();                                                                                      \
    Comparison(p, Op_##name);                                                                    \
    ++sp;                                                                                        \
    NEXT(4);                                                                                     \
  }
  COMPARISON(GT, >)
  COMPARISON(GTE, >=)
  COMPARISON(LT, <)
  COMPARISON(LTE, <=)
  COMPARISON(EQ, ==)
  COMPARISON(NEQ, !=)
#undef COMPARISON

  CASE(And) NEXT(4);
  CASE(Or) NEXT(4);
  CASE(Is) {
    TValue v = *sp;
    bool is = v.kind == vtObject &&
              IsSubclass(ClassById(ObjectPtr(v)->cls), ClassById(pc[1]));
    *sp = IntValue(is ? 1 : 0);
    RELEASE(v);
    NEXT(8);
  }
  CASE(Not) {
    TValue v = *sp;
    *sp = IntValue(Truthy(v) ? 0 : 1);
    RELEASE(v);
    NEXT(4);
  }
  CASE(Neg) {
    if (sp->kind == vtInt) sp->i = static_cast<int32_t>(0u - sp->u);
    else if (sp->kind == vtFloat) sp->f = -sp->f;
    NEXT(4);
  }
  CASE(Subst) {
    TValue x = sp[0];
    TValue ref = sp[1];
    ++sp;
    *sp = x;
    if (BROVA_LIKELY(ref.kind == vtRef)) {
      // The stack's reference to x moves into the slot; the result cell adds one.
      TValue* slot = RefPtr(ref);
      TValue old = *slot;
      *slot = x;
      ADDREF(x);
      RELEASE(old);
    } else {
      RELEASE(ref);
    }
    NEXT(4);
  }
  CASE(AddSubst) {
    if (BROVA_LIKELY(sp[1].kind == vtRef && sp[0].kind == vtInt)) {
      TValue* t = RefPtr(sp[1]);
      if (BROVA_LIKELY(t->kind == vtInt)) {
        PutWord(t, IntWord(t->u + sp[0].u));
        ++sp;
        NEXT(4);
      }
    }
    SAVE();
    CompoundAssign(p, false);
    ++sp;
    NEXT(4);
  }
  CASE(SubSubst) {
    if (BROVA_LIKELY(sp[1].kind == vtRef && sp[0].kind == vtInt)) {
      TValue* t = RefPtr(sp[1]);
      if (BROVA_LIKELY(t->kind == vtInt)) {
        PutWord(t, IntWord(t->u - sp[0].u));
        ++sp;
        NEXT(4);
      }
    }
    SAVE();
    CompoundAssign(p, true);
    ++sp;
    NEXT(4);
  }
  CASE(Deref) {
    if (BROVA_LIKELY(sp->kind == vtRef)) {
      uint64_t w = WordOf(reinterpret_cast<TValue*>(hb + sp->u));
      ADDREF_W(w);
      PutWord(sp, w);
    }
    NEXT(4);
  }
  CASE(Jump) JUMP();
  CASE(JumpZero) {
    TValue v = *sp++;
    bool truthy = Truthy(v);
    if (BROVA_UNLIKELY(v.kind == vtObject)) RELEASE(v);
    if (!truthy) JUMP();
    NEXT(8);
  }
  CASE(Jump_And) {
    if (!Truthy(*sp)) JUMP();
    TValue v = *sp++;
    RELEASE(v);
    NEXT(8);
  }
  CASE(Jump_Or) {
    if (Truthy(*sp)) JUMP();
    TValue v = *sp++;
    RELEASE(v);
    NEXT(8);
  }
  CASE(Ret) {
  ret:
    TFrame* frame = FRAME;
    TValue* top = sp;
    TValue* recv = reinterpret_cast<TValue*>(hb + frame->thisAddr);
    uint64_t oldReceiver = WordOf(recv);
    // Leave the frame first, then release what it held: a failing release then finds the
    // process in the caller's state, with nothing released twice.
    PutWord(recv, WordOf(top));
    sp = recv;
    fp = hb + frame->callerFp;
    bool bottom = frame->callerFp == kNoAddr;
    if (bottom) {
      p->resultSlot = ADDR(recv);
    } else {
      pc = reinterpret_cast<uint32_t*>(hb + frame->returnAddr);
      self = reinterpret_cast<TValue*>(hb + FRAME->thisAddr);
      selfFields = 0;
    }
    for (TValue* c = top + 1; c <= &frame->local0; ++c) {
      uint64_t w = WordOf(c);
      RELEASE_W(w);
    }
    for (TValue* c = reinterpret_cast<TValue*>(frame + 1); c < recv; ++c) {
      uint64_t w = WordOf(c);
      RELEASE_W(w);
    }
    RELEASE_W(oldReceiver);
    if (bottom) {
      SAVE();
      Finish(p);
      return;
    }
    NEXT(0);
  }
  CASE(InitForIn) {
    SAVE();
    InitForIn(p);
    sp -= 2;
    NEXT(4);
  }
  CASE(DoForIn) {
    uint32_t i = static_cast<uint32_t>(ValueToInt(sp[0]));
    TList* list = NativeOfKind<TList>(sp[1]);
    if (!list || i >= list->items.size()) JUMP();
    if (BROVA_LIKELY(sp[3].kind == vtRef)) {
      // The element's word is taken first: the variable may be one of the list's cells.
      TValue* target = reinterpret_cast<TValue*>(hb + sp[3].u);
      uint64_t w = WordOf(&list->items[i]);
      uint64_t old = WordOf(target);
      RELEASE_W(old);
      PutWord(target, w);
      ADDREF_W(w);
    }
    PutWord(sp, IntWord(i + 1));
    NEXT(8);
  }
  CASE(ClearForIn) {
    TValue collection = sp[2];
    TValue ref = sp[3];
    sp += 4;
    RELEASE(collection);
    RELEASE(ref);
    NEXT(4);
  }
  CASE(Point) {
    p->pos.cls = pc[1];
    p->pos.line = pc[2];
    p->pos.extra = pc[3];
    NEXT(16);
  }
  CASE(Halt) {
    SAVE();
    Finish(p);
    return;
  }

  // ---- decoded forms: the instructions are known, only the values are checked. A check
  // that fails, or an allowance that does not cover every step, runs the first instruction
  // alone, with nothing done yet.

// The integer `v` the operand instruction at word `at` pushes, or on to `fail`.
#define TAKE_C(at, v, fail)                                                                      \
  if (BROVA_UNLIKELY((pc[(at) + 1] & 0xFF) != vtInt)) goto fail;                                 \
  const uint32_t v = pc[(at) + 2];
#define TAKE_L(at, v, fail)                                                                      \
  const uint64_t v##_w = WordOf(LOCAL(pc[(at) + 1]));                                            \
  if (BROVA_UNLIKELY(KIND(v##_w) != vtInt)) goto fail;                                           \
  const uint32_t v = Payload(v##_w);
#define TAKE_A(at, v, fail)                                                                      \
  if (BROVA_UNLIKELY(pc[(at) + 1] >= static_cast<uint32_t>(FRAME->argc))) goto fail;            \
  const uint64_t v##_w = WordOf(ARG(pc[(at) + 1]));                                              \
  if (BROVA_UNLIKELY(KIND(v##_w) != vtInt)) goto fail;                                           \
  const uint32_t v = Payload(v##_w);
#define TAKE_TOP(v, fail)                                                                        \
  const uint64_t v##_w = WordOf(sp);                                                             \
  if (BROVA_UNLIKELY(KIND(v##_w) != vtInt)) goto fail;                                           \
  const uint32_t v = Payload(v##_w);
#define FIRST_C op_Push
#define FIRST_L op_LocalValPtr_Deref
#define FIRST_A op_ArgValPtr_Deref
// `r` as the integer handlers compute it; a divisor that is not positive goes to `fail`.
#define INT_Add(a, b, r, fail) const uint32_t r = (a) + (b);
#define INT_Sub(a, b, r, fail) const uint32_t r = (a) - (b);
#define INT_Mul(a, b, r, fail) const uint32_t r = (a) * (b);
#define INT_Mod(a, b, r, fail)                                                                   \
  if (BROVA_UNLIKELY(static_cast<int32_t>(b) <= 0)) goto fail;                                   \
  const uint32_t r = static_cast<uint32_t>(static_cast<int32_t>(a) % static_cast<int32_t>(b));

  // `top O operand`, into the top (`x + 1`).
#define OPERAND_OP(K, O)                                                                         \
  FORM(KO_##K##_##O) {                                                                           \
    if (BROVA_UNLIKELY(avail < 1)) goto FIRST_##K;                                               \
    TAKE_##K(0, b, FIRST_##K) TAKE_TOP(a, FIRST_##K) INT_##O(a, b, r, FIRST_##K)                 \
    --avail;                                                                                     \
    PutWord(sp, IntWord(r));                                                                     \
    NEXT(16);                                                                                    \
  }
  // `top < operand` and the JumpZero it decides.
#define OPERAND_TEST(K)                                                                          \
  FORM(KJ_##K) {                                                                                 \
    if (BROVA_UNLIKELY(avail < 2)) goto FIRST_##K;                                               \
    TAKE_##K(0, b, FIRST_##K) TAKE_TOP(a, FIRST_##K)                                             \
    avail -= 2;                                                                                  \
    sp += 1;                                                                                     \
    pc += 4;                                                                                     \
    if (IntCompare(pc[-1], static_cast<int32_t>(a), static_cast<int32_t>(b))) NEXT(8);           \
    JUMP();                                                                                      \
  }
  // `a O b` onto the stack (`i * j`).
#define TWO_OPERAND_OP(K1, K2, O)                                                                \
  FORM(KKO_##K1##K2##_##O) {                                                                     \
    if (BROVA_UNLIKELY(avail < 2)) goto FIRST_##K1;                                              \
    TAKE_##K1(0, a, FIRST_##K1) TAKE_##K2(3, b, FIRST_##K1) INT_##O(a, b, r, FIRST_##K1)         \
    avail -= 2;                                                                                  \
    PutWord(--sp, IntWord(r));                                                                   \
    NEXT(28);                                                                                    \
  }
  // `a < b` and the JumpZero it decides (`i < n`).
#define TWO_OPERAND_TEST(K1, K2)                                                                 \
  FORM(KKJ_##K1##K2) {                                                                           \
    if (BROVA_UNLIKELY(avail < 3)) goto FIRST_##K1;                                              \
    TAKE_##K1(0, a, FIRST_##K1) TAKE_##K2(3, b, FIRST_##K1)                                      \
    avail -= 3;                                                                                  \
    pc += 7;                                                                                     \
    if (IntCompare(pc[-1], static_cast<int32_t>(a), static_cast<int32_t>(b))) NEXT(8);           \
    JUMP();                                                                                      \
  }
  // The integer `r` into the slot referenced below the top, the statement's end; the Pop is
  // `pop` words on. A failing release finds the process at the Pop, as the assignment's does.
#define STORE_AND_POP(r, pop)                                                                    \
  {                                                                                              \
    TValue* slot = reinterpret_cast<TValue*>(hb + sp[1].u);                                      \
    uint64_t old = WordOf(slot);                                                                 \
    PutWord(slot, IntWord(r));                                                                   \
    sp += 2;                                                                                     \
    pc += pop;                                                                                   \
    RELEASE_W(old);                                                                              \
    NEXT(4);                                                                                     \
  }
  // `top O operand` into the slot referenced below the top, the statement's end.
#define OPERAND_ASSIGN(K, O)                                                                     \
  FORM(KA_##K##_##O) {                                                                           \
    if (BROVA_UNLIKELY(avail < 3 || sp[1].kind != vtRef)) goto FIRST_##K;                        \
    TAKE_##K(0, b, FIRST_##K) TAKE_TOP(a, FIRST_##K) INT_##O(a, b, r, FIRST_##K)                 \
    avail -= 3;                                                                                  \
    STORE_AND_POP(r, 5)                                                                          \
  }
  // `(top + a) O c` and `(top - a) O c` into the slot referenced below the top.
#define OPERAND_THEN_CONSTANT(K, O1, O)                                                          \
  FORM(KCA_##K##_##O1##_##O) {                                                                   \
    if (BROVA_UNLIKELY(avail < 5 || sp[1].kind != vtRef)) goto FIRST_##K;                        \
    TAKE_##K(0, a, FIRST_##K) TAKE_TOP(t, FIRST_##K) TAKE_C(4, c, FIRST_##K)                     \
    INT_##O1(t, a, r1, FIRST_##K) INT_##O(r1, c, r, FIRST_##K)                                   \
    avail -= 5;                                                                                  \
    STORE_AND_POP(r, 9)                                                                          \
  }
#define OPERAND_THEN_CONSTANT_FORMS(K)                                                           \
  OPERAND_THEN_CONSTANT(K, Add, Add) OPERAND_THEN_CONSTANT(K, Add, Sub)                          \
  OPERAND_THEN_CONSTANT(K, Add, Mul) OPERAND_THEN_CONSTANT(K, Add, Mod)                          \
  OPERAND_THEN_CONSTANT(K, Sub, Add) OPERAND_THEN_CONSTANT(K, Sub, Sub)                          \
  OPERAND_THEN_CONSTANT(K, Sub, Mul) OPERAND_THEN_CONSTANT(K, Sub, Mod)
  // `top + a O b` and `top - a O b` (`s + i * j`).
#define ACCUMULATE(K1, K2, O, O2)                                                                \
  FORM(Acc_##K1##K2##_##O##_##O2) {                                                              \
    if (BROVA_UNLIKELY(avail < 3)) goto FIRST_##K1;                                              \
    TAKE_##K1(0, a, FIRST_##K1) TAKE_##K2(3, b, FIRST_##K1) TAKE_TOP(t, FIRST_##K1)              \
    INT_##O(a, b, r, FIRST_##K1) INT_##O2(t, r, r2, FIRST_##K1)                                  \
    avail -= 3;                                                                                  \
    PutWord(sp, IntWord(r2));                                                                    \
    NEXT(32);                                                                                    \
  }
#define ACCUMULATE_FORMS(K1, K2)                                                                 \
  ACCUMULATE(K1, K2, Add, Add) ACCUMULATE(K1, K2, Add, Sub) ACCUMULATE(K1, K2, Sub, Add)         \
  ACCUMULATE(K1, K2, Sub, Sub) ACCUMULATE(K1, K2, Mul, Add) ACCUMULATE(K1, K2, Mul, Sub)         \
  ACCUMULATE(K1, K2, Mod, Add) ACCUMULATE(K1, K2, Mod, Sub)
#define OPERAND_FORMS(K)                                                                         \
  OPERAND_OP(K, Add) OPERAND_OP(K, Sub) OPERAND_OP(K, Mul) OPERAND_OP(K, Mod) OPERAND_TEST(K)    \
  OPERAND_ASSIGN(K, Add) OPERAND_ASSIGN(K, Sub) OPERAND_ASSIGN(K, Mul) OPERAND_ASSIGN(K, Mod)
  // The same with the comparison known.
#define LOOP_TEST(K1, K2, name, rel)                                                             \
  FORM(Loop_##K1##K2##_##name) {                                                                 \
    if (BROVA_UNLIKELY(avail < 3)) goto FIRST_##K1;                                              \
    TAKE_##K1(0, a, FIRST_##K1) TAKE_##K2(3, b, FIRST_##K1)                                      \
    avail -= 3;                                                                                  \
    pc += 7;                                                                                     \
    if (static_cast<int32_t>(a) rel static_cast<int32_t>(b)) NEXT(8);                            \
    JUMP();                                                                                      \
  }
#define LOOP_TESTS(K1, K2)                                                                       \
  LOOP_TEST(K1, K2, GT, >) LOOP_TEST(K1, K2, GTE, >=) LOOP_TEST(K1, K2, LT, <)                   \
  LOOP_TEST(K1, K2, LTE, <=) LOOP_TEST(K1, K2, EQ, ==) LOOP_TEST(K1, K2, NEQ, !=)
#define TWO_OPERAND_FORMS(K1, K2)                                                                \
  TWO_OPERAND_OP(K1, K2, Add) TWO_OPERAND_OP(K1, K2, Sub) TWO_OPERAND_OP(K1, K2, Mul)            \
  TWO_OPERAND_OP(K1, K2, Mod)
  OPERAND_FORMS(C)
  OPERAND_FORMS(L)
  OPERAND_FORMS(A)
  OPERAND_THEN_CONSTANT_FORMS(C)
  OPERAND_THEN_CONSTANT_FORMS(L)
  OPERAND_THEN_CONSTANT_FORMS(A)
  TWO_OPERAND_FORMS(C, C)
  TWO_OPERAND_FORMS(C, L)
  TWO_OPERAND_FORMS(C, A)
  TWO_OPERAND_TEST(C, C)
  TWO_OPERAND_TEST(C, L)
  TWO_OPERAND_TEST(C, A)
  LOOP_TESTS(L, C)
  LOOP_TESTS(L, L)
  LOOP_TESTS(L, A)
  LOOP_TESTS(A, C)
  LOOP_TESTS(A, L)
  LOOP_TESTS(A, A)
  TWO_OPERAND_FORMS(L, C)
  TWO_OPERAND_FORMS(L, L)
  TWO_OPERAND_FORMS(L, A)
  TWO_OPERAND_FORMS(A, C)
  TWO_OPERAND_FORMS(A, L)
  TWO_OPERAND_FORMS(A, A)
  ACCUMULATE_FORMS(L, C)
  ACCUMULATE_FORMS(L, L)
  ACCUMULATE_FORMS(L, A)
  ACCUMULATE_FORMS(A, C)
  ACCUMULATE_FORMS(A, L)
  ACCUMULATE_FORMS(A, A)
#undef OPERAND_OP
#undef STORE_AND_POP
#undef OPERAND_ASSIGN
#undef OPERAND_THEN_CONSTANT
#undef OPERAND_THEN_CONSTANT_FORMS
#undef ACCUMULATE
#undef ACCUMULATE_FORMS
#undef OPERAND_TEST
#undef TWO_OPERAND_OP
#undef TWO_OPERAND_TEST
#undef LOOP_TEST
#undef LOOP_TESTS
#undef OPERAND_FORMS
#undef TWO_OPERAND_FORMS

  // A comparison of integers and the JumpZero it decides.
#define TEST(name, rel)                                                                          \
  FORM(Test_##name) {                                                                            \
    TValue* l = sp + 1;                                                                          \
    if (BROVA_UNLIKELY(avail < 1 || l->kind != vtInt || sp->kind != vtInt)) goto op_##name;      \
    --avail;                                                                                     \
    const bool t = l->i rel sp->i;                                                               \
    sp += 2;                                                                                     \
    ++pc;                                                                                        \
    if (!t) JUMP();                                                                              \
    NEXT(8);                                                                                     \
  }
  TEST(GT, >)
  TEST(GTE, >=)
  TEST(LT, <)
  TEST(LTE, <=)
  TEST(EQ, ==)
  TEST(NEQ, !=)
#undef TEST

  // An assignment statement: the value moves into the slot and nothing stays.
  FORM(AssignStatement) {
    if (BROVA_UNLIKELY(avail < 1 || sp[1].kind != vtRef)) goto op_Subst;
    --avail;
    TValue* slot = reinterpret_cast<TValue*>(hb + sp[1].u);
    uint64_t old = WordOf(slot);
    PutWord(slot, WordOf(sp));
    sp += 2;
    ++pc; // a failing release finds the process at the Pop, as before
    RELEASE_W(old);
    NEXT(4);
  }
  // `x += y;` and `x -= y;` of integers: the reference popped holds no count.
#define UPDATE_STATEMENT(name, op, sign)                                                         \
  FORM(name) {                                                                                   \
    if (BROVA_UNLIKELY(avail < 1 || sp[1].kind != vtRef || sp[0].kind != vtInt)) goto op_##op;   \
    TValue* t = reinterpret_cast<TValue*>(hb + sp[1].u);                                         \
    if (BROVA_UNLIKELY(t->kind != vtInt)) goto op_##op;                                          \
    --avail;                                                                                     \
    PutWord(t, IntWord(t->u sign sp[0].u));                                                      \
    sp += 2;                                                                                     \
    NEXT(8);                                                                                     \
  }
  UPDATE_STATEMENT(AddStatement, AddSubst, +)
  UPDATE_STATEMENT(SubStatement, SubSubst, -)
#undef UPDATE_STATEMENT

  // `x = y;` of two locals.
  FORM(LocalCopy) {
    if (BROVA_UNLIKELY(avail < 3)) goto op_LocalValPtr;
    avail -= 3;
    TValue* local = LOCAL(pc[1]);
    uint64_t w = WordOf(LOCAL(pc[3]));
    ADDREF_W(w);
    uint64_t old = WordOf(local);
    PutWord(local, w);
    pc += 6; // where the assignment leaves it: at the Pop, already counted
    RELEASE_W(old);
    NEXT(4);
  }
  // `x += c;`, `x -= y;` ... of an integer local and an integer, and in the Jump variants
  // the loop's step going back to its test.
#define LOCAL_UPDATE(K, O, sign)                                                                 \
  FORM(LocalUpdateJump_##K##_##O) {                                                              \
    if (BROVA_UNLIKELY(avail < 4)) goto f_LocalUpdate_##K##_##O;                                 \
    TValue* local = LOCAL(pc[1]);                                                                \
    TAKE_##K(2, x, op_LocalValPtr)                                                               \
    if (BROVA_UNLIKELY(local->kind != vtInt)) goto op_LocalValPtr;                               \
    avail -= 4;                                                                                  \
    PutWord(local, IntWord(local->u sign x));                                                    \
    pc += 7;                                                                                     \
    JUMP();                                                                                      \
  }                                                                                              \
  FORM(LocalUpdate_##K##_##O) {                                                                  \
    if (BROVA_UNLIKELY(avail < 3)) goto op_LocalValPtr;                                          \
    TValue* local = LOCAL(pc[1]);                                                                \
    TAKE_##K(2, x, op_LocalValPtr)                                                               \
    if (BROVA_UNLIKELY(local->kind != vtInt)) goto op_LocalValPtr;                               \
    avail -= 3;                                                                                  \
    PutWord(local, IntWord(local->u sign x));                                                    \
    NEXT(28);                                                                                    \
  }
  LOCAL_UPDATE(C, Add, +)
  LOCAL_UPDATE(C, Sub, -)
  LOCAL_UPDATE(L, Add, +)
  LOCAL_UPDATE(L, Sub, -)
#undef LOCAL_UPDATE

  // A statement's start: the reference to a local and an operand's value, pushed as the two
  // instructions push them.
#define PUSH_C(at) const uint64_t w = (pc[(at) + 1] & 0xFF) | uint64_t(pc[(at) + 2]) << 32;
#define PEEK_L(at) const uint64_t w = WordOf(LOCAL(pc[(at) + 1]));
#define PEEK_A(at)                                                                               \
  const uint32_t n = pc[(at) + 1];                                                               \
  const uint64_t w = n < static_cast<uint32_t>(FRAME->argc) ? WordOf(ARG(n)) : uint64_t(vtNull);
#define PUSH_L(at) PEEK_L(at) ADDREF_W(w);
#define PUSH_A(at) PEEK_A(at) ADDREF_W(w);
#define REF_OPERAND(K)                                                                           \
  FORM(RefOperand_##K) {                                                                         \
    if (BROVA_UNLIKELY(avail < 1)) goto op_LocalValPtr;                                          \
    --avail;                                                                                     \
    PUSH_##K(2)                                                                                  \
    sp[-1] = RefValue(ADDR(LOCAL(pc[1])));                                                       \
    sp -= 2;                                                                                     \
    PutWord(sp, w);                                                                              \
    NEXT(20);                                                                                    \
  }
  REF_OPERAND(C)
  REF_OPERAND(L)
  REF_OPERAND(A)
#undef REF_OPERAND

  // A field of the object in a local or an argument, found by the name's cache: the
  // reference or the value takes the object's place at once, so its count does not move
  // (one at -1 is left to the instructions, which report it).
#define OPERAND_FIELD(K, name, deref, bytes)                                                     \
  FORM(name##_##K) {                                                                             \
    if (BROVA_UNLIKELY(avail < 1)) goto FIRST_##K;                                               \
    PEEK_##K(0)                                                                                  \
    if (BROVA_UNLIKELY(KIND(w) != vtObject)) goto FIRST_##K;                                     \
    TfObject* o = OBJECT_AT(w);                                                                  \
    const TRTTI* cls = ClassById(o->cls);                                                        \
    const uint32_t cache = pc[5];                                                                \
    if (BROVA_UNLIKELY(!cls || cache >= static_cast<uint32_t>(cls->instanceSize - 12) / 8 ||     \
                       cls->fieldNames[cache].sym != pc[4] || o->refCount < 0))                  \
      goto FIRST_##K;                                                                            \
    --avail;                                                                                     \
    if (deref) {                                                                                 \
      const uint64_t v = WordOf(&o->fields[cache]);                                              \
      ADDREF_W(v);                                                                               \
      PutWord(--sp, v);                                                                          \
    } else {                                                                                     \
      *--sp = RefValue(ADDR(&o->fields[cache]));                                                 \
    }                                                                                            \
    NEXT(bytes);                                                                                 \
  }
  OPERAND_FIELD(L, Field, false, 24)
  OPERAND_FIELD(L, FieldValue, true, 28)
  OPERAND_FIELD(A, Field, false, 24)
  OPERAND_FIELD(A, FieldValue, true, 28)
#undef OPERAND_FIELD
#undef PUSH_C
#undef PUSH_L
#undef PUSH_A
#undef PEEK_L
#undef PEEK_A
#undef TAKE_C
#undef TAKE_L
#undef TAKE_A
#undef TAKE_TOP
#undef FIRST_C
#undef FIRST_L
#undef FIRST_A
#undef INT_Add
#undef INT_Sub
#undef INT_Mul
#undef INT_Mod

  INVALID_CASE {
    SAVE();
    FailInvalid(*pc);
  }

call: {
  const TCompiledInfo* code = fn->code;
  if (BROVA_UNLIKELY(!code)) {
    SAVE();
    FailNotDefined(fn->GetName());
  }
  const TCompiledInfo::TFrameShape& shape =
      code->FrameShape(static_cast<uint32_t>(fn->localNames.size()));
  uint32_t locals = shape.locals;
  uint8_t* frameAt = reinterpret_cast<uint8_t*>(sp) - 40;
  int64_t need = shape.*reserveOf;
  if (BROVA_UNLIKELY(frameAt - stackLow < need)) {
    SAVE();
    FailStack(code);
  }
  const TForwarder& fw = shape.forward;
  // Tested once for both uses below: the loop is built without gcse, which would merge them.
  const bool forward =
      fw.Recognised() && avail >= static_cast<int32_t>(fw.HeadSteps() + fw.tailSteps);
  if (forward && fp != hb) {
    TFunction* m = FunctionById(fw.native);
    LeafBody leaf = m && m->IsNative() ? static_cast<TNativeFunction*>(m)->leaf : nullptr;
    if (leaf && (fw.fieldsNeeded == 0 || fw.fieldsNeeded <= FieldCountOf(*receiver))) {
      // A short form needs no frame: it reads the operands where they lie, and what the
      // forwarder's instructions would add and release again cancels out.
      TValue operands[TForwarder::kMaxOperands];
      if (fw.fieldThenArgs && fw.operands <= static_cast<uint32_t>(argc) + 1) {
        operands[0] = reinterpret_cast<TfObject*>(hb + receiver->u)->fields[fw.operand[0].a];
        for (uint32_t k = 1; k < fw.operands; ++k) operands[k] = receiver[-static_cast<int32_t>(k)];
      } else {
        for (uint32_t k = 0; k < fw.operands; ++k) {
          const TForwarder::TOperand& o = fw.operand[k];
          if (o.kind == TForwarder::Field)
            operands[k] = reinterpret_cast<TfObject*>(hb + receiver->u)->fields[o.a];
          else if (o.kind == TForwarder::Arg)
            operands[k] = o.a < static_cast<uint32_t>(argc)
                              ? receiver[-1 - static_cast<int32_t>(o.a)]
                              : NullValue();
          else
            operands[k] = ValueOfWord(o.a | uint64_t(o.b) << 32);
        }
      }
      TValue result = *receiver;
      if (leaf(result, operands, static_cast<int32_t>(fw.operands))) {
        avail -= static_cast<int32_t>(fw.HeadSteps() + fw.tailSteps);
        uint64_t w = fw.tail == TForwarder::ReturnResult ? WordOf(&result)
                     : fw.tail == TForwarder::ReturnThis ? WordOf(receiver)
                     : fw.tailArg < static_cast<uint32_t>(argc)
                         ? WordOf(receiver - 1 - static_cast<int32_t>(fw.tailArg))
                         : uint64_t(vtNull);
        ADDREF_W(w);
        // The Ret, in the caller's state: the call's arguments, then the receiver cell.
        uint64_t oldReceiver = WordOf(receiver);
        PutWord(receiver, w);
        TValue* const callArgs = sp;
        sp = receiver;
        pc = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pc) + callSize);
        for (TValue* c = callArgs; c < receiver; ++c) {
          w = WordOf(c);
          RELEASE_W(w);
        }
        RELEASE_W(oldReceiver);
        NEXT(0);
      }
    }
  }
  TFrame* frame = reinterpret_cast<TFrame*>(frameAt);
  frame->function = fn->id;
  frame->returnAddr = ADDR(pc) + callSize;
  frame->argc = argc;
  frame->thisAddr = ADDR(receiver);
  frame->callerFp = ADDR(fp);
  std::memcpy(&frame->posClass, &p->pos, sizeof(TSourcePos));
  TValue* local0 = &frame->local0;
  uint8_t* const callerFp = fp;
  TValue* const callerSelf = self;
  uint32_t* const returnPc = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pc) + callSize);
  fp = frameAt;
  self = receiver;
  selfFields = 0;
  pc = reinterpret_cast<uint32_t*>(hb + code->code);
  if (forward) {
    TFunction* m = FunctionById(fw.native);
    NativeBody body = m && m->IsNative() ? static_cast<TNativeFunction*>(m)->callback : nullptr;
    if (BROVA_LIKELY(body && (fw.fieldsNeeded == 0 || fw.fieldsNeeded <= FieldCountOf(*receiver)))) {
      // The frame as PushThis and the operand instructions leave it at the NativeCall.
      TValue* result = reinterpret_cast<TValue*>(frameAt);
      sp = result;
      uint64_t w = WordOf(self);
      ADDREF_W(w);
      PutWord(sp, w);
      for (uint32_t k = 0; k < fw.operands; ++k) {
        const TForwarder::TOperand& o = fw.operand[k];
        if (o.kind == TForwarder::Field)
          w = WordOf(&reinterpret_cast<TfObject*>(hb + self->u)->fields[o.a]);
        else if (o.kind == TForwarder::Arg)
          w = o.a < static_cast<uint32_t>(argc) ? WordOf(ARG(o.a)) : uint64_t(vtNull);
        else
          w = o.a | uint64_t(o.b) << 32;
        if (o.kind != TForwarder::Constant) ADDREF_W(w);
        PutWord(--sp, w);
      }
      pc = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pc) + fw.nativeAt);
      avail -= static_cast<int32_t>(fw.HeadSteps());
      SAVE();
      body(result, static_cast<int32_t>(fw.operands), 0);
      if (BROVA_UNLIKELY(p->released)) return;
      avail = p->avail;
      TValue* args = sp;
      sp = result;
      for (TValue* a = args; a < result; ++a) RELEASE(*a);
      pc += 3;
      // A native that suspended or finished the process leaves the rest to the loop.
      if (BROVA_UNLIKELY(avail < static_cast<int32_t>(fw.tailSteps))) NEXT(0);
      avail -= static_cast<int32_t>(fw.tailSteps);
      if (fw.tail != TForwarder::ReturnResult) {
        w = WordOf(sp++);
        RELEASE_W(w);
        ++pc;
        if (fw.tail == TForwarder::ReturnThis) {
          w = WordOf(self);
          ++pc;
        } else {
          w = fw.tailArg < static_cast<uint32_t>(argc) ? WordOf(ARG(fw.tailArg)) : uint64_t(vtNull);
          pc += 3;
        }
        ADDREF_W(w);
        PutWord(--sp, w);
      }
      if (BROVA_UNLIKELY(callerFp == hb)) goto ret;
      // The Ret, knowing the frame: no locals above the result, the call's arguments below
      // the frame, and the caller's state at hand.
      uint64_t oldReceiver = WordOf(receiver);
      PutWord(receiver, WordOf(sp));
      TValue* const callArgs = reinterpret_cast<TValue*>(frameAt + sizeof(TFrame));
      sp = receiver;
      fp = callerFp;
      pc = returnPc;
      self = callerSelf;
      selfFields = 0;
      for (TValue* c = callArgs; c < receiver; ++c) {
        w = WordOf(c);
        RELEASE_W(w);
      }
      RELEASE_W(oldReceiver);
      NEXT(0);
    }
  }
  for (uint32_t k = 0; k < locals; ++k) local0[-static_cast<int32_t>(k)] = NullValue();
  sp = locals ? local0 - (locals - 1) : reinterpret_cast<TValue*>(frameAt + 8);
  NEXT(0);
}

#if !defined(__GNUC__)
    }
  }
#endif

slice_done:
  avail = 0;
  SAVE();

#undef ADDR
#undef SAVE
#undef FRAME
#undef LOCAL
#undef ARG
#undef ADDREF
#undef RELEASE
#undef KIND
#undef OBJECT_AT
#undef ADDREF_W
#undef RELEASE_W
#undef DISPATCH
#undef FORM_AT
#undef CASE
#undef FORM
#undef INVALID_CASE
#undef NEXT
#undef JUMP
}

} // namespace detail
} // namespace brova
