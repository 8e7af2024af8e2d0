// The search's working records: linear words, start lists, return trees and frame histories.
#define VLM_UNIT "recog"
#include "search/searchtypes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "search/result.h"

namespace vlm {

namespace {

unsigned nodeHash(const void* node) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(node) >> 3);
}

// ---- hash functions of the sets ----

int lawCmp(const SLinkBase* a, const SLinkBase* b) {
  auto* x = static_cast<const LinearActiveWord*>(a);
  auto* y = static_cast<const LinearActiveWord*>(b);
  return !(x->terminal.word == y->terminal.word && x->terminal.node == y->terminal.node &&
           x->returnTree == y->returnTree);
}
unsigned lawHash(const SLinkBase* a) {
  auto* x = static_cast<const LinearActiveWord*>(a);
  return static_cast<unsigned>(x->terminal.word) ^ (nodeHash(x->returnTree) * 31u);
}

int awLinkCmp(const SLinkBase* a, const SLinkBase* b) {
  auto* x = static_cast<const AwLink*>(a);
  auto* y = static_cast<const AwLink*>(b);
  return !(x->node == y->node && x->returnTree == y->returnTree);
}
unsigned awLinkHash(const SLinkBase* a) { return nodeHash(static_cast<const AwLink*>(a)->node); }

int returnTreeCmp(const SLinkBase* a, const SLinkBase* b) {
  auto* x = static_cast<const ReturnTree*>(a);
  auto* y = static_cast<const ReturnTree*>(b);
  return !(x->returnNode == y->returnNode && x->parent == y->parent);
}
unsigned returnTreeHash(const SLinkBase* a) { return nodeHash(static_cast<const ReturnTree*>(a)->returnNode); }

int historyCmp(const SLinkBase* a, const SLinkBase* b) {
  auto* x = static_cast<const History*>(a);
  auto* y = static_cast<const History*>(b);
  return x->node != y->node || x->returnTree != y->returnTree || x->entry != y->entry;
}
unsigned historyHash(const SLinkBase* a) {
  auto* x = static_cast<const History*>(a);
  return nodeHash(x->node) ^ (nodeHash(x->returnTree) * 31u) ^ (static_cast<unsigned>(x->entry) * 2654435761u);
}

int historyGroupCmp(const SLinkBase* a, const SLinkBase* b) {
  return static_cast<const HistoryGroup*>(a)->node != static_cast<const HistoryGroup*>(b)->node;
}
unsigned historyGroupHash(const SLinkBase* a) { return nodeHash(static_cast<const HistoryGroup*>(a)->node); }

// Penalty shares of a pronunciation: nodes states, the first r states take q + 1, the rest q.
struct Shares {
  int q, r;
  int at(int i) const { return i < r ? q + 1 : q; }
};

}  // namespace

// ---- comparisons ----------------------------------------------------------------------------

int cmpWordEndings(const void* a, const void* b) {
  return static_cast<const WordEnding*>(b)->score - static_cast<const WordEnding*>(a)->score;
}

// ---- word-end order -------------------------------------------------------------------------

void WordEndSorter::sort(const OC<WordNode>& ends, OC<WordNode>* sorted, bool silenceOnly) {
  sorted->removeAll();
  if (++stamp == 0) {  // wrapped: forget every slot (groups live for one search only)
    std::fill(slotStamp.begin(), slotStamp.end(), 0u);
    stamp = 1;
  }
  const int n = ends.count();
  std::size_t slots = 64;
  while (slots < 2 * static_cast<std::size_t>(n)) slots <<= 1;
  if (slotStamp.size() < slots) {
    slotStamp.assign(slots, 0);
    slotBlock.resize(slots);
  }
  const std::size_t mask = slots - 1;
  blocks.clear();
  endBlock.clear();
  int groupCount = 0;
  for (int i = 0; i < n; i++) {
    WordNode* e = ends[i];
    if (e->history == nullptr || e->terminals == nullptr || (silenceOnly && e->pel != 0)) {
      endBlock.push_back(-1);
      continue;
    }
    HistoryGroup* g = e->history->group;
    if (g->sortStamp != stamp) {
      g->sortStamp = stamp;
      g->sortOrdinal = groupCount++;
    }
    const int word = e->terminals->word;
    const FSGNode* node = e->terminals->node;
    std::uint64_t h = (static_cast<std::uint64_t>(g->sortOrdinal) << 32 | static_cast<std::uint32_t>(word)) ^
                      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(node));
    h *= 0x9E3779B97F4A7C15ull;
    std::size_t slot = static_cast<std::size_t>(h >> 40) & mask;
    int b = -1;
    while (slotStamp[slot] == stamp) {
      const Block& k = blocks[slotBlock[slot]];
      if (k.group == g->sortOrdinal && k.word == word && k.node == node) {
        b = slotBlock[slot];
        break;
      }
      slot = (slot + 1) & mask;
    }
    if (b < 0) {
      b = static_cast<int>(blocks.size());
      blocks.push_back(Block{g->sortOrdinal, word, node, 0, 0, 0});
      slotStamp[slot] = stamp;
      slotBlock[slot] = b;
    }
    blocks[b].count++;
    endBlock.push_back(b);
  }
  // block starts: the groups in order, each group's blocks in the order they were met
  groupStart.assign(groupCount + 1, 0);
  for (const Block& k : blocks) groupStart[k.group + 1] += k.count;
  for (int g = 0; g < groupCount; g++) groupStart[g + 1] += groupStart[g];
  const int total = groupStart[groupCount];
  for (Block& k : blocks) {
    k.start = groupStart[k.group];
    groupStart[k.group] += k.count;
  }
  if (total == 0 || sorted->makeRoom(total) < 0) return;
  // Each block's ends in the order met, with their scores beside them.
  if (placed.size() < static_cast<std::size_t>(total)) {
    placed.resize(total);
    placedScore.resize(total);
  }
  for (int i = 0; i < n; i++) {
    const int b = endBlock[i];
    if (b < 0) continue;
    Block& k = blocks[b];
    const int j = k.start + k.filled++;
    placed[j] = ends[i];
    placedScore[j] = ends[i]->score;
  }
  // Then by score within each block, ties in the order met: an end's place is the number of ends
  // of its block with a lower score, plus those with the same score met before it. Counting
  // (without branches) costs less here than an insertion sort's mispredicted exits.
  WordNode** out = sorted->begin();
  const int* score = placedScore.data();
  for (const Block& k : blocks) {
    const int* s = score + k.start;
    for (int i = 0; i < k.count; i++) {
      const int si = s[i];
      int rank = 0;
      for (int j = 0; j < i; j++) rank += s[j] <= si;
      for (int j = i + 1; j < k.count; j++) rank += s[j] < si;
      out[k.start + rank] = placed[k.start + i];
    }
  }
}

// ---- linear words ---------------------------------------------------------------------------

AwLinkHS::AwLinkHS() : HS<AwLink>(1024, 1024, awLinkCmp, awLinkHash) {}

AwLink* AwLinkHS::findAwLink(FSGNode* node, ReturnTree* returnTree) const {
  AwLink key;
  key.node = node;
  key.returnTree = returnTree;
  key.count = 0;
  return find(&key);
}

ActiveWordsHS::ActiveWordsHS() : HS<LinearActiveWord>(8192, 8192, lawCmp, lawHash), arena(65536) {}

LinearActiveWord* ActiveWordsHS::findLAW(int word, FSGNode* node, ReturnTree* returnTree) const {
  LinearActiveWord key;
  key.terminal.word = word;
  key.terminal.node = node;
  key.returnTree = returnTree;
  return find(&key);
}

PendingWord* ActiveWordsHS::newPendingWord(const WordData* word, FSGNode* node) {
  if (word == nullptr || word->pron == nullptr || word->pron[0] == 0) return nullptr;
  const char* pron = word->pron;
  const int length = static_cast<int>(std::strlen(pron));
  int nodes = length == 1 ? 1 : 0;
  for (int i = 0; i < length; i++) {
    if (!isPhone(pron[i])) {
      newLinearActiveWord(word, node, nullptr);  // reports why the word cannot be modelled
      return nullptr;
    }
    nodes += phoneStateCount(pron[i]);
  }
  if (nodes <= 2 || pron[0] == kSilencePhone || pron[length - 1] == kSilencePhone) {
    newLinearActiveWord(word, node, nullptr);  // reports why the word cannot be modelled
    return nullptr;
  }
  void* memory = arena.allocate(sizeof(PendingWord));
  if (memory == nullptr) return nullptr;
  const int total = kWordEntryPenalty + word->wordClass + kStateEntryPenalty * nodes;
  const Shares share{total / nodes, total - (total / nodes) * nodes};
  return new (memory) PendingWord{word, node, static_cast<short>(phoneBasePel(pron[0])),
                                  static_cast<short>(share.at(0)),
                                  static_cast<unsigned char>(phoneRightClass(pron[0]))};
}

LinearActiveWord* ActiveWordsHS::build(PendingWord* pending, ReturnTree* returnTree) {
  LinearActiveWord* law = findLAW(pending->word->index, pending->node, returnTree);
  if (law == nullptr) law = newLinearActiveWord(pending->word, pending->node, returnTree);
  return law;
}

void* ActiveWordsHS::copyFor(const void* original, const ReturnTree* returnTree, bool* made) const {
  *made = false;
  for (const Copy& c : copies) {
    if (c.original != original) continue;
    if (c.returnTree == returnTree) return c.copy;
    *made = true;
  }
  return nullptr;
}

WordTree* ActiveWordsHS::treeFor(WordTree* tree, ReturnTree* returnTree) {
  // the first return stack that reaches the tree uses the grammar's own states
  bool seen = false;
  if (void* copy = copyFor(tree, returnTree, &seen)) return static_cast<WordTree*>(copy);
  WordTree* result = tree;
  if (seen) {
    void* memory = arena.allocate(sizeof(WordTree));
    if (memory == nullptr) return nullptr;
    // the copy's own arena stays empty (its states live in this arena), so it needs no destructor
    result = new (memory) WordTree(tree->owner());
    if (!result->copyStatesFrom(*tree, arena)) return nullptr;
  }
  copies.add(Copy{tree, returnTree, result});
  return result;
}

OutOfVocabularyElement* ActiveWordsHS::oovFor(OutOfVocabularyElement* element, ReturnTree* returnTree) {
  bool seen = false;
  if (void* copy = copyFor(element, returnTree, &seen)) return static_cast<OutOfVocabularyElement*>(copy);
  OutOfVocabularyElement* result = element;
  if (seen) {
    void* memory = arena.allocate(sizeof(OutOfVocabularyElement));
    if (memory == nullptr) return nullptr;
    result = new (memory) OutOfVocabularyElement(*element);
    result->state.active = 0;
    result->state.history = nullptr;
    // the copy's word end names the same word at the same node
    result->state.terminals = &result->terminal;
    result->terminal.next = nullptr;
  }
  copies.add(Copy{element, returnTree, result});
  return result;
}

LinearActiveWord* ActiveWordsHS::newLinearActiveWord(const WordData* word, FSGNode* node, ReturnTree* returnTree) {
  if (word == nullptr || word->pron == nullptr || word->pron[0] == 0) return nullptr;
  const char* pron = word->pron;
  const int length = static_cast<int>(std::strlen(pron));
  int nodes = length == 1 ? 1 : 0;
  for (int i = 0; i < length; i++) {
    if (!isPhone(pron[i])) {
      logError("pronunciation with a non-phone character: ", word->name);
      return nullptr;
    }
    nodes += phoneStateCount(pron[i]);
  }
  VLM_ASSERT(nodes > 2, "numNodes > 2");
  if (nodes <= 2) return nullptr;
  const char first = pron[0];
  const char last = pron[length - 1];
  if (first == kSilencePhone || last == kSilencePhone) {
    logError("pronunciation begins or ends with silence: ", word->name);
    return nullptr;
  }
  const bool three = phoneStateCount(last) == 3;

  // The inner chain: for each pair of neighbours (p, q) the remaining states of p in the right
  // context of q, then the first state of q in the left context of p (a silence is one pel-0
  // state). A one-phone word has one null state.
  int inner = 0;
  if (length == 1) {
    inner = 1;
  } else {
    for (int i = 1; i < length; i++) {
      const int p = static_cast<unsigned char>(pron[i - 1]);
      if (p != kSilencePhone) inner += phoneStateCount(p) - 1;
      inner += 1;
    }
  }
  const int fan = kContextClassCount * (three ? 2 : 1);
  const int stateCount = kContextClassCount + inner + fan + 1;
  void* memory = arena.allocate(sizeof(LinearActiveWord) + sizeof(WordNode) * static_cast<std::size_t>(stateCount));
  if (memory == nullptr) return nullptr;
  auto* law = new (memory) LinearActiveWord;
  law->states = reinterpret_cast<WordNode*>(static_cast<char*>(memory) + sizeof(LinearActiveWord));
  law->stateCount = stateCount;
  std::memset(static_cast<void*>(law->states), 0, sizeof(WordNode) * static_cast<std::size_t>(stateCount));
  law->returnTree = returnTree;
  law->terminal = NodeTerminal{nullptr, word->index, node, 0,
                               static_cast<unsigned char>(phoneRightClass(first)),
                               static_cast<unsigned char>(phoneLeftClass(last))};

  const int total = kWordEntryPenalty + word->wordClass + kStateEntryPenalty * nodes;
  const Shares share{total / nodes, total - (total / nodes) * nodes};

  WordNode* s = law->states;
  WordNode* innerStates = s + kContextClassCount;
  WordNode* fanStates = innerStates + inner;  // middle states (three-state phone) or end states
  WordNode* endStates = fanStates + (three ? kContextClassCount : 0);
  WordNode* silence = endStates + kContextClassCount;

  for (int c = 0; c < kContextClassCount; c++) {
    s[c].pel = static_cast<short>(phoneBasePel(first) + c);
    s[c].penalty = static_cast<short>(share.at(0));
    s[c].successors = innerStates;
    s[c].successorCount = 1;
  }
  // inner chain
  int k = 0;
  auto layInner = [&](int pel) {
    WordNode* st = &innerStates[k];
    st->pel = static_cast<short>(pel);
    st->penalty = static_cast<short>(share.at(k + 1));
    k++;
  };
  if (length == 1) {
    layInner(kNullPel);
  } else {
    for (int i = 1; i < length; i++) {
      const int p = static_cast<unsigned char>(pron[i - 1]);
      const int q = static_cast<unsigned char>(pron[i]);
      if (p != kSilencePhone) {
        if (phoneStateCount(p) == 3) layInner(phoneBasePel(p) + 26 + phoneRightClass(q));
        if (phoneStateCount(p) >= 2) layInner(phoneBasePel(p) + 13 + phoneRightClass(q));
      }
      layInner(q == kSilencePhone ? 0 : phoneBasePel(q) + phoneLeftClass(p));
    }
  }
  for (int i = 0; i + 1 < inner; i++) {
    innerStates[i].successors = &innerStates[i + 1];
    innerStates[i].successorCount = 1;
  }
  WordNode* lastInner = &innerStates[inner - 1];
  lastInner->successors = fanStates;
  lastInner->successorCount = kContextClassCount;
  const int base = phoneBasePel(last);
  for (int c = 0; c < kContextClassCount; c++) {
    if (three) {
      WordNode* middle = &fanStates[c];
      middle->pel = static_cast<short>(base + 26 + c);
      middle->penalty = static_cast<short>(share.at(inner + 1));
      middle->contextClass = static_cast<unsigned char>(c);
      middle->successors = &endStates[c];
      middle->successorCount = 1;
    }
    WordNode* end = &endStates[c];
    end->pel = static_cast<short>(base + 13 + c);
    end->penalty = static_cast<short>(share.at(inner + (three ? 2 : 1)));
    end->contextClass = static_cast<unsigned char>(c);
    if (c == 0) {
      end->successors = silence;
      end->successorCount = 1;
    } else {
      end->terminals = &law->terminal;
    }
  }
  silence->pel = 0;
  silence->penalty = 0;
  silence->contextClass = 0;
  silence->terminals = &law->terminal;
  add(law);
  return law;
}

AwLink* ActiveWordsHS::newAwLink(FSGNode* node, ReturnTree* returnTree, const LawReturnAc& list) {
  const int n = list.count();
  void* memory = arena.allocate(sizeof(AwLink) + sizeof(LawReturn) * static_cast<std::size_t>(n));
  if (memory == nullptr) return nullptr;
  auto* link = new (memory) AwLink;
  link->node = node;
  link->returnTree = returnTree;
  link->count = n;
  if (n > 0) std::memcpy(static_cast<void*>(link->entries()), list.begin(), sizeof(LawReturn) * static_cast<std::size_t>(n));
  awLinks.add(link);
  return link;
}

void ActiveWordsHS::empty() {
  removeAll();
  awLinks.removeAll();
  copies.removeAll();
  arena.empty();
}

// ---- return trees ---------------------------------------------------------------------------

ReturnTreeHS::ReturnTreeHS() : HS<ReturnTree>(256, 256, returnTreeCmp, returnTreeHash) {}

ReturnTree* ReturnTreeHS::findReturnTree(FSGNode* returnNode, ReturnTree* parent) const {
  ReturnTree key;
  key.returnNode = returnNode;
  key.parent = parent;
  key.depth = 0;
  return find(&key);
}

ReturnTree* ReturnTreeHS::makeReturnTree(FSGNode* returnNode, ReturnTree* parent, OneShotHeap& arena) {
  if (ReturnTree* found = findReturnTree(returnNode, parent)) return found;
  void* memory = arena.allocate(sizeof(ReturnTree));
  if (memory == nullptr) return nullptr;
  auto* t = new (memory) ReturnTree;
  t->returnNode = returnNode;
  t->parent = parent;
  t->depth = parent ? parent->depth + 1 : 1;
  add(t);
  return t;
}

// ---- histories ------------------------------------------------------------------------------

History::History(HistoryGroup* g, FSGNode* n, ReturnTree* rt, OneShotHeap* arena, int e)
    : group(g), node(n), returnTree(rt), entry(e), endings(cmpWordEndings, kInitialEndings, kEndingsGrowth, arena) {}

namespace {

// 1 when the grammar can end from node without another word: through the end of this rule and of
// every rule on the return stack (returns, the top of which is returns[depth - 1]), passing
// optional parts, repeats already taken, sequence starts, and rule references and alternatives
// that can be passed without a word.
int canEndFrom(const FSGNode* node, const FSGNode** returns, int depth, RuleDictionary* rules, int steps) {
  constexpr int kMaxDepth = 2 * ResultHistory::kMaxReturnDepth;
  while (node != nullptr && steps++ < 4096) {
    switch (node->type) {
      case eTerminalNode:
        if (depth == 0) return 1;
        node = returns[--depth];
        break;
      case eRepeatNode:
      case eOptionalNode:
      case eSequenceNode:
        node = node->next;
        break;
      case eRuleNode: {
        RuleData* rd = rules ? rules->ruleAt(node->index()) : nullptr;
        if (rd == nullptr || depth >= kMaxDepth) return 0;
        returns[depth] = node->next;
        return canEndFrom(&rd->root, returns, depth + 1, rules, steps);
      }
      case eAlternativeNode: {
        const AlternativeData* alt = node->alternative;
        if (alt == nullptr) return 0;
        for (int i = 0; i < alt->branches.count(); i++) {
          const FSGNode** copy = returns;
          if (canEndFrom(alt->branches[i], copy, depth, rules, steps)) return 1;
        }
        if (depth < kMaxDepth) {
          for (int i = 0; i < alt->rules.count(); i++) {
            RuleData* rd = rules ? rules->ruleAt(alt->rules[i]) : nullptr;
            if (rd == nullptr) continue;
            returns[depth] = node->next;
            if (canEndFrom(&rd->root, returns, depth + 1, rules, steps)) return 1;
          }
        }
        return 0;
      }
      default:  // a word, a word tree, the out-of-vocabulary element
        return 0;
    }
  }
  return 0;
}

}  // namespace

int canEndAfter(const FSGNode* node, const ReturnTree* returnTree, RuleDictionary* rules) {
  constexpr int kRoom = 2 * ResultHistory::kMaxReturnDepth + 1;
  const FSGNode* returns[kRoom];
  int depth = 0;
  for (const ReturnTree* t = returnTree; t; t = t->parent) depth++;
  if (depth >= kRoom) return 0;
  int i = depth;
  for (const ReturnTree* t = returnTree; t; t = t->parent) returns[--i] = t->returnNode;
  return canEndFrom(node, returns, depth, rules, 0);
}

int History::isAtTerminalSilence(RuleDictionary* rules) const {
  if (node == nullptr) return 0;
  return canEndAfter(node->next, returnTree, rules);
}

int HistoryGroup::updateBest() {
  best = kNoScore;
  bestHistory = nullptr;
  for (int i = histories.count() - 1; i >= 0; i--) {
    History* h = histories[i];
    const int s = h->topScore();
    if (s < best) {
      best = s;
      bestHistory = h;
    }
  }
  return best;
}

HistoryHS::HistoryHS() : HS<History>(256, 256, historyCmp, historyHash), groups(256, 16, historyGroupCmp, historyGroupHash) {}

History* HistoryHS::findHistory(FSGNode* node, ReturnTree* returnTree, int entry) const {
  alignas(History) unsigned char raw[sizeof(History)];
  auto* key = reinterpret_cast<History*>(raw);
  key->node = node;
  key->returnTree = returnTree;
  key->entry = entry;
  return find(key);
}

HistoryGroup* HistoryHS::findHistoryGroup(FSGNode* node) const {
  alignas(HistoryGroup) unsigned char raw[sizeof(HistoryGroup)];
  auto* key = reinterpret_cast<HistoryGroup*>(raw);
  key->node = node;
  return groups.find(key);
}

FrameHistoryAC::FrameHistoryAC() : frames(512, 512), arena(262144) {
  hypos = new ResultHypoPQ(&arena, nullptr);
}

FrameHistoryAC::~FrameHistoryAC() {
  for (int i = 0; i < frames.count(); i++) delete frames[i];
  delete hypos;
}

int FrameHistoryAC::makeRoom(int n, int at) {
  if (n <= 0) return -1;
  const int first = frames.makeRoom(n, at);
  if (first < 0) return -1;
  for (int i = 0; i < n; i++) frames.setEntry(first + i, new (std::nothrow) HistoryHS);
  return first;
}

void FrameHistoryAC::empty() {
  for (int i = 0; i < frames.count(); i++) delete frames[i];
  frames.removeAll();
  returnTrees.removeAll();
  hypos->clear();
  arena.empty();
}

History* FrameHistoryAC::getHistory(HistoryHS* set, FSGNode* node, ReturnTree* returnTree, int entry,
                                    int frameIndex, int* created) {
  *created = 0;
  if (set == nullptr) return nullptr;
  if (History* h = set->findHistory(node, returnTree, entry)) return h;
  HistoryGroup* group = set->findHistoryGroup(node);
  if (group == nullptr) {
    void* memory = arena.allocate(sizeof(HistoryGroup));
    if (memory == nullptr) return nullptr;
    group = new (memory) HistoryGroup(frameIndex, node, &arena);
    set->addGroup(group);
  }
  void* memory = arena.allocate(sizeof(History));
  if (memory == nullptr) return nullptr;
  auto* h = new (memory) History(group, node, returnTree, &arena, entry);
  group->histories.add(h);
  set->add(h);
  *created = 1;
  return h;
}

WordEnding* FrameHistoryAC::newWordEnding(int id, int score, History* seed) {
  void* memory = arena.allocate(sizeof(WordEnding));
  if (memory == nullptr) return nullptr;
  return new (memory) WordEnding{id, score, seed};
}

// ---- start lists ----------------------------------------------------------------------------

void ResultHistory::appendWord(LawReturnAc* list, int word, FSGNode* node, ReturnTree* returnTree) {
  // the pronunciation at the node and every alternative chained after it
  int guard = 0;
  for (int w = word; w >= 0 && guard < 1000; guard++) {
    WordData* data = words ? words->wordAt(w) : nullptr;
    if (data == nullptr) break;
    LinearActiveWord* law = activeWords->findLAW(w, node, returnTree);
    if (law == nullptr && pending) {
      if (PendingWord* p = activeWords->newPendingWord(data, node)) list->add(LawReturn{p, returnTree, eLawPendingWord});
    } else {
      if (law == nullptr) law = activeWords->newLinearActiveWord(data, node, returnTree);
      if (law != nullptr) list->add(LawReturn{law, returnTree, eLawLinearWord});
    }
    w = data->nextPron;
  }
}

void ResultHistory::seed(LawReturnAc* list, FSGNode* node, ReturnTree* returnTree, int depth) {
  while (node != nullptr) {
    // every (node, return tree) is followed once per call
    for (const LawReturn& v : visited)
      if (v.target == node && v.returnTree == returnTree) return;
    visited.add(LawReturn{node, returnTree, 0});
    if (depth > 4 * kMaxReturnDepth) return;

    switch (node->type) {
      case eTerminalNode:
        if (returnTree == nullptr) return;
        node = returnTree->returnNode;
        returnTree = returnTree->parent;
        break;
      case eWordNode:
        appendWord(list, node->index(), node, returnTree);
        return;
      case eOutOfVocabularyNode:
        if (node->oov) {
          if (OutOfVocabularyElement* el = activeWords->oovFor(node->oov, returnTree))
            list->add(LawReturn{el, returnTree, eLawOutOfVocabulary});
        }
        return;
      case eRuleNode: {
        RuleData* rd = rules ? rules->ruleAt(node->index()) : nullptr;
        if (rd == nullptr) return;
        if (returnTree && returnTree->depth >= kMaxReturnDepth) {
          logError("rule nesting too deep, not followed: ", rd->name);
          return;
        }
        ReturnTree* t = histories->returnTrees.makeReturnTree(node->next, returnTree, histories->arena);
        if (t == nullptr) return;
        node = &rd->root;
        returnTree = t;
        break;
      }
      case eRepeatNode:
      case eOptionalNode:
        seed(list, node->node, returnTree, depth + 1);
        node = node->next;
        break;
      case eAlternativeNode: {
        AlternativeData* alt = node->alternative;
        if (alt == nullptr) return;
        if (alt->rules.count() > 0 && !(returnTree && returnTree->depth >= kMaxReturnDepth)) {
          ReturnTree* t = histories->returnTrees.makeReturnTree(node->next, returnTree, histories->arena);
          for (int i = alt->rules.count() - 1; t && i >= 0; i--) {
            RuleData* rd = rules ? rules->ruleAt(alt->rules[i]) : nullptr;
            if (rd) seed(list, &rd->root, t, depth + 1);
          }
        }
        for (int i = alt->words.count() - 1; i >= 0; i--) appendWord(list, alt->words[i], node, returnTree);
        for (int i = alt->branches.count() - 1; i >= 0; i--) seed(list, alt->branches[i], returnTree, depth + 1);
        return;
      }
      case eWordTreeNode:
        if (node->wordTree) {
          if (WordTree* tree = activeWords->treeFor(node->wordTree, returnTree))
            list->add(LawReturn{tree, returnTree, eLawWordTree});
        }
        return;
      case eSequenceNode:
        node = node->next;
        break;
      default:
        return;
    }
  }
}

void ResultHistory::getSeedLAWs(LawReturnAc* list, WordDictionary* w, RuleDictionary* r, FSGNode* node,
                                ReturnTree* returnTree) {
  words = w;
  rules = r;
  visited.removeAll();
  seed(list, node, returnTree, 0);
}

AwLink* ResultHistory::startList(WordDictionary* w, RuleDictionary* r, FSGNode* node, ReturnTree* returnTree) {
  if (AwLink* link = activeWords->awLinks.findAwLink(node, returnTree)) return link;
  LawReturnAc list(16, 16);
  pending = true;
  getSeedLAWs(&list, w, r, node, returnTree);
  pending = false;
  return activeWords->newAwLink(node, returnTree, list);
}

}  // namespace vlm
