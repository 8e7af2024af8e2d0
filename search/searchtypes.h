// The records the recognition search expands, scores and links while it decodes one utterance:
// linear active words (one pronunciation at one grammar position as a chain of WordNode states),
// the return stack of nested rules (ReturnTree), the cached start lists of grammar positions
// (AwLink), and the per-frame back-pointer records (WordEnding, History, HistoryGroup) with their
// hash sets. Everything here lives in two arenas that are emptied at the start of every search:
// the linear words with their start lists (ActiveWordsHS), and the frame histories, return trees
// and result hypotheses (FrameHistoryAC). No record is ever freed alone.
#pragma once
#include <cstddef>
#include <vector>
#include "foundation/arrcoll.h"
#include "foundation/hashseq.h"
#include "foundation/heappq.h"
#include "foundation/oneshot.h"
#include "foundation/ordcoll.h"
#include "grammar/fsg.h"
#include "search/wordtree.h"

namespace vlm {

class WordDictionary;
class RuleDictionary;
struct WordData;
class HistoryGroup;
class ResultHypoPQ;

// The score of a record that has none yet (group bests, the phone loop, pruned paths).
constexpr int kNoScore = 200000;
// The word index of the reserved silence word: the word ending of the utterance-initial silence.
constexpr int SILENCE_ID = 0;

// ---- Linear words ---------------------------------------------------------------------------

// One pronunciation of one word at one grammar node under one return stack, laid down as a chain:
// 13 start states (one per left-context class), the inner chain, for a three-state last phone 13
// middle states, 13 end states (one per right-context class), and one silence state after end
// state 0 that carries the word end in its place. A one-phone word has a null state between its
// start and end states.
//
// The return stack is part of the key: the same word at the same node of a rule that is referred
// to from two places (a rule following itself) has two futures, so the two paths must not compete
// for one set of states.
class ReturnTree;

struct LinearActiveWord : SLinkBase {
  NodeTerminal terminal;  // word = the pronunciation record, node = the grammar node
  ReturnTree* returnTree; // the return stack the word runs under
  WordNode* states;       // every state of the word, the 13 start states first
  int stateCount;

  WordNode* startState(int leftClass) const { return &states[leftClass]; }
};

// What a grammar position may start. A start list may name a linear word that is not built yet
// (eLawPendingWord, target a PendingWord): it is built when a path first enters it, so that the
// search's memory follows the paths it keeps, not the size of the lists it could start.
enum LawKind { eLawLinearWord = 0, eLawWordTree = 1, eLawOutOfVocabulary = 2, eLawPendingWord = 3 };

// A linear word of a start list that is built on its first entry: what the entry needs to know
// beforehand (the class its first phone wants on the left, its start states' pel and penalty).
struct PendingWord {
  const WordData* word;
  FSGNode* node;
  short basePel;             // pel of start state c is basePel + c
  short firstPenalty;        // entry penalty of the start states
  unsigned char firstRightClass;
};

class ReturnTree;

struct LawReturn {
  void* target;             // LinearActiveWord*, WordTree* or OutOfVocabularyElement*
  ReturnTree* returnTree;   // the return stack the target runs under
  int kind;                 // LawKind
};
using LawReturnAc = AC<LawReturn>;

// The cached start list of one grammar position under one return stack; the entries follow the
// record in the same allocation. The root link (null node, null return tree) holds the start list
// of the whole utterance.
struct AwLink : SLinkBase {
  FSGNode* node;
  ReturnTree* returnTree;
  int count;
  LawReturn* entries() { return reinterpret_cast<LawReturn*>(this + 1); }
};
static_assert(sizeof(AwLink) % alignof(LawReturn) == 0);

class AwLinkHS : public HS<AwLink> {
 public:
  AwLinkHS();
  AwLink* findAwLink(FSGNode* node, ReturnTree* returnTree) const;
};

// The linear words of one search, keyed by (word index, grammar node, return tree), with the
// start-list cache, the per-return-stack copies of word trees and out-of-vocabulary elements, and
// the arena (65536-byte blocks) that holds them all.
class ActiveWordsHS : public HS<LinearActiveWord> {
 public:
  ActiveWordsHS();
  ActiveWordsHS(const ActiveWordsHS&) = delete;
  ActiveWordsHS& operator=(const ActiveWordsHS&) = delete;

  // Builds and inserts the linear word of word at node; null when the pronunciation cannot be
  // modelled (missing, not made of phones, fewer than three states) or the arena fails.
  LinearActiveWord* newLinearActiveWord(const WordData* word, FSGNode* node, ReturnTree* returnTree);
  LinearActiveWord* findLAW(int word, FSGNode* node, ReturnTree* returnTree) const;
  // A pending word for the start list, or null when the pronunciation cannot be modelled.
  PendingWord* newPendingWord(const WordData* word, FSGNode* node);
  // The pending word's linear word under returnTree, built on first use; null when it fails.
  LinearActiveWord* build(PendingWord* pending, ReturnTree* returnTree);
  // The states of a word tree or out-of-vocabulary element as seen under one return stack: the
  // grammar's own record for the first return stack that reaches it, a copy in the arena for
  // every further one (so that paths with different futures never share a state). Null when the
  // arena fails.
  WordTree* treeFor(WordTree* tree, ReturnTree* returnTree);
  OutOfVocabularyElement* oovFor(OutOfVocabularyElement* element, ReturnTree* returnTree);
  // Copies the start list into a new link and inserts it; null when the arena fails.
  AwLink* newAwLink(FSGNode* node, ReturnTree* returnTree, const LawReturnAc& list);
  // Forgets every word and link and empties the arena.
  void empty();
  std::size_t arenaBytes() const { return arena.totalBytes(); }
  // Bytes handed out (the held blocks less the unused rest of the current one).
  std::size_t arenaUsedBytes() const {
    return arena.totalBytes() - static_cast<std::size_t>(arena.currentEnd() - arena.currentCursor());
  }

  AwLinkHS awLinks;
  OneShotHeap arena;

 private:
  struct Copy {
    void* original;
    ReturnTree* returnTree;
    void* copy;
  };
  AC<Copy> copies{16, 16};
  // The copy made of original for returnTree, if any; *made tells whether any return stack has
  // reached original yet (the first one uses the grammar's own states).
  void* copyFor(const void* original, const ReturnTree* returnTree, bool* made) const;
};

// ---- Return stack ---------------------------------------------------------------------------

// One frame of the return stack of nested rules: where the search goes on when the referenced
// rule ends. Shared by every path with the same stack.
class ReturnTree : public SLinkBase {
 public:
  ReturnTree* parent;   // null at the top level
  FSGNode* returnNode;
  int depth;            // 1 at the top level

  // The rule the return node belongs to (the rule that made the reference).
  int rule() const { return returnNode ? returnNode->rule : 0; }
};

class ReturnTreeHS : public HS<ReturnTree> {
 public:
  ReturnTreeHS();
  ReturnTree* findReturnTree(FSGNode* returnNode, ReturnTree* parent) const;
  // Finds or creates (in arena) the return tree; null when the arena fails.
  ReturnTree* makeReturnTree(FSGNode* returnNode, ReturnTree* parent, OneShotHeap& arena);
};

// ---- Histories ------------------------------------------------------------------------------

class History;

// A word that ended at one frame: which word, the path's score, and the history its word was
// entered from (null for the utterance-initial silence).
struct WordEnding {
  int id;
  int score;
  History* seedHistory;
};

// Lowest score on top of a heap.
int cmpWordEndings(const void* a, const void* b);

// All paths that ended a word at one frame and go on at one grammar position under one return
// stack through one entry context: the left-context class of the word that ended (0 after
// silence) and, for a word tree, the right-context class of the end state. Paths that entered
// different start states are kept apart, so the best word ending of a history is always the one
// whose path the word's states carry.
class History : public SLinkBase {
 public:
  History(HistoryGroup* group, FSGNode* node, ReturnTree* returnTree, OneShotHeap* arena, int entry = 0);

  HistoryGroup* group;
  FSGNode* node;
  ReturnTree* returnTree;
  // Most histories hold one or a few word endings: a small heap to start with keeps the search's
  // memory with the paths it follows rather than with the number of grammar positions reached.
  static constexpr int kInitialEndings = 3;
  static constexpr int kEndingsGrowth = 8;

  int entry;                      // entry context: 0 after silence, else left × 13 + right class
  const void* lastEnd = nullptr;  // the word-end state whose endings were pushed last
  HeapPQ<WordEnding> endings;   // best (lowest) score on top
  WordEnding** sorted = nullptr;  // the back-trace's sorted list (best first), null until drained
  int sortedCount = 0;
  int silencePushed = 0;          // the initial-silence ending of this frame is in endings

  // 1 when the grammar may end after this history: from the position after its node a terminal
  // is reached at every level of the return stack without another word (passing optional parts,
  // repeats, and rule references and alternatives that can be passed without a word).
  int isAtTerminalSilence(RuleDictionary* rules) const;
  // The score of the best word ending, kNoScore when there is none.
  int topScore() const {
    WordEnding* top = endings.top();
    return top ? top->score : kNoScore;
  }
};

// All histories of one frame at one grammar node, whatever their return stacks. Linked into its
// frame's set of groups, keyed by the node.
class HistoryGroup : public SLinkBase {
 public:
  HistoryGroup(int frame, FSGNode* node, OneShotHeap* arena) : frame(frame), node(node), histories(2, 4, arena) {}

  int frame;
  FSGNode* node;
  OC<History> histories;
  int best = kNoScore;
  History* bestHistory = nullptr;
  // The search's word-end sort numbers the groups it meets: sortOrdinal is valid while
  // sortStamp equals the sort's stamp.
  unsigned sortStamp = 0;
  int sortOrdinal = 0;

  // Over the histories from the last to the first: the lowest top word ending (strictly lower
  // replaces) and its history; stored and returned.
  int updateBest();
};

// The histories of one frame, keyed by (grammar node, return tree, entry context), and their
// groups, keyed by the node. The two are hashed apart: one node can hold a history for each of its
// return stacks and each of up to 169 entry contexts (a free phone loop holds them all), and a
// hash on the node alone would chain them all in one bucket.
class HistoryHS : public HS<History> {
 public:
  HistoryHS();
  History* findHistory(FSGNode* node, ReturnTree* returnTree, int entry = 0) const;
  // The group of the histories at node, or null.
  HistoryGroup* findHistoryGroup(FSGNode* node) const;
  void addGroup(HistoryGroup* group) { groups.add(group); }

 private:
  HS<HistoryGroup> groups;
};

// The per-frame history sets of one search, with the arena (262144-byte blocks) of every History,
// HistoryGroup, WordEnding, ReturnTree and ResultHypo, the return-tree set, the result heap and
// the dictionaries of the current recogniser.
class FrameHistoryAC {
 public:
  FrameHistoryAC();
  ~FrameHistoryAC();
  FrameHistoryAC(const FrameHistoryAC&) = delete;
  FrameHistoryAC& operator=(const FrameHistoryAC&) = delete;

  // Adds n frames at index at (-1: at the end), each with a fresh history set; the index of the
  // first, or -1.
  int makeRoom(int n, int at = -1);
  // Frees every frame's set, empties the arena, the return trees and the result heap.
  void empty();
  int count() const { return frames.count(); }
  HistoryHS* frame(int i) const { return frames[i]; }
  HistoryHS* lastFrame() const { return frames.count() ? frames[frames.count() - 1] : nullptr; }

  // The history for (node, returnTree) in set, created (with its group, recording frameIndex)
  // when missing; *created tells which. Null when the arena fails.
  History* getHistory(HistoryHS* set, FSGNode* node, ReturnTree* returnTree, int entry, int frameIndex,
                      int* created);
  // A word ending in the arena.
  WordEnding* newWordEnding(int id, int score, History* seed);
  std::size_t arenaBytes() const { return arena.totalBytes(); }
  std::size_t arenaUsedBytes() const {
    return arena.totalBytes() - static_cast<std::size_t>(arena.currentEnd() - arena.currentCursor());
  }

  OC<HistoryHS> frames;
  OneShotHeap arena;
  ReturnTreeHS returnTrees;
  ResultHypoPQ* hypos;
  WordDictionary* words = nullptr;
  RuleDictionary* rules = nullptr;
};

// 1 when the grammar can end from node under returnTree without another word (see
// History::isAtTerminalSilence).
int canEndAfter(const FSGNode* node, const ReturnTree* returnTree, RuleDictionary* rules);

// ---- Start lists ----------------------------------------------------------------------------

// Collects what can start at a grammar position (following the graph through rule references,
// repeats, optional parts, alternatives and sequence starts), creating linear words and return
// trees as needed.
class ResultHistory {
 public:
  ResultHistory(ActiveWordsHS* activeWords, FrameHistoryAC* histories)
      : activeWords(activeWords), histories(histories) {}

  // Appends to list everything that can start at (node, returnTree).
  void getSeedLAWs(LawReturnAc* list, WordDictionary* words, RuleDictionary* rules, FSGNode* node,
                   ReturnTree* returnTree);
  // The cached start list of (node, returnTree), built on first use; null when the arena fails.
  AwLink* startList(WordDictionary* words, RuleDictionary* rules, FSGNode* node,
                    ReturnTree* returnTree);
  // While set, linear words go into start lists as pending words (startList sets it).
  bool pending = false;

  // Deepest nesting of rule references the search follows; deeper (recursive) references are
  // not started.
  static constexpr int kMaxReturnDepth = 64;

 protected:
  void seed(LawReturnAc* list, FSGNode* node, ReturnTree* returnTree, int depth);
  void appendWord(LawReturnAc* list, int word, FSGNode* node, ReturnTree* returnTree);

  ActiveWordsHS* activeWords;
  FrameHistoryAC* histories;
  WordDictionary* words = nullptr;
  RuleDictionary* rules = nullptr;
  // (node, return tree) pairs already visited in the current call: a repeated part that can be
  // empty, or a position reached twice, is followed once.
  AC<LawReturn> visited{32, 32};
};

// Puts a frame's word-end states in the order the search hands them on: each history group's ends
// together, within it each (word, grammar node)'s ends together, best score first. Ends without
// a history or terminals are left out, and with silenceOnly every end that is not silence.
//
// No comparison sort: with a few hundred ends per frame, sorting them (by group, word, node and
// score) spent most of its time on mispredicted branches. Groups are numbered in the order the
// list meets them (HistoryGroup::sortOrdinal); each (group, word, node) is a block, found through
// a small hash table; blocks are laid out group by group in the order they were met, and each
// block (a handful of ends, one per context class) is insertion-sorted by score. Which group or
// block comes first does not matter to the search, which processes each run of ends on its own;
// the order also no longer depends on where the arena put the records. Ends of equal score in
// one block keep the list's order.
class WordEndSorter {
 public:
  void sort(const OC<WordNode>& ends, OC<WordNode>* sorted, bool silenceOnly);

 private:
  struct Block {
    int group;
    int word;
    const FSGNode* node;
    int count;
    int start;
    int filled;
  };
  std::vector<Block> blocks;
  std::vector<int> endBlock;     // each end's block, -1 when left out
  std::vector<unsigned> slotStamp;  // a hash slot is in use while its stamp is the sort's
  std::vector<int> slotBlock;
  std::vector<int> groupStart;
  std::vector<WordNode*> placed;  // the ends block by block, in the order met
  std::vector<int> placedScore;   // their scores
  unsigned stamp = 0;
};

}  // namespace vlm
