// Bump allocation for the nodes of one syntax tree: a class source makes tens of thousands of
// small nodes that all die together, so they are carved from large chunks and never freed
// one by one.
#pragma once
#include <cstddef>
#include <cstdint>

namespace brova {

class TNodeArena {
public:
  TNodeArena() = default;
  ~TNodeArena();
  TNodeArena(TNodeArena&& other) noexcept;
  TNodeArena& operator=(TNodeArena&& other) noexcept;
  TNodeArena(const TNodeArena&) = delete;
  TNodeArena& operator=(const TNodeArena&) = delete;

  // Memory with the given alignment (at most that of any object); it lives as long as the
  // arena.
  void* Allocate(size_t bytes, size_t alignment) {
    size_t pad = static_cast<size_t>(-reinterpret_cast<uintptr_t>(cursor_) & (alignment - 1));
    if (static_cast<size_t>(limit_ - cursor_) < pad + bytes) return AllocateInNewChunk(bytes);
    void* p = cursor_ + pad;
    cursor_ += pad + bytes;
    return p;
  }
  size_t BytesReserved() const { return reserved_; }

private:
  struct Chunk;
  void* AllocateInNewChunk(size_t bytes);
  void Release();

  Chunk* chunks_ = nullptr;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  size_t reserved_ = 0;
};

} // namespace brova
