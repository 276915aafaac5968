#include "runtime/native_object.h"

#include <deque>
#include <vector>

#include "runtime/errors.h"

namespace brova {

namespace detail {
constinit const THandleEntry* g_handleEntries = nullptr;
constinit uint32_t g_handleCount = 0;
} // namespace detail

namespace {

using detail::kHandleIndexBits;
using detail::kHandleIndexMask;
using Entry = detail::THandleEntry;

struct HandleTable {
  std::vector<Entry> entries{1}; // entry 0 never holds an object
  // Freed slots are reused oldest first, so a slot's generation wraps as late as possible.
  std::deque<uint32_t> freeSlots;
  size_t live = 0;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable; // outlives every static native object
  return *table;
}

} // namespace

TNativeObject::TNativeObject(NativeKind kind) : kind_(kind) {
  HandleTable& t = Table();
  uint32_t index;
  if (!t.freeSlots.empty() && (t.freeSlots.size() > 1024 || t.entries.size() > kHandleIndexMask)) {
    index = t.freeSlots.front();
    t.freeSlots.pop_front();
  } else if (t.entries.size() <= kHandleIndexMask) {
    index = static_cast<uint32_t>(t.entries.size());
    t.entries.emplace_back();
    detail::g_handleEntries = t.entries.data();
    detail::g_handleCount = static_cast<uint32_t>(t.entries.size());
  } else {
    throw EScriptError("Out of memory: too many built-in objects.");
  }
  Entry& e = t.entries[index];
  e.obj = this;
  handle_ = (uint32_t(e.generation) << kHandleIndexBits) | index;
  ++t.live;
}

TNativeObject::~TNativeObject() {
  HandleTable& t = Table();
  Entry& e = t.entries[handle_ & kHandleIndexMask];
  e.obj = nullptr;
  ++e.generation;
  t.freeSlots.push_back(handle_ & kHandleIndexMask);
  --t.live;
}

size_t LiveNativeObjects() { return Table().live; }

} // namespace brova
