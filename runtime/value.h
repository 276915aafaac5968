// Script values (8-byte tagged records), script objects, and the helpers every native uses.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/native_object.h"
#include "runtime/script_heap.h"
#include "runtime/symbols.h"

namespace brova {

enum TVType : uint8_t {
  vtNull = 0,
  vtInt = 1,
  vtFloat = 2,
  vtObject = 3, // payload: heap address of a TfObject
  vtRef = 4,    // payload: heap address of a TValue slot
  vtNative = 5, // payload: handle of a TNativeObject
  vtError = 6,
  vtUnset = 7,  // payload: SymbolId of the field or global never assigned
};
inline constexpr int kValueKinds = 8;

struct TValue {
  uint8_t kind;
  uint8_t zero[3];
  union {
    int32_t i;
    float f;
    uint32_t u;
  };
};

// A script object: header, then one value per field of its class.
struct TfObject {
  int32_t refCount; // -1: free block; 0: dead; above 0: live
  int32_t markCount;
  uint32_t cls;     // class id (ClassById)
  TValue fields[];
};

static_assert(sizeof(TVType) == 1);
static_assert(sizeof(TValue) == 8);
static_assert(sizeof(TfObject) + sizeof(TValue) == 20);

// The native text holder behind a String object's `_body`.
class TfString final : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::String;
  explicit TfString(std::string&& text);
  ~TfString() override;
  // Every string operation makes a holder and every dead string's reuse drops one: they are
  // kept on a free list rather than handed back to the allocator each time.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size);
  const char* NativeClassName() const override { return "TfString"; }
  // Changed only through SoleStringText, while one slot alone holds the String.
  std::string text;
};

// ---- making values (no reference counting)

// Built as one 64-bit word, so that storing a value is a single write.
inline TValue MakeValue(TVType kind, uint32_t payload) {
  static_assert(std::endian::native == std::endian::little);
  uint64_t bits = uint64_t(kind) | (uint64_t(payload) << 32);
  TValue v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
inline TValue NullValue() { return MakeValue(vtNull, 0); }
inline TValue IntValue(int32_t i) { return MakeValue(vtInt, static_cast<uint32_t>(i)); }
inline TValue FloatValue(float f) { return MakeValue(vtFloat, std::bit_cast<uint32_t>(f)); }
inline TValue ObjectValue(HeapAddr obj) { return MakeValue(vtObject, obj); }
inline TValue RefValue(HeapAddr slot) { return MakeValue(vtRef, slot); }
inline TValue NativeValue(NativeHandle h) { return MakeValue(vtNative, h); }
inline TValue ErrorValue(int32_t code) { return MakeValue(vtError, static_cast<uint32_t>(code)); }
inline TValue UnsetValue(SymbolId name) { return MakeValue(vtUnset, name); }

inline TfObject* ObjectPtr(const TValue& v) { return HeapPtr<TfObject>(v.u); }
inline TValue* RefPtr(const TValue& v) { return HeapPtr<TValue>(v.u); }

// ---- reference counting

[[noreturn]] void RaiseNegativeRefCount(const TValue& v);

inline void AddRef(const TValue& v) {
  if (v.kind == vtObject) ++ObjectPtr(v)->refCount;
}
inline void Release(const TValue& v) {
  if (v.kind == vtObject && --ObjectPtr(v)->refCount == -1) RaiseNegativeRefCount(v);
}

// ---- setters: release the old content, store, add a reference for an object

inline void ClearValue(TValue& v) { v = NullValue(); }
inline void AssignValue(TValue& dst, const TValue& src) {
  TValue copy = src; // src may live in dst
  Release(dst);
  dst = copy;
  AddRef(dst);
}
inline void SetNull(TValue& v) { AssignValue(v, NullValue()); }
inline void SetInt(TValue& v, int32_t i) { AssignValue(v, IntValue(i)); }
inline void SetFloat(TValue& v, float f) { AssignValue(v, FloatValue(f)); }
inline void SetError(TValue& v, int32_t code) { AssignValue(v, ErrorValue(code)); }
inline void SetObject(TValue& v, HeapAddr obj) { AssignValue(v, ObjectValue(obj)); }
inline void SetNative(TValue& v, NativeHandle h) { AssignValue(v, NativeValue(h)); }

// ---- accessors

// Truncation toward zero; values outside the 32-bit range saturate and NaN gives 0, where a
// plain conversion would be undefined.
inline int32_t FloatToIntTruncated(double f) {
  if (!(f == f)) return 0;
  if (f >= 2147483647.0) return INT32_MAX;
  if (f <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(f);
}

inline int32_t ValueToInt(const TValue& v) {
  switch (v.kind) {
  case vtInt: return v.i;
  case vtFloat: return FloatToIntTruncated(v.f);
  case vtObject: return 1;
  default: return 0;
  }
}
inline float ValueToFloat(const TValue& v) {
  if (v.kind == vtInt) return static_cast<float>(v.i);
  if (v.kind == vtFloat) return v.f;
  return 0.0f;
}
inline bool IsTruthy(const TValue& v) {
  switch (v.kind) {
  case vtInt: return v.i != 0;
  case vtFloat: return v.f != 0.0f && v.f == v.f; // NaN is false
  case vtObject:
  case vtNative: return true;
  default: return false;
  }
}
inline TfObject* ObjectOf(const TValue& v) { return v.kind == vtObject ? ObjectPtr(v) : nullptr; }
inline TNativeObject* NativeOf(const TValue& v) {
  return v.kind == vtNative ? NativeFromHandle(v.u) : nullptr;
}
template <class T>
T* NativeOfKind(const TValue& v) {
  return v.kind == vtNative ? NativeFromHandleAs<T>(v.u) : nullptr;
}

// The stable identity number of an object (its block's heap address).
inline uint32_t ObjectId(const TfObject* obj) { return HeapAddrOf(obj); }

// ---- text forms and comparison

std::string ValueToText(const TValue& v);
std::string ValueToLiteral(const TValue& v);
// A float widened to extended precision, at most 15 significant digits, no trailing zeros.
std::string FloatToText(long double x);
// 0 means equal; see the comparison rules of the language.
float CompareValues(const TValue& a, const TValue& b);

// ---- strings

// The class of String objects (none until the kernel's String class exists).
class TRTTI;
void SetStringClass(TRTTI* cls);
TRTTI* StringClass();
bool IsStringObject(const TValue& v);
// The text of a String object (its `_body`), or null when it has none.
const std::string* StringTextOf(const TfObject* obj);
// A new String object with reference count 0.
HeapAddr MakeString(std::string text);
// Deletes the text holder in the object's `_body` (the field keeps the stale handle).
void FreeStringBody(TfObject* obj);
void SetStringResult(TValue& slot, std::string text);
// The longest text a string may hold: its length is a 32-bit script integer.
inline constexpr size_t kMaxStringBytes = 0x7fffffff;
// Raises "String too long" when texts of these lengths would not fit in one string.
void CheckJoinedLength(size_t first, size_t second);
// The text of `left` followed by that of `right`, read in place from String objects and
// checked by CheckJoinedLength before anything is allocated.
std::string JoinTexts(const TValue& left, const TValue& right);
// The text of a String object that only the slot holding `v` refers to (reference count 1),
// or null. A join may extend such a text in place: nothing else can see it change.
std::string* SoleStringText(const TValue& v);
// An empty text, in the buffer of a text freed before when there is one.
std::string TakeSpareText();
// Appends the text of `v` (a String's read in place) after CheckJoinedLength.
void AppendText(std::string& to, const TValue& v);

// ---- the shared scratch slot handed out by failed lookups

inline TValue& ScratchValue() { return *HeapPtr<TValue>(heap::kScratchValueAddr); }

} // namespace brova
