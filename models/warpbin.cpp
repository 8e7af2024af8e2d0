#define VLM_UNIT "warpbin"
#include "models/warpbin.h"

#include <algorithm>
#include <cmath>

namespace vlm {

namespace {

constexpr int kFirstSum = 3;      // five-bin sums for bins 3..90
constexpr int kLastSum = 90;
constexpr int kFirstCandidate = 5;
constexpr int kLastCandidate = 82;
constexpr int kMaxEntries = 44;   // entries examined after the maximum
constexpr int kMinSeparation = 3; // candidates lie more than this many bins from earlier peaks
constexpr int kNeutralBin = 58;

struct Entry {
  int bin;
  double sum;
};

template <class T>
LevelPeaks peaks(const T* x, int n) {
  LevelPeaks result;
  if (x == nullptr || n < kLastSum + 3) return result;
  double s[kLastSum + 1] = {};
  Entry entries[kLastSum - kFirstSum + 1];
  int count = 0;
  for (int b = kFirstSum; b <= kLastSum; b++) {
    s[b] = static_cast<double>(x[b - 2]) + x[b - 1] + x[b] + x[b + 1] + x[b + 2];
    entries[count++] = Entry{b, s[b]};
  }
  // Largest sum first; equal sums in bin order.
  std::stable_sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.sum > b.sum; });

  const int maxBin = entries[0].bin;
  int low = maxBin, high = 0, third = 0;
  int accepted[4] = {maxBin};
  int acceptedCount = 1;
  int stage = 4;   // 4: second peak, 5: third peak, 6: refinement
  const int last = std::min(count, 1 + kMaxEntries);
  for (int e = 1; e < last; e++) {
    const int b = entries[e].bin;
    if (b < kFirstCandidate || b > kLastCandidate) continue;
    if (s[b] < s[b - 2] || s[b] < s[b - 1] || s[b] < s[b + 1] || s[b] < s[b + 2]) continue;
    bool near = false;
    for (int k = 0; k < acceptedCount; k++) near |= std::abs(b - accepted[k]) <= kMinSeparation;
    if (near) continue;

    if (stage == 4) {
      if (b >= maxBin) {
        high = b;
      } else if (maxBin >= 15) {
        high = maxBin;
        low = b;
      } else {
        continue;
      }
      accepted[acceptedCount++] = b;
      stage = 5;
      continue;
    }
    // Stages 5 and 6.
    if (b >= low && b >= high) {
      if (stage == 6) break;
      third = b;
    } else if (b >= low) {   // low <= b < high
      if (!(s[high] - s[b] <= (high - low) + 60 && high - low >= 20)) continue;
      third = high;
      high = b;
    } else {                 // b < low
      if (!(s[low] - s[b] <= (low - b) + 70 && low >= 15)) continue;
      third = high;
      high = low;
      low = b;
    }
    if (stage == 6) break;
    if (acceptedCount < 4) accepted[acceptedCount++] = b;
    stage = 6;
  }
  result.low = low;
  result.high = high;
  result.third = third;
  return result;
}

WarpBinHistogram* collector = nullptr;

}  // namespace

LevelPeaks findLevelPeaks(const double* x, int n) { return peaks(x, n); }
LevelPeaks findLevelPeaks(const int* x, int n) { return peaks(x, n); }

void WarpBinHistogram::clear() {
  for (int& b : bins) b = 0;
  blocks = 0;
}

void WarpBinHistogram::addBlock(const double* spectrum, int count, int speech) {
  if (!speech || spectrum == nullptr || count < kLevelSpectrumBins) return;
  const LevelPeaks p = findLevelPeaks(spectrum, count);
  const int found[3] = {p.low, p.high, p.third};
  for (int v : found)
    if (v >= 0 && v < kLevelSpectrumBins) bins[v]++;
  blocks++;
}

int WarpBinHistogram::scaled(int out[kLevelSpectrumBins]) const {
  long total = 0;
  for (int i = 1; i < kLevelSpectrumBins; i++) total += bins[i];
  out[0] = 0;
  for (int i = 1; i < kLevelSpectrumBins; i++)
    out[i] = total > 0 ? static_cast<int>(static_cast<long>(bins[i]) * kHistogramScale / total) : 0;
  return total > 0;
}

int WarpBinHistogram::estimate() const {
  int h[kLevelSpectrumBins];
  if (!scaled(h)) return 0;
  const LevelPeaks p = findLevelPeaks(h, kLevelSpectrumBins);
  if (p.low >= kWarpEstimateLow) return p.low;
  if (p.high >= kWarpEstimateLow) return p.high;
  if (p.third >= kWarpEstimateLow) return p.third;
  return 0;
}

int chooseWarpBin(const int* estimates, int count) {
  if (estimates == nullptr || count <= 0) return kNeutralBin;
  long sum = 0;
  for (int i = 0; i < count; i++) sum += estimates[i];
  int n = count;
  if (count > 2) {
    // Drop the first smallest, then the first largest of the rest.
    int lo = 0;
    for (int i = 1; i < count; i++)
      if (estimates[i] < estimates[lo]) lo = i;
    int hi = -1;
    for (int i = 0; i < count; i++)
      if (i != lo && (hi < 0 || estimates[i] > estimates[hi])) hi = i;
    sum -= estimates[lo] + estimates[hi];
    n -= 2;
  }
  const long mean = sum / n;
  double bin;
  if (mean < kNeutralBin) bin = static_cast<double>(kNeutralBin * n + sum) / (2.0 * n) + 0.5;
  else bin = static_cast<double>(sum + kNeutralBin) / (n + 1) + 0.5;
  return static_cast<int>(bin);
}

void setWarpBinCollector(WarpBinHistogram* histogram) { collector = histogram; }
WarpBinHistogram* warpBinCollector() { return collector; }

void warpBinDisplayHook(double* spectrum, int count, int speech) {
  if (collector) collector->addBlock(spectrum, count, speech);
}

}  // namespace vlm
