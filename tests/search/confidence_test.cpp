// The phone-loop ratio and the confidence figure made from it.
#include <gtest/gtest.h>

#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
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

TEST(Confidence, TheFreePhoneLoopSeparatesAFittingHypothesisFromAForcedOne) {
  const int ref = 10000, frames = 100;
  // the same ratio; the fitting hypothesis costs no more than free phones, the forced one 2 a frame
  const double fits = resultConfidence(ref, 5500, 5500, frames);
  const double forced = resultConfidence(ref, 5500, 5300, frames);
  EXPECT_GT(fits, forced);
  EXPECT_LT(forced, 0.1);
  double previous = 2;
  for (int phone = 5600; phone >= 4000; phone -= 100) {
    const double c = resultConfidence(ref, 5500, phone, frames);
    EXPECT_GE(c, 0.0);
    EXPECT_LE(c, 1.0);
    EXPECT_LE(c, previous) << phone;
    previous = c;
  }
  // without the phone loop: the ratio alone; without a phone-loop score: 1
  EXPECT_DOUBLE_EQ(resultConfidence(ref, 5500), resultConfidence(ref, 5500, -1, frames));
  EXPECT_DOUBLE_EQ(1.0, resultConfidence(0, 5500, 5000, frames));
}

TEST(Confidence, PhoneLoopRuleIsAddedOnceAndRefusesATakenName) {
  WordDictionary words(400);
  RuleDictionary rules(16);
  const int rule = addPhoneLoopRule(&words, &rules);
  ASSERT_GE(rule, 2);
  EXPECT_STREQ(kPhoneLoopRuleName, rules.nameOf(rule));
  EXPECT_EQ(rule, addPhoneLoopRule(&words, &rules));
  const WordData* w = words.getWordData("phx1");
  ASSERT_NE(nullptr, w);
  EXPECT_STREQ("E", w->pron);   // one phone per word
  // a dictionary that uses a phone word's name for a word of its own
  WordDictionary taken(400);
  RuleDictionary other(16);
  taken.addWordIfNew("phx3", "kol");
  EXPECT_EQ(-1, addPhoneLoopRule(&taken, &other));
  EXPECT_EQ(nullptr, other.getRuleData(kPhoneLoopRuleName));
}

}  // namespace
