// The global allocation operators: a size-class pool allocator.
//
// Class k serves items of 2^k bytes (k >= 3). Each class has a free list of items carved from
// chunks of about 2 KB taken from the system allocator. An item is an 8-byte header holding its
// owning AllocatedMemoryBlock, followed by the payload; every payload is 16-byte aligned. A
// chunk goes back to the system the moment its last item comes back. Requests above the largest
// class go straight to the system allocator behind a header that carries a marker instead of a
// block. One spinlock guards the pool, since the audio thread and toolkit helper threads allocate
// too. See docs/foundation-memory.md for the layout and the resulting counts.
#define VLM_UNIT "new"
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include <pthread.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define VLM_HAVE_SINGLE_THREADED 1
#endif

#include "foundation/log.h"
#include "foundation/oneshot.h"
#include "platform/msgbox.h"

namespace vlm {

namespace {

constexpr std::size_t kHeaderBytes = sizeof(void*);  // the owner word in front of each payload
constexpr std::size_t kChunkUnit = 2048;             // chunk bytes per 2 KB of item size...
constexpr std::size_t kChunkUnitBytes = kChunkUnit + 16;  // ...plus room for one header and padding
constexpr std::size_t kLargestClassBytes = std::size_t(1) << (NUM_CHUNK_SIZES - 1);

constexpr std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// Distance from one item to the next in a chunk of class k.
constexpr std::size_t itemStride(int k) { return roundUp((std::size_t(1) << k) + kHeaderBytes, kAllocAlign); }

// Chunk bytes: the 8 bytes in front make the first payload 16-aligned in a 16-aligned chunk.
constexpr std::size_t chunkBytes(int k) {
  return kHeaderBytes + ((std::size_t(1) << k) + kChunkUnit - 1) / kChunkUnit * kChunkUnitBytes;
}

constexpr unsigned itemsPerChunk(int k) {
  std::size_t n = (chunkBytes(k) - kHeaderBytes) / itemStride(k);
  return n < 1 ? 1u : static_cast<unsigned>(n);
}

static_assert(itemsPerChunk(3) == 129 && itemsPerChunk(4) == 64 && itemsPerChunk(11) == 1 &&
              itemsPerChunk(12) == 1);

// Class of a request that fits the pool: 3 up to 8 bytes, else the smallest k with 2^k >= size.
inline int classOf(std::size_t size) {
  if (size <= 8) return 3;
  return 64 - __builtin_clzll(static_cast<unsigned long long>(size - 1));
}

}  // namespace

int computeLog2(std::size_t n) {
  int k = 1;
  if (n >= 2) k = 64 - __builtin_clzll(static_cast<unsigned long long>(n - 1));
  VLM_ASSERT(k < NUM_CHUNK_SIZES, "log2Size < NUM_CHUNK_SIZES");
  return k;
}

void error(const char* message) {
  messageBox(message, "Memory Error!", eBoxOk, eIconError, eAnswerOk);
}

unsigned poolItemsPerChunk(int k) {
  return (k >= 0 && k < NUM_CHUNK_SIZES) ? itemsPerChunk(k < 3 ? 3 : k) : 0;
}
std::size_t poolChunkBytes(int k) {
  return (k >= 0 && k < NUM_CHUNK_SIZES) ? chunkBytes(k < 3 ? 3 : k) : 0;
}

#ifdef VLM_SYSTEM_ALLOCATOR

PoolStats poolStats() {
  PoolStats s;
  std::memset(&s, 0, sizeof s);
  return s;
}
bool poolAllocatorActive() { return false; }

}  // namespace vlm

#else  // the pool allocator

namespace {

struct AllocatedMemoryBlock;

// An item: the owner word, then the payload. While free, the first payload word chains the
// class's free list.
struct FreeMemory {
  AllocatedMemoryBlock* owner;
  FreeMemory* next;
};
static_assert(sizeof(FreeMemory) == kHeaderBytes + sizeof(void*));

// Marks an item handed straight out of the system allocator (larger than the largest class).
// No block lives at this address, so the marker cannot be mistaken for an owner.
char largeMarkerObject;
inline AllocatedMemoryBlock* largeMarker() { return reinterpret_cast<AllocatedMemoryBlock*>(&largeMarkerObject); }

// The pool's lock: held only for a few list operations, so waiting threads spin briefly (with
// the processor's pause hint) and then yield their time slice instead of sleeping in the kernel.
class SpinLock {
 public:
  void lock() {
    while (locked.exchange(true, std::memory_order_acquire)) {
      int spins = 0;
      while (locked.load(std::memory_order_relaxed)) {
        if (++spins < 100) {
          relax();
        } else {
          std::this_thread::yield();
          spins = 0;
        }
      }
    }
  }
  void unlock() { locked.store(false, std::memory_order_release); }

 private:
  static void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
  }
  std::atomic<bool> locked{false};
};

SpinLock poolLock;

// Holds poolLock for one public operation. While the process has a single thread the C library
// says so, and the lock is skipped: no other thread can exist until this one creates it, which
// it does not do inside a pool operation.
class PoolLock {
 public:
  PoolLock() : held(!singleThreaded()) {
    if (held) poolLock.lock();
  }
  ~PoolLock() {
    if (held) poolLock.unlock();
  }
  PoolLock(const PoolLock&) = delete;
  PoolLock& operator=(const PoolLock&) = delete;

 private:
  static bool singleThreaded() {
#ifdef VLM_HAVE_SINGLE_THREADED
    return __libc_single_threaded != 0;
#else
    return false;
#endif
  }
  bool held;
};

// Global pool state, used with poolLock held.
FreeMemory* freeHeads[NUM_CHUNK_SIZES];
unsigned long usedCounts[NUM_CHUNK_SIZES];
unsigned long freeCounts[NUM_CHUNK_SIZES];
long blockCount;
long mallocHeaderCount;
int headerReentry;  // non-zero while a block header is being allocated

void* allocateLocked(std::size_t size);
void freeLocked(void* payload);

// Failures found with the lock held are shown only after it is released, since the box handler
// may allocate. Each thread notes its own.
struct Pending {
  const char* error;
  const char* assertion;
  int line;
};
thread_local Pending pending;

#define POOL_ASSERT(cond, text) \
  ((cond) ? (void)0 : (void)(pending.assertion = (text), pending.line = __LINE__))

// Shows what the last locked section noted; called with the lock released.
void showPending() {
  Pending p = pending;
  pending = Pending{};
  if (p.assertion) ::vlm::__assert(p.assertion, VLM_UNIT, p.line);
  if (p.error) error(p.error);
}

// One per chunk.
struct AllocatedMemoryBlock {
  FreeMemory** freeList;  // the head of its class
  char* memory;           // the chunk from the system allocator
  unsigned allocatedItems;
  unsigned freeItems;
  unsigned fromPool;      // 1: this header came from the pool; 0: from the system allocator
  unsigned log2Size;
  std::uintptr_t magicKey;  // ~freeList while alive, 0 once released

  bool intact() const { return magicKey == ~reinterpret_cast<std::uintptr_t>(freeList); }

  // Takes a chunk and cuts it into items of class k; the block stays empty when the system
  // allocator has nothing (the caller's retry loop consults the new-handler).
  void initialize(int k, FreeMemory** head, unsigned pooled) {
    freeList = head;
    magicKey = ~reinterpret_cast<std::uintptr_t>(head);
    allocatedItems = freeItems = 0;
    fromPool = pooled;
    log2Size = static_cast<unsigned>(k);
    std::size_t itemSize = std::size_t(1) << k;
    POOL_ASSERT(itemSize >= sizeof(FreeMemory) - sizeof(AllocatedMemoryBlock*),
               "itemSize >= sizeof( FreeMemory ) - sizeof( AllocatedMemory )");
    memory = static_cast<char*>(std::malloc(chunkBytes(k)));
    if (!memory) return;
    std::size_t stride = itemStride(k);
    unsigned n = itemsPerChunk(k);
    char* p = memory + kHeaderBytes;
    FreeMemory* first = reinterpret_cast<FreeMemory*>(p);
    FreeMemory* item = first;
    for (unsigned i = 0; i < n; ++i) {
      item = reinterpret_cast<FreeMemory*>(p + i * stride);
      item->owner = this;
      item->next = (i + 1 < n) ? reinterpret_cast<FreeMemory*>(p + (i + 1) * stride) : *head;
    }
    allocatedItems = freeItems = n;
    *head = first;
    freeCounts[k] += n;
    ++blockCount;
    if (!fromPool) ++mallocHeaderCount;
  }

  // Gives the chunk back once every item is free: unlinks its items from the class's list.
  void terminate() {
    POOL_ASSERT(allocatedItems == freeItems, "allocatedItems == freeItems");
    FreeMemory** link = freeList;
    while (*link && freeItems) {
      if ((*link)->owner == this) {
        *link = (*link)->next;
        --freeItems;
      } else {
        link = &(*link)->next;
      }
    }
    POOL_ASSERT(freeItems == 0, "freeItems == 0");
    std::free(memory);
    memory = nullptr;
    magicKey = 0;
    freeCounts[log2Size] -= allocatedItems;
    --blockCount;
    if (!fromPool) {
      --mallocHeaderCount;
      std::free(this);
    } else {
      freeLocked(this);
    }
  }
};

// Makes a new block for class k; false when no memory could be had.
bool newBlockLocked(int k) {
  void* headerMemory;
  unsigned pooled;
  if (headerReentry) {
    headerMemory = std::malloc(sizeof(AllocatedMemoryBlock));
    pooled = 0;
  } else {
    ++headerReentry;
    headerMemory = allocateLocked(sizeof(AllocatedMemoryBlock));
    --headerReentry;
    pooled = 1;
  }
  if (!headerMemory) return false;
  auto* block = static_cast<AllocatedMemoryBlock*>(headerMemory);
  block->initialize(k, &freeHeads[k], pooled);
  if (block->allocatedItems == 0) {  // no chunk: give the header back
    if (pooled) freeLocked(headerMemory);
    else std::free(headerMemory);
    return false;
  }
  return true;
}

// A child process made by fork() while another thread held the lock would otherwise find it held
// forever: the forking thread takes the lock around fork(), and both sides release it.
const int forkHandlersInstalled = pthread_atfork([] { poolLock.lock(); }, [] { poolLock.unlock(); },
                                                 [] { poolLock.unlock(); });

// A pool item of at least size bytes, or null when the system allocator has nothing.
void* allocateLocked(std::size_t size) {
  int k = classOf(size);
  if (!freeHeads[k] && !newBlockLocked(k)) return nullptr;
  FreeMemory* item = freeHeads[k];
  freeHeads[k] = item->next;
  --item->owner->freeItems;
  --freeCounts[k];
  ++usedCounts[k];
  return reinterpret_cast<char*>(item) + kHeaderBytes;
}

// Returns a pool item. A damaged block header is noted (and shown once the lock is released),
// and the item is left alone rather than written through a bad owner.
void freeLocked(void* payload) {
  FreeMemory* item = reinterpret_cast<FreeMemory*>(static_cast<char*>(payload) - kHeaderBytes);
  AllocatedMemoryBlock* block = item->owner;
  if (!block->intact()) {
    pending.error = "bad internal error,\nmagicKey != ~(long)freeList";
    return;
  }
  unsigned k = block->log2Size;
  item->next = *block->freeList;
  *block->freeList = item;
  ++block->freeItems;
  ++freeCounts[k];
  --usedCounts[k];
  if (block->freeItems == block->allocatedItems) block->terminate();
}

// Requests above the largest class: system memory behind a 16-byte prefix whose last word, the
// one in front of the payload, holds the marker.
void* allocateLarge(std::size_t size) {
  if (size > static_cast<std::size_t>(-1) - 2 * kAllocAlign) return nullptr;
  char* p = static_cast<char*>(std::malloc(size + kAllocAlign));
  if (!p) return nullptr;
  reinterpret_cast<AllocatedMemoryBlock**>(p + kAllocAlign)[-1] = largeMarker();
  return p + kAllocAlign;
}

// One attempt without the new-handler.
void* tryAllocate(std::size_t size) {
  if (size > kLargestClassBytes) return allocateLarge(size);
  void* p;
  {
    PoolLock lock;
    p = allocateLocked(size);
  }
  if (pending.error || pending.assertion) showPending();
  return p;
}

// The operator new loop: retry through the new-handler; without one, report "Out of Memory\n"
// once for a pool request and retry once. Failure throws std::bad_alloc, or gives null for the
// nothrow forms.
void* allocate(std::size_t size, bool nothrow) {
  bool reported = false;
  for (;;) {
    if (void* p = tryAllocate(size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler) {
      if (nothrow) {
        try {
          handler();
        } catch (...) {
          return nullptr;
        }
      } else {
        handler();
      }
      continue;
    }
    if (!reported && size <= kLargestClassBytes) {
      reported = true;
      error("Out of Memory\n");
      continue;
    }
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
}

void deallocate(void* payload) {
  if (!payload) return;
  AllocatedMemoryBlock* owner = reinterpret_cast<AllocatedMemoryBlock**>(payload)[-1];
  if (owner == largeMarker()) {
    std::free(static_cast<char*>(payload) - kAllocAlign);
    return;
  }
  {
    PoolLock lock;
    freeLocked(payload);
  }
  if (pending.error || pending.assertion) showPending();
}

}  // namespace

PoolStats poolStats() {
  PoolStats s;
  PoolLock lock;
  for (int k = 0; k < NUM_CHUNK_SIZES; ++k) {
    s.used[k] = usedCounts[k];
    s.free[k] = freeCounts[k];
  }
  s.blockCount = blockCount;
  s.mallocHeaderCount = mallocHeaderCount;
  return s;
}
bool poolAllocatorActive() { return true; }

}  // namespace vlm

void* operator new(std::size_t size) { return vlm::allocate(size, false); }
void* operator new[](std::size_t size) { return vlm::allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return vlm::allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return vlm::allocate(size, true); }
void operator delete(void* p) noexcept { vlm::deallocate(p); }
void operator delete[](void* p) noexcept { vlm::deallocate(p); }
void operator delete(void* p, std::size_t) noexcept { vlm::deallocate(p); }
void operator delete[](void* p, std::size_t) noexcept { vlm::deallocate(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { vlm::deallocate(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { vlm::deallocate(p); }

#endif  // VLM_SYSTEM_ALLOCATOR
