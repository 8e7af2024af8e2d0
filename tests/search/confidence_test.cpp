// The phone-loop ratio and the confidence figure made from it.
#include <gtest/gtest.h>

#include "search/confidence.h"

namespace {

using namespace vlm;

TEST(Confidence, PhoneLoopRatioIsSignedAndNeedsAPhoneLoopScore) {
  const struct {
    int ref, best;
    int applies, ratio;
  } cases[] = {
      {0, 500, 0, 0},              // no phone-loop score: no ratio
      {1000, 1400, 1, 80},         // 40 % above the phone loop
      {1000, 1401, 1, 80},         // whole numbers, rounded toward zero
      {1000, 1000, 1, 0},
      {1000, 700, 1, -60},         // below the phone loop: a good fit
      {5683, 3809, 1, -65},
      {20000000, 30000000, 1, 100},  // 64-bit product: no overflow
  };
  for (const auto& c : cases) {
    int ratio = 12345;
    EXPECT_EQ(c.applies, phoneLoopRatio(c.ref, c.best, &ratio)) << c.ref << " " << c.best;
    EXPECT_EQ(c.applies ? c.ratio : 12345, ratio) << c.ref << " " << c.best;
  }
}

TEST(Confidence, FallsFromOneToZeroAsTheScoreRisesAboveThePhoneLoop) {
  EXPECT_DOUBLE_EQ(1.0, resultConfidence(0, 4000));
  // half way at the calibrated midpoint
  const int ref = 100000;
  const int atMidpoint = ref + static_cast<int>(kConfidenceMidpoint * ref / 200);
  EXPECT_NEAR(0.5, resultConfidence(ref, atMidpoint), 0.15);   // the ratio is a whole number
  double previous = 2;
  for (int best = ref / 2; best <= ref * 2; best += ref / 20) {
    const double c = resultConfidence(ref, best);
    EXPECT_GE(c, 0.0);
    EXPECT_LE(c, 1.0);
    EXPECT_LE(c, previous) << best;
    previous = c;
  }
  EXPECT_GT(resultConfidence(ref, ref / 2), 0.9);
  EXPECT_LT(resultConfidence(ref, ref * 2), 0.1);
}

}  // namespace
