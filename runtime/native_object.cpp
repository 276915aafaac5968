#include "runtime/native_object.h"

#include <deque>
#include <vector>

#include "runtime/errors.h"

namespace brova {
namespace {

// Handle = generation (high 8 bits) | table index (low 24 bits). Index 0 is never issued.
constexpr uint32_t kIndexBits = 24;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
// Slots are reused only once this many wait, so a slot's 8-bit generation comes round again
// after 256 x 65536 frees at the earliest, not after a few hundred thousand (1 MiB of table).
constexpr size_t kMinFreeSlots = 65536;

struct Entry {
  TNativeObject* obj = nullptr;
  uint8_t generation = 0;
};

struct HandleTable {
  std::vector<Entry> entries{1};
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
  if (!t.freeSlots.empty() &&
      (t.freeSlots.size() > kMinFreeSlots || t.entries.size() > kIndexMask)) {
    index = t.freeSlots.front();
    t.freeSlots.pop_front();
  } else if (t.entries.size() <= kIndexMask) {
    index = static_cast<uint32_t>(t.entries.size());
    t.entries.emplace_back();
  } else {
    throw EScriptError("Out of memory: too many built-in objects.");
  }
  Entry& e = t.entries[index];
  e.obj = this;
  handle_ = (uint32_t(e.generation) << kIndexBits) | index;
  ++t.live;
}

TNativeObject::~TNativeObject() {
  HandleTable& t = Table();
  Entry& e = t.entries[handle_ & kIndexMask];
  e.obj = nullptr;
  ++e.generation;
  t.freeSlots.push_back(handle_ & kIndexMask);
  --t.live;
}

TNativeObject* NativeFromHandle(NativeHandle handle) {
  HandleTable& t = Table();
  uint32_t index = handle & kIndexMask;
  if (index == 0 || index >= t.entries.size()) return nullptr;
  const Entry& e = t.entries[index];
  if (!e.obj || e.generation != (handle >> kIndexBits)) return nullptr;
  return e.obj;
}

size_t LiveNativeObjects() { return Table().live; }

} // namespace brova
