// The speaker's warp bin from repetitions of the calibration prompt "tea": the level-peak finder
// run on every speech block's log spectrum and again on the histogram of those peaks, the
// estimate of one repetition, and the choice of the bin from all estimates at the end of
// calibration. Shared by the enrollment program and the console tools. See docs/adaptation.md.
#pragma once

namespace vlm {

constexpr int kLevelSpectrumBins = 128;   // the display hook's log spectrum
constexpr int kWarpEstimateLow = 40;    // an estimate must lie strictly between these
constexpr int kWarpEstimateHigh = 80;
constexpr int kHistogramScale = 1200;   // bins 1..127 are scaled to this total

// The three level peaks of x[0..n-1] (n at least 93: the five-bin sums run over bins 3..90).
// A value of 0 means no peak.
struct LevelPeaks {
  int low = 0;
  int high = 0;
  int third = 0;
};
LevelPeaks findLevelPeaks(const double* x, int n);
LevelPeaks findLevelPeaks(const int* x, int n);

// The histogram of one "tea" repetition.
class WarpBinHistogram {
 public:
  WarpBinHistogram() { clear(); }
  void clear();
  // One analysed block: the 128-value log spectrum and the speech flag. Blocks without speech
  // are not counted; each of a speech block's three peaks is counted in its bin (0: none).
  void addBlock(const double* spectrum, int count, int speech);
  // The estimate: the histogram scaled (bin 0 cleared, bins 1..127 to a total of 1200), its
  // three peaks, the first of them that is at least 40. 0 when there is none or the histogram
  // holds no block with a peak.
  int estimate() const;
  // The scaled histogram (what estimate looks at); 0 when it is empty.
  int scaled(int out[kLevelSpectrumBins]) const;

  int bins[kLevelSpectrumBins];
  int blocks;   // speech blocks counted
};

// 1 when an estimate is usable (above 40 and below 80).
inline int isWarpEstimateValid(int estimate) {
  return estimate > kWarpEstimateLow && estimate < kWarpEstimateHigh;
}

// The warp bin from the estimates gathered during calibration: 58 without any; with more than
// two, the first smallest and then the first largest are dropped; then with n estimates of sum s
// and integer mean m = s / n: trunc((58 n + s) / (2 n) + 0.5) when m < 58, else
// trunc((s + 58) / (n + 1) + 0.5).
int chooseWarpBin(const int* estimates, int count);

// The channel display hook that feeds a histogram: while a collector is set, every block the
// channel analyses goes to its addBlock. The hook has no context argument, so the collector is
// process-wide (one channel analyses at a time).
void setWarpBinCollector(WarpBinHistogram* histogram);   // null stops collecting
WarpBinHistogram* warpBinCollector();
void warpBinDisplayHook(double* spectrum, int count, int speech);

}  // namespace vlm
