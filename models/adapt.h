// Adaptation: moving a speaker's templates toward what the speaker said. An utterance and the
// word sequence it holds are aligned with the chain of pel states of that sequence (see
// models/alignchain.h); every frame is recorded, weighted by its state's posterior class, into a
// per-state accumulator of (feature - template); updateUser applies the accumulators to the
// templates, and User::cousinsUpdate spreads the change to context variants that received no
// frames, using the reference models "delta.usr". See docs/adaptation.md.
#pragma once
#include <cstdint>
#include <cstdio>
#include "audio/frame.h"
#include "foundation/hashseq.h"
#include "foundation/oneshot.h"
#include "lexicon/phoneset.h"

namespace vlm {

class User;
class Utterance;
class WordDictionary;
class FSGNodeTypeItemAC;

// Frame weights by class: w[k] = e^(-k/8) to six decimals; classes of 16 and more are not
// recorded.
constexpr int kFrameWeightCount = 16;
extern const double kFrameWeights[kFrameWeightCount];
// Log-add table: T[k] = 8 ln(1 + e^(-k/8)) to six decimals for k = 0..39, 0 beyond.
constexpr int kLogAddCount = 40;
extern const double kLogAddTable[kLogAddCount];
inline double logAddTerm(int k) { return k >= 0 && k < kLogAddCount ? kLogAddTable[k] : 0.0; }

// The evidence of one pel state (or, in the group accumulators, of one pel group).
struct AdaptAccum : SLinkBase {
  int16_t pel;       // pel state (group number in a group accumulator)
  int16_t touched;   // -1 created, 1 frames recorded, 0 applied
  double sums[kFrameFeatures];   // weighted sums of (feature - template)
  double weight;                 // the prior plus the frame weights recorded

  static constexpr double kPriorWeight = 2.0;
  static constexpr double kGroupPriorWeight = 5.0;
};

int adaptAccumCmp(const SLinkBase* a, const SLinkBase* b);
unsigned adaptAccumHash(const SLinkBase* a);

class AdaptAccumHS : public HS<AdaptAccum> {
 public:
  // withScatter non-zero: also accumulate the 34 x 34 scatter matrix of (feature - template).
  explicit AdaptAccumHS(int withScatter = 0);
  ~AdaptAccumHS();
  AdaptAccumHS(const AdaptAccumHS&) = delete;
  AdaptAccumHS& operator=(const AdaptAccumHS&) = delete;

  // Finds the state's accumulator or creates it (sums 0, weight 2.0, mark -1). Null for a state
  // outside 0..1377.
  AdaptAccum* getAccum(short state);
  AdaptAccum* findAccum(short state) const;

  // Records count frames into the state's accumulator (and its group's), each weighted by the
  // weight of its class (classes[i]); frames of class 16 and above are skipped. Where the state's
  // group has an alternative group, a frame closer to the alternative template goes to the
  // alternative state (when count > 1). log, when not null, is a FILE* that gets the line
  // "<firstIndex + i> <class> <state>" per recorded frame. Returns the frames recorded.
  int recordFrames(int count, const Frame* frames, const int* classes, User* user, short state,
                   void* log, int firstIndex);

  // Applies every touched accumulator to the user's templates (full: a step of 0.6 of the mean
  // offset; incremental: 0.19, with a pass that stops at an accumulator whose step would exceed
  // 100 in some feature, which is reset instead) and the group accumulators to the generic
  // templates. After a full update with a scatter matrix, prints the normalised matrix.
  void updateUser(User* user, int incremental);

  AdaptAccum groups[kPelGroupCount];   // per pel group, against the generic templates
  double* scatter = nullptr;           // 34 x 34, lower triangle accumulated; null when not kept
  double scatterWeight = 0.0;

  static constexpr int kBuckets = 256;

 private:
  OneShotHeap arena;   // the accumulators (32768-byte blocks)
};

// Aligns the utterance with the word sequence and records its frames into accums for user (which
// becomes User::usr). words holds word items (type 1); rule entries, the path end and sequence
// brackets are passed over. Waits for an incomplete utterance. logPath, when not null, names a
// file that gets one line per recorded frame. Returns 1 when frames were recorded; 0 when the
// sequence holds another item (the out-of-vocabulary reference) or a word without
// pronunciation, the utterance was aborted, or it cannot be aligned (too short for the chain).
// The work of Recognizer::adapt.
int adaptUtterance(User* user, const WordDictionary* dict, Utterance* utt,
                   const FSGNodeTypeItemAC* words, AdaptAccumHS* accums, const char* logPath);

// The same for frames already at hand (frames[0..n-1]): the alignment and recording steps.
int adaptFrames(User* user, const WordDictionary* dict, const Frame* frames, int n,
                const FSGNodeTypeItemAC* words, AdaptAccumHS* accums, const char* logPath);

}  // namespace vlm
