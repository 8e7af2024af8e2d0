// Search states and the lexical prefix tree of a word-tree construct.
//
// WordNode is the one search state record used by linear words, word trees and start fans;
// NodeTerminal is a word end hung on a state. A WordTree holds every pronunciation of the words
// of one angle-bracket construct of a rule body as a prefix tree of context-dependent pel states:
// 169 buckets of start states ([left class x 13 + right class of the first phone]), shared
// prefixes, and for every word a fan of 13 end states (one per right-context class), end state 0
// leading into a silence state that carries the word end. Entry penalties are pushed up the tree
// so that a shared prefix carries the smallest penalty of the words below it while the sum along
// every word's path stays that word's own total.
//
// The grammar builds trees when a rule body is set (the records live in the tree's own arena and
// are freed with the rule); the recognition search walks them.
#pragma once
#include "foundation/oneshot.h"
#include "grammar/fsg.h"
#include "lexicon/phoneset.h"

namespace vlm {

class History;
struct WordData;
struct NodeTerminal;

constexpr int NUM_PHONEMES = 48;      // most successors one state can have
constexpr int kNullPel = -2;          // a state in which no frame is spent
constexpr int kWordEntryPenalty = 10; // added once per word
constexpr int kStateEntryPenalty = 11;  // added per state of a word
constexpr int kWordTreeBuckets = 169;

// A word end: which word ends here, at which grammar node, with what exit penalty.
struct NodeTerminal {
  NodeTerminal* next;
  int word;                        // WordDictionary index of the pronunciation record
  FSGNode* node;                   // grammar node the word stands at (a tree: its continuation)
  short penalty;                   // added when the word ends
  unsigned char firstRightClass;   // class of the word's first phone as a right neighbour
  unsigned char lastLeftClass;     // class of the word's last phone as a left neighbour
};

// One search state.
struct WordNode {
  History* history;          // the history the path now in this state entered its word from
  NodeTerminal* terminals;   // word ends at this state, null when none
  int score;                 // accumulated cost of the best path now here
  short pel;                 // pel id; 0 silence, kNullPel a null state
  short penalty;             // cost added on entering this state
  unsigned char active;      // 1 while on an active list of the search
  unsigned char stay;        // frames spent here since entry
  unsigned char contextClass;    // end-fan states: the right-context class this copy stands for
  unsigned char successorCount;  // at most NUM_PHONEMES
  // Set by a search for an end-fan copy whose right-context class nothing after the word starts
  // with (and for the middle state that leads only to it): no path may enter it again in that
  // search. Cleared when the search ends.
  unsigned char closed;
  WordNode* successors;      // contiguous array of successorCount states

  // Moves amount of this state's entry penalty onto its word ends and its direct successors.
  void pushPenaltyUpTree(int amount);
};

// One bucket of a tree's start states, grown in the tree's arena (two states, then doubling).
struct WordTreeStartNodes {
  WordNode* states = nullptr;
  short count = 0;
  short capacity = 0;

  // The next free start state of this bucket, zero-filled; null when the arena fails.
  WordNode* makeRoom(WordTree* tree);
};

class WordTree : public FSGNodeData {
 public:
  explicit WordTree(FSGNode* owner);
  WordTree(const WordTree&) = delete;
  WordTree& operator=(const WordTree&) = delete;

  // Adds one pronunciation record with its continuation node (null when none). 1 when added,
  // 0 when that word already ends at that place of the tree with the same continuation, -1 when
  // the pronunciation cannot be modelled (missing, not made of phones, ending in silence, or too
  // short); the tree is unchanged then.
  int addWord(const WordData* word, FSGNode* continuation);

  // Every pronunciation whose word end is in the tree: calls visit(state, terminal, context) once
  // per (record, continuation) pair, in bucket order, depth first; state is the state the word
  // end hangs on (word ends of one state come one after the other).
  using WordEndVisitor = void (*)(const WordNode* state, const NodeTerminal* terminal, void* context);
  void forEachWordEnd(WordEndVisitor visit, void* context) const;

  // Makes this (empty) tree a copy of source's states, allocated in arena: the same shape, pels,
  // penalties and word ends (shared with the source, which never changes them during a search),
  // every state inactive. The search uses such copies for a tree reached under a second return
  // stack. 1 when done, 0 when the arena fails.
  int copyStatesFrom(const WordTree& source, OneShotHeap& arena);

  FSGNode* owner() const { return grammarNode; }
  int stateCount() const { return states; }
  const WordTreeStartNodes& bucket(int i) const { return startNodes[i]; }

  // The arena of the tree (states, successor arrays, word ends).
  OneShotHeap arena;

 protected:
  friend struct WordTreeStartNodes;
  WordNode* settleNextNode(WordNode* parent, int* pending, short pel);
  int settleEndFan(WordNode* state, char lastPhone, int a, int b, const NodeTerminal* templ);
  void freeToSeed(WordNode* state);
  WordNode* takeArray(int length);
  void freeArray(WordNode* array, int length);
  NodeTerminal* newTerminals(const NodeTerminal* templ);

  WordNode* freeArrays[NUM_PHONEMES + 1] = {};  // free successor arrays by length (13: the block list)
  FSGNode* grammarNode;
  WordTreeStartNodes startNodes[kWordTreeBuckets];
  int states = 0;  // states allocated (diagnostics)
};

// Forwards to WordTree::addWord: 0 when the word already ends at that place, otherwise its result.
int addWordToWordTree(const WordData* word, FSGNode* continuation, WordTree* tree);

// The record of an out-of-vocabulary node: a search state whose one word end names word 1
// ("OutOfVocabularyWord") at the node, the path's score relative to the phone-loop best of the
// frame it entered at, and the node. Lives in the owning rule's arena.
struct OutOfVocabularyElement : FSGNodeData {
  WordNode state;
  int relativeScore;
  FSGNode* node;
  NodeTerminal terminal;
};

}  // namespace vlm
