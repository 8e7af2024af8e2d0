// OCBase: an ordered growable array of pointer-sized words, kept 0-terminated. A reserved word
// sits just before entry 0. The array lives in a OneShotHeap when one is given (and is then never
// freed), else it comes from operator new and is sized to whole pool classes.
#define VLM_UNIT "ordcoll"
#include "foundation/ordcoll.h"

#include <cstring>
#include <new>

#include "foundation/oneshot.h"

namespace vlm {

namespace {

// Largest single array the collections make, in bytes; entry caps derive from it.
constexpr long long MAX_ALLOC = 0xffffffbfLL;
constexpr long long kMaxWords = MAX_ALLOC / static_cast<long long>(sizeof(void*));

// The last probe of a binary search; the next search of any OCBase on this thread starts there.
thread_local int lastProbe = 0;

// Stands in for the array of a collection whose first allocation failed; never freed.
void* emptyWords[2] = {nullptr, nullptr};

void** allocateWords(long long words, OneShotHeap* heap) {
  std::size_t bytes = static_cast<std::size_t>(words) * sizeof(void*);
  if (heap) return static_cast<void**>(heap->allocate(bytes));
  return static_cast<void**>(::operator new(bytes, std::nothrow));
}

}  // namespace

OCBase::OCBase(int initial, int growBy, OneShotHeap* h) : heap(h) {
  arraySize = initial > 0 ? initial + 1 : 6;
  grow = growBy >= 1 ? growBy : arraySize;
  arrayUsed = 0;
  void** block = allocateWords(arraySize + 1LL, heap);
  VLM_ASSERT(block, "array");
  if (!block) {  // empty; the first add tries again
    array = emptyWords + 1;
    arraySize = 1;
    return;
  }
  block[0] = nullptr;  // the reserved word
  array = block + 1;
  array[0] = nullptr;
}

OCBase::~OCBase() {
  if (!heap && array != emptyWords + 1) ::operator delete(array - 1);
}

int OCBase::addGrowing(void* item) {
  int index = makeRoom(1, -1);
  if (index < 0) return -1;
  array[index] = item;
  return index;
}

int OCBase::add(void* item, int index) {
  index = makeRoom(1, index);
  if (index < 0) return -1;
  array[index] = item;
  return index;
}

int OCBase::makeRoom(int count, int index) {
  VLM_ASSERT(arrayUsed < arraySize, "arrayUsed < arraySize");
  VLM_ASSERT(count > 0, "numToAdd > 0");
  if (index == -1) index = arrayUsed;
  VLM_ASSERT(index >= 0 && index <= arrayUsed, "index <= arrayUsed");
  if (count <= 0 || index < 0 || index > arrayUsed || arrayUsed >= arraySize) return -1;

  if (static_cast<long long>(arrayUsed) + count < arraySize) {
    // entries from index through the terminator move up by count
    std::memmove(array + index + count, array + index, (arrayUsed - index + 1) * sizeof(void*));
  } else {
    long long newSize = static_cast<long long>(arraySize) + grow;
    if (newSize > kMaxWords) newSize = kMaxWords;
    long long least = static_cast<long long>(arrayUsed) + count + 2;
    if (newSize < least) newSize = least;
    if (!heap) {
      // whole pool classes: the smallest power of two strictly above the byte size
      long long bytes = 1;
      while (bytes <= newSize * static_cast<long long>(sizeof(void*))) bytes <<= 1;
      newSize = bytes / static_cast<long long>(sizeof(void*));
    }
    VLM_ASSERT(newSize < kMaxWords, "newSize < (MAX_ALLOC / sizeof( void* ))");
    if (newSize >= kMaxWords) return -1;
    void** block = allocateWords(newSize, heap);
    VLM_ASSERT(block, "newArray");
    if (!block) return -1;
    void** old = array - 1;
    block[0] = old[0];
    std::memcpy(block + 1, array, index * sizeof(void*));
    std::memcpy(block + 1 + index + count, array + index, (arrayUsed - index + 1) * sizeof(void*));
    if (!heap && old != emptyWords) ::operator delete(old);
    array = block + 1;
    arraySize = static_cast<int>(newSize - 1);
    long long g = grow + 8LL + grow / 4;
    grow = g > kMaxWords ? static_cast<int>(kMaxWords) : static_cast<int>(g);
  }
  // the gap reads 0 until the caller fills it
  std::memset(array + index, 0, count * sizeof(void*));
  arrayUsed += count;
  return index;
}

void* OCBase::removeEntry(int index) {
  VLM_ASSERT(index >= 0, "index >=0");
  if (index < 0 || index >= arrayUsed) return nullptr;
  void* item = array[index];
  // the entries after it and the terminator move down
  std::memmove(array + index, array + index + 1, (arrayUsed - index) * sizeof(void*));
  --arrayUsed;
  return item;
}

void OCBase::removeEntriesTo(int from, int to) {
  VLM_ASSERT(from >= 0, "gone >=0");
  if (from < 0) return;
  if (to < 0 || to > arrayUsed) to = arrayUsed;
  if (from > arrayUsed) from = arrayUsed;
  int gone = to - from;
  VLM_ASSERT(gone >= 0, "gone >=0");
  if (gone <= 0) return;
  std::memmove(array + from, array + to, (arrayUsed - to + 1) * sizeof(void*));
  arrayUsed -= gone;
}

int OCBase::remove(const void* item) {
  int i = find(item);
  if (i >= 0) removeEntry(i);
  return i;
}

int OCBase::find(const void* item) const {
  for (int i = 0; i < arrayUsed; ++i)
    if (array[i] == item) return i;
  return -1;
}

int OCBase::find(const void* key, CompareFn compare, int sorted) const {
  VLM_ASSERT(compare, "compare");
  if (!compare) return -1;
  if (sorted) {
    int insertAt;
    return find(key, compare, &insertAt);
  }
  for (int i = 0; i < arrayUsed; ++i)
    if (compare(key, array[i]) == 0) return i;
  return -1;
}

int OCBase::find(const void* key, CompareFn compare, int* insertAt) const {
  VLM_ASSERT(compare, "compare");
  int lo = 0;
  int hi = arrayUsed - 1;
  int probe = (lastProbe >= 0 && lastProbe <= hi) ? lastProbe : arrayUsed / 2;
  int probed = 0;
  int c = 0;
  int found = -1;
  if (compare) {
    while (lo <= hi) {
      probed = probe;
      c = compare(key, array[probe]);
      if (c == 0) {
        found = probe;
        break;
      }
      if (c < 0) hi = probe - 1;
      else lo = probe + 1;
      probe = (lo + hi) / 2;
      lastProbe = probe;
    }
  }
  if (insertAt) *insertAt = found >= 0 ? found : probed + (c > 0 ? 1 : 0);
  return found;
}

}  // namespace vlm
