// OCBase: an ordered growable array of pointer-sized words, kept 0-terminated, optionally placed
// in a OneShotHeap; OC<T> (pointers), IC<T> (integers) and Stack<T> over it.
#pragma once
#include <cstdint>
#include "foundation/log.h"

namespace vlm {

class OneShotHeap;

// Compares a search key with an entry: negative, 0 or positive.
using CompareFn = int (*)(const void* key, const void* entry);

class OCBase {
 public:
  // initial 0 gives room for 5 entries plus the terminator; grow < 1 means "the room".
  explicit OCBase(int initial = 0, int grow = 0, OneShotHeap* heap = nullptr);
  ~OCBase();
  OCBase(const OCBase&) = delete;
  OCBase& operator=(const OCBase&) = delete;

  int count() const { return arrayUsed; }
  int room() const { return arraySize; }
  void* entry(int i) const { return array[i]; }
  void** entries() const { return array; }  // 0-terminated
  void setEntry(int i, void* item) { array[i] = item; }

  // At the end; returns the index. Appending within the room only moves the terminator, so it is
  // done here; growing goes through makeRoom.
  int add(void* item) {
    if (arrayUsed + 1 < arraySize) {
      array[arrayUsed + 1] = array[arrayUsed];
      array[arrayUsed] = item;
      return arrayUsed++;
    }
    return addGrowing(item);
  }
  int add(void* item, int index);  // later entries move up; returns the index or -1
  // Opens a gap of count entries at index (-1: at the end); returns index, or -1 at the limit.
  int makeRoom(int count, int index = -1);
  void* removeEntry(int index);          // null past the end
  void removeEntriesTo(int from, int to = -1);  // from..to-1; to -1 or past the end: to the end
  int remove(const void* item);          // the first equal entry; its index or -1
  void removeAll() { removeEntriesTo(0, -1); }

  int find(const void* item) const;                                  // linear, pointer equality
  int find(const void* key, CompareFn compare, int sorted) const;    // linear or binary
  int find(const void* key, CompareFn compare, int* insertAt) const; // binary, with insertion point

 protected:
  int addGrowing(void* item);
  void** array;
  int arraySize;
  int arrayUsed;
  int grow;
  OneShotHeap* heap;
};

template <class T>
class OC : public OCBase {
 public:
  using OCBase::OCBase;
  T* operator[](int i) const { return static_cast<T*>(array[i]); }
  int add(T* item) { return OCBase::add(item); }
  int add(T* item, int index) { return OCBase::add(item, index); }
  T* removeEntry(int index) { return static_cast<T*>(OCBase::removeEntry(index)); }
  T** begin() const { return reinterpret_cast<T**>(array); }
  T** end() const { return reinterpret_cast<T**>(array) + arrayUsed; }
};

// Integers stored in the pointer-sized entries.
template <class T>
class IC : public OCBase {
 public:
  using OCBase::OCBase;
  T operator[](int i) const { return static_cast<T>(reinterpret_cast<std::intptr_t>(array[i])); }
  int add(T v) { return OCBase::add(toEntry(v)); }
  int add(T v, int index) { return OCBase::add(toEntry(v), index); }
  void set(int i, T v) { array[i] = toEntry(v); }
  using OCBase::find;
  int find(T v) const { return OCBase::find(toEntry(v)); }
  static void* toEntry(T v) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(v)); }
};

template <class T>
class Stack : public OCBase {
 public:
  using OCBase::OCBase;
  void push(T* item) { OCBase::add(item); }
  T* pop() { return arrayUsed ? static_cast<T*>(OCBase::removeEntry(arrayUsed - 1)) : nullptr; }
  T* top() const { return arrayUsed ? static_cast<T*>(array[arrayUsed - 1]) : nullptr; }
  bool isEmpty() const { return arrayUsed == 0; }
};

}  // namespace vlm
