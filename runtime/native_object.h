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

// The live object behind a handle, or null for a handle that is stale or was never issued.
TNativeObject* NativeFromHandle(NativeHandle handle);

// The same, also null when the object is not of kind T::kKind.
template <class T>
T* NativeFromHandleAs(NativeHandle handle) {
  TNativeObject* obj = NativeFromHandle(handle);
  return obj && obj->Kind() == T::kKind ? static_cast<T*>(obj) : nullptr;
}

size_t LiveNativeObjects();

} // namespace brova
