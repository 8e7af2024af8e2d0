// HeapPriorityQueBase: a binary max-heap in an OCBase. Entry 0 is a placeholder; the root is at
// 1 and the children of i at 2i and 2i + 1.
#define VLM_UNIT "ordcoll"
#include "foundation/heappq.h"

namespace vlm {

HeapPriorityQueBase::HeapPriorityQueBase(PQCompareFn cmp, int initial, int growBy, OneShotHeap* h)
    : OCBase(initial, growBy, h), compare(cmp) {
  VLM_ASSERT(compare, "compare");
  OCBase::add(nullptr);
}

int HeapPriorityQueBase::push(void* item) {
  int i = OCBase::add(item);
  if (i < 0) return -1;
  // equal items stay below: the new item rises only above smaller parents
  while (i > 1 && compare(array[i / 2], item) < 0) {
    array[i] = array[i / 2];
    i /= 2;
  }
  array[i] = item;
  return i;
}

void* HeapPriorityQueBase::pop() {
  if (arrayUsed <= 1) return nullptr;
  if (arrayUsed == 2) return removeEntry(1);
  void* root = array[1];
  array[1] = removeEntry(arrayUsed - 1);
  downHeap(1);
  return root;
}

void HeapPriorityQueBase::upHeap(int index) {
  VLM_ASSERT(index >= 1 && index < arrayUsed, "i <= arrayUsed");
  if (index < 1 || index >= arrayUsed) return;
  void* item = array[index];
  // unlike push, the item also rises above equal ones
  while (index > 1 && compare(array[index / 2], item) <= 0) {
    array[index] = array[index / 2];
    index /= 2;
  }
  array[index] = item;
}

void HeapPriorityQueBase::downHeap(int index) {
  VLM_ASSERT(index >= 1 && index < arrayUsed, "i <= arrayUsed");
  if (index < 1 || index >= arrayUsed) return;
  void* item = array[index];
  for (;;) {
    int child = 2 * index;
    if (child >= arrayUsed) break;
    if (child + 1 < arrayUsed && compare(array[child + 1], array[child]) > 0) ++child;
    if (compare(item, array[child]) >= 0) break;
    array[index] = array[child];
    index = child;
  }
  array[index] = item;
}

}  // namespace vlm
