// Intrusive singly linked lists: the link sits at the start of every linked object.
#pragma once

namespace vlm {

struct SLinkBase {
  SLinkBase* next = nullptr;
  // Links item right after this one.
  void addNext(SLinkBase* item) {
    item->next = next;
    next = item;
  }
};

class SeqBase {
 public:
  SeqBase() = default;
  SeqBase(const SeqBase&) = delete;
  SeqBase& operator=(const SeqBase&) = delete;

  void addFirst(SLinkBase* item);
  void addLast(SLinkBase* item);
  void addNext(SLinkBase* after, SLinkBase* item);   // after null: addFirst
  void addPrev(SLinkBase* before, SLinkBase* item);  // before null: addLast
  // Unlinks item and clears its link; 1 when it was in the list, else 0.
  int remove(SLinkBase* item);
  SLinkBase* removeFirst();
  int count() const;  // counts along the list
  // 1 when no item links to itself and the last item is the one recorded as last.
  int validateSeq() const;
  void clear() { first = last = nullptr; }
  bool isEmpty() const { return first == nullptr; }

  SLinkBase* first = nullptr;
  SLinkBase* last = nullptr;
};

template <class T>
class Seq : public SeqBase {
 public:
  void addFirst(T* item) { SeqBase::addFirst(item); }
  void addLast(T* item) { SeqBase::addLast(item); }
  void addNext(T* after, T* item) { SeqBase::addNext(after, item); }
  void addPrev(T* before, T* item) { SeqBase::addPrev(before, item); }
  int remove(T* item) { return SeqBase::remove(item); }
  T* removeFirst() { return static_cast<T*>(SeqBase::removeFirst()); }
  T* head() const { return static_cast<T*>(first); }
  T* tail() const { return static_cast<T*>(last); }
  static T* nextOf(const T* item) { return static_cast<T*>(item->next); }
};

}  // namespace vlm
