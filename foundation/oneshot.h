// The arena allocator OneShotHeap, and the statistics of the global size-class pool allocator
// (foundation/new.cpp), which replaces the global allocation operators of every program.
#pragma once
#include <cstddef>
#include "foundation/seq.h"

namespace vlm {

// Size classes of the pool: class k serves items of 2^k bytes.
constexpr int NUM_CHUNK_SIZES = 26;
// Every allocation, pooled or arena, is aligned to this many bytes.
constexpr std::size_t kAllocAlign = 16;

// 1 for n < 2, otherwise the smallest k with 2^k >= n; asserts k < NUM_CHUNK_SIZES.
int computeLog2(std::size_t n);

// Shows message in a "Memory Error!" box (error icon) and returns.
void error(const char* message);

// Pool statistics, for tests and benchmarks.
struct PoolStats {
  unsigned long used[NUM_CHUNK_SIZES];   // items handed out per class
  unsigned long free[NUM_CHUNK_SIZES];   // free items held per class
  long blockCount;                       // pool blocks alive
  long mallocHeaderCount;                // blocks whose header came from the system allocator
};
PoolStats poolStats();
// True when the pool allocator is the global operator new of this program.
bool poolAllocatorActive();
// Items one chunk of class k holds, and the size in bytes of that chunk.
unsigned poolItemsPerChunk(int k);
std::size_t poolChunkBytes(int k);

// A block of the arena: its first 16 bytes are the link of the arena's block list and the
// block's size; the arena hands out memory from block + 16.
struct MemSL : SLinkBase {
  std::size_t bytes = 0;
};
static_assert(sizeof(MemSL) <= kAllocAlign);

// Arena whose objects are freed all at once. Allocation bumps a cursor; a full block is
// abandoned and a new one taken from operator new. Sizes are rounded up to 16 bytes.
class OneShotHeap {
 public:
  explicit OneShotHeap(std::size_t blockSize = 4096);
  ~OneShotHeap();
  OneShotHeap(const OneShotHeap&) = delete;
  OneShotHeap& operator=(const OneShotHeap&) = delete;

  void* allocate(std::size_t size) {
    size = (size + kAllocAlign - 1) & ~(kAllocAlign - 1);
    if (cursor && size <= static_cast<std::size_t>(end - cursor)) {
      char* p = cursor;
      cursor += size;
      return p;
    }
    return carveItUpAndGiveItAway(size);
  }
  // Frees every block but the oldest and rewinds to its start (16 bytes in, after the link).
  void empty();

  std::size_t blockSize() const { return blockBytes; }
  std::size_t totalBytes() const { return total; }
  const char* currentCursor() const { return cursor; }
  const char* currentEnd() const { return end; }
  int blockCountForTest() const { return blocks.count(); }

 protected:
  void* carveItUpAndGiveItAway(std::size_t size);

  Seq<MemSL> blocks;     // newest first
  char* cursor = nullptr;
  char* end = nullptr;
  std::size_t blockBytes;
  std::size_t total = 0;
};

}  // namespace vlm

// Placement into an arena; objects so placed are never deleted one by one.
inline void* operator new(std::size_t size, vlm::OneShotHeap& heap) { return heap.allocate(size); }
inline void* operator new[](std::size_t size, vlm::OneShotHeap& heap) { return heap.allocate(size); }
// Only called by the compiler when a constructor throws; the arena reclaims the memory later.
inline void operator delete(void*, vlm::OneShotHeap&) noexcept {}
inline void operator delete[](void*, vlm::OneShotHeap&) noexcept {}
