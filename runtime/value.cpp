#include "runtime/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "runtime/errors.h"
#include "runtime/rtti.h"
#include "runtime/statistics.h"
#include "runtime/translate.h"

namespace brova {

namespace {
// The buffer of a text freed last, handed to the next text being built: a loop where one
// string dies as the next is made then allocates no text at all.
std::string& SpareText() {
  static std::string* spare = new std::string; // outlives every static holder
  return *spare;
}
constexpr size_t kMaxSpareBytes = 4096;
} // namespace

TfString::TfString(std::string&& text) : TNativeObject(kKind), text(std::move(text)) {
  ++g_live.strings;
}
TfString::~TfString() {
  --g_live.strings;
  std::string& spare = SpareText();
  if (text.capacity() > spare.capacity() && text.capacity() <= kMaxSpareBytes)
    spare = std::move(text);
}

std::string TakeSpareText() {
  std::string text = std::move(SpareText());
  text.clear();
  return text;
}

namespace {
struct FreeHolder {
  FreeHolder* next;
};
FreeHolder* g_freeHolders = nullptr;
size_t g_freeHolderCount = 0;
constexpr size_t kMaxFreeHolders = 1 << 16;
} // namespace

void* TfString::operator new(size_t size) {
  if (size != sizeof(TfString) || !g_freeHolders) return ::operator new(size);
  FreeHolder* h = g_freeHolders;
  g_freeHolders = h->next;
  --g_freeHolderCount;
  return h;
}

void TfString::operator delete(void* p, size_t size) {
  if (size != sizeof(TfString) || g_freeHolderCount >= kMaxFreeHolders)
    return ::operator delete(p);
  g_freeHolders = new (p) FreeHolder{g_freeHolders};
  ++g_freeHolderCount;
}

void RaiseNegativeRefCount(const TValue& v) {
  throw EScriptError(ValueToText(v) + Translate(":negative reference count "));
}

// ---- strings

namespace {
TRTTI* g_stringClass = nullptr;
int32_t g_bodyCache = 0; // the one process-wide cache of `_body` lookups
} // namespace

void SetStringClass(TRTTI* cls) { g_stringClass = cls; }
TRTTI* StringClass() { return g_stringClass; }

bool IsStringObject(const TValue& v) {
  return v.kind == vtObject && g_stringClass && ObjectPtr(v)->cls == g_stringClass->id;
}

namespace {
TfString* StringHolderOf(const TfObject* obj) {
  const TRTTI* cls = ClassOf(obj);
  if (!cls) return nullptr;
  int32_t idx = FieldIndex(cls, kSymBody, g_bodyCache);
  if (idx < 0) {
    g_bodyCache = 0;
    return nullptr;
  }
  return NativeOfKind<TfString>(obj->fields[idx]);
}
} // namespace

const std::string* StringTextOf(const TfObject* obj) {
  TfString* s = StringHolderOf(obj);
  return s ? &s->text : nullptr;
}

void CheckJoinedLength(size_t first, size_t second) {
  if (first > kMaxStringBytes || second > kMaxStringBytes - first)
    throw EScriptError(Translate("String too long"));
}

namespace {

const std::string& TextInPlace(const TValue& v, std::string& scratch) {
  if (IsStringObject(v))
    if (const std::string* text = StringTextOf(ObjectPtr(v))) return *text;
  scratch = ValueToText(v);
  return scratch;
}

} // namespace

std::string JoinTexts(const TValue& left, const TValue& right) {
  std::string leftScratch, rightScratch;
  const std::string& a = TextInPlace(left, leftScratch);
  const std::string& b = TextInPlace(right, rightScratch);
  CheckJoinedLength(a.size(), b.size());
  std::string text = TakeSpareText();
  text.reserve(a.size() + b.size());
  text.append(a).append(b);
  return text;
}

std::string* SoleStringText(const TValue& v) {
  if (!IsStringObject(v) || ObjectPtr(v)->refCount != 1) return nullptr;
  TfString* s = StringHolderOf(ObjectPtr(v));
  return s ? &s->text : nullptr;
}

void AppendText(std::string& to, const TValue& v) {
  if (v.kind == vtInt) {
    char digits[16];
    size_t n = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, v.i).ptr - digits);
    CheckJoinedLength(to.size(), n);
    to.append(digits, n);
    return;
  }
  std::string scratch;
  const std::string& text = TextInPlace(v, scratch);
  CheckJoinedLength(to.size(), text.size());
  to.append(text);
}

HeapAddr MakeString(std::string text) {
  if (!g_stringClass) throw EScriptError("classes.lang.String is not available.");
  HeapAddr obj = NewInstance(g_stringClass);
  TfObject* o = HeapPtr<TfObject>(obj);
  int32_t idx = FieldIndex(g_stringClass, kSymBody, g_bodyCache);
  if (idx < 0) {
    g_bodyCache = 0;
    throw EScriptError("classes.lang.String has no field _body.");
  }
  auto* holder = new TfString(std::move(text));
  o->fields[idx] = NativeValue(holder->Handle()); // a fresh field holds no counted value
  return obj;
}

void FreeStringBody(TfObject* obj) {
  const TRTTI* cls = ClassOf(obj);
  int32_t idx = cls ? FieldIndex(cls, kSymBody, g_bodyCache) : -1;
  if (idx < 0) {
    g_bodyCache = 0;
    return;
  }
  delete NativeOfKind<TfString>(obj->fields[idx]);
}

void SetStringResult(TValue& slot, std::string text) {
  AssignValue(slot, ObjectValue(MakeString(std::move(text))));
}

// ---- text forms

std::string FloatToText(long double x) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
  char buf[64];
  // %g switches to scientific form exactly outside 0.0001 <= |x| < 10^15.
  std::snprintf(buf, sizeof buf, "%.15Lg", x);
  std::string s = buf;
  size_t e = s.find('e');
  if (e == std::string::npos) return s;
  std::string mant = s.substr(0, e);
  std::string exp = s.substr(e + 1);
  bool neg = !exp.empty() && exp[0] == '-';
  size_t digits = exp.find_first_not_of("+-");
  digits = exp.find_first_not_of('0', digits);
  std::string expDigits = digits == std::string::npos ? "0" : exp.substr(digits);
  return mant + "E" + (neg ? "-" : "") + expDigits;
}

namespace {

// References to references are followed a few levels; a slot that refers to itself must not
// recurse forever.
std::string ValueText(const TValue& v, int depth) {
  switch (v.kind) {
  case vtNull: return "null";
  case vtInt: return std::to_string(v.i);
  case vtFloat: return FloatToText(static_cast<long double>(v.f));
  case vtObject: {
    const TfObject* obj = ObjectPtr(v);
    if (IsStringObject(v)) {
      const std::string* text = StringTextOf(obj);
      return text ? *text : std::string();
    }
    const TRTTI* cls = ClassOf(obj);
    return (cls ? cls->name : std::string()) + "@" + std::to_string(ObjectId(obj));
  }
  case vtRef: return depth >= 8 ? "[...]" : "[" + ValueText(*RefPtr(v), depth + 1) + "]";
  case vtNative: {
    TNativeObject* n = NativeFromHandle(v.u);
    return n ? n->NativeClassName() : "TObject";
  }
  case vtError: return "Error #" + std::to_string(v.i);
  case vtUnset: return "Variable" + SymbolName(v.u);
  }
  return std::string();
}

} // namespace

std::string ValueToText(const TValue& v) { return ValueText(v, 0); }

std::string ValueToLiteral(const TValue& v) {
  if (v.kind == vtObject) {
    if (IsStringObject(v)) return "\"" + ValueToText(v) + "\"";
    return "objectFromID(" + std::to_string(ObjectId(ObjectPtr(v))) + ")";
  }
  if (v.kind == vtUnset) return std::string();
  return ValueToText(v);
}

// ---- comparison

float CompareValues(const TValue& a, const TValue& b) {
  switch (a.kind) {
  case vtNull:
  case vtUnset: return (b.kind == vtNull || b.kind == vtUnset) ? 0.0f : 1.0f;
  case vtInt:
    // The difference is taken in 64 bits: a 32-bit difference would wrap and put
    // 2147483647 below -1.
    if (b.kind == vtInt) return static_cast<float>(int64_t(a.i) - int64_t(b.i));
    if (b.kind == vtFloat) return static_cast<float>(a.i) - b.f;
    return 1.0f;
  case vtFloat:
    if (b.kind == vtInt) return a.f - static_cast<float>(b.i);
    if (b.kind == vtFloat) return a.f - b.f;
    return 1.0f;
  case vtObject:
    if (IsStringObject(a)) return ValueToText(a) == ValueToText(b) ? 0.0f : 1.0f;
    return (b.kind == vtObject && b.u == a.u) ? 0.0f : 1.0f;
  default: return 1.0f;
  }
}

} // namespace brova
