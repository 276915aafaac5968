// Built-in objects that scripts hold as `vtNative` values: lists, text holders, processes,
// class records, resource wrappers, ... A script value never stores their address: it stores
// a handle (table index and generation), so a stale, forged or wrong-kind handle is detected
// instead of dereferenced.
#pragma once
#include <cstddef>
#include <cstdint>

namespace brova {

enum class NativeKind : uint8_t {
  None = 0,
  List,
  String,
  Process,
  Resource, // every resource of the tree, class records included
  Generator,
  Hashtable,
  Stream,
  Element,
  Other,
};

using NativeHandle = uint32_t;
inline constexpr NativeHandle kNoHandle = 0;

class TNativeObject {
public:
  explicit TNativeObject(NativeKind kind);
  TNativeObject(const TNativeObject&) = delete;
  TNativeObject& operator=(const TNativeObject&) = delete;
  virtual ~TNativeObject();

  // The built-in class name shown as the value's text ("TList", "TfString", ...).
  virtual const char* NativeClassName() const = 0;

  NativeKind Kind() const { return kind_; }
  NativeHandle Handle() const { return handle_; }

private:
  NativeKind kind_;
  NativeHandle handle_;
};

namespace detail {
// Handle = generation (high 8 bits) | table index (low 24 bits). Index 0 is never issued.
inline constexpr uint32_t kHandleIndexBits = 24;
inline constexpr uint32_t kHandleIndexMask = (1u << kHandleIndexBits) - 1;
struct THandleEntry {
  TNativeObject* obj = nullptr;
  uint8_t generation = 0;
};
// The handle table as NativeFromHandle reads it; kept current by the native objects. Both
// are constant-initialised, so lookups before any object exists find nothing.
extern const THandleEntry* g_handleEntries;
extern uint32_t g_handleCount;
} // namespace detail

// The live object behind a handle, or null for a handle that is stale or was never issued.
[[gnu::always_inline]] inline TNativeObject* NativeFromHandle(NativeHandle handle) {
  uint32_t index = handle & detail::kHandleIndexMask;
  if (index >= detail::g_handleCount) return nullptr;
  const detail::THandleEntry& e = detail::g_handleEntries[index];
  if (!e.obj || e.generation != (handle >> detail::kHandleIndexBits)) return nullptr;
  return e.obj;
}

// The same, also null when the object is not of kind T::kKind.
template <class T>
[[gnu::always_inline]] inline T* NativeFromHandleAs(NativeHandle handle) {
  TNativeObject* obj = NativeFromHandle(handle);
  return obj && obj->Kind() == T::kKind ? static_cast<T*>(obj) : nullptr;
}

size_t LiveNativeObjects();

} // namespace brova
