// OneShotHeap: the arena. Blocks come from operator new; each starts with a 16-byte area holding
// the link of the block list and the block's size, so the first object is 16-byte aligned.
#define VLM_UNIT "oneshot"
#include "foundation/oneshot.h"

#include <new>

#include "foundation/log.h"

namespace vlm {

namespace {

constexpr std::size_t kLinkBytes = kAllocAlign;

std::size_t largestPowerOf2AtMost(std::size_t n) {
  if (n == 0) return 1;
  return std::size_t(1) << (63 - __builtin_clzll(static_cast<unsigned long long>(n)));
}

}  // namespace

OneShotHeap::OneShotHeap(std::size_t size) {
  std::size_t b = 2;
  while (b < size && b < (std::size_t(1) << 62)) b <<= 1;
  blockBytes = b;
}

OneShotHeap::~OneShotHeap() {
  while (MemSL* block = blocks.removeFirst()) ::operator delete(block);
}

void* OneShotHeap::carveItUpAndGiveItAway(std::size_t size) {
  size = (size + kAllocAlign - 1) & ~(kAllocAlign - 1);
  // A block of the usual size when the request and the link fit with room to spare; otherwise a
  // dedicated block between about 2 and 4 times the request.
  std::size_t bytes;
  if (size + kLinkBytes < blockBytes) {
    bytes = blockBytes;
  } else {
    if (size > (std::size_t(1) << 56)) {
      VLM_ASSERT(0, "size");
      return nullptr;
    }
    bytes = 64 * largestPowerOf2AtMost((size + kLinkBytes - 1) / 32);
  }
  void* memory = ::operator new(bytes, std::nothrow);
  VLM_ASSERT(memory, "block");
  if (!memory) return nullptr;
  MemSL* block = new (memory) MemSL;
  block->bytes = bytes;
  blocks.addFirst(block);
  total += bytes;
  char* base = static_cast<char*>(memory);
  end = base + bytes;
  cursor = base + kLinkBytes + size;
  return base + kLinkBytes;
}

void OneShotHeap::empty() {
  MemSL* oldest = blocks.tail();
  if (!oldest) return;
  while (blocks.head() != oldest) ::operator delete(blocks.removeFirst());
  char* base = reinterpret_cast<char*>(oldest);
  cursor = base + kLinkBytes;
  end = base + oldest->bytes;
  total = oldest->bytes;
}

}  // namespace vlm
