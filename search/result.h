// Recognition results: the n-best back-trace over the frame histories (ResultHypo, ResultHypoPQ),
// the item sequences of completed paths, and the utterance's ranked result list (RecogResult),
// with duplicate removal and the text forms the applications show and act on.
//
// A result is an FSGNodeTypeItemAC of (type, value) items: (3, rule) where the path enters a rule,
// (1, word) for a recognised pronunciation record, (2, 1) for the out-of-vocabulary word, and a
// final (0, rule of the last word).
#pragma once
#include "foundation/heappq.h"
#include "foundation/oneshot.h"
#include "foundation/ordcoll.h"
#include "grammar/fsg.h"
#include "search/searchtypes.h"

namespace vlm {

class WordDictionary;
class RuleDictionary;
class RecogResult;

// One word of a back-traced path: the hypothesis of the following word (null for the last word),
// the cost of the complete path through this word, and this word's ending.
class ResultHypo {
 public:
  ResultHypo* nextHypo;
  int score;
  WordEnding* we;

  ResultHypo* next() const { return nextHypo; }
  // Converts a completed chain (starting at the utterance-initial silence) into items and adds
  // them to list with the frames where its words begin (endFrame: the frame after the last one
  // searched); the stored copy, or null when an equal result is already listed.
  static FSGNodeTypeItemAC* addResult(ResultHypo* completed, RecogResult* list, RuleDictionary* rules,
                                      int endFrame = -1);
};

// Lowest cost on top.
int cmpResultHypo(const void* a, const void* b);
// Lowest score on top (results).
int cmpResults(const void* a, const void* b);

// The back-trace heap. Hypotheses live in the frame-history arena.
class ResultHypoPQ : public HeapPQ<ResultHypo> {
 public:
  ResultHypoPQ(OneShotHeap* arena, RuleDictionary* rules);

  // A new hypothesis in the arena, pushed; null when the arena fails.
  ResultHypo* pushNew(ResultHypo* next, int score, WordEnding* we);
  // Expands h one word back: every ending of the history h's word was entered from (at most 50,
  // best first) becomes a hypothesis of the word before.
  void propagate(ResultHypo* h);
  // The rule penalties between the earlier word ending w and the later one of h.
  int rulePenalties(const WordEnding* w, const WordEnding* h) const;

  OneShotHeap* arena;
  RuleDictionary* rules;
  static constexpr int kMaxEndingsPerHistory = 50;
  static constexpr int kWordPenalty = 10;
};

// ---- operations on result item arrays -------------------------------------------------------

// The names of the word items separated by one space; the pronunciations of the word items
// separated by ".". At most size - 1 characters, always terminated; returns the terminating NUL.
// Out-of-vocabulary items are not printed.
char* toAscii(const FSGNodeTypeItemAC& items, WordDictionary* words, char* buffer, int size);
char* toProns(const FSGNodeTypeItemAC& items, WordDictionary* words, char* buffer, int size);
// The values of the rule items in order, at most max; a 0 follows them when fewer than max.
// Returns their number.
int ruleIds(const FSGNodeTypeItemAC& items, int* out, int max);
// h = (h * 3 + value) mod 2^24 over the word and rule items; stored in items.hash and returned.
int generateHash(FSGNodeTypeItemAC& items);
// Replaces alternative pronunciations by the primary record of the same name (-1 when there is
// none) and recomputes the hash.
FSGNodeTypeItemAC& noAltProns(FSGNodeTypeItemAC& items, WordDictionary* words);
// 0 when equal (same hash, count, types, and values of word and rule items); otherwise non-zero.
int cmpFSGNodeTypeItemACs(const FSGNodeTypeItemAC* a, const FSGNodeTypeItemAC* b);

// Where the words of one result lie in the utterance, from its back-trace: word item k (the
// word and out-of-vocabulary items in order) spans frames [bounds[k], bounds[k + 1]). A word
// begins in the frame after the path left the word before it (or the initial silence) and lasts
// until the next word begins; the last word ends with the frames searched, so a word's span
// includes the pause after it. Empty when the result was added without its back-trace.
class WordFrames : public AC<int> {
 public:
  WordFrames() : AC<int>(8, 8) {}
  int words() const { return count() > 0 ? count() - 1 : 0; }
  int start(int k) const { return (*this)[k]; }
  int end(int k) const { return (*this)[k + 1]; }
};

// The n-best list of one search, best (lowest score) first; owns its results.
class RecogResult {
 public:
  explicit RecogResult(WordDictionary* words = nullptr);
  ~RecogResult();
  RecogResult(const RecogResult&) = delete;
  RecogResult& operator=(const RecogResult&) = delete;

  // Appends an owned copy of source (items, score, hash) and of its word frames (when given);
  // null when an equal result is listed.
  FSGNodeTypeItemAC* addResult(FSGNodeTypeItemAC* source, const WordFrames* frames = nullptr);
  // Deletes every result; the selection becomes -1 and the dictionary is forgotten.
  void removeAll();
  // Merges results that differ only in pronunciation variants, keeping the best score of each
  // (with its word frames).
  void noAltProns();

  int count() const { return results.count(); }
  FSGNodeTypeItemAC* at(int i) const { return results[i]; }
  // The word frames of result i (empty when it has none).
  const WordFrames& framesAt(int i) const { return *frames[i]; }

  OC<FSGNodeTypeItemAC> results;
  OC<WordFrames> frames;   // parallel to results
  WordDictionary* wordDictionary;
  int selected = -1;

  static constexpr int kMaxResults = 15;
};

// Installs the utterance's hooks for deleting and rendering results (done by every search).
void installResultHooks();

}  // namespace vlm
