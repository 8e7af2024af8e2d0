// HashSeqBase: an intrusive chained hash set. Items are chained through their SLinkBase link;
// a bucket holds the head of its chain. The bucket count is a power of two that doubles once
// the load passes one item per bucket, up to a fixed maximum; beyond it chains lengthen.
#define VLM_UNIT "seq"
#include "foundation/hashseq.h"

#include <cstring>
#include <new>

#include "foundation/log.h"

namespace vlm {

namespace {

constexpr unsigned long long MAX_ALLOC = 0xffffffbfULL;
constexpr unsigned long long kMaxBuckets = MAX_ALLOC / sizeof(void*);

// One fixed constant per byte value, all distinct and below 65536.
const unsigned kHashTable[256] = {
    0x015a, 0x2ae6, 0x2d88, 0x44bb, 0xd9a4, 0x232c, 0x8df3, 0x483c,
    0x9524, 0xd7bf, 0xe9ef, 0x1c16, 0xf9ee, 0xf62c, 0xb9bb, 0xd4b1,
    0xc64b, 0x0e96, 0x8f8b, 0x3cc9, 0x4839, 0x6f32, 0x1704, 0x58ee,
    0xc4e7, 0x4fcb, 0x64c3, 0x3b04, 0xb03b, 0x4d3e, 0x95d5, 0x25c2,
    0x344e, 0x34fd, 0xbf3e, 0x0035, 0x08ed, 0xa08d, 0x2d74, 0x193c,
    0x1b18, 0xe10a, 0xf3e3, 0xbb0c, 0x0484, 0x3aa0, 0x4c69, 0x8eab,
    0xd31b, 0x7012, 0xc6d9, 0xcf77, 0x2078, 0x1e35, 0x487a, 0x4e9e,
    0x796e, 0xe774, 0xdb87, 0xc6a6, 0x1580, 0xef4c, 0xceaf, 0xfee4,
    0xde68, 0xa5cf, 0xa495, 0x3f07, 0x4793, 0x6322, 0x534f, 0x128c,
    0xf5a1, 0xd301, 0xd3e8, 0xdc49, 0xb5e7, 0xb038, 0x81e0, 0x39e5,
    0x45ef, 0xd02a, 0xcaa9, 0x375c, 0xeaf5, 0x7e4c, 0xad2a, 0xd27e,
    0x5969, 0xa7a8, 0x893d, 0x4e6f, 0xec72, 0xd65d, 0x3f33, 0x5726,
    0xad67, 0xfd1c, 0x1f4d, 0x74ef, 0xab56, 0x12aa, 0x2943, 0xcfeb,
    0x227f, 0x7d63, 0x1bbf, 0xc38e, 0x73d8, 0xceb3, 0x53e0, 0xc21e,
    0xec89, 0xce9d, 0xfcba, 0x0838, 0x5d6e, 0x5736, 0x0ed2, 0xa04d,
    0x829a, 0x0028, 0x9fa4, 0x361f, 0x3ad1, 0x1a32, 0x0120, 0x3a46,
    0x0f0b, 0x7aa4, 0x3126, 0xd5af, 0x09f6, 0x16e6, 0x1910, 0x2d1a,
    0x5f73, 0x6ff0, 0x9d27, 0xf499, 0xe416, 0x4dd1, 0xfc29, 0xd316,
    0x54a7, 0x4b2b, 0x7ecc, 0x95cc, 0x6da6, 0x30b3, 0x7734, 0x33cb,
    0x52c1, 0xa0b3, 0x907d, 0xa176, 0x465d, 0x9289, 0xee36, 0xf406,
    0x3115, 0x1e28, 0x9be1, 0xd507, 0xf934, 0x1794, 0xcc76, 0x45d7,
    0xaa3c, 0x7a68, 0x69e0, 0xb32d, 0xec60, 0xa552, 0xf47c, 0x588e,
    0x4c0c, 0xe594, 0xb29f, 0xf3d7, 0x515a, 0xd283, 0xb00f, 0x48b8,
    0xe79c, 0xf909, 0x8d87, 0x7435, 0x14d7, 0x5724, 0xa035, 0x9025,
    0x0144, 0x2767, 0x613d, 0xa6b5, 0x4ecf, 0xfc76, 0x2d36, 0x75e4,
    0xc09a, 0xac8c, 0x53aa, 0x0307, 0xb279, 0x0cf7, 0xf698, 0xfe44,
    0xe075, 0x7d98, 0x39f4, 0xf619, 0xfe4b, 0x4466, 0x4323, 0xdad4,
    0x9eed, 0x38ea, 0x8881, 0xd21b, 0xebfe, 0x3fc2, 0x70de, 0x5a63,
    0xad58, 0x9621, 0xc2fa, 0x3e7b, 0x2087, 0x6d4b, 0xe50f, 0x5900,
    0x204d, 0x561b, 0x6c45, 0x27e8, 0x9c1e, 0xfc7f, 0xfc3d, 0x2ffa,
    0x5fa4, 0x32f8, 0xf689, 0x3052, 0x2a3a, 0x4e1d, 0xfa31, 0xa5e0,
    0x9673, 0xd017, 0xb32e, 0x9ee8, 0x5192, 0x6424, 0x79ef, 0xde81,
};

SLinkBase** newBuckets(unsigned n) {
  auto* buckets = static_cast<SLinkBase**>(::operator new(n * sizeof(SLinkBase*), std::nothrow));
  if (buckets) std::memset(buckets, 0, n * sizeof(SLinkBase*));
  return buckets;
}

}  // namespace

unsigned stringHash(const char* text) {
  unsigned h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) h = 3 * h + kHashTable[*p];
  return h;
}

char* stringCompressWhiteSpace(char* text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  char* out = text;
  for (const char* in = text; *in;) {
    if (isSpace(*in)) {
      *out++ = ' ';
      while (isSpace(*in)) ++in;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
  return text;
}

unsigned HashSeqBase::ceilingPowerOf2(unsigned n) {
  if (n > 0x80000000u) return 0x80000000u;
  unsigned p = 1;
  while (p < n) p <<= 1;
  return p;
}

HashSeqBase::HashSeqBase(unsigned maxBuckets, unsigned initialBuckets, HashCompareFn cmp, HashFn h)
    : compare(cmp), array(nullptr), arraySize(0), usedBuckets(0), arrayMaxSize(0), itemCount(0), hash(h) {
  VLM_ASSERT(compare, "compare");
  arraySize = ceilingPowerOf2(initialBuckets);
  arrayMaxSize = ceilingPowerOf2(maxBuckets);
  VLM_ASSERT(arrayMaxSize < kMaxBuckets, "arrayMaxSize < MAX_ALLOC/sizeof( void* )");
  while (arrayMaxSize >= kMaxBuckets) arrayMaxSize >>= 1;
  if (arraySize > arrayMaxSize) arraySize = arrayMaxSize;
  array = newBuckets(arraySize);
  VLM_ASSERT(array, "array");
  if (!array) arraySize = 0;  // the first add tries again
}

HashSeqBase::~HashSeqBase() { ::operator delete(array); }

SLinkBase* HashSeqBase::add(SLinkBase* item) {
  VLM_ASSERT(item, "newItem != 0");
  if (!item) return nullptr;
  if ((arraySize < itemCount || arraySize == 0) && arraySize < arrayMaxSize)
    growArray(itemCount ? itemCount : 1);
  VLM_ASSERT(array, "array");
  if (!array) return nullptr;
  SLinkBase** bucket = &array[hash(item) & (arraySize - 1)];
  if (!*bucket) {
    ++usedBuckets;
  } else {
    for (SLinkBase* p = *bucket; p; p = p->next)
      if (compare(item, p) == 0) return p;
  }
  item->next = *bucket;
  *bucket = item;
  ++itemCount;
  return item;
}

SLinkBase* HashSeqBase::find(const SLinkBase* key) const {
  if (!key || !array) return nullptr;
  for (SLinkBase* p = array[hash(key) & (arraySize - 1)]; p; p = p->next)
    if (compare(key, p) == 0) return p;
  return nullptr;
}

SLinkBase* HashSeqBase::remove(SLinkBase* item) {
  if (!item || !array) return nullptr;
  SLinkBase** bucket = &array[hash(item) & (arraySize - 1)];
  for (SLinkBase** link = bucket; *link; link = &(*link)->next) {
    if (*link == item) {
      *link = item->next;
      --itemCount;
      if (!*bucket) --usedBuckets;
      item->next = nullptr;
      return item;
    }
  }
  return nullptr;
}

void HashSeqBase::removeAll() {
  if (array) std::memset(array, 0, arraySize * sizeof(SLinkBase*));
  itemCount = 0;
  usedBuckets = 0;
}

void HashSeqBase::growArray(unsigned n) {
  if (array && arraySize >= arrayMaxSize) return;
  unsigned size = ceilingPowerOf2(n);
  if (size > arrayMaxSize) size = arrayMaxSize;
  SLinkBase** buckets = newBuckets(size);
  VLM_ASSERT(buckets, "array");
  if (!buckets) return;
  SLinkBase** old = array;
  unsigned oldSize = arraySize;
  array = buckets;
  arraySize = size;
  itemCount = 0;
  usedBuckets = 0;
  // re-add every item, bucket by bucket, each chain from its head (no duplicates can exist)
  for (unsigned b = 0; b < oldSize; ++b) {
    for (SLinkBase* p = old[b]; p;) {
      SLinkBase* following = p->next;
      SLinkBase** bucket = &array[hash(p) & (arraySize - 1)];
      if (!*bucket) ++usedBuckets;
      p->next = *bucket;
      *bucket = p;
      ++itemCount;
      p = following;
    }
  }
  ::operator delete(old);
}

SLinkBase** HashSeqBase::first() const {
  for (unsigned b = 0; b < arraySize; ++b)
    if (array[b]) return &array[b];
  return nullptr;
}

SLinkBase** HashSeqBase::last() const {
  for (unsigned b = arraySize; b-- > 0;) {
    if (array[b]) {
      SLinkBase** slot = &array[b];
      while ((*slot)->next) slot = &(*slot)->next;
      return slot;
    }
  }
  return nullptr;
}

SLinkBase** HashSeqBase::next(SLinkBase** cursor) const {
  VLM_ASSERT(cursor != nullptr, "pp != 0");
  if (!cursor || !*cursor) return nullptr;
  SLinkBase* item = *cursor;
  if (item->next) return &item->next;
  unsigned b;
  if (cursor >= array && cursor < array + arraySize) b = static_cast<unsigned>(cursor - array);
  else b = hash(item) & (arraySize - 1);
  for (++b; b < arraySize; ++b)
    if (array[b]) return &array[b];
  return nullptr;
}

SLinkBase** HashSeqBase::prev(SLinkBase** cursor) const {
  VLM_ASSERT(cursor != nullptr, "pp != 0");
  if (!cursor || !*cursor) return nullptr;
  unsigned b;
  if (cursor >= array && cursor < array + arraySize) {
    // the head of its chain: the last item of the previous non-empty bucket
    b = static_cast<unsigned>(cursor - array);
    while (b-- > 0) {
      if (array[b]) {
        SLinkBase** slot = &array[b];
        while ((*slot)->next) slot = &(*slot)->next;
        return slot;
      }
    }
    return nullptr;
  }
  // cursor is the link of the item before; the link is the first member, so it is that item
  SLinkBase* before = reinterpret_cast<SLinkBase*>(cursor);
  b = hash(before) & (arraySize - 1);
  SLinkBase** slot = &array[b];
  while (*slot && *slot != before) slot = &(*slot)->next;
  VLM_ASSERT(*slot, "*link");
  return *slot ? slot : nullptr;
}

int HashSeqBase::checkCount() const {
  unsigned n = 0;
  for (SLinkBase** c = first(); c; c = next(c)) ++n;
  return n == itemCount;
}

}  // namespace vlm
