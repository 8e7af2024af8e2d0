// ACBase: an ordered growable array of fixed-size entries stored by value; AC<T> over it.
#pragma once
#include <type_traits>
#include "foundation/log.h"
#include "foundation/ordcoll.h"

namespace vlm {

class ACBase {
 public:
  ACBase(int entrySize, int initial = 0, int grow = 0);
  ~ACBase();
  ACBase(const ACBase&) = delete;
  ACBase& operator=(const ACBase&) = delete;

  int count() const { return arrayUsed; }
  int room() const { return arraySize; }
  int entryBytes() const { return entrySize; }
  void* entryAt(int i) const { return array + static_cast<long>(i) * entrySize; }

  // Copies entrySize bytes in at index (-1: at the end); returns the index or -1.
  int add(const void* entry, int index = -1);
  int makeRoom(int count, int index = -1);
  int removeEntry(int index);                   // 1 when removed, 0 past the end
  void removeEntriesTo(int from, int to = -1);
  void removeAll() { arrayUsed = 0; }

  int find(const void* entry) const;  // byte-wise equality; index or -1
  int find(const void* key, CompareFn compare, int sorted) const;
  int find(const void* key, CompareFn compare, int* insertAt) const;
  int indexOf(const void* p) const;   // index of the entry at address p, -1 outside

 protected:
  char* array;
  int arraySize;
  int arrayUsed;
  int entrySize;
  int grow;
};

template <class T>
class AC : public ACBase {
  static_assert(std::is_trivially_copyable_v<T>, "AC entries are moved byte-wise");

 public:
  explicit AC(int initial = 0, int grow = 0) : ACBase(sizeof(T), initial, grow) {}
  T& operator[](int i) const {
    VLM_ASSERT(static_cast<unsigned>(i) < static_cast<unsigned>(count()), "(unsigned )i < (unsigned )count()");
    return reinterpret_cast<T*>(array)[i];
  }
  int add(const T& item, int index = -1) { return ACBase::add(&item, index); }
  T* begin() const { return reinterpret_cast<T*>(array); }
  T* end() const { return reinterpret_cast<T*>(array) + arrayUsed; }
};

}  // namespace vlm
