// The lexical prefix tree of a word-tree construct: adding pronunciations with shared prefixes,
// pushing entry penalties up the tree, end fans with their word ends, and walking the word ends.
#define VLM_UNIT "recog"
#include "search/wordtree.h"

#include <unordered_map>

#include <climits>
#include <cstring>
#include <new>

#include "foundation/ordcoll.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"

namespace vlm {

namespace {

inline int share(int q, int r, int i) { return i < r ? q + 1 : q; }

WordNode* findSuccessor(const WordNode* parent, int pel) {
  for (int i = 0; i < parent->successorCount; i++)
    if (parent->successors[i].pel == pel) return &parent->successors[i];
  return nullptr;
}

// Lays out the states of a pronunciation between its start state and its end fan: for each pair
// of neighbouring phones (p, q), the remaining states of p (a three-state phone's middle state,
// then its last state, both in the right context of q) and the first state of q in the left
// context of p; a silence phone is one state of pel 0. A one-phone word has one null state.
// Returns the number of states written to pels (room at least 3 * length).
int innerStates(const char* pron, int length, short* pels) {
  int n = 0;
  if (length == 1) {
    pels[n++] = kNullPel;
    return n;
  }
  for (int i = 1; i < length; i++) {
    int p = static_cast<unsigned char>(pron[i - 1]);
    int q = static_cast<unsigned char>(pron[i]);
    if (p != kSilencePhone) {
      if (phoneStateCount(p) == 3) pels[n++] = static_cast<short>(phoneBasePel(p) + 26 + phoneRightClass(q));
      pels[n++] = static_cast<short>(phoneBasePel(p) + 13 + phoneRightClass(q));
    }
    pels[n++] = q == kSilencePhone ? 0 : static_cast<short>(phoneBasePel(q) + phoneLeftClass(p));
  }
  return n;
}

}  // namespace

void WordNode::pushPenaltyUpTree(int amount) {
  penalty = static_cast<short>(penalty - amount);
  for (NodeTerminal* t = terminals; t != nullptr; t = t->next) t->penalty = static_cast<short>(t->penalty + amount);
  for (int i = 0; i < successorCount; i++) successors[i].penalty = static_cast<short>(successors[i].penalty + amount);
}

WordNode* WordTreeStartNodes::makeRoom(WordTree* tree) {
  if (count == capacity) {
    // A tree has 169 buckets and most hold one to three states, so a bucket starts with room for
    // two and doubles (a fixed step of 13 gave every bucket 13 states and, in large buckets, left
    // a trail of outgrown arrays the free lists do not take back).
    int newCapacity = capacity == 0 ? 2 : capacity * 2;
    if (newCapacity > SHRT_MAX) newCapacity = SHRT_MAX;
    if (newCapacity <= capacity) return nullptr;
    WordNode* grown = tree->takeArray(newCapacity);
    if (grown == nullptr) return nullptr;
    if (count > 0) std::memcpy(static_cast<void*>(grown), states, sizeof(WordNode) * count);
    if (capacity > 0) tree->freeArray(states, capacity);
    states = grown;
    capacity = static_cast<short>(newCapacity);
  }
  WordNode* state = &states[count++];
  std::memset(static_cast<void*>(state), 0, sizeof *state);
  return state;
}

WordTree::WordTree(FSGNode* owner) : arena(16384), grammarNode(owner) { kind = eWordTreeData; }

int WordTree::copyStatesFrom(const WordTree& source, OneShotHeap& into) {
  // Successor arrays can be shared (the 13 start states of a word share one), so each array is
  // copied once and every pointer to it is mapped to the copy.
  std::unordered_map<const WordNode*, WordNode*> copied;
  bool failed = false;
  auto copyArray = [&](auto& self, const WordNode* array, int count) -> WordNode* {
    if (array == nullptr || count <= 0) return nullptr;
    auto found = copied.find(array);
    if (found != copied.end()) return found->second;
    auto* out = static_cast<WordNode*>(into.allocate(sizeof(WordNode) * static_cast<std::size_t>(count)));
    if (out == nullptr) {
      failed = true;
      return nullptr;
    }
    copied.emplace(array, out);
    for (int i = 0; i < count; i++) {
      out[i] = array[i];
      out[i].history = nullptr;
      out[i].score = 0;
      out[i].active = 0;
      out[i].stay = 0;
      out[i].successors = self(self, array[i].successors, array[i].successorCount);
      if (failed) return nullptr;
    }
    return out;
  };
  for (int b = 0; b < kWordTreeBuckets; b++) {
    const WordTreeStartNodes& from = source.startNodes[b];
    startNodes[b].states = copyArray(copyArray, from.states, from.count);
    startNodes[b].count = from.count;
    startNodes[b].capacity = from.count;
    if (failed) return 0;
  }
  states = source.states;
  return 1;
}

WordNode* WordTree::takeArray(int length) {
  if (length <= 0) return nullptr;
  WordNode* array;
  if (length <= NUM_PHONEMES && freeArrays[length] != nullptr) {
    array = freeArrays[length];
    std::memcpy(&freeArrays[length], static_cast<void*>(array), sizeof(WordNode*));
  } else {
    array = static_cast<WordNode*>(arena.allocate(sizeof(WordNode) * static_cast<std::size_t>(length)));
    if (array == nullptr) return nullptr;
    states += length;
  }
  std::memset(static_cast<void*>(array), 0, sizeof(WordNode) * static_cast<std::size_t>(length));
  return array;
}

void WordTree::freeArray(WordNode* array, int length) {
  if (array == nullptr || length <= 0 || length > NUM_PHONEMES) return;  // longer arrays stay in the arena
  std::memcpy(static_cast<void*>(array), &freeArrays[length], sizeof(WordNode*));
  freeArrays[length] = array;
}

void WordTree::freeToSeed(WordNode* state) {
  freeArray(state->successors, state->successorCount);
  state->successors = nullptr;
  state->successorCount = 0;
}

NodeTerminal* WordTree::newTerminals(const NodeTerminal* templ) {
  auto* terms = static_cast<NodeTerminal*>(arena.allocate(sizeof(NodeTerminal) * kContextClassCount));
  if (terms == nullptr) return nullptr;
  for (int c = 0; c < kContextClassCount; c++) {
    terms[c] = *templ;
    terms[c].next = nullptr;
  }
  return terms;
}

WordNode* WordTree::settleNextNode(WordNode* parent, int* pending, short pel) {
  if (WordNode* s = findSuccessor(parent, pel)) {
    *pending -= s->penalty;
    if (*pending < 0) {
      s->pushPenaltyUpTree(-*pending);
      *pending = 0;
    }
    return s;
  }
  int numNodes = parent->successorCount + 1;
  VLM_ASSERT(NUM_PHONEMES >= numNodes, "NUM_PHONEMES >= numNodes");
  if (numNodes > NUM_PHONEMES) return nullptr;
  WordNode* grown = takeArray(numNodes);
  if (grown == nullptr) return nullptr;
  if (parent->successorCount > 0)
    std::memcpy(static_cast<void*>(grown), parent->successors, sizeof(WordNode) * parent->successorCount);
  freeToSeed(parent);
  WordNode* s = &grown[numNodes - 1];
  s->pel = pel;
  s->penalty = static_cast<short>(*pending);
  *pending = 0;
  parent->successors = grown;
  parent->successorCount = static_cast<unsigned char>(numNodes);
  return s;
}

int WordTree::settleEndFan(WordNode* state, char lastPhone, int a, int b, const NodeTerminal* templ) {
  const int base = phoneBasePel(lastPhone);
  const bool three = phoneStateCount(lastPhone) == 3;
  if (state->successorCount == 0) {
    NodeTerminal* terms = newTerminals(templ);
    WordNode* fan = takeArray(kContextClassCount);
    if (terms == nullptr || fan == nullptr) return -1;
    for (int c = 0; c < kContextClassCount; c++) {
      WordNode* end = &fan[c];
      if (three) {
        WordNode* middle = &fan[c];
        middle->pel = static_cast<short>(base + 26 + c);
        middle->penalty = static_cast<short>(a);
        middle->contextClass = static_cast<unsigned char>(c);
        end = takeArray(1);
        if (end == nullptr) return -1;
        middle->successors = end;
        middle->successorCount = 1;
        end->penalty = static_cast<short>(b);
      } else {
        end->penalty = static_cast<short>(a);
      }
      end->pel = static_cast<short>(base + 13 + c);
      end->contextClass = static_cast<unsigned char>(c);
      if (c == 0) {
        WordNode* silence = takeArray(1);
        if (silence == nullptr) return -1;
        silence->terminals = &terms[0];
        end->successors = silence;
        end->successorCount = 1;
      } else {
        end->terminals = &terms[c];
      }
    }
    state->successors = fan;
    state->successorCount = kContextClassCount;
    return 1;
  }

  // The word ends at an existing part of the tree: refuse a second end of the same word with the
  // same continuation.
  WordNode* end0 = nullptr;
  if (three) {
    if (WordNode* middle0 = findSuccessor(state, base + 26)) end0 = findSuccessor(middle0, base + 13);
  } else {
    end0 = findSuccessor(state, base + 13);
  }
  if (end0 != nullptr) {
    if (WordNode* silence = findSuccessor(end0, 0)) {
      for (NodeTerminal* t = silence->terminals; t != nullptr; t = t->next)
        if (t->word == templ->word && t->node == templ->node) return 0;
    }
  }

  NodeTerminal* terms = newTerminals(templ);
  if (terms == nullptr) return -1;
  for (int c = 0; c < kContextClassCount; c++) {
    int pending = a;
    WordNode* end;
    if (three) {
      WordNode* middle = settleNextNode(state, &pending, static_cast<short>(base + 26 + c));
      if (middle == nullptr) return -1;
      middle->contextClass = static_cast<unsigned char>(c);
      pending += b;
      end = settleNextNode(middle, &pending, static_cast<short>(base + 13 + c));
    } else {
      end = settleNextNode(state, &pending, static_cast<short>(base + 13 + c));
    }
    if (end == nullptr) return -1;
    end->contextClass = static_cast<unsigned char>(c);
    WordNode* holder = end;
    if (c == 0) {
      holder = settleNextNode(end, &pending, 0);
      if (holder == nullptr) return -1;
    }
    NodeTerminal* t = &terms[c];
    t->penalty = static_cast<short>(pending);
    if (holder->terminals == nullptr || pending <= holder->terminals->penalty) {
      t->next = holder->terminals;
      holder->terminals = t;
    } else {
      t->next = holder->terminals->next;
      holder->terminals->next = t;
    }
  }
  return 1;
}

int WordTree::addWord(const WordData* word, FSGNode* continuation) {
  if (word == nullptr || word->pron == nullptr) return -1;
  const char* pron = word->pron;
  const int length = static_cast<int>(std::strlen(pron));
  if (length == 0 || pron[length - 1] == kSilencePhone) return -1;
  int nodes = length == 1 ? 1 : 0;
  for (int i = 0; i < length; i++) {
    if (!isPhone(pron[i])) return -1;
    nodes += phoneStateCount(pron[i]);
  }
  if (nodes <= 2) return -1;  // a word of fewer than three states cannot be modelled

  const int total = kWordEntryPenalty + word->wordClass + kStateEntryPenalty * nodes;
  const int q = total / nodes;
  const int r = total - q * nodes;
  const char first = pron[0];
  const char last = pron[length - 1];
  const int firstRight = phoneRightClass(first);

  short localPels[96];
  short* pels = length <= 30 ? localPels : new short[3 * static_cast<std::size_t>(length) + 3];
  const int inner = innerStates(pron, length, pels);

  // The 13 start states of the first phone, one per left-context class.
  WordNode* start[kContextClassCount];
  int result = -1;
  for (int k = 0; k < kContextClassCount; k++) {
    WordTreeStartNodes& bucket = startNodes[k * kContextClassCount + firstRight];
    const int pel = phoneBasePel(first) + k;
    start[k] = nullptr;
    for (int i = 0; i < bucket.count; i++)
      if (bucket.states[i].pel == pel) start[k] = &bucket.states[i];
    if (start[k] == nullptr) {
      start[k] = bucket.makeRoom(this);
      if (start[k] == nullptr) goto done;
      start[k]->pel = static_cast<short>(pel);
      start[k]->penalty = static_cast<short>(share(q, r, 0));
      if (k > 0) {  // a new copy shares the class-0 start state's successors
        start[k]->successors = start[0]->successors;
        start[k]->successorCount = start[0]->successorCount;
        start[k]->penalty = start[0]->penalty;
      }
    }
  }
  {
    int pending = share(q, r, 0) - start[0]->penalty;
    if (pending < 0) {
      start[0]->pushPenaltyUpTree(-pending);
      for (int k = 1; k < kContextClassCount; k++) start[k]->penalty = start[0]->penalty;
      pending = 0;
    }
    WordNode* state = start[0];
    for (int j = 0; j < inner; j++) {
      pending += share(q, r, j + 1);
      WordNode* nextState = settleNextNode(state, &pending, pels[j]);
      if (nextState == nullptr) goto done;
      if (j == 0) {
        for (int k = 1; k < kContextClassCount; k++) {
          start[k]->successors = start[0]->successors;
          start[k]->successorCount = start[0]->successorCount;
          start[k]->penalty = start[0]->penalty;
        }
      }
      state = nextState;
    }
    NodeTerminal templ{nullptr, word->index, continuation, 0, static_cast<unsigned char>(firstRight),
                       static_cast<unsigned char>(phoneLeftClass(last))};
    const int fan = inner + 1;
    result = settleEndFan(state, last, pending + share(q, r, fan), share(q, r, fan + 1), &templ);
  }
done:
  if (pels != localPels) delete[] pels;
  return result;
}

void WordTree::forEachWordEnd(WordEndVisitor visit, void* context) const {
  // Only the class-0 start states are walked: the other twelve share their successors. Every word
  // end hangs once on the silence state after end state 0 (the other twelve copies hang on end
  // states of other pels), so visiting the word ends of pel-0 states reports each end once.
  OC<WordNode> stack(64, 64);
  for (int b = 0; b < kContextClassCount; b++) {
    const WordTreeStartNodes& bucket = startNodes[b];
    for (int i = 0; i < bucket.count; i++) {
      stack.add(&bucket.states[i]);
      while (stack.count() > 0) {
        WordNode* s = stack.removeEntry(stack.count() - 1);
        if (s->pel == 0)
          for (NodeTerminal* t = s->terminals; t != nullptr; t = t->next) visit(s, t, context);
        for (int k = s->successorCount - 1; k >= 0; k--) stack.add(&s->successors[k]);
      }
    }
  }
}

int addWordToWordTree(const WordData* word, FSGNode* continuation, WordTree* tree) {
  return tree->addWord(word, continuation);
}

}  // namespace vlm
