// The global pool allocator and the OneShotHeap arena.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "foundation/oneshot.h"
#include "platform/msgbox.h"

using namespace vlm;

namespace {

// Records message boxes instead of showing them, and answers Ignore. Allocation-free, so it
// leaves the pool statistics alone.
struct BoxRecorder {
  static constexpr int kMax = 8;
  static inline char textBuf[kMax][256];
  static inline char captionBuf[kMax][64];
  static inline int icons[kMax];
  static inline int count;
  static int handler(const char* text, const char* caption, BoxButtons, BoxIcon icon, int) {
    if (count < kMax) {
      std::snprintf(textBuf[count], sizeof textBuf[count], "%s", text);
      std::snprintf(captionBuf[count], sizeof captionBuf[count], "%s", caption);
      icons[count] = icon;
    }
    ++count;
    return eAnswerIgnore;
  }
  std::string text(int i) const { return textBuf[i]; }
  std::string caption(int i) const { return captionBuf[i]; }
  MessageBoxHandler previous;
  BoxRecorder() {
    count = 0;
    previous = setMessageBoxHandler(&handler);
  }
  ~BoxRecorder() { setMessageBoxHandler(previous); }
};

// Keeps the compiler from eliding a new-expression whose result is otherwise unused.
inline void escape(void* p) { asm volatile("" : : "g"(p) : "memory"); }

bool aligned16(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

#define REQUIRE_POOL() \
  if (!poolAllocatorActive()) GTEST_SKIP() << "built with the system allocator"

// Ensures class k has no free items (the items taken are held until destruction), so the next
// allocation of class k makes a new block.
struct Drain {
  std::vector<void*> held;
  explicit Drain(int k) {
    held.reserve(4096);
    while (poolStats().free[k] > 0 && held.size() < held.capacity())
      held.push_back(::operator new(std::size_t(1) << k));
  }
  ~Drain() {
    for (void* p : held) ::operator delete(p);
  }
};

// Ensures class k holds at least n free items (the items taken are held until destruction).
struct Supply {
  std::vector<void*> held;
  Supply(int k, unsigned long n) {
    held.reserve(64);
    while (poolStats().free[k] < n && held.size() < held.capacity())
      held.push_back(::operator new(std::size_t(1) << k));
  }
  ~Supply() {
    for (void* p : held) ::operator delete(p);
  }
};

}  // namespace

TEST(ComputeLog2, ClassesAndLimit) {
  struct Case { std::size_t n; int k; } cases[] = {{0, 1}, {1, 1}, {2, 1}, {3, 2}, {8, 3}, {9, 4},
                                                     {2049, 12}, {std::size_t(1) << 25, 25}};
  for (const Case& c : cases) EXPECT_EQ(computeLog2(c.n), c.k) << c.n;
  BoxRecorder boxes;
  computeLog2((std::size_t(1) << 25) + 1);
  ASSERT_EQ(boxes.count, 1);
  EXPECT_EQ(boxes.text(0).substr(0, boxes.text(0).find('\n')), "log2Size < NUM_CHUNK_SIZES");
  EXPECT_NE(boxes.text(0).find("File=new"), std::string::npos);
}

TEST(MemoryError, ShowsMemoryErrorBox) {
  BoxRecorder boxes;
  error("Out of Memory\n");
  ASSERT_EQ(boxes.count, 1);
  EXPECT_EQ(boxes.text(0), "Out of Memory\n");
  EXPECT_EQ(boxes.caption(0), "Memory Error!");
  EXPECT_EQ(boxes.icons[0], eIconError);
}

TEST(PoolLayout, ChunkFormulas) {
  struct Case { int k; unsigned items; std::size_t bytes; } cases[] = {
      {3, 129, 2072}, {4, 64, 2072}, {6, 25, 2072}, {10, 1, 2072}, {11, 1, 2072}, {12, 1, 4136}};
  for (const Case& c : cases) {
    EXPECT_EQ(poolItemsPerChunk(c.k), c.items) << c.k;
    EXPECT_EQ(poolChunkBytes(c.k), c.bytes) << c.k;
  }
}

TEST(Pool, SizeClassesAndAlignment) {
  REQUIRE_POOL();
  struct Case { std::size_t size; int k; } cases[] = {{0, 3}, {1, 3}, {8, 3}, {9, 4}, {16, 4}, {17, 5},
                                                       {2048, 11}, {2049, 12}};
  for (const Case& c : cases) {
    PoolStats before = poolStats();
    void* p = ::operator new(c.size);
    PoolStats during = poolStats();
    EXPECT_EQ(during.used[c.k], before.used[c.k] + 1) << c.size;
    EXPECT_TRUE(aligned16(p)) << c.size;
    std::memset(p, 0xab, c.size);
    ::operator delete(p);
    EXPECT_EQ(poolStats().used[c.k], before.used[c.k]) << c.size;
  }
}

TEST(Pool, FullChunkThenSecondBlockThenReleaseBoth) {
  REQUIRE_POOL();
  const unsigned perChunk = poolItemsPerChunk(3);
  std::vector<void*> items;
  items.reserve(perChunk + 1);
  // Keep the header class (64 bytes) supplied, so only class 3 makes blocks below.
  Drain drain(3);
  Supply headers(6, 2);
  ASSERT_EQ(poolStats().free[3], 0u);
  ASSERT_GE(poolStats().free[6], 2u);
  const PoolStats start = poolStats();

  for (unsigned i = 0; i < perChunk; ++i) items.push_back(::operator new(8));
  PoolStats full = poolStats();
  EXPECT_EQ(full.blockCount, start.blockCount + 1);
  EXPECT_EQ(full.free[3], 0u);
  // one chunk, cut in address order with a 16-byte stride
  for (unsigned i = 1; i < perChunk; ++i)
    EXPECT_EQ(static_cast<char*>(items[i]) - static_cast<char*>(items[i - 1]), 16) << i;

  items.push_back(::operator new(8));
  EXPECT_EQ(poolStats().blockCount, start.blockCount + 2);
  EXPECT_EQ(poolStats().free[3], perChunk - 1);

  for (void* p : items) ::operator delete(p);
  PoolStats end = poolStats();
  EXPECT_EQ(end.blockCount, start.blockCount);
  EXPECT_EQ(end.mallocHeaderCount, start.mallocHeaderCount);
  EXPECT_EQ(end.free[3], 0u);
  EXPECT_EQ(end.used[3], start.used[3]);
  EXPECT_EQ(end.used[6], start.used[6]);
}

TEST(Pool, HeaderOfANewHeaderClassBlockComesFromTheSystem) {
  REQUIRE_POOL();
  // With class 6 (the headers' class) and class 3 both empty, a new class-3 block needs a header
  // from class 6, whose own new block takes its header from the system allocator.
  Drain drain3(3);
  Drain drain6(6);
  const PoolStats start = poolStats();
  void* p = ::operator new(8);
  PoolStats during = poolStats();
  EXPECT_EQ(during.blockCount, start.blockCount + 2);
  EXPECT_EQ(during.mallocHeaderCount, start.mallocHeaderCount + 1);
  ::operator delete(p);
  PoolStats end = poolStats();
  EXPECT_EQ(end.blockCount, start.blockCount);
  EXPECT_EQ(end.mallocHeaderCount, start.mallocHeaderCount);
}

TEST(Pool, IsTheGlobalOperatorNew) {
  REQUIRE_POOL();
  PoolStats before = poolStats();
  int* one = new int(7);
  double* many = new double[100];  // 800 bytes: class 10
  escape(one);
  escape(many);
  EXPECT_EQ(poolStats().used[3], before.used[3] + 1);
  EXPECT_EQ(poolStats().used[10], before.used[10] + 1);
  delete one;
  delete[] many;
  EXPECT_EQ(poolStats().used[3], before.used[3]);
  EXPECT_EQ(poolStats().used[10], before.used[10]);

  PoolStats unchanged = poolStats();
  delete static_cast<int*>(nullptr);
  delete[] static_cast<char*>(nullptr);
  ::operator delete(nullptr);
  PoolStats after = poolStats();
  EXPECT_EQ(std::memcmp(&unchanged, &after, sizeof after), 0);
}

TEST(Pool, RequestsAboveTheLargestClassGoToTheSystem) {
  REQUIRE_POOL();
  const std::size_t largest = std::size_t(1) << 25;
  PoolStats before = poolStats();
  char* big = new char[largest + 1];
  escape(big);
  PoolStats during = poolStats();
  EXPECT_EQ(std::memcmp(&before, &during, sizeof during), 0) << "the pool must not be touched";
  EXPECT_TRUE(aligned16(big));
  big[0] = 1;
  big[largest] = 2;
  delete[] big;

  char* top = new char[largest];  // the largest class still comes from the pool
  escape(top);
  EXPECT_EQ(poolStats().used[25], before.used[25] + 1);
  delete[] top;
  EXPECT_EQ(poolStats().used[25], before.used[25]);
}

TEST(Pool, OutOfMemoryThrowsOrGivesNull) {
  REQUIRE_POOL();
  const std::size_t huge = std::size_t(1) << 62;
  EXPECT_THROW((void)::operator new(huge), std::bad_alloc);
  EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](huge, std::nothrow), nullptr);

  // The new-handler is consulted before giving up.
  static int calls;
  calls = 0;
  std::set_new_handler([] {
    ++calls;
    std::set_new_handler(nullptr);
  });
  EXPECT_THROW((void)::operator new[](huge), std::bad_alloc);
  EXPECT_EQ(calls, 1);
}

TEST(Pool, DamagedBlockHeaderIsReportedNotFollowed) {
  REQUIRE_POOL();
  // An item whose owner word points at a zeroed "block": its magic key does not match.
  alignas(16) static unsigned char fakeBlock[64];
  alignas(16) unsigned char item[32] = {};
  void* owner = fakeBlock;
  std::memcpy(item + 8, &owner, sizeof owner);
  BoxRecorder boxes;
  PoolStats before = poolStats();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
  ::operator delete(item + 16);
#pragma GCC diagnostic pop
  ASSERT_EQ(boxes.count, 1);
  EXPECT_EQ(boxes.text(0), "bad internal error,\nmagicKey != ~(long)freeList");
  EXPECT_EQ(boxes.caption(0), "Memory Error!");
  PoolStats after = poolStats();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);
}

TEST(Pool, TwoThreadsStayConsistent) {
  REQUIRE_POOL();
  const PoolStats before = poolStats();
  std::atomic<int> corrupted{0};
  auto work = [&corrupted](unsigned seed) {
    std::vector<std::pair<unsigned char*, std::size_t>> live(64, {nullptr, 0});
    unsigned x = seed;
    for (int i = 0; i < 150000; ++i) {
      x = x * 1103515245u + 12345u;
      auto& slot = live[(x >> 8) % live.size()];
      if (slot.first) {
        unsigned char tag = static_cast<unsigned char>(reinterpret_cast<std::uintptr_t>(slot.first) >> 4);
        for (std::size_t j = 0; j < slot.second; ++j)
          if (slot.first[j] != tag) {
            ++corrupted;
            break;
          }
        delete[] slot.first;
      }
      std::size_t size = 1 + (x >> 16) % 600;
      slot.first = new unsigned char[size];
      slot.second = size;
      std::memset(slot.first, static_cast<unsigned char>(reinterpret_cast<std::uintptr_t>(slot.first) >> 4), size);
    }
    for (auto& slot : live) delete[] slot.first;
  };
  // The vectors' own storage is allocated inside the threads and freed there too.
  std::thread a(work, 1u), b(work, 2u);
  a.join();
  b.join();
  EXPECT_EQ(corrupted.load(), 0);
  const PoolStats after = poolStats();
  for (int k = 0; k < NUM_CHUNK_SIZES; ++k) EXPECT_EQ(after.used[k], before.used[k]) << k;
  EXPECT_EQ(after.mallocHeaderCount, before.mallocHeaderCount);
}

TEST(Pool, ForkWhileAnotherThreadAllocates) {
  REQUIRE_POOL();
  // The child of a fork must find the pool unlocked and consistent, whatever the other thread
  // was doing at that moment.
  std::atomic<bool> stop{false};
  std::thread busy([&stop] {
    while (!stop.load(std::memory_order_relaxed)) {
      void* items[16];
      for (void*& p : items) p = ::operator new(24);
      for (void* p : items) ::operator delete(p);
    }
  });
  int failures = 0;
  for (int i = 0; i < 20; ++i) {
    pid_t child = fork();
    if (child == 0) {
      alarm(5);  // a child stuck on the lock ends by the signal
      for (int j = 0; j < 200; ++j) {
        void* p = ::operator new(24);
        ::operator delete(p);
      }
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  stop = true;
  busy.join();
  EXPECT_EQ(failures, 0);
}

// ---- OneShotHeap ----

TEST(OneShotHeap, BlockSizeRoundsToAPowerOfTwoAndNothingIsTakenEarly) {
  struct Case { std::size_t asked, got; } cases[] = {{2020, 2048}, {2048, 2048}, {0, 2}, {1, 2}, {3, 4}};
  for (const Case& c : cases) {
    OneShotHeap heap(c.asked);
    EXPECT_EQ(heap.blockSize(), c.got) << c.asked;
    EXPECT_EQ(heap.totalBytes(), 0u);
    EXPECT_EQ(heap.blockCountForTest(), 0);
  }
}

TEST(OneShotHeap, BlocksForSmallAndLargeRequests) {
  OneShotHeap heap(2020);
  char* first = static_cast<char*>(heap.allocate(10));
  EXPECT_EQ(heap.totalBytes(), 2048u);
  EXPECT_TRUE(aligned16(first));
  EXPECT_EQ(heap.currentCursor(), first + 16);  // 10 bytes rounded to 16

  struct Case { std::size_t request, blockBytes; } cases[] = {
      {3000, 4096}, {2032, 2048}, {2033, 4096}, {10000, 16384}, {100000, 131072}};
  for (const Case& c : cases) {
    std::size_t total = heap.totalBytes();
    char* p = static_cast<char*>(heap.allocate(c.request));
    EXPECT_EQ(heap.totalBytes() - total, c.blockBytes) << c.request;
    EXPECT_TRUE(aligned16(p));
    EXPECT_LE(p + c.request, heap.currentEnd()) << c.request;
    std::memset(p, 0x5a, c.request);
  }
}

TEST(OneShotHeap, ExactFillIsServedOneByteMoreStartsANewBlock) {
  struct Case { std::size_t extra; int blocks; } cases[] = {{0, 1}, {1, 2}};
  for (const Case& c : cases) {
    OneShotHeap heap(2048);
    char* a = static_cast<char*>(heap.allocate(16));
    std::size_t rest = static_cast<std::size_t>(heap.currentEnd() - heap.currentCursor());
    EXPECT_EQ(rest, 2048u - 16 - 16);
    char* b = static_cast<char*>(heap.allocate(rest + c.extra));
    EXPECT_EQ(heap.blockCountForTest(), c.blocks) << c.extra;
    if (c.blocks == 1) {
      EXPECT_EQ(b, a + 16);
      EXPECT_EQ(heap.currentCursor(), heap.currentEnd());
    }
  }
}

TEST(OneShotHeap, EmptyKeepsTheOldestBlockAndRewinds) {
  OneShotHeap never(1024);
  never.empty();
  EXPECT_EQ(never.blockCountForTest(), 0);
  EXPECT_EQ(never.totalBytes(), 0u);

  OneShotHeap heap(1024);
  char* first = static_cast<char*>(heap.allocate(100));
  for (int i = 0; i < 50; ++i) heap.allocate(300);
  heap.allocate(5000);
  EXPECT_GT(heap.blockCountForTest(), 2);
  heap.empty();
  EXPECT_EQ(heap.blockCountForTest(), 1);
  EXPECT_EQ(heap.totalBytes(), 1024u);
  EXPECT_EQ(heap.allocate(8), first);
}

TEST(OneShotHeap, EmptyOfAHeapWhoseFirstBlockIsOversizedUsesThatBlocksSize) {
  // Block size 2 is smaller than the block's own link area: the first block is a dedicated one
  // of 64 bytes, and after empty() the arena must not hand out memory past its end.
  OneShotHeap heap(2);
  char* first = static_cast<char*>(heap.allocate(16));
  heap.allocate(200);
  heap.empty();
  EXPECT_EQ(heap.totalBytes(), 64u);
  EXPECT_EQ(heap.currentEnd() - heap.currentCursor(), 48);
  EXPECT_EQ(heap.allocate(48), first);
  char* next = static_cast<char*>(heap.allocate(16));
  EXPECT_EQ(heap.blockCountForTest(), 2);
  EXPECT_TRUE(next < first || next >= first + 48);
}

TEST(OneShotHeap, PlacementNewAndBlocksFromThePool) {
  struct Point { double x, y; };
  OneShotHeap heap(4096);
  PoolStats before = poolStats();
  Point* p = new (heap) Point{1.5, 2.5};
  Point* q = new (heap) Point[3];
  EXPECT_EQ(p->x + p->y, 4.0);
  EXPECT_TRUE(aligned16(q));
  EXPECT_EQ(reinterpret_cast<char*>(q) - reinterpret_cast<char*>(p), 16);
  if (poolAllocatorActive()) {
    EXPECT_EQ(poolStats().used[12], before.used[12] + 1);
  }
}
