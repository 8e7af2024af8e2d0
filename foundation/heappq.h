// HeapPriorityQueBase: a binary max-heap on an OCBase (entry 0 is a placeholder, the root at 1);
// HeapPQ<T> over it.
#pragma once
#include "foundation/ordcoll.h"

namespace vlm {

// a, b -> negative, 0, positive; the greatest item is at the root.
using PQCompareFn = int (*)(const void* a, const void* b);

class HeapPriorityQueBase : public OCBase {
 public:
  HeapPriorityQueBase(PQCompareFn compare, int initial = 0, int grow = 0, OneShotHeap* heap = nullptr);

  int push(void* item);  // returns its final index
  void* pop();           // the greatest item, or null
  void upHeap(int index);
  void downHeap(int index);
  void* top() const { return arrayUsed > 1 ? array[1] : nullptr; }
  int size() const { return arrayUsed - 1; }  // items in the heap
  // Drops every item (the placeholder stays).
  void clear() { removeEntriesTo(1, -1); }

 protected:
  PQCompareFn compare;
};

template <class T>
class HeapPQ : public HeapPriorityQueBase {
 public:
  using HeapPriorityQueBase::HeapPriorityQueBase;
  int push(T* item) { return HeapPriorityQueBase::push(item); }
  T* pop() { return static_cast<T*>(HeapPriorityQueBase::pop()); }
  T* top() const { return static_cast<T*>(HeapPriorityQueBase::top()); }
  T* item(int heapIndex) const { return static_cast<T*>(array[heapIndex]); }  // 1..size()
};

}  // namespace vlm
