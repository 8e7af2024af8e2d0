// The model trainer's estimation steps, kept apart from its file handling so that tests can
// drive them: templates from the frames aligned to a state (per-feature median or mean), the
// fallback for states that received too few frames, the flat-start segmentation, the per-voice
// normaliser shift and the convergence test of the re-alignment loop. See docs/training.md.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/frame.h"
#include "models/alignchain.h"
#include "lexicon/phoneset.h"

namespace vlm {

class User;

namespace train {

enum class Estimator { eMedian, eMean };

// The template of a set of frames, feature by feature: the median (the mean of the two middle
// values for an even count, rounded half away from zero) or the rounded mean. An empty set gives
// all zeros and returns 0; otherwise 1.
int templateOf(const std::vector<const Frame*>& frames, Estimator estimator,
               int16_t out[kFrameFeatures]);

// How each template of a model set was made.
enum class Source : unsigned char {
  eOwn,          // from the frames aligned to the state itself
  eGroup,        // too few own frames: from all frames of the state's group (its other contexts)
  eRelated,      // the group had too few frames: the same context of a related phone's group
  eSpeech,       // nothing related either: all speech frames
  eSilence,      // silence states: the one silence template
  eSettings,     // states 1 and 12: settings, not acoustics
};

struct EstimateReport {
  int own = 0, group = 0, related = 0, speech = 0;   // counts of the acoustic states by source
  std::vector<int> framesPerState;                   // kPelCount entries
  Source source[kPelCount];
};

// Per pel state, the frames aligned to it.
using StateFrames = std::vector<std::vector<const Frame*>>;

// Fills user.models from frames collected per pel state (kPelCount lists):
// - a state with at least minFrames frames gets its own template; with shrinkFrames > 0 it is
//   drawn towards its group's template, (n x own + shrinkFrames x group) / (n + shrinkFrames)
//   for a state of n frames, so a context heard often keeps its own sound and a rare one stays
//   near its group;
// - else its group's template (all frames of the group's 13 contexts), when the group has at
//   least minFrames frames;
// - else the template of the same context of a related phone's group (relatedGroup), when that
//   one was made from its own or its group's frames;
// - else the template of all non-silence frames.
// Silence is only ever pel 0: every silence state but 1 and 12 gets pel 0's template; states 1
// and 12 are left as they are (the caller fills the settings). Generic models are recomputed.
void estimateModels(const StateFrames& perState, int minFrames, Estimator estimator, User& user,
                    EstimateReport* report, int shrinkFrames = 0);

// Corrective training against rival transcripts, after maximum-likelihood training. A rival is a
// wrong hypothesis that a recogniser found for a training utterance (tools/train/rivals.py). For
// each pair the utterance is aligned to its own transcript and to the rival's; the pair's weight
// is the slope of a sigmoid of the cost difference (right minus rival, over width): pairs that
// are nearly lost or nearly won weigh most, pairs won or lost by far weigh little (below 0.001,
// nothing). On every frame
// where the two alignments use different states, the right state's template is drawn towards the
// frame and the rival state's pushed away from it, along the slope of the distance in each
// feature. After the pass each template moves by its summed slopes over (the number of such
// frames + smooth), clamped to +-1, times step (rounded). Only templates made from their own
// frames move (copies and silence stay); feature 0, which also weighs itself in the distance,
// stays.
struct RivalOptions {
  double step = 12.0;    // largest move of a feature in one pass, in feature units
  double width = 100.0;  // sigmoid width, in alignment cost units (search units)
  double smooth = 10.0;  // frames added to every template's count, so that few frames move little
};
struct RivalPair {
  const Frame* frames = nullptr;
  int count = 0;
  AlignChain* right = nullptr;   // the utterance's own transcript
  AlignChain* rival = nullptr;   // a wrong hypothesis
};
struct RivalPassReport {
  long pairs = 0;        // pairs aligned
  long lost = 0;         // pairs whose rival aligned cheaper than the right transcript
  double weight = 0;     // summed pair weights
  long moved = 0;        // template features moved
};
// One pass over the pairs with the templates of user; own[s] marks the templates that may move.
// Generic models are recomputed.
RivalPassReport rivalPass(const std::vector<RivalPair>& pairs, const std::vector<char>& own,
                          const RivalOptions& options, User& user);

// The group whose templates stand in for group g when g has no frames at all, or -1: the
// alternative groups of the scorer (K for p and k, + for t and T, and back), then a phone of
// similar sound in the same role (first, last or middle state).
int relatedGroup(int group);

// The linear route through a chain of pel states with the direct branches between words:
// given the chain's nodes in order (pel and successors), the node indices from the leading to the
// trailing silence that never pass through a silence node between two words.
struct ChainNodeView {
  short pel;
  int successorCount;
  int successors[2];
};
std::vector<int> directRoute(const std::vector<ChainNodeView>& nodes);

// Flat start: frames before the first and after the last frame whose power exceeds threshold go
// to the route's first and last node (silence); the frames in between are split evenly over the
// inner nodes in order. Returns the node per frame, or an empty vector when the speech frames are
// fewer than the inner nodes.
std::vector<int> flatStart(const std::vector<int32_t>& power, int32_t threshold, int routeLength);

// The speech threshold of an utterance, as the endpointer sets it from its levels:
// (6 x peak + floor) >> 3 with the highest and lowest frame power.
int32_t speechThreshold(const std::vector<int32_t>& power);

// The threshold that bounds the speech for the flat start: an eighth of the way from the lowest
// to the highest frame power. The endpointer's threshold sits three quarters of the way up and
// leaves out weak consonants at the edges (a final "f" is a quarter of a vowel's power); a
// segmentation that starts with those frames in the silence never gives them back, and the
// consonant's last state then learns the end of the vowel before it.
int32_t edgeThreshold(const std::vector<int32_t>& power);

// The shift that makes the mean of the 17 static features over the speech frames equal the
// normaliser's targets (180 for feature 0, 128 for the others), i.e. the normaliser the channel
// settles on after many utterances minus the one the frames were computed with. Returns the
// number of speech frames used (0: shift all zero).
int normaliserShift(const std::vector<std::vector<Frame>>& utterances, int32_t shift[kStaticFeatures]);
// Adds shift to the static features of the frames (clamped to 16 bits).
void applyShift(std::vector<Frame>& frames, const int32_t shift[kStaticFeatures]);

// The re-alignment loop's stop rule: stop when the average frame cost improved by less than
// relativeGain of the previous value, got worse, or maxIterations were run.
class Convergence {
 public:
  Convergence(double relativeGain, int maxIterations)
      : gain(relativeGain), limit(maxIterations) {}
  // Records the average cost of one iteration; returns 1 to go on, 0 to stop.
  int next(double averageCost);
  int iterations() const { return static_cast<int>(history.size()); }
  const std::vector<double>& costs() const { return history; }
  // Why the loop stopped ("converged", "worse", "limit"), or "" while running.
  const char* reason() const { return why; }

 private:
  double gain;
  int limit;
  std::vector<double> history;
  const char* why = "";
};

}  // namespace train
}  // namespace vlm
