#define VLM_UNIT "adapt"
#include "models/adapt.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include "audio/utterance.h"
#include "foundation/filepath.h"
#include "foundation/log.h"
#include "grammar/fsg.h"
#include "models/alignchain.h"
#include "models/user.h"

namespace vlm {

const double kFrameWeights[kFrameWeightCount] = {
    1.0,      0.882497, 0.778801, 0.687289, 0.606531, 0.535261, 0.472367, 0.416862,
    0.367879, 0.324652, 0.286505, 0.25284,  0.22313,  0.196912, 0.173774, 0.153355};

const double kLogAddTable[kLogAddCount] = {
    5.545177, 5.060792, 4.607515, 4.184986, 3.792616, 3.429605, 3.094968, 2.787557,
    2.506094, 2.249201, 2.015433, 1.803301, 1.611306, 1.437957, 1.281793, 1.141400,
    1.015424, 0.902578, 0.801652, 0.711516, 0.631118, 0.559490, 0.495741, 0.439057,
    0.388699, 0.343993, 0.304331, 0.269166, 0.238003, 0.210402, 0.185964, 0.164335,
    0.145199, 0.128274, 0.113308, 0.100077, 0.088382, 0.078047, 0.068916, 0.060849,
};

namespace {

constexpr std::size_t kAccumArenaBlock = 32768;
constexpr double kFullStep = 0.6, kFullSumDecay = 0.24, kFullWeightDecay = 0.6;
constexpr double kIncStep = 0.19, kIncSumDecay = 0.83, kIncWeightDecay = 0.93;
constexpr double kIncLimit = 100.0;

// Rounds half away from zero.
inline int nearest(double x) { return static_cast<int>(x < 0 ? x - 0.5 : x + 0.5); }

inline int16_t add16(int16_t value, int step) { return static_cast<int16_t>(value + step); }

void resetAccum(AdaptAccum* a, int pel, int touched, double weight) {
  a->next = nullptr;
  a->pel = static_cast<int16_t>(pel);
  a->touched = static_cast<int16_t>(touched);
  for (double& s : a->sums) s = 0.0;
  a->weight = weight;
}

}  // namespace

int adaptAccumCmp(const SLinkBase* a, const SLinkBase* b) {
  return static_cast<const AdaptAccum*>(a)->pel - static_cast<const AdaptAccum*>(b)->pel;
}

unsigned adaptAccumHash(const SLinkBase* a) {
  return static_cast<unsigned>(static_cast<const AdaptAccum*>(a)->pel);
}

AdaptAccumHS::AdaptAccumHS(int withScatter)
    : HS<AdaptAccum>(kBuckets, kBuckets, adaptAccumCmp, adaptAccumHash), arena(kAccumArenaBlock) {
  for (int g = 0; g < kPelGroupCount; g++) resetAccum(&groups[g], g, 0, AdaptAccum::kGroupPriorWeight);
  if (withScatter) {
    scatter = new double[kFrameFeatures * kFrameFeatures];
    for (int i = 0; i < kFrameFeatures * kFrameFeatures; i++) scatter[i] = 0.0;
  }
}

AdaptAccumHS::~AdaptAccumHS() {
  removeAll();   // the records live in the arena
  delete[] scatter;
}

AdaptAccum* AdaptAccumHS::findAccum(short state) const {
  AdaptAccum key;
  key.pel = state;
  return find(&key);
}

AdaptAccum* AdaptAccumHS::getAccum(short state) {
  VLM_ASSERT(state >= 0 && state < kPelCount, "state >= 0 && state < NUM_PELS");
  if (state < 0 || state >= kPelCount) return nullptr;
  AdaptAccum* a = findAccum(state);
  if (a) return a;
  a = static_cast<AdaptAccum*>(arena.allocate(sizeof(AdaptAccum)));
  if (a == nullptr) return nullptr;
  new (a) AdaptAccum;
  resetAccum(a, state, -1, AdaptAccum::kPriorWeight);
  return add(a);
}

int AdaptAccumHS::recordFrames(int count, const Frame* frames, const int* classes, User* user,
                               short state, void* log, int firstIndex) {
  if (user == nullptr || frames == nullptr || classes == nullptr || count <= 0) return 0;
  AdaptAccum* a = getAccum(state);
  if (a == nullptr) return 0;
  const int group = state / kPelsPerGroup;
  AdaptAccum* g = &groups[group];
  const int16_t* m = user->models[state];
  const int16_t* gm = user->genericModels[group];

  const int altFirst = User::alternativeGroupState[group];
  AdaptAccum* a2 = nullptr;
  AdaptAccum* g2 = nullptr;
  const int16_t* m2 = nullptr;
  const int16_t* gm2 = nullptr;
  short altState = -1;
  if (altFirst >= 0) {
    altState = static_cast<short>(altFirst + state % kPelsPerGroup);
    a2 = getAccum(altState);
    g2 = &groups[altState / kPelsPerGroup];
    m2 = user->models[altState];
    gm2 = user->genericModels[altState / kPelsPerGroup];
  }
  FILE* out = static_cast<FILE*>(log);
  int recorded = 0;
  for (int i = 0; i < count; i++) {
    const int cls = classes[i];
    if (cls < 0 || cls >= kFrameWeightCount) continue;
    const double w = kFrameWeights[cls];
    const int16_t* f = frames[i].features;
    AdaptAccum* ca = a;
    AdaptAccum* cg = g;
    const int16_t* cm = m;
    const int16_t* cgm = gm;
    short chosen = state;
    if (a2 != nullptr && count > 1 && User::rudePelScore(m2, f) < User::rudePelScore(m, f)) {
      ca = a2;
      cg = g2;
      cm = m2;
      cgm = gm2;
      chosen = altState;
    }
    ca->touched = 1;
    cg->touched = 1;
    ca->weight += w;
    cg->weight += w;
    for (int j = 0; j < kFrameFeatures; j++) {
      ca->sums[j] += (f[j] - cm[j]) * w;
      cg->sums[j] += (f[j] - cgm[j]) * w;
    }
    if (scatter) {
      int d[kFrameFeatures];
      for (int j = 0; j < kFrameFeatures; j++) d[j] = f[j] - cm[j];
      for (int j = 0; j < kFrameFeatures; j++)
        for (int k = 0; k <= j; k++) scatter[j * kFrameFeatures + k] += w * d[j] * d[k];
      scatterWeight += w;
    }
    if (out) std::fprintf(out, "%d %d %d\n", firstIndex + i, cls, chosen);
    recorded++;
  }
  return recorded;
}

void AdaptAccumHS::updateUser(User* user, int incremental) {
  if (user == nullptr) return;
  for (SLinkBase** c = first(); c != nullptr; c = next(c)) {
    AdaptAccum* a = at(c);
    if (a->touched <= 0) continue;
    a->touched = 0;
    if (a->weight > 0) {
      int16_t* m = user->models[a->pel];
      if (!incremental) {
        for (int j = 0; j < kFrameFeatures; j++) {
          m[j] = add16(m[j], nearest(a->sums[j] / a->weight * kFullStep));
          a->sums[j] *= kFullSumDecay;
        }
        a->weight *= kFullWeightDecay;
      } else {
        int tooFar = 0;
        for (int j = 0; j < kFrameFeatures; j++)
          if (std::fabs(a->sums[j] / a->weight * kIncStep) > kIncLimit) tooFar = 1;
        if (tooFar) {
          // Evidence this far from the template is not trusted: drop it and end the pass.
          for (double& s : a->sums) s = 0.0;
          a->weight = AdaptAccum::kPriorWeight;
          return;
        }
        for (int j = 0; j < kFrameFeatures; j++) {
          m[j] = add16(m[j], nearest(a->sums[j] / a->weight * kIncStep));
          a->sums[j] *= kIncSumDecay;
        }
        a->weight *= kIncWeightDecay;
      }
    }
    AdaptAccum* g = &groups[a->pel / kPelsPerGroup];
    if (g->touched > 0) {
      g->touched = 0;
      if (g->weight > 0) {
        int16_t* gm = user->genericModels[g->pel];
        for (int j = 0; j < kFrameFeatures; j++) {
          gm[j] = add16(gm[j], nearest(g->sums[j] / g->weight));
          g->sums[j] = 0.0;
        }
        g->weight *= 0.5;
      }
    }
  }
  if (!incremental && scatter && scatterWeight > 0) {
    for (int i = 0; i < kFrameFeatures; i++)
      for (int k = 0; k <= i; k++) {
        scatter[i * kFrameFeatures + k] /= scatterWeight;
        scatter[k * kFrameFeatures + i] = scatter[i * kFrameFeatures + k];
      }
    for (int i = 0; i < kFrameFeatures; i++) {
      std::printf("\ncv[%d]:", i);
      for (int k = 0; k < kFrameFeatures; k++) std::printf(" %f,", scatter[i * kFrameFeatures + k]);
      std::printf("\n");
    }
    std::fflush(stdout);
  }
}

void User::cousinsUpdate(AdaptAccumHS* accums) {
  if (accums == nullptr) return;
  User* current = User::usr;
  User* reference = new User;
  const int ok = reference->readFile(catFname2VlmDir("delta.usr"));
  User::usr = current;
  if (!ok) {
    delete reference;
    return;
  }
  for (int group = 1; group < kPelGroupCount; group++) {
    const int first = group * kPelsPerGroup;
    int adapted[kPelsPerGroup];
    int k = 0;
    for (int c = 0; c < kPelsPerGroup; c++) {
      const AdaptAccum* a = accums->findAccum(static_cast<short>(first + c));
      adapted[c] = a != nullptr && a->touched != -1;
      k += adapted[c];
    }
    if (k == 0 || k == kPelsPerGroup) continue;
    for (int j = 0; j < kFrameFeatures; j++) {
      int s = 0;
      for (int c = 0; c < kPelsPerGroup; c++)
        if (adapted[c]) s += models[first + c][j] - reference->models[first + c][j];
      const int shift = (s + k / 2) / k;
      for (int c = 0; c < kPelsPerGroup; c++)
        if (!adapted[c])
          models[first + c][j] = static_cast<int16_t>(reference->models[first + c][j] + shift);
    }
  }
  delete reference;
}

int adaptFrames(User* user, const WordDictionary* dict, const Frame* frames, int n,
                const FSGNodeTypeItemAC* words, AdaptAccumHS* accums, const char* logPath) {
  if (user == nullptr || dict == nullptr || words == nullptr || accums == nullptr) return 0;
  User::usr = user;
  AlignChain chain;
  if (!chain.build(*words, *dict)) return 0;
  if (!chain.forwardBackward(frames, n, user)) return 0;
  FILE* log = nullptr;
  if (logPath) {
    log = std::fopen(logPath, "w");
    if (log == nullptr) logError("Adaptation: cannot create the log file ", logPath);
  }
  int recorded = 0;
  for (int i = 0; i < chain.nodeCount(); i++)
    recorded += accums->recordFrames(n - 2, frames + 1, chain.nodeClasses(i), user,
                                     chain.node(i).pel, log, 1);
  if (log) std::fclose(log);
  return recorded > 0;
}

int adaptUtterance(User* user, const WordDictionary* dict, Utterance* utt,
                   const FSGNodeTypeItemAC* words, AdaptAccumHS* accums, const char* logPath) {
  if (user == nullptr || dict == nullptr || utt == nullptr || words == nullptr || accums == nullptr)
    return 0;
  User::usr = user;
  // Check the word sequence before waiting for the end of the utterance.
  {
    AlignChain check;
    if (!check.build(*words, *dict)) return 0;
  }
  if (!utt->isComplete() && !utt->isAborted()) utt->complete(0);
  if (utt->isAborted()) return 0;
  return adaptFrames(user, dict, utt->frames.begin(), utt->frameCount(), words, accums, logPath);
}

}  // namespace vlm
