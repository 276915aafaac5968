#include "runtime/native_object.h"

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

// Slots are reused only once this many wait, so a slot's 8-bit generation comes round again
// after 256 x 65536 frees at the earliest, not after a few hundred thousand (1 MiB of table).
constexpr size_t kMinFreeSlots = 65536;

// A first-in first-out queue of slot indices in a ring that doubles when full.
class SlotQueue {
public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  void push(uint32_t slot) {
    if (count_ == ring_.size()) Grow();
    ring_[(head_ + count_) & (ring_.size() - 1)] = slot;
    ++count_;
  }
  uint32_t pop() {
    uint32_t slot = ring_[head_];
    head_ = (head_ + 1) & (ring_.size() - 1);
    --count_;
    return slot;
  }

private:
  void Grow() {
    std::vector<uint32_t> bigger(ring_.empty() ? 1024 : ring_.size() * 2);
    for (size_t i = 0; i < count_; ++i) bigger[i] = ring_[(head_ + i) & (ring_.size() - 1)];
    ring_.swap(bigger);
    head_ = 0;
  }
  std::vector<uint32_t> ring_; // a power of two
  size_t head_ = 0;
  size_t count_ = 0;
};

struct HandleTable {
  std::vector<Entry> entries{1}; // entry 0 never holds an object
  // Freed slots are reused oldest first, so a slot's generation wraps as late as possible.
  SlotQueue freeSlots;
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
      (t.freeSlots.size() > kMinFreeSlots || t.entries.size() > kHandleIndexMask)) {
    index = t.freeSlots.pop();
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
  t.freeSlots.push(handle_ & kHandleIndexMask);
  --t.live;
}

size_t LiveNativeObjects() { return Table().live; }

} // namespace brova
