#include "runtime/script_heap.h"

#include <sys/mman.h>

#include <cstring>
#include <map>
#include <vector>

#include "runtime/errors.h"
#include "runtime/statistics.h"

namespace brova {

uint8_t* g_heapBase = nullptr;
uint8_t* g_decodeMap = nullptr;

namespace heap {
namespace {

constexpr uint64_t kMaxReserve = uint64_t(1) << 32;
constexpr uint32_t kGranule = 8;
constexpr uint32_t kSmallLimit = 4096;        // sizes up to this have their own free lists
constexpr uint32_t kReturnToOsBytes = 64 * 1024; // large freed blocks give their pages back

uint64_t g_reserved = 0;
uint64_t g_top = kFirstFreeAddr; // next never-used offset
uint64_t g_inUse = 0;
std::vector<HeapAddr> g_small[kSmallLimit / kGranule + 1];
std::multimap<uint32_t, HeapAddr> g_large;

uint32_t RoundUp(uint32_t bytes) {
  if (bytes == 0) bytes = kGranule;
  return (bytes + kGranule - 1) & ~(kGranule - 1);
}

} // namespace

void Reserve() {
  if (g_heapBase) return;
  // Reserve without committing; pages are committed by the kernel on first touch. Fall back
  // to smaller ranges where the address space is limited (ulimit -v).
  auto reserve = [](uint64_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  };
  for (uint64_t size = kMaxReserve; size >= (uint64_t(64) << 20); size /= 2) {
    uint8_t* base = reserve(size);
    if (!base) continue;
    uint8_t* map = reserve(size / 4);
    if (!map) {
      munmap(base, size);
      continue;
    }
    g_heapBase = base;
    g_decodeMap = map;
    g_reserved = size;
    return;
  }
  throw EScriptError("Out of memory: the script heap cannot be reserved.");
}

HeapAddr Allocate(uint32_t bytes) {
  Reserve();
  uint32_t size = RoundUp(bytes);
  HeapAddr addr = kNoAddr;
  if (size <= kSmallLimit) {
    auto& list = g_small[size / kGranule];
    if (!list.empty()) {
      addr = list.back();
      list.pop_back();
      std::memset(HeapPtr(addr), 0, size);
    }
  } else {
    auto it = g_large.lower_bound(size);
    // Take a free block when it wastes at most a quarter of itself.
    if (it != g_large.end() && it->first <= size + size / 4) {
      addr = it->second;
      size = it->first;
      g_large.erase(it);
      std::memset(HeapPtr(addr), 0, size);
    }
  }
  if (addr == kNoAddr) {
    if (g_top + size > g_reserved) throw EScriptError("Out of memory: the script heap is full.");
    addr = static_cast<HeapAddr>(g_top);
    g_top += size; // fresh pages are zero already
  }
  g_inUse += size;
  ++g_live.countedBlocks;
  return addr;
}

void Free(HeapAddr addr, uint32_t bytes) {
  if (addr == kNoAddr) return;
  uint32_t size = RoundUp(bytes);
  if (size <= kSmallLimit) {
    g_small[size / kGranule].push_back(addr);
  } else {
    if (size >= kReturnToOsBytes) {
      // Whole pages inside the block go back to the system and come back zero-filled.
      uintptr_t start = (reinterpret_cast<uintptr_t>(HeapPtr(addr)) + 4095) & ~uintptr_t(4095);
      uintptr_t end = (reinterpret_cast<uintptr_t>(HeapPtr(addr)) + size) & ~uintptr_t(4095);
      if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
    }
    g_large.emplace(size, addr);
  }
  g_inUse -= size;
  --g_live.countedBlocks;
}

bool Contains(HeapAddr addr, uint32_t bytes) {
  return addr >= kFirstFreeAddr && uint64_t(addr) + bytes <= g_top;
}

bool Holds(const void* p, uint64_t bytes) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  const uintptr_t base = reinterpret_cast<uintptr_t>(g_heapBase);
  return g_heapBase && at >= base && at - base <= g_reserved && bytes <= g_reserved - (at - base);
}

uint64_t BytesInUse() { return g_inUse; }
uint64_t ReservedBytes() { return g_reserved; }

} // namespace heap
} // namespace brova

namespace brova::heap {
namespace {
// The fixed cells (the scratch value) must exist before any script value is touched.
struct ReserveAtStart {
  ReserveAtStart() { Reserve(); }
} g_reserveAtStart;
} // namespace
} // namespace brova::heap
