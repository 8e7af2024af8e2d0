// SeqBase: intrusive singly linked list with first and last.
#define VLM_UNIT "seq"
#include "foundation/seq.h"

#include "foundation/log.h"

namespace vlm {

void SeqBase::addFirst(SLinkBase* item) {
  VLM_ASSERT(item, "link");
  if (!item) return;
  item->next = first;
  first = item;
  if (!last) last = item;
}

void SeqBase::addLast(SLinkBase* item) {
  VLM_ASSERT(item, "link");
  if (!item) return;
  item->next = nullptr;
  if (last) {
    last->next = item;
  } else {
    VLM_ASSERT(first == nullptr, "f == 0");
    first = item;
  }
  last = item;
}

void SeqBase::addNext(SLinkBase* after, SLinkBase* item) {
  if (!after) {
    addFirst(item);
    return;
  }
  VLM_ASSERT(item, "link");
  if (!item) return;
  after->addNext(item);
  if (last == after) last = item;
}

void SeqBase::addPrev(SLinkBase* before, SLinkBase* item) {
  if (!before) {
    addLast(item);
    return;
  }
  VLM_ASSERT(item, "link");
  if (!item) return;
  if (before == first) {
    addFirst(item);
    return;
  }
  SLinkBase* p = first;
  while (p && p->next != before) p = p->next;
  VLM_ASSERT(p, "list");
  if (!p) return;  // before is not in this list
  p->addNext(item);
}

int SeqBase::remove(SLinkBase* item) {
  VLM_ASSERT(item, "link");
  if (!item) return 0;
  SLinkBase* prev = nullptr;
  SLinkBase* p = first;
  while (p && p != item) {
    prev = p;
    p = p->next;
  }
  if (!p) return 0;
  if (prev) prev->next = item->next;
  else first = item->next;
  if (last == item) {
    VLM_ASSERT(item->next == nullptr, "l == list");
    last = prev;
  }
  item->next = nullptr;
  return 1;
}

SLinkBase* SeqBase::removeFirst() {
  SLinkBase* item = first;
  if (!item) return nullptr;
  first = item->next;
  if (last == item) last = nullptr;
  item->next = nullptr;
  return item;
}

int SeqBase::count() const {
  int n = 0;
  for (SLinkBase* p = first; p; p = p->next) ++n;
  return n;
}

int SeqBase::validateSeq() const {
  if (!first) return last == nullptr;
  // Floyd's tortoise and hare: a longer cycle is as broken as an item linking to itself.
  const SLinkBase* slow = first;
  const SLinkBase* fast = first;
  const SLinkBase* p = first;
  for (;;) {
    if (p->next == p) return 0;
    if (!p->next) break;
    p = p->next;
    if (fast && fast->next) {
      fast = fast->next->next;
      slow = slow->next;
      if (fast && fast == slow) return 0;
    }
  }
  return p == last;
}

}  // namespace vlm
