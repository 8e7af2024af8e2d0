// HashSeqBase: an intrusive chained hash set with a power-of-two bucket count, over items that
// start with an SLinkBase; HS<T> over it. stringHash is the engine's hash of 8-bit strings.
#pragma once
#include "foundation/seq.h"

namespace vlm {

unsigned stringHash(const char* text);
// In place, every run of spaces, tabs, CR and LF becomes one space; returns text.
char* stringCompressWhiteSpace(char* text);

// 0 when the two items are equal.
using HashCompareFn = int (*)(const SLinkBase* a, const SLinkBase* b);
using HashFn = unsigned (*)(const SLinkBase* item);

class HashSeqBase {
 public:
  HashSeqBase(unsigned maxBuckets, unsigned initialBuckets, HashCompareFn compare, HashFn hash);
  ~HashSeqBase();
  HashSeqBase(const HashSeqBase&) = delete;
  HashSeqBase& operator=(const HashSeqBase&) = delete;

  // Returns the present equal item (nothing inserted), or item itself when it was added.
  SLinkBase* add(SLinkBase* item);
  SLinkBase* find(const SLinkBase* key) const;
  SLinkBase* remove(SLinkBase* item);  // by identity; null when absent
  void removeAll();

  // Iteration: a cursor points at the slot holding the current item (a bucket or the link of the
  // item before it); *cursor is the item. Null at the end.
  SLinkBase** first() const;
  SLinkBase** next(SLinkBase** cursor) const;
  SLinkBase** last() const;
  SLinkBase** prev(SLinkBase** cursor) const;

  int checkCount() const;  // 1 when iteration visits exactly count() items
  void growArray(unsigned n);
  static unsigned ceilingPowerOf2(unsigned n);

  unsigned count() const { return itemCount; }
  unsigned bucketCount() const { return arraySize; }
  unsigned usedBucketCount() const { return usedBuckets; }
  unsigned maxBucketCount() const { return arrayMaxSize; }

 protected:
  HashCompareFn compare;
  SLinkBase** array;
  unsigned arraySize;
  unsigned usedBuckets;
  unsigned arrayMaxSize;
  unsigned itemCount;
  HashFn hash;
};

// T derives from SLinkBase. The compare and hash functions take SLinkBase pointers and cast.
template <class T>
class HS : public HashSeqBase {
 public:
  HS(unsigned maxBuckets, unsigned initialBuckets, HashCompareFn compare, HashFn hash)
      : HashSeqBase(maxBuckets, initialBuckets, compare, hash) {}
  T* add(T* item) { return static_cast<T*>(HashSeqBase::add(item)); }
  T* find(const T* key) const { return static_cast<T*>(HashSeqBase::find(key)); }
  T* remove(T* item) { return static_cast<T*>(HashSeqBase::remove(item)); }
  static T* at(SLinkBase** cursor) { return cursor ? static_cast<T*>(*cursor) : nullptr; }
};

}  // namespace vlm
