// The alignment chain: the context-dependent pel states of a known word sequence laid out as a
// left-to-right graph (leading silence, the words with a direct and a through-silence branch
// between every two of them, trailing silence), and two alignments of an utterance's frames
// with it: the forward-backward pass that gives every state a posterior class per frame (used
// by adaptation), and a Viterbi forced alignment that gives the best state per frame (used by
// the model trainer). See docs/adaptation.md.
#pragma once
#include <cstdint>
#include "audio/frame.h"
#include "foundation/arrcoll.h"
#include "foundation/oneshot.h"

namespace vlm {

class User;
class WordDictionary;
class FSGNodeTypeItemAC;

// The cost of a pel state in a frame, in search units (lower is better; kUnreachableScore and
// above mean impossible). context is passed through unchanged.
using PelCostFn = int (*)(const void* context, short pel, const Frame* frame);

// User::pelScorePrim evaluated for the given user instead of User::usr: (distance + 24) >> 4,
// the better of the state and its alternative-group state. context is a const User*.
int userPelCost(const void* user, short pel, const Frame* frame);

// Frame classes: trunc(path score - soft-min of all path scores) in the frame, that is minus
// eight times the natural log of the state's posterior. Classes of kFrameClassCut and above are
// never recorded; an unreachable state gets kUnreachableClass.
constexpr int kFrameClassCut = 16;
constexpr int kUnreachableClass = 255;

// One node of the chain. Successors always come after their node in the chain's order and
// predecessors before it; every node also loops on itself.
struct AdaptWordNode {
  int16_t pel;             // pel state 0..1377; 0 is silence
  int16_t successorCount;  // 0..2
  int16_t predecessorCount;
  int16_t successors[2];   // node indices
  int16_t predecessors[2];
  int32_t score;           // working score of the passes
  int32_t* forward;        // per frame, after forwardBackward
  int32_t* backward;
};

class AlignChain {
 public:
  AlignChain();
  ~AlignChain();
  AlignChain(const AlignChain&) = delete;
  AlignChain& operator=(const AlignChain&) = delete;

  // Lays down the chain of count words given by their pronunciations (phone strings). Each
  // pronunciation must be non-empty, made of phones, and must neither begin nor end with
  // silence ("." inside a compound word becomes one silence node). Returns 1, or 0 (nothing
  // built, the reason logged) for no words or a bad pronunciation.
  int build(const char* const* prons, int count);
  // The same from a recognised or prompted word sequence: the word items (type 1), each with a
  // pronunciation in dict. Rule entries (3), the path end (0) and sequence brackets (9, 10) are
  // passed over; any other item (the out-of-vocabulary rule reference, 2, or a construct) gives 0,
  // as do a missing word, an empty pronunciation and a sequence without words.
  int build(const FSGNodeTypeItemAC& words, const WordDictionary& dict);

  int nodeCount() const { return nodes.count(); }
  const AdaptWordNode& node(int i) const { return nodes[i]; }

  // Forward-backward alignment of frames[0..n-1] (cost of a node in a frame from cost, or from
  // userPelCost with context = user when cost is null). Afterwards frameClass gives, for frames
  // 1 .. n-2, every node's class. Returns 1, or 0 when there are fewer than 3 frames or no path
  // leads from the leading silence in frame 0 to the trailing silence in frame n-1 (an
  // utterance too short for the chain); classes are then all kUnreachableClass.
  int forwardBackward(const Frame* frames, int n, PelCostFn cost, const void* context);
  int forwardBackward(const Frame* frames, int n, const User* user) {
    return forwardBackward(frames, n, nullptr, user);
  }
  // The class of node i in frame t (1 .. n-2 of the last forwardBackward), else kUnreachableClass.
  int frameClass(int i, int t) const;
  // The classes of node i for frames 1 .. n-2 (n - 2 entries), or null before a forwardBackward.
  const int* nodeClasses(int i) const;
  int frames() const { return frameTotal; }

  // Viterbi forced alignment: the best path that starts in the leading silence in frame 0,
  // ends in the trailing silence in frame n-1, and in every frame stays in its node or moves to
  // a successor. Writes the path's pel state per frame into pels[0..n-1] and, when nodeIndex is
  // not null, its node index per frame. Returns the path's total cost, or -1 (nothing written)
  // when n < 1 or no such path exists (fewer frames than the chain needs).
  long viterbi(const Frame* frames, int n, PelCostFn cost, const void* context, short* pels,
               int* nodeIndex = nullptr);
  long viterbi(const Frame* frames, int n, const User* user, short* pels, int* nodeIndex = nullptr) {
    return viterbi(frames, n, nullptr, user, pels, nodeIndex);
  }

  // The fewest frames a path through the chain takes (one per node on the shortest route).
  int minimumFrames() const;

 private:
  int add(int pel);
  void link(int from, int to);
  void clearPasses();
  // Fills costs[t * nodeCount + i] using a per-frame cache of pel costs.
  int* computeCosts(const Frame* frames, int n, PelCostFn cost, const void* context);

  AC<AdaptWordNode> nodes;
  OneShotHeap arena;      // forward and backward score arrays (65536-byte blocks)
  int* classes = nullptr; // nodeCount x (n - 2), row per node
  int frameTotal = 0;
};

}  // namespace vlm
