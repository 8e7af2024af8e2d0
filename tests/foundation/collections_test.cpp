// The collections: OCBase/OC/IC, ACBase/AC, Seq, HashSeqBase/HS, HeapPQ, and the string helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/arrcoll.h"
#include "foundation/hashseq.h"
#include "foundation/heappq.h"
#include "foundation/oneshot.h"
#include "foundation/ordcoll.h"
#include "foundation/seq.h"
#include "platform/msgbox.h"

using namespace vlm;

namespace {

// Records assertion boxes (their expression line) and answers Ignore, so the code goes on.
struct Asserts {
  static inline std::vector<std::string> seen;
  static int handler(const char* text, const char*, BoxButtons, BoxIcon, int) {
    std::string t(text);
    seen.push_back(t.substr(0, t.find("\nFile=")));
    return eAnswerIgnore;
  }
  MessageBoxHandler previous;
  Asserts() {
    seen.clear();
    previous = setMessageBoxHandler(&handler);
  }
  ~Asserts() { setMessageBoxHandler(previous); }
  std::vector<std::string> take() {
    std::vector<std::string> s;
    s.swap(seen);
    return s;
  }
};
using Texts = std::vector<std::string>;

int compareInts(const void* key, const void* entry) {
  auto a = reinterpret_cast<std::intptr_t>(key), b = reinterpret_cast<std::intptr_t>(entry);
  return a < b ? -1 : a > b ? 1 : 0;
}
int compareIntEntries(const void* key, const void* entry) {
  int a = *static_cast<const int*>(key), b = *static_cast<const int*>(entry);
  return a < b ? -1 : a > b ? 1 : 0;
}

std::vector<int> contents(const IC<int>& c) {
  std::vector<int> v;
  for (int i = 0; i < c.count(); ++i) v.push_back(c[i]);
  return v;
}
std::vector<int> contents(const AC<int>& c) { return std::vector<int>(c.begin(), c.end()); }

}  // namespace

// ---- OCBase ----

TEST(OCBase, InitialRoomAndGrowthSteps) {
  IC<int> c;
  EXPECT_EQ(c.room(), 6);  // 5 entries and the terminator
  // Growth rounds the array (reserved word included) to whole powers of two in bytes, and the
  // step itself grows: rooms 6, 15, 31, 63.
  std::vector<int> rooms{c.room()};
  for (int i = 0; i < 40; ++i) {
    c.add(i + 1);
    if (c.room() != rooms.back()) rooms.push_back(c.room());
    ASSERT_EQ(c.entries()[c.count()], nullptr) << "terminator after add " << i;
  }
  EXPECT_EQ(rooms, (std::vector<int>{6, 15, 31, 63}));

  IC<int> five;
  for (int i = 1; i <= 5; ++i) five.add(i);
  EXPECT_EQ(five.room(), 6);
  five.add(6);
  EXPECT_GT(five.room(), 6);
  EXPECT_EQ(contents(five), (std::vector<int>{1, 2, 3, 4, 5, 6}));

  IC<int> sized(10, 3);
  EXPECT_EQ(sized.room(), 11);
}

TEST(OCBase, AddRemoveKeepOrderAndTerminator) {
  Asserts asserts;
  IC<int> c;
  for (int i = 1; i <= 5; ++i) c.add(i * 10);
  struct Step { const char* what; std::vector<int> expect; } steps[] = {
      {"add 5 at 0", {5, 10, 20, 30, 40, 50}},
      {"add 25 at 3", {5, 10, 20, 25, 30, 40, 50}},
      {"removeEntry 0", {10, 20, 25, 30, 40, 50}},
      {"remove 25", {10, 20, 30, 40, 50}},
      {"removeEntry 9", {10, 20, 30, 40, 50}},
      {"removeEntriesTo 2 -1", {10, 20}},
      {"removeEntriesTo 0 1", {20}},
      {"add 30 at end", {20, 30}},
      {"removeAll", {}},
  };
  for (const Step& s : steps) {
    std::string w = s.what;
    if (w == "add 5 at 0") EXPECT_EQ(c.add(5, 0), 0);
    else if (w == "add 25 at 3") EXPECT_EQ(c.add(25, 3), 3);
    else if (w == "removeEntry 0") EXPECT_EQ(c.removeEntry(0), IC<int>::toEntry(5));
    else if (w == "remove 25") EXPECT_EQ(c.remove(IC<int>::toEntry(25)), 2);
    else if (w == "removeEntry 9") EXPECT_EQ(c.removeEntry(9), nullptr);
    else if (w == "removeEntriesTo 2 -1") c.removeEntriesTo(2, -1);
    else if (w == "removeEntriesTo 0 1") c.removeEntriesTo(0, 1);
    else if (w == "add 30 at end") EXPECT_EQ(c.add(30, -1), 1);
    else if (w == "removeAll") c.removeAll();
    EXPECT_EQ(contents(c), s.expect) << w;
    EXPECT_EQ(c.entries()[c.count()], nullptr) << w;
  }
  EXPECT_EQ(c.remove(IC<int>::toEntry(99)), -1);
  EXPECT_TRUE(asserts.take().empty());
}

TEST(OCBase, MisuseAssertsAndChangesNothing) {
  Asserts asserts;
  IC<int> c;
  for (int i = 1; i <= 3; ++i) c.add(i);
  EXPECT_EQ(c.removeEntry(-1), nullptr);
  c.removeEntriesTo(-1, 2);
  EXPECT_EQ(c.makeRoom(0, -1), -1);
  EXPECT_EQ(c.add(9, 7), -1);
  EXPECT_EQ(c.OCBase::find(nullptr, nullptr, 1), -1);
  EXPECT_EQ(asserts.take(),
            (Texts{"index >=0", "gone >=0", "numToAdd > 0", "index <= arrayUsed", "compare"}));
  EXPECT_EQ(contents(c), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(c.entries()[c.count()], nullptr);
}

TEST(OCBase, BinarySearchResultsAndInsertionPoints) {
  IC<int> empty;
  int at = 99;
  EXPECT_EQ(empty.OCBase::find(IC<int>::toEntry(5), compareInts, &at), -1);
  EXPECT_EQ(at, 0);

  IC<int> c;
  for (int v : {10, 20, 30, 40, 50}) c.add(v);
  struct Case { int key, found, insertAt; } cases[] = {
      {5, -1, 0}, {10, 0, 0}, {15, -1, 1}, {30, 2, 2}, {45, -1, 4}, {50, 4, 4}, {55, -1, 5}};
  // Twice, forwards and backwards, so searches start from different remembered probes.
  for (int round = 0; round < 2; ++round) {
    for (int j = 0; j < 7; ++j) {
      const Case& k = cases[round ? 6 - j : j];
      int insertAt = -7;
      EXPECT_EQ(c.OCBase::find(IC<int>::toEntry(k.key), compareInts, &insertAt), k.found) << k.key;
      EXPECT_EQ(insertAt, k.insertAt) << k.key;
      EXPECT_EQ(c.OCBase::find(IC<int>::toEntry(k.key), compareInts, 1), k.found) << k.key;
      EXPECT_EQ(c.OCBase::find(IC<int>::toEntry(k.key), compareInts, 0), k.found) << k.key;
    }
  }
}

TEST(OCBase, SortedInsertMatchesStdAcrossManySearches) {
  // Builds a sorted collection by inserting at the reported point, with searches of varying
  // collections interleaved, so the shared remembered probe is often out of range or far off.
  std::mt19937 rng(5);
  IC<int> sorted, other;
  std::vector<int> model;
  for (int i = 0; i < 2000; ++i) {
    int key = static_cast<int>(rng() % 5000);
    int at = -1;
    int found = sorted.OCBase::find(IC<int>::toEntry(key), compareInts, &at);
    auto it = std::lower_bound(model.begin(), model.end(), key);
    ASSERT_EQ(at, it - model.begin()) << key;
    ASSERT_EQ(found >= 0, it != model.end() && *it == key);
    if (found < 0) {
      sorted.add(key, at);
      model.insert(it, key);
    }
    other.add(i);
    int dummy;
    other.OCBase::find(IC<int>::toEntry(static_cast<int>(rng() % 3000)), compareInts, &dummy);
  }
  EXPECT_EQ(contents(sorted), model);
}

TEST(OCBase, OCAndStackInAnArena) {
  OneShotHeap heap(512);
  int values[100];
  {
    OC<int> c(0, 0, &heap);
    for (int& v : values) c.add(&v);
    EXPECT_EQ(c.count(), 100);
    EXPECT_EQ(c[42], &values[42]);
    EXPECT_EQ(c.find(&values[77]), 77);
    EXPECT_GT(heap.totalBytes(), 800u);  // every array lived in the arena
  }  // leaves the arena's memory alone (the arena frees it)

  Stack<int> s;
  EXPECT_EQ(s.pop(), nullptr);
  for (int& v : values) s.push(&v);
  EXPECT_EQ(s.top(), &values[99]);
  for (int i = 99; i >= 0; --i) ASSERT_EQ(s.pop(), &values[i]);
  EXPECT_TRUE(s.isEmpty());
}

// ---- ACBase ----

TEST(ACBase, RoomGrowthAndEditing) {
  AC<int> c;
  EXPECT_EQ(c.room(), 6);
  std::vector<int> rooms{c.room()};
  for (int i = 0; i < 20; ++i) {
    c.add(i);
    if (c.room() != rooms.back()) rooms.push_back(c.room());
  }
  EXPECT_EQ(rooms, (std::vector<int>{6, 16, 32}));  // byte sizes rounded to powers of two

  AC<int> e;
  for (int v : {10, 20, 30, 40, 50}) e.add(v);
  EXPECT_EQ(e.add(25, 2), 2);
  EXPECT_EQ(contents(e), (std::vector<int>{10, 20, 25, 30, 40, 50}));
  EXPECT_EQ(e.removeEntry(2), 1);
  EXPECT_EQ(e.removeEntry(5), 0);
  EXPECT_EQ(contents(e), (std::vector<int>{10, 20, 30, 40, 50}));
  int thirty = 30;
  EXPECT_EQ(e.find(&thirty), 2);
  EXPECT_EQ(e.indexOf(&e[3]), 3);
  EXPECT_EQ(e.indexOf(&thirty), -1);
  EXPECT_EQ(e.indexOf(e.end()), -1);
  e.removeEntriesTo(2, -1);
  EXPECT_EQ(contents(e), (std::vector<int>{10, 20}));

  struct Rec { char name[12]; short a; };
  AC<Rec> recs(2, 1);
  for (int i = 0; i < 50; ++i) {
    Rec r{};
    std::snprintf(r.name, sizeof r.name, "rec%d", i);
    r.a = static_cast<short>(i);
    recs.add(r, 0);
  }
  EXPECT_EQ(recs.count(), 50);
  EXPECT_STREQ(recs[0].name, "rec49");
  EXPECT_EQ(recs[49].a, 0);
}

TEST(ACBase, BinarySearchAndMisuse) {
  AC<int> empty;
  int key = 3, at = 99;
  EXPECT_EQ(empty.find(&key, compareIntEntries, &at), -1);
  EXPECT_EQ(at, 0);

  AC<int> c;
  for (int v : {10, 20, 30, 40, 50}) c.add(v);
  struct Case { int key, found, insertAt; } cases[] = {
      {5, -1, 0}, {10, 0, 0}, {35, -1, 3}, {50, 4, 4}, {60, -1, 5}};
  for (const Case& k : cases) {
    int insertAt = -7;
    EXPECT_EQ(c.find(&k.key, compareIntEntries, &insertAt), k.found) << k.key;
    EXPECT_EQ(insertAt, k.insertAt) << k.key;
    EXPECT_EQ(c.find(&k.key, compareIntEntries, 0), k.found) << k.key;
  }

  Asserts asserts;
  EXPECT_EQ(c.removeEntry(-2), 0);
  c.removeEntriesTo(-1, -1);
  EXPECT_EQ(c.makeRoom(0, -1), -1);
  EXPECT_EQ(c.add(key, 6), -1);
  (void)c[5];
  (void)c[-1];
  ACBase zero(0);
  EXPECT_EQ(asserts.take(), (Texts{"index >=0", "gone >=0", "numToAdd > 0", "index <= arrayUsed",
                                   "index != (unsigned )-1", "(unsigned )i < (unsigned )count()",
                                   "(unsigned )i < (unsigned )count()", "entSize"}));
  EXPECT_EQ(contents(c), (std::vector<int>{10, 20, 30, 40, 50}));
}

// ---- Seq ----

namespace {
struct Link : SLinkBase {
  int id = 0;
};
std::vector<int> ids(const Seq<Link>& s) {
  std::vector<int> v;
  for (Link* p = s.head(); p; p = Seq<Link>::nextOf(p)) v.push_back(p->id);
  return v;
}
}  // namespace

TEST(Seq, Operations) {
  Link l[8];
  for (int i = 0; i < 8; ++i) l[i].id = i;
  Seq<Link> s;
  EXPECT_EQ(s.validateSeq(), 1);
  EXPECT_EQ(s.count(), 0);
  s.addLast(&l[1]);
  s.addFirst(&l[0]);
  s.addLast(&l[3]);
  s.addNext(&l[1], &l[2]);   // middle
  s.addNext(&l[3], &l[4]);   // after the last: becomes last
  s.addPrev(&l[0], &l[5]);   // before the first: becomes first
  s.addPrev(nullptr, &l[6]); // null: at the end
  EXPECT_EQ(ids(s), (std::vector<int>{5, 0, 1, 2, 3, 4, 6}));
  EXPECT_EQ(s.tail(), &l[6]);
  EXPECT_EQ(s.count(), 7);
  EXPECT_EQ(s.validateSeq(), 1);

  EXPECT_EQ(s.remove(&l[6]), 1);  // the last: last moves back
  EXPECT_EQ(s.tail(), &l[4]);
  EXPECT_EQ(l[6].next, nullptr);
  EXPECT_EQ(s.remove(&l[5]), 1);  // the first
  EXPECT_EQ(s.remove(&l[2]), 1);  // a middle one
  EXPECT_EQ(s.remove(&l[7]), 0);  // not in the list
  EXPECT_EQ(ids(s), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(s.validateSeq(), 1);
  s.addLast(&l[7]);
  EXPECT_EQ(s.tail(), &l[7]);
  EXPECT_EQ(s.removeFirst(), &l[0]);
  EXPECT_EQ(ids(s), (std::vector<int>{1, 3, 4, 7}));
  while (s.removeFirst()) {}
  EXPECT_TRUE(s.isEmpty());
  EXPECT_EQ(s.tail(), nullptr);
}

TEST(Seq, ValidateSeqFindsBrokenLists) {
  Link l[4];
  Seq<Link> s;
  for (Link& x : l) s.addLast(&x);
  ASSERT_EQ(s.validateSeq(), 1);
  s.last = &l[2];  // wrong last
  EXPECT_EQ(s.validateSeq(), 0);
  s.last = &l[3];
  l[1].next = &l[1];  // links to itself
  EXPECT_EQ(s.validateSeq(), 0);
  l[1].next = &l[2];
  l[3].next = &l[0];  // a longer cycle
  EXPECT_EQ(s.validateSeq(), 0);
  l[3].next = nullptr;
  EXPECT_EQ(s.validateSeq(), 1);
}

// ---- HashSeqBase ----

namespace {
struct Named : SLinkBase {
  const char* name;
  int id;
  Named(const char* n = "", int i = 0) : name(n), id(i) {}
};
int compareNames(const SLinkBase* a, const SLinkBase* b) {
  return std::strcmp(static_cast<const Named*>(a)->name, static_cast<const Named*>(b)->name);
}
unsigned hashName(const SLinkBase* a) { return stringHash(static_cast<const Named*>(a)->name); }
int compareIds(const SLinkBase* a, const SLinkBase* b) {
  return static_cast<const Named*>(a)->id != static_cast<const Named*>(b)->id;
}
unsigned hashId(const SLinkBase* a) { return static_cast<unsigned>(static_cast<const Named*>(a)->id); }

std::vector<int> forward(const HS<Named>& s) {
  std::vector<int> v;
  for (SLinkBase** c = s.first(); c; c = s.next(c)) v.push_back(HS<Named>::at(c)->id);
  return v;
}
std::vector<int> backward(const HS<Named>& s) {
  std::vector<int> v;
  for (SLinkBase** c = s.last(); c; c = s.prev(c)) v.push_back(HS<Named>::at(c)->id);
  return v;
}
}  // namespace

TEST(HashSeq, CeilingPowerOf2AndConstruction) {
  struct Case { unsigned n, p; } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {1024, 1024}, {1025, 2048}};
  for (const Case& c : cases) EXPECT_EQ(HashSeqBase::ceilingPowerOf2(c.n), c.p) << c.n;
  HS<Named> s(100, 300, compareNames, hashName);
  EXPECT_EQ(s.maxBucketCount(), 128u);
  EXPECT_EQ(s.bucketCount(), 128u);  // cut to the maximum
}

TEST(HashSeq, AddFindRemoveAndGrowth) {
  HS<Named> s(1024, 4, compareNames, hashName);
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("word" + std::to_string(i));
  std::vector<Named> items;
  items.reserve(40);
  for (int i = 0; i < 40; ++i) items.emplace_back(names[i].c_str(), i);

  std::vector<unsigned> bucketsAfter;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(s.add(&items[i]), &items[i]);
    bucketsAfter.push_back(s.bucketCount());
    ASSERT_EQ(s.checkCount(), 1) << i;
  }
  // doubles once the item count passes the bucket count
  EXPECT_EQ(bucketsAfter[4], 4u);
  EXPECT_EQ(bucketsAfter[5], 8u);
  EXPECT_EQ(bucketsAfter[9], 16u);
  EXPECT_EQ(bucketsAfter[39], 64u);
  EXPECT_EQ(s.count(), 40u);

  Named twin(names[7].c_str(), 1000);
  EXPECT_EQ(s.add(&twin), &items[7]);  // the present one, nothing added
  EXPECT_EQ(s.count(), 40u);
  EXPECT_EQ(s.find(&twin), &items[7]);
  Named absent("nothing", -1);
  EXPECT_EQ(s.find(&absent), nullptr);

  EXPECT_EQ(s.remove(&twin), nullptr);  // equal but not the same item
  EXPECT_EQ(s.count(), 40u);
  EXPECT_EQ(s.remove(&items[7]), &items[7]);
  EXPECT_EQ(items[7].next, nullptr);
  EXPECT_EQ(s.count(), 39u);
  EXPECT_EQ(s.find(&twin), nullptr);
  EXPECT_EQ(s.checkCount(), 1);
  for (int i = 0; i < 40; ++i) {
    if (i != 7) {
      ASSERT_EQ(s.find(&items[i]), &items[i]);
    }
  }

  s.removeAll();
  EXPECT_EQ(s.count(), 0u);
  EXPECT_EQ(s.usedBucketCount(), 0u);
  EXPECT_EQ(s.first(), nullptr);
  EXPECT_EQ(s.find(&items[0]), nullptr);
}

TEST(HashSeq, IterationOrderAndUsedBuckets) {
  // Identity hash over 8 buckets: 1 and 9 share bucket 1, the later one first.
  HS<Named> s(8, 8, compareIds, hashId);
  Named a("", 1), b("", 9), c("", 3), d("", 6), e("", 17);
  for (Named* n : {&a, &b, &c, &d}) s.add(n);
  EXPECT_EQ(forward(s), (std::vector<int>{9, 1, 3, 6}));
  EXPECT_EQ(backward(s), (std::vector<int>{6, 3, 1, 9}));
  EXPECT_EQ(s.usedBucketCount(), 3u);
  s.add(&e);
  EXPECT_EQ(forward(s), (std::vector<int>{17, 9, 1, 3, 6}));
  EXPECT_EQ(backward(s), (std::vector<int>{6, 3, 1, 9, 17}));
  s.remove(&c);
  EXPECT_EQ(s.usedBucketCount(), 2u);
  s.remove(&b);  // from the middle of a chain
  EXPECT_EQ(forward(s), (std::vector<int>{17, 1, 6}));
  EXPECT_EQ(s.usedBucketCount(), 2u);
  EXPECT_EQ(s.checkCount(), 1);
}

TEST(HashSeq, AtTheMaximumBucketCountKeepsAccepting) {
  HS<Named> s(4, 2, compareIds, hashId);
  std::vector<Named> items(200);
  for (int i = 0; i < 200; ++i) {
    items[i].id = i;
    ASSERT_EQ(s.add(&items[i]), &items[i]);
  }
  EXPECT_EQ(s.bucketCount(), 4u);
  EXPECT_EQ(s.count(), 200u);
  EXPECT_EQ(s.checkCount(), 1);
  for (int i = 0; i < 200; i += 17) EXPECT_EQ(s.find(&items[i]), &items[i]);
  EXPECT_EQ(forward(s).size(), 200u);
  EXPECT_EQ(backward(s).size(), 200u);
}

TEST(HashSeq, NullItemAsserts) {
  Asserts asserts;
  HS<Named> s(8, 8, compareIds, hashId);
  EXPECT_EQ(s.add(nullptr), nullptr);
  EXPECT_EQ(asserts.take(), (Texts{"newItem != 0"}));
  EXPECT_EQ(s.count(), 0u);
}

// ---- string helpers ----

TEST(StringHash, KnownValues) {
  // 'a' = 0x61 -> 0xfd1c, 'b' = 0x62 -> 0x1f4d: "ab" = 3 * 0xfd1c + 0x1f4d = 0x316a1.
  struct Case { const char* text; unsigned hash; } cases[] = {
      {"", 0u}, {"a", 0xfd1cu}, {"ab", 0x316a1u}, {"A", 0xa5cfu}, {"\xff", 0xde81u},
      {"\x80" "a", 0x12a3du}, {"hello", 0x13125bu}, {"ReservedSilenceWord", 0xceddfd5fu},
      {"the quick brown fox jumps over the lazy dog", 0x6b77d18eu}};
  for (const Case& c : cases) EXPECT_EQ(stringHash(c.text), c.hash) << c.text;
}

TEST(StringCompressWhiteSpace, Runs) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"look  \t\nup", "look up"}, {"  lead", " lead"}, {"trail \r\n", "trail "}, {"", ""},
      {"plain", "plain"}, {"a\tb\rc\nd", "a b c d"}, {"\t", " "}, {"x\vy", "x\vy"}};
  for (const Case& c : cases) {
    char buf[64];
    std::strcpy(buf, c.in);
    EXPECT_EQ(stringCompressWhiteSpace(buf), buf);
    EXPECT_STREQ(buf, c.out) << c.in;
  }
}

// ---- HeapPQ ----

namespace {
struct Hypo {
  int score;
  int order;
};
int compareHypos(const void* a, const void* b) {
  return static_cast<const Hypo*>(a)->score - static_cast<const Hypo*>(b)->score;
}
}  // namespace

TEST(HeapPQ, PopsInNonIncreasingOrder) {
  std::mt19937 rng(11);
  std::vector<Hypo> hypos(300);
  for (int i = 0; i < 300; ++i) hypos[i] = {static_cast<int>(rng() % 40), i};
  OneShotHeap arena(1024);
  for (OneShotHeap* heap : {static_cast<OneShotHeap*>(nullptr), &arena}) {
    HeapPQ<Hypo> pq(compareHypos, 0, 0, heap);
    EXPECT_EQ(pq.pop(), nullptr);
    EXPECT_EQ(pq.size(), 0);
    for (Hypo& h : hypos) pq.push(&h);
    EXPECT_EQ(pq.size(), 300);
    EXPECT_EQ(pq.entry(0), nullptr);  // the placeholder
    int previous = 1 << 30;
    for (int i = 0; i < 300; ++i) {
      Hypo* h = pq.pop();
      ASSERT_NE(h, nullptr);
      ASSERT_LE(h->score, previous);
      previous = h->score;
    }
    EXPECT_EQ(pq.pop(), nullptr);
  }
}

TEST(HeapPQ, EqualKeysPushKeepsEarlierUpHeapRises) {
  Hypo first{5, 0}, second{5, 1}, low{1, 2};
  HeapPQ<Hypo> pq(compareHypos);
  EXPECT_EQ(pq.push(&first), 1);
  EXPECT_EQ(pq.push(&second), 2);  // stays below the equal one
  EXPECT_EQ(pq.top(), &first);
  pq.upHeap(2);                    // rises above the equal one
  EXPECT_EQ(pq.top(), &second);

  pq.push(&low);
  EXPECT_EQ(pq.item(3), &low);
  low.score = 9;  // raised in place, then moved up
  pq.upHeap(3);
  EXPECT_EQ(pq.top(), &low);
  low.score = 0;  // lowered in place, then moved down
  pq.downHeap(1);
  EXPECT_EQ(pq.pop()->score, 5);
  EXPECT_EQ(pq.pop()->score, 5);
  EXPECT_EQ(pq.pop(), &low);

  Asserts asserts;
  pq.upHeap(4);
  EXPECT_EQ(asserts.take(), (Texts{"i <= arrayUsed"}));
}
