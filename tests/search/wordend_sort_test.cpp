// The order in which the search hands on a frame's word ends (WordEndSorter).
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/oneshot.h"
#include "search/searchtypes.h"

namespace {

using namespace vlm;

// Word ends over a few groups, histories, grammar nodes and words, with random scores.
struct EndsFixture {
  OneShotHeap arena{65536};
  std::vector<HistoryGroup*> groups;
  std::vector<History*> histories;
  FSGNode nodes[3] = {};
  std::vector<NodeTerminal> terminals;
  std::vector<WordNode> states;
  OC<WordNode> ends{8, 8};

  EndsFixture(int count, int groupCount, int wordCount, unsigned seed) {
    std::mt19937 rng(seed);
    for (int g = 0; g < groupCount; g++) {
      groups.push_back(new (arena.allocate(sizeof(HistoryGroup))) HistoryGroup(g, nullptr, &arena));
      for (int h = 0; h < 2; h++) {
        auto* history = new (arena.allocate(sizeof(History))) History(groups.back(), &nodes[h], nullptr, &arena);
        groups.back()->histories.add(history);
        histories.push_back(history);
      }
    }
    terminals.reserve(count);
    states.reserve(count);
    for (int i = 0; i < count; i++) {
      const int word = 2 + static_cast<int>(rng() % wordCount);
      FSGNode* node = &nodes[rng() % 3];
      terminals.push_back(NodeTerminal{nullptr, word, node, 0, 0, 0});
      WordNode s{};
      s.history = histories[rng() % histories.size()];
      s.terminals = &terminals.back();
      s.score = static_cast<int>(rng() % 50);  // many equal scores
      s.pel = static_cast<short>(rng() % 4 == 0 ? 0 : 1 + rng() % 1300);
      states.push_back(s);
    }
    for (WordNode& s : states) ends.add(&s);
  }
};

using Key = std::tuple<const HistoryGroup*, int, const FSGNode*>;
Key keyOf(const WordNode* e) { return {e->history->group, e->terminals->word, e->terminals->node}; }

// Every kept end once; each group's ends together, each (group, word, node)'s ends together and
// in ascending score.
void expectGrouped(const OC<WordNode>& in, const OC<WordNode>& out, bool silenceOnly) {
  std::multiset<const WordNode*> expected, got;
  for (int i = 0; i < in.count(); i++)
    if (in[i]->history && in[i]->terminals && (!silenceOnly || in[i]->pel == 0)) expected.insert(in[i]);
  for (int i = 0; i < out.count(); i++) got.insert(out[i]);
  ASSERT_EQ(got, expected);
  ASSERT_EQ(out.entries()[out.count()], nullptr);
  std::set<const HistoryGroup*> closedGroups;
  std::set<Key> closedBlocks;
  for (int i = 0; i < out.count(); i++) {
    const WordNode* e = out[i];
    if (i > 0 && keyOf(out[i - 1]) == keyOf(e)) {
      EXPECT_LE(out[i - 1]->score, e->score) << "position " << i;
      continue;
    }
    EXPECT_EQ(closedBlocks.count(keyOf(e)), 0u) << "a block comes back at " << i;
    if (i > 0) closedBlocks.insert(keyOf(out[i - 1]));
    if (i > 0 && out[i - 1]->history->group != e->history->group) {
      closedGroups.insert(out[i - 1]->history->group);
      EXPECT_EQ(closedGroups.count(e->history->group), 0u) << "a group comes back at " << i;
    }
  }
}

TEST(WordEndSorter, GroupsBlocksAndOrdersScoresOverListsOfAnySize) {
  WordEndSorter sorter;
  OC<WordNode> out(8, 8);
  // from empty to a list that grows the hash table, with the sorter reused across sizes
  for (int count : {0, 1, 7, 40, 300, 2500, 12}) {
    EndsFixture f(count, 5, count > 100 ? 60 : 6, static_cast<unsigned>(count) + 1);
    sorter.sort(f.ends, &out, false);
    expectGrouped(f.ends, out, false);
    sorter.sort(f.ends, &out, true);
    expectGrouped(f.ends, out, true);
  }
}

TEST(WordEndSorter, LeavesOutEndsWithoutHistoryOrTerminals) {
  EndsFixture f(50, 3, 4, 9);
  f.states[0].history = nullptr;
  f.states[1].terminals = nullptr;
  f.states[2].history = nullptr;
  f.states[2].terminals = nullptr;
  WordEndSorter sorter;
  OC<WordNode> out(8, 8);
  sorter.sort(f.ends, &out, false);
  EXPECT_EQ(out.count(), 47);
  expectGrouped(f.ends, out, false);
}

TEST(WordEndSorter, EndsOfEqualScoreInOneBlockKeepTheListOrder) {
  EndsFixture f(6, 1, 1, 3);
  for (WordNode& s : f.states) {
    s.history = f.histories[0];
    s.terminals = &f.terminals[0];
    s.score = 10;
  }
  f.states[4].score = 3;
  WordEndSorter sorter;
  OC<WordNode> out(8, 8);
  sorter.sort(f.ends, &out, false);
  ASSERT_EQ(out.count(), 6);
  const std::vector<int> order = {4, 0, 1, 2, 3, 5};
  for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], &f.states[order[i]]) << i;
}

}  // namespace
