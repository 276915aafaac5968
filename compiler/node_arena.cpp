#include "compiler/node_arena.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>

namespace brova {

struct TNodeArena::Chunk {
  Chunk* next;
  size_t size;
};

namespace {

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kChunkSize = 256 * 1024;
// Freed chunks kept for the next tree: at cold start one class after another is parsed and
// freed, and fresh memory from the system costs a page fault per page. A plain array is
// never destroyed, so a tree freed during the program's exit can still return its chunks.
constexpr size_t kSpareLimit = 64;

std::mutex g_spareLock;
std::array<void*, kSpareLimit> g_spare{};
size_t g_spareCount = 0;

void* NewChunk() {
  {
    std::lock_guard<std::mutex> lock(g_spareLock);
    if (g_spareCount > 0) return g_spare[--g_spareCount];
  }
  return ::operator new(kChunkSize);
}

void FreeChunk(void* chunk, size_t size) {
  if (size == kChunkSize) {
    std::lock_guard<std::mutex> lock(g_spareLock);
    if (g_spareCount < kSpareLimit) {
      g_spare[g_spareCount++] = chunk;
      return;
    }
  }
  ::operator delete(chunk);
}

} // namespace

TNodeArena::~TNodeArena() { Release(); }

TNodeArena::TNodeArena(TNodeArena&& other) noexcept
    : chunks_(std::exchange(other.chunks_, nullptr)),
      cursor_(std::exchange(other.cursor_, nullptr)), limit_(std::exchange(other.limit_, nullptr)),
      reserved_(std::exchange(other.reserved_, 0)) {}

TNodeArena& TNodeArena::operator=(TNodeArena&& other) noexcept {
  if (this != &other) {
    Release();
    chunks_ = std::exchange(other.chunks_, nullptr);
    cursor_ = std::exchange(other.cursor_, nullptr);
    limit_ = std::exchange(other.limit_, nullptr);
    reserved_ = std::exchange(other.reserved_, 0);
  }
  return *this;
}

void TNodeArena::Release() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    FreeChunk(chunks_, chunks_->size);
    chunks_ = next;
  }
  cursor_ = limit_ = nullptr;
  reserved_ = 0;
}

// A chunk starts aligned for any object, so what comes first in it needs no padding.
void* TNodeArena::AllocateInNewChunk(size_t bytes) {
  constexpr size_t kHeader = (sizeof(Chunk) + kAlign - 1) / kAlign * kAlign;
  size_t size = bytes + kHeader <= kChunkSize ? kChunkSize : bytes + kHeader;
  auto* chunk = static_cast<Chunk*>(size == kChunkSize ? NewChunk() : ::operator new(size));
  chunk->next = chunks_;
  chunk->size = size;
  chunks_ = chunk;
  reserved_ += size;
  cursor_ = reinterpret_cast<char*>(chunk) + kHeader;
  limit_ = reinterpret_cast<char*>(chunk) + size;
  void* p = cursor_;
  cursor_ += bytes;
  return p;
}

} // namespace brova
