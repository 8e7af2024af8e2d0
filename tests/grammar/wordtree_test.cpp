// The word tree of a word-tree construct: start states per left context, shared prefixes, end
// fans, penalties pushed up the tree, and refusing a word that is already there.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "grammar_test_util.h"
#include "lexicon/phoneset.h"

namespace {

using namespace vlm;
using namespace gramtest;

// The entry cost of a pronunciation: 10 + class + 11 per state (a one-phone word has one more).
int expectedTotal(const WordData* w) {
  int length = static_cast<int>(std::strlen(w->pron));
  int nodes = length == 1 ? 1 : 0;
  for (int i = 0; i < length; i++) nodes += kPhoneGroupCount[static_cast<unsigned char>(w->pron[i])];
  return 10 + w->wordClass + 11 * nodes;
}

// Sums the penalties along every path from a class-0 start state to each word end; the sum of a
// path must be the word's total whichever end copy it reaches.
void collectPathSums(const WordNode* s, int sum, std::multimap<int, int>* sums) {
  sum += s->penalty;
  for (const NodeTerminal* t = s->terminals; t; t = t->next) sums->emplace(t->word, sum + t->penalty);
  for (int i = 0; i < s->successorCount; i++) collectPathSums(&s->successors[i], sum, sums);
}

std::multimap<int, int> pathSums(const WordTree& tree) {
  std::multimap<int, int> sums;
  for (int b = 0; b < 13; b++)
    for (int i = 0; i < tree.bucket(b).count; i++) collectPathSums(&tree.bucket(b).states[i], 0, &sums);
  return sums;
}

class WordTreeTest : public ::testing::Test {
 protected:
  WordTreeTest() : words(1000) {}
  WordData* word(const char* name, const char* pron, int wordClass = 0) {
    return words.wordAt(words.addWordIfNew(name, pron, wordClass));
  }
  WordDictionary words;
};

TEST_F(WordTreeTest, OnePhoneWordHasStartStatesANullStateAndAnEndFan) {
  WordTree tree(nullptr);
  WordData* bee = word("bee", "b");
  ASSERT_EQ(tree.addWord(bee, nullptr), 1);
  const int base = kPhoneFirstPel['b'];
  const int right = phoneRightClass('b');
  for (int k = 0; k < 13; k++) {
    const WordTreeStartNodes& bucket = tree.bucket(k * 13 + right);
    ASSERT_EQ(bucket.count, 1) << k;
    EXPECT_EQ(bucket.states[0].pel, base + k);
    ASSERT_EQ(bucket.states[0].successorCount, 1);
    EXPECT_EQ(bucket.states[0].successors, tree.bucket(right).states[0].successors);  // shared
  }
  const WordNode* null = &tree.bucket(right).states[0].successors[0];
  EXPECT_EQ(null->pel, kNullPel);
  ASSERT_EQ(null->successorCount, 13);
  for (int c = 0; c < 13; c++) {
    const WordNode& end = null->successors[c];
    EXPECT_EQ(end.pel, base + 13 + c);
    EXPECT_EQ(end.contextClass, c);
    if (c == 0) {  // the word ends through silence
      EXPECT_EQ(end.terminals, nullptr);
      ASSERT_EQ(end.successorCount, 1);
      EXPECT_EQ(end.successors[0].pel, 0);
      ASSERT_NE(end.successors[0].terminals, nullptr);
      EXPECT_EQ(end.successors[0].terminals->word, bee->index);
    } else {
      ASSERT_NE(end.terminals, nullptr);
      EXPECT_EQ(end.terminals->word, bee->index);
    }
  }
  for (auto& [w, sum] : pathSums(tree)) EXPECT_EQ(sum, expectedTotal(bee));  // 10 + 11 * 3
  EXPECT_EQ(pathSums(tree).size(), 13u);
}

TEST_F(WordTreeTest, ThreeStateLastPhoneGetsMiddleStates) {
  WordTree tree(nullptr);
  WordData* ay = word("ay", "bA");
  ASSERT_EQ(tree.addWord(ay, nullptr), 1);
  const WordNode* first = &tree.bucket(phoneRightClass('b')).states[0];
  const WordNode* last = &first->successors[0];  // b before A
  EXPECT_EQ(last->pel, kPhoneFirstPel['b'] + 13 + phoneRightClass('A'));
  const WordNode* a = &last->successors[0];
  EXPECT_EQ(a->pel, kPhoneFirstPel['A'] + phoneLeftClass('b'));
  ASSERT_EQ(a->successorCount, 13);
  for (int c = 0; c < 13; c++) {
    const WordNode& middle = a->successors[c];
    EXPECT_EQ(middle.pel, kPhoneFirstPel['A'] + 26 + c);
    ASSERT_EQ(middle.successorCount, 1);
    EXPECT_EQ(middle.successors[0].pel, kPhoneFirstPel['A'] + 13 + c);
  }
  // 5 states, total 65: 13 each; the middle states take the 4th share, the end states the 5th.
  EXPECT_EQ(a->successors[3].penalty, 13);
  EXPECT_EQ(a->successors[3].successors[0].penalty, 13);
  for (auto& [w, sum] : pathSums(tree)) EXPECT_EQ(sum, expectedTotal(ay));
}

// Words sharing prefixes, added in an order that makes later words carry smaller shares than the
// prefix already holds: the difference moves below the prefix and no word's path sum changes.
TEST_F(WordTreeTest, PenaltiesArePushedUpTheTreeKeepingEveryPathSum) {
  WordTree tree(nullptr);
  std::vector<WordData*> added = {word("do", "do"), word("dial", "doEL"), word("dial", "doEl"),
                                  word("dot", "dot", 4), word("dolt", "dolt"), word("sea", "sE"),
                                  word("dee", "dE"), word("d", "d")};
  for (WordData* w : added) {
    ASSERT_EQ(tree.addWord(w, nullptr), 1) << w->pron;
    std::multimap<int, int> sums = pathSums(tree);
    for (WordData* seen : added) {
      auto [from, to] = sums.equal_range(seen->index);
      for (auto it = from; it != to; ++it) EXPECT_EQ(it->second, expectedTotal(seen)) << seen->pron << " after " << w->pron;
      if (seen == w) break;
    }
  }
  std::multimap<int, int> sums = pathSums(tree);
  for (WordData* w : added) EXPECT_EQ(sums.count(w->index), 13u) << w->pron;
  // The shared start state carries the smallest first share of the words below it.
  const WordNode& start = tree.bucket(phoneRightClass('d')).states[0];
  EXPECT_EQ(start.penalty, (10 + 11 * 10) / 10);  // "doEL": 10 states, 12 each
}

TEST_F(WordTreeTest, ABucketGrowsPastItsFirstRoomKeepingEveryStartState) {
  // The largest set of phones sharing a right context class all start words: their start states
  // land in one bucket per left context, which must grow several times and keep every state.
  std::map<int, std::string> byClass;
  for (int c = 33; c < 127; c++)
    if (isPhone(c) && c != ' ' && phoneRightClass(c) >= 0) byClass[phoneRightClass(c)] += static_cast<char>(c);
  std::string phones;
  int right = 0;
  for (const auto& [cls, set] : byClass)
    if (set.size() > phones.size()) phones = set, right = cls;
  ASSERT_GE(phones.size(), 5u);
  WordTree tree(nullptr);
  std::vector<WordData*> added;
  for (char p : phones) {
    const std::string pron = std::string(1, p) + "t";
    added.push_back(word(("w" + pron).c_str(), pron.c_str()));
    ASSERT_EQ(tree.addWord(added.back(), nullptr), 1) << pron;
  }
  for (int k = 0; k < 13; k++) {
    const WordTreeStartNodes& bucket = tree.bucket(k * 13 + right);
    ASSERT_EQ(bucket.count, static_cast<int>(phones.size())) << k;
    EXPECT_GE(bucket.capacity, bucket.count);
    for (int i = 0; i < bucket.count; i++)
      EXPECT_EQ(bucket.states[i].pel, phoneBasePel(phones[static_cast<size_t>(i)]) + k) << k << " " << i;
  }
  const std::multimap<int, int> sums = pathSums(tree);
  for (WordData* w : added) {
    EXPECT_EQ(sums.count(w->index), 13u) << w->pron;
    auto [from, to] = sums.equal_range(w->index);
    for (auto it = from; it != to; ++it) EXPECT_EQ(it->second, expectedTotal(w)) << w->pron;
  }
}

TEST_F(WordTreeTest, SameWordTwiceIsRefusedAndChangesNothing) {
  WordTree tree(nullptr);
  WordData* call = word("call", "kol");
  FSGNode continuation{};
  ASSERT_EQ(tree.addWord(call, nullptr), 1);
  const int states = tree.stateCount();
  const std::multimap<int, int> before = pathSums(tree);
  EXPECT_EQ(addWordToWordTree(call, nullptr, &tree), 0);
  EXPECT_EQ(tree.stateCount(), states);
  EXPECT_EQ(pathSums(tree), before);
  // The same word with another continuation is another path through the grammar.
  EXPECT_EQ(tree.addWord(call, &continuation), 1);
  int ends = 0;
  tree.forEachWordEnd([](const WordNode*, const NodeTerminal*, void* c) { ++*static_cast<int*>(c); }, &ends);
  EXPECT_EQ(ends, 2);
}

TEST_F(WordTreeTest, PronunciationsThatCannotBeModelledAreRefused) {
  WordTree tree(nullptr);
  for (const char* pron : {".", "x", "ab.", "b."}) EXPECT_EQ(tree.addWord(word("w", pron), nullptr), -1) << pron;
  WordData none{};
  none.name = const_cast<char*>("none");
  EXPECT_EQ(tree.addWord(&none, nullptr), -1);
  EXPECT_EQ(tree.stateCount(), 0);
  // A leading silence (compound words) is fine.
  EXPECT_EQ(tree.addWord(word("sw", ".ab"), nullptr), 1);
}

}  // namespace
