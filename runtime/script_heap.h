// The script heap: one reserved address range holding code blocks, process stacks, object
// blocks and global value cells, so that every address a script value or an instruction
// stores fits in 32 bits (an offset from the heap's base). Offset 0 means "none".
#pragma once
#include <cstddef>
#include <cstdint>

namespace brova {

using HeapAddr = uint32_t;
inline constexpr HeapAddr kNoAddr = 0;

// Base of the reserved range; set before the first allocation and never moved.
extern uint8_t* g_heapBase;
// One byte per 4-byte word of the reserved range, reserved with it: the interpreter's handler
// for the instruction that starts at that word, 0 where none was decoded. Only the pages
// beside decoded code are ever touched.
extern uint8_t* g_decodeMap;

template <class T = uint8_t>
inline T* HeapPtr(HeapAddr addr) {
  return reinterpret_cast<T*>(g_heapBase + addr);
}
inline HeapAddr HeapAddrOf(const void* p) {
  return static_cast<HeapAddr>(static_cast<const uint8_t*>(p) - g_heapBase);
}

namespace heap {

// Zero-filled block of at least `bytes` bytes, 8-byte aligned. Raises EScriptError when the
// heap is exhausted. Counted in g_live.countedBlocks.
HeapAddr Allocate(uint32_t bytes);
// Gives a block back; `bytes` is the size it was allocated with.
void Free(HeapAddr addr, uint32_t bytes);

// True when [addr, addr + bytes) lies inside the part of the heap handed out so far.
bool Contains(HeapAddr addr, uint32_t bytes);

uint64_t BytesInUse();
uint64_t ReservedBytes();

// Makes sure the range is reserved (allocation does this by itself).
void Reserve();

// The decode map's byte of the word at `addr`; those of the words after it follow.
inline uint8_t* DecodeEntries(HeapAddr addr) { return g_decodeMap + addr / 4; }

// True when [p, p + bytes) lies inside the reserved range.
bool Holds(const void* p, uint64_t bytes);

// The heap's fixed cells, laid out at reservation.
inline constexpr HeapAddr kScratchValueAddr = 8; // the shared scratch value slot
inline constexpr HeapAddr kFirstFreeAddr = 64;

} // namespace heap
} // namespace brova
