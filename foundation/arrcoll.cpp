// ACBase: an ordered growable array of fixed-size entries stored back to back (no terminator).
// Heap-less growth rounds the byte size to a power of two so the pool gets whole classes.
#define VLM_UNIT "arrcoll"
#include "foundation/arrcoll.h"

#include <climits>
#include <cstring>
#include <new>

namespace vlm {

namespace {

constexpr long long MAX_ALLOC = 0xffffffbfLL;

// The last probe of a binary search; the next search of any ACBase on this thread starts there.
thread_local int lastProbe = 0;

long long maxEntries(int entrySize) {
  long long cap = MAX_ALLOC / entrySize;
  return cap < INT_MAX ? cap : INT_MAX - 1;
}

}  // namespace

ACBase::ACBase(int size, int initial, int growBy) {
  VLM_ASSERT(size > 0, "entSize");
  entrySize = size > 0 ? size : 1;
  arraySize = initial > 0 ? initial : 6;
  grow = growBy >= 1 ? growBy : arraySize;
  arrayUsed = 0;
  array = static_cast<char*>(
      ::operator new(static_cast<std::size_t>(arraySize) * static_cast<std::size_t>(entrySize), std::nothrow));
  VLM_ASSERT(array, "newArray");
  if (!array) arraySize = 0;  // empty; the first add tries again
}

ACBase::~ACBase() { ::operator delete(array); }

int ACBase::add(const void* entry, int index) {
  index = makeRoom(1, index);
  VLM_ASSERT(index != -1, "index != (unsigned )-1");
  if (index < 0) return -1;
  std::memcpy(array + static_cast<long>(index) * entrySize, entry, entrySize);
  return index;
}

int ACBase::makeRoom(int count, int index) {
  VLM_ASSERT(arrayUsed <= arraySize, "arrayUsed <= arraySize");
  VLM_ASSERT(count > 0, "numToAdd > 0");
  if (index == -1) index = arrayUsed;
  VLM_ASSERT(index >= 0 && index <= arrayUsed, "index <= arrayUsed");
  if (count <= 0 || index < 0 || index > arrayUsed || arrayUsed > arraySize) return -1;

  const std::size_t es = static_cast<std::size_t>(entrySize);
  if (static_cast<long long>(arrayUsed) + count > arraySize) {
    const long long cap = maxEntries(entrySize);
    long long newSize = static_cast<long long>(arraySize) + grow;
    if (newSize > cap) newSize = cap;
    long long least = static_cast<long long>(arrayUsed) + count;
    if (newSize < least) newSize = least;
    long long bytes = 1;
    while (bytes < newSize * entrySize) bytes <<= 1;
    newSize = bytes / entrySize;
    VLM_ASSERT(newSize < cap, "newSize < (MAX_ALLOC / entrySize)");
    if (newSize >= cap) return -1;
    char* newArray = static_cast<char*>(::operator new(static_cast<std::size_t>(newSize) * es, std::nothrow));
    VLM_ASSERT(newArray, "newArray");
    if (!newArray) return -1;
    if (array) {
      std::memcpy(newArray, array, index * es);
      std::memcpy(newArray + (index + count) * es, array + index * es, (arrayUsed - index) * es);
    }
    ::operator delete(array);
    array = newArray;
    arraySize = static_cast<int>(newSize);
    long long g = grow + 8LL + grow / 4;
    grow = g > cap ? static_cast<int>(cap) : static_cast<int>(g);
  } else if (index < arrayUsed) {
    std::memmove(array + (index + count) * es, array + index * es, (arrayUsed - index) * es);
  }
  arrayUsed += count;
  return index;
}

int ACBase::removeEntry(int index) {
  VLM_ASSERT(index >= 0, "index >=0");
  if (index < 0 || index >= arrayUsed) return 0;
  const std::size_t es = static_cast<std::size_t>(entrySize);
  std::memmove(array + index * es, array + (index + 1) * es, (arrayUsed - index - 1) * es);
  --arrayUsed;
  return 1;
}

void ACBase::removeEntriesTo(int from, int to) {
  VLM_ASSERT(from >= 0, "gone >=0");
  if (from < 0) return;
  if (to < 0 || to > arrayUsed) to = arrayUsed;
  if (from > arrayUsed) from = arrayUsed;
  int gone = to - from;
  VLM_ASSERT(gone >= 0, "gone >=0");
  if (gone <= 0) return;
  const std::size_t es = static_cast<std::size_t>(entrySize);
  std::memmove(array + from * es, array + to * es, (arrayUsed - to) * es);
  arrayUsed -= gone;
}

int ACBase::find(const void* entry) const {
  for (int i = 0; i < arrayUsed; ++i)
    if (std::memcmp(entryAt(i), entry, entrySize) == 0) return i;
  return -1;
}

int ACBase::find(const void* key, CompareFn compare, int sorted) const {
  VLM_ASSERT(compare, "compare");
  if (!compare) return -1;
  if (sorted) {
    int insertAt;
    return find(key, compare, &insertAt);
  }
  for (int i = 0; i < arrayUsed; ++i)
    if (compare(key, entryAt(i)) == 0) return i;
  return -1;
}

int ACBase::find(const void* key, CompareFn compare, int* insertAt) const {
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
      c = compare(key, entryAt(probe));
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

int ACBase::indexOf(const void* p) const {
  const char* c = static_cast<const char*>(p);
  if (!array || c < array || c >= array + static_cast<long>(arrayUsed) * entrySize) return -1;
  return static_cast<int>((c - array) / entrySize);
}

}  // namespace vlm
