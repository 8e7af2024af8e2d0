// The model trainer's estimation steps (see trainer.h).
#define VLM_UNIT "train"
#include "tools/train/trainer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/frontend.h"
#include "models/user.h"

namespace vlm {
namespace train {

namespace {

int16_t clamp16(long v) { return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }

// Rounds half away from zero.
long nearest(double x) { return static_cast<long>(x < 0 ? x - 0.5 : x + 0.5); }

// The group of a phone's state role: 0 first, 1 last, 2 middle (three-group phones store their
// groups first, last, middle); -1 when the phone has no such role.
int groupOf(char phone, int role) {
  const int groups = kPhoneGroupCount[static_cast<unsigned char>(phone)];
  if (groups == 0 || role >= groups) return -1;
  return kPhoneFirstPel[static_cast<unsigned char>(phone)] / kPelsPerGroup + role;
}

// Phones whose sound is close enough to stand in for a phone that no training text has: the
// velar and dental variants (K, +) of the plain stops, the syllabic consonants and their plain
// forms, r-coloured vowels, the short unstressed vowels and the glide-like vowels.
const char* const kRelatedPhones[][2] = {
    {"K", "k"}, {"+", "t"}, {"c", ":"}, {":", "i"}, {"M", "m"}, {"L", "l"}, {"N", "n"},
    {"P", "R"}, {"R", "P"}, {"Y", "E"}, {"0", "O"}, {"8", "U"}, {"Z", "S"}, {"~", "n"},
    {"a", "e"}, {"c", "i"}, {"?", "o"}, {"u", "@"}, {"@", "u"},
};

}  // namespace

int templateOf(const std::vector<const Frame*>& frames, Estimator estimator,
               int16_t out[kFrameFeatures]) {
  const size_t n = frames.size();
  if (n == 0) {
    std::memset(out, 0, sizeof(int16_t) * kFrameFeatures);
    return 0;
  }
  std::vector<int> values(n);
  for (int k = 0; k < kFrameFeatures; ++k) {
    if (estimator == Estimator::eMean) {
      double sum = 0;
      for (const Frame* f : frames) sum += f->features[k];
      out[k] = clamp16(nearest(sum / static_cast<double>(n)));
      continue;
    }
    for (size_t i = 0; i < n; ++i) values[i] = frames[i]->features[k];
    const size_t mid = n / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(mid), values.end());
    const int upper = values[mid];
    if (n % 2 == 1) {
      out[k] = clamp16(upper);
    } else {
      const int lower = *std::max_element(values.begin(), values.begin() + static_cast<long>(mid));
      out[k] = clamp16(nearest((lower + upper) / 2.0));
    }
  }
  return 1;
}

int relatedGroup(int group) {
  if (group <= 0 || group >= kPelGroupCount) return -1;
  const char phone = kGroupPhone[group];
  const int role = group - kPhoneFirstPel[static_cast<unsigned char>(phone)] / kPelsPerGroup;
  for (const auto& pair : kRelatedPhones) {
    if (pair[0][0] != phone) continue;
    const char other = pair[1][0];
    int g = groupOf(other, role);
    if (g < 0 && role == 2) g = groupOf(other, 1);   // a middle state: the other's last state
    if (g < 0 && role == 1 && kPhoneGroupCount[static_cast<unsigned char>(other)] == 1) g = -1;
    if (g >= 0) return g;
  }
  return -1;
}

void estimateModels(const StateFrames& perState, int minFrames, Estimator estimator, User& user,
                    EstimateReport* report, int shrinkFrames) {
  EstimateReport local;
  EstimateReport& r = report ? *report : local;
  r = EstimateReport{};
  r.framesPerState.assign(kPelCount, 0);
  if (minFrames < 1) minFrames = 1;

  // Silence: pel 0 only.
  for (int s = 0; s < kPelsPerGroup; ++s) r.framesPerState[s] = static_cast<int>(perState[s].size());
  int16_t silence[kFrameFeatures];
  templateOf(perState[0], estimator, silence);

  // All speech frames, for the last fallback.
  std::vector<const Frame*> speech;
  for (int s = kPelsPerGroup; s < kPelCount; ++s)
    speech.insert(speech.end(), perState[s].begin(), perState[s].end());
  int16_t speechTemplate[kFrameFeatures];
  templateOf(speech, estimator, speechTemplate);

  // Pass 1: own templates and group templates.
  std::vector<char> groupUsable(kPelGroupCount, 0);
  for (int g = 1; g < kPelGroupCount; ++g) {
    std::vector<const Frame*> pooled;
    for (int c = 0; c < kPelsPerGroup; ++c) {
      const auto& list = perState[g * kPelsPerGroup + c];
      pooled.insert(pooled.end(), list.begin(), list.end());
    }
    int16_t groupTemplate[kFrameFeatures];
    const bool usable = static_cast<int>(pooled.size()) >= minFrames;
    if (usable) templateOf(pooled, estimator, groupTemplate);
    groupUsable[g] = usable;
    for (int c = 0; c < kPelsPerGroup; ++c) {
      const int s = g * kPelsPerGroup + c;
      r.framesPerState[s] = static_cast<int>(perState[s].size());
      if (static_cast<int>(perState[s].size()) >= minFrames) {
        templateOf(perState[s], estimator, user.models[s]);
        if (shrinkFrames > 0 && usable) {
          // Drawn towards the group's template as if the group had given shrinkFrames frames.
          const double n = static_cast<double>(perState[s].size());
          for (int k = 0; k < kFrameFeatures; ++k)
            user.models[s][k] = clamp16(nearest((n * user.models[s][k] + shrinkFrames * groupTemplate[k]) /
                                                (n + shrinkFrames)));
        }
        r.source[s] = Source::eOwn;
        ++r.own;
      } else if (usable) {
        std::memcpy(user.models[s], groupTemplate, sizeof groupTemplate);
        r.source[s] = Source::eGroup;
        ++r.group;
      } else {
        r.source[s] = Source::eSpeech;   // settled in pass 2
      }
    }
  }
  // Pass 2: groups without frames borrow from a related group, or take the speech template.
  for (int g = 1; g < kPelGroupCount; ++g) {
    if (groupUsable[g]) continue;
    const int other = relatedGroup(g);
    const bool borrow = other > 0 && groupUsable[other];
    for (int c = 0; c < kPelsPerGroup; ++c) {
      const int s = g * kPelsPerGroup + c;
      if (borrow) {
        std::memcpy(user.models[s], user.models[other * kPelsPerGroup + c], sizeof(int16_t) * kFrameFeatures);
        r.source[s] = Source::eRelated;
        ++r.related;
      } else {
        std::memcpy(user.models[s], speechTemplate, sizeof speechTemplate);
        r.source[s] = Source::eSpeech;
        ++r.speech;
      }
    }
  }
  for (int s = 0; s < kPelsPerGroup; ++s) {
    if (s == kSettingsState || s == kChannelStoreState) {
      r.source[s] = Source::eSettings;
      continue;
    }
    std::memcpy(user.models[s], silence, sizeof silence);
    r.source[s] = Source::eSilence;
  }
  user.initGenericModels();
}

std::vector<int> directRoute(const std::vector<ChainNodeView>& nodes) {
  std::vector<int> route;
  if (nodes.empty()) return route;
  const int last = static_cast<int>(nodes.size()) - 1;
  int i = 0;
  route.push_back(0);
  while (i != last) {
    const ChainNodeView& n = nodes[static_cast<size_t>(i)];
    if (n.successorCount <= 0) return {};
    int next = n.successors[0];
    // Between words, prefer the successor that is not a silence node (unless it is the end).
    if (n.successorCount == 2) {
      const int a = n.successors[0], b = n.successors[1];
      const bool aSil = nodes[static_cast<size_t>(a)].pel == 0 && a != last;
      next = aSil ? b : a;
    }
    if (next <= i) return {};
    i = next;
    route.push_back(i);
  }
  return route;
}

int32_t speechThreshold(const std::vector<int32_t>& power) {
  if (power.empty()) return 0;
  const auto [lo, hi] = std::minmax_element(power.begin(), power.end());
  return (6 * *hi + *lo) >> 3;
}

int32_t edgeThreshold(const std::vector<int32_t>& power) {
  if (power.empty()) return 0;
  const auto [lo, hi] = std::minmax_element(power.begin(), power.end());
  return *lo + ((*hi - *lo) >> 3);
}

std::vector<int> flatStart(const std::vector<int32_t>& power, int32_t threshold, int routeLength) {
  const int n = static_cast<int>(power.size());
  const int inner = routeLength - 2;
  if (inner < 1 || n < 1) return {};
  int first = -1, last = -1;
  for (int t = 0; t < n; ++t)
    if (power[static_cast<size_t>(t)] > threshold) {
      if (first < 0) first = t;
      last = t;
    }
  if (first < 0) return {};
  // Keep at least one frame for each silence at the ends.
  if (first == 0) first = 1;
  if (last == n - 1) last = n - 2;
  const int speech = last - first + 1;
  if (speech < inner) return {};
  std::vector<int> out(static_cast<size_t>(n));
  for (int t = 0; t < n; ++t) {
    if (t < first) out[static_cast<size_t>(t)] = 0;
    else if (t > last) out[static_cast<size_t>(t)] = routeLength - 1;
    else out[static_cast<size_t>(t)] = 1 + static_cast<int>(static_cast<long>(t - first) * inner / speech);
  }
  return out;
}

int normaliserShift(const std::vector<std::vector<Frame>>& utterances, int32_t shift[kStaticFeatures]) {
  double sum[kStaticFeatures] = {};
  long count = 0;
  for (const auto& frames : utterances) {
    std::vector<int32_t> power;
    power.reserve(frames.size());
    for (const Frame& f : frames) power.push_back(f.power);
    const int32_t threshold = speechThreshold(power);
    for (const Frame& f : frames) {
      if (f.power <= threshold) continue;
      for (int i = 0; i < kStaticFeatures; ++i) sum[i] += f.features[i];
      ++count;
    }
  }
  for (int i = 0; i < kStaticFeatures; ++i) {
    const double target = i == 0 ? 180.0 : 128.0;
    shift[i] = count ? static_cast<int32_t>(nearest(target - sum[i] / static_cast<double>(count))) : 0;
  }
  return static_cast<int>(count);
}

void applyShift(std::vector<Frame>& frames, const int32_t shift[kStaticFeatures]) {
  for (Frame& f : frames)
    for (int i = 0; i < kStaticFeatures; ++i) f.features[i] = clamp16(static_cast<long>(f.features[i]) + shift[i]);
}

namespace {

// How the distance changes in feature k as the template value m moves up by one unit, for the
// frame value f (features 1-3 and 10-33 count |m - f|, 4-9 (d x (d + 106)) >> 7).
double distanceSlope(int k, int m, int f) {
  const int d = m - f;
  const int sign = d > 0 ? 1 : d < 0 ? -1 : 0;
  if (k >= 4 && k <= 9) return sign * (2.0 * std::abs(d) + 106.0) / 128.0;
  return sign;
}

}  // namespace

RivalPassReport rivalPass(const std::vector<RivalPair>& pairs, const std::vector<char>& own,
                          const RivalOptions& options, User& user) {
  RivalPassReport report;
  std::vector<double> move(static_cast<size_t>(kPelCount) * kFrameFeatures, 0.0);
  std::vector<double> count(kPelCount, 0.0);
  std::vector<short> right, rival;
  const AlignChain* lastRight = nullptr;
  long rightCost = -1;
  for (const RivalPair& p : pairs) {
    const int n = p.count;
    if (!p.right || !p.rival || n < p.right->minimumFrames() || n < p.rival->minimumFrames()) continue;
    // Pairs of one utterance come together: its own alignment is made once.
    if (p.right != lastRight) {
      right.assign(static_cast<size_t>(n), 0);
      rightCost = p.right->viterbi(p.frames, n, &user, right.data());
      lastRight = p.right;
    }
    rival.assign(static_cast<size_t>(n), 0);
    const long rivalCost = p.rival->viterbi(p.frames, n, &user, rival.data());
    if (rightCost < 0 || rivalCost < 0) continue;
    ++report.pairs;
    if (rivalCost < rightCost) ++report.lost;
    const double l = 1.0 / (1.0 + std::exp(-static_cast<double>(rightCost - rivalCost) / options.width));
    const double w = 4.0 * l * (1.0 - l);
    report.weight += w;
    if (w < 1e-3) continue;   // won or lost by far: nothing to learn
    for (int t = 0; t < n; ++t) {
      const int a = right[static_cast<size_t>(t)], b = rival[static_cast<size_t>(t)];
      if (a == b) continue;
      const int16_t* f = p.frames[t].features;
      if (own[static_cast<size_t>(a)]) {
        count[static_cast<size_t>(a)] += 1;
        double* m = &move[static_cast<size_t>(a) * kFrameFeatures];
        for (int k = 1; k < kFrameFeatures; ++k) m[k] -= w * distanceSlope(k, user.models[a][k], f[k]);
      }
      if (own[static_cast<size_t>(b)]) {
        count[static_cast<size_t>(b)] += 1;
        double* m = &move[static_cast<size_t>(b) * kFrameFeatures];
        for (int k = 1; k < kFrameFeatures; ++k) m[k] += w * distanceSlope(k, user.models[b][k], f[k]);
      }
    }
  }
  for (int s = kPelsPerGroup; s < kPelCount; ++s) {
    const double c = count[static_cast<size_t>(s)];
    if (c <= 0) continue;
    for (int k = 1; k < kFrameFeatures; ++k) {
      const double m = move[static_cast<size_t>(s) * kFrameFeatures + static_cast<size_t>(k)] / (c + options.smooth);
      const long d = nearest(std::max(-1.0, std::min(1.0, m)) * options.step);
      if (d == 0) continue;
      user.models[s][k] = clamp16(static_cast<long>(user.models[s][k]) + d);
      ++report.moved;
    }
  }
  user.initGenericModels();
  return report;
}

int Convergence::next(double averageCost) {
  const bool first = history.empty();
  const double previous = first ? 0.0 : history.back();
  history.push_back(averageCost);
  if (!first && averageCost > previous) {
    why = "worse";
    return 0;
  }
  if (!first && previous - averageCost < gain * previous) {
    why = "converged";
    return 0;
  }
  if (static_cast<int>(history.size()) >= limit) {
    why = "limit";
    return 0;
  }
  return 1;
}

}  // namespace train
}  // namespace vlm
