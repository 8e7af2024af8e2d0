// The warp-bin estimate: the level-peak finder, the histogram of a "tea" repetition and the
// choice of the bin from the estimates of a calibration.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "models/warpbin.h"

namespace {

using namespace vlm;

// Smooth bumps (Gaussian, sigma 2) over a small slope so that no two sums are equal.
std::vector<double> bumps(std::initializer_list<std::pair<int, double>> peaks) {
  std::vector<double> x(kLevelSpectrumBins);
  for (int i = 0; i < kLevelSpectrumBins; i++) {
    x[i] = 0.01 * (kLevelSpectrumBins - i);
    for (auto& p : peaks) x[i] += p.second * std::exp(-(i - p.first) * (i - p.first) / 8.0);
  }
  return x;
}

TEST(WarpBin, LevelPeaks) {
  struct Case {
    std::vector<double> x;
    int low, high, third;
  };
  const Case cases[] = {
      // Maximum lowest: the next peaks above it become high and third.
      {bumps({{20, 100}, {45, 80}, {70, 60}}), 20, 45, 70},
      // Maximum in the middle (at least 15): a lower peak becomes low, the maximum high.
      {bumps({{60, 100}, {30, 80}, {75, 60}}), 30, 60, 75},
      // A peak between low and high, close enough in level to high: high moves down to it.
      {bumps({{20, 100}, {60, 50}, {45, 48}}), 20, 45, 60},
      // A lower peak far weaker than low is not taken; only the maximum and one more remain.
      {bumps({{40, 100}, {70, 60}, {10, 2}}), 40, 70, 0},
  };
  for (const Case& c : cases) {
    const LevelPeaks p = findLevelPeaks(c.x.data(), kLevelSpectrumBins);
    EXPECT_EQ(p.low, c.low);
    EXPECT_EQ(p.high, c.high);
    EXPECT_EQ(p.third, c.third);
  }
  // A lower second peak becomes low only when the maximum lies at 15 or above.
  const std::vector<double> lowMax = bumps({{14, 100}, {6, 90}});
  const LevelPeaks below = findLevelPeaks(lowMax.data(), kLevelSpectrumBins);
  EXPECT_EQ(below.low, 14);
  EXPECT_EQ(below.high, 0);
  const std::vector<double> highMax = bumps({{16, 100}, {8, 90}});
  const LevelPeaks above = findLevelPeaks(highMax.data(), kLevelSpectrumBins);
  EXPECT_EQ(above.low, 8);
  EXPECT_EQ(above.high, 16);
  EXPECT_EQ(findLevelPeaks(lowMax.data(), 50).low, 0);   // too short: no peaks
}

TEST(WarpBin, HistogramOfSpeechBlocksAndItsEstimate) {
  WarpBinHistogram h;
  EXPECT_EQ(h.estimate(), 0);   // nothing counted: no estimate
  const std::vector<double> block = bumps({{20, 100}, {45, 80}, {70, 60}});
  for (int i = 0; i < 10; i++) h.addBlock(const_cast<double*>(block.data()), kLevelSpectrumBins, 1);
  for (int i = 0; i < 5; i++) h.addBlock(const_cast<double*>(block.data()), kLevelSpectrumBins, 0);
  EXPECT_EQ(h.blocks, 10);
  EXPECT_EQ(h.bins[20], 10);
  EXPECT_EQ(h.bins[45], 10);
  EXPECT_EQ(h.bins[70], 10);
  int scaled[kLevelSpectrumBins];
  ASSERT_EQ(h.scaled(scaled), 1);
  EXPECT_EQ(scaled[45], 400);

  // A smooth histogram: peaks 25, 52, 75; the estimate is the first at least 40.
  struct Case {
    std::vector<double> shape;
    int estimate;
  };
  const Case cases[] = {
      {bumps({{25, 100}, {52, 70}, {75, 40}}), 52},
      {bumps({{44, 100}, {62, 70}, {75, 40}}), 44},
  };
  for (const Case& c : cases) {
    WarpBinHistogram s;
    for (int i = 1; i < kLevelSpectrumBins; i++) s.bins[i] = static_cast<int>(c.shape[i] * 10);
    EXPECT_EQ(s.estimate(), c.estimate);
  }
  EXPECT_FALSE(isWarpEstimateValid(40));
  EXPECT_TRUE(isWarpEstimateValid(41));
  EXPECT_TRUE(isWarpEstimateValid(79));
  EXPECT_FALSE(isWarpEstimateValid(80));
}

TEST(WarpBin, CollectorHookFeedsTheHistogram) {
  WarpBinHistogram h;
  std::vector<double> block = bumps({{20, 100}, {45, 80}, {70, 60}});
  warpBinDisplayHook(block.data(), kLevelSpectrumBins, 1);   // no collector: ignored
  setWarpBinCollector(&h);
  warpBinDisplayHook(block.data(), kLevelSpectrumBins, 1);
  setWarpBinCollector(nullptr);
  warpBinDisplayHook(block.data(), kLevelSpectrumBins, 1);
  EXPECT_EQ(h.blocks, 1);
}

TEST(WarpBin, ChoiceOfTheBin) {
  struct Case {
    std::vector<int> estimates;
    int bin;
  };
  const Case cases[] = {
      {{}, 58},
      {{50, 60, 70}, 59},          // 50 and 70 dropped; (60 + 58) / 2 + 0.5
      {{60}, 59},
      {{50}, 54},                  // mean below 58: (58 + 50) / 2 + 0.5
      {{45, 50, 70, 52}, 55},      // 45 and 70 dropped; (116 + 102) / 4 + 0.5
      {{70, 70, 60, 60}, 63},      // first 60 and first 70 dropped; (130 + 58) / 3 + 0.5
      {{62, 66}, 62},              // two estimates: none dropped; (128 + 58) / 3 + 0.5
  };
  for (const Case& c : cases)
    EXPECT_EQ(chooseWarpBin(c.estimates.data(), static_cast<int>(c.estimates.size())), c.bin);
}

}  // namespace
