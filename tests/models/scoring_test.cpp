// The frame distance, the frame cost with its alternative groups, the generic models, the
// channel store, the phone loop tables and the separated speaker used by search tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/channel.h"
#include "models/distance.h"
#include "models/user.h"
#include "usrguard.h"

namespace {

using namespace vlm;

// The distance written straight from its definition, in 64 bits.
int64_t referenceDistance(const int16_t* m, const int16_t* f) {
  int64_t sum = 0;
  for (int i = 0; i < kFrameFeatures; ++i) {
    const int64_t d = static_cast<int64_t>(m[i]) - f[i];
    const int64_t a = d < 0 ? -d : d;
    if (i == 0) {
      const int64_t p = d * m[0];
      sum += (p < 0 ? -p : p) >> 5;
    } else if (i >= 4 && i <= 9) {
      sum += (a * (a + 106)) >> 7;
    } else {
      sum += a;
    }
  }
  return sum;
}

struct Vec {
  int16_t v[kFrameFeatures] = {};
};

using modelstest::UsrGuard;

TEST(RudePelScore, TermsByHand) {
  struct Case {
    int feature;
    int16_t model;
    int16_t frame;
    int expected;
  };
  const Case cases[] = {
      {0, 180, 170, 56},     // |(180 - 170) * 180| >> 5 = 1800 >> 5
      {0, 180, 190, 56},     // the absolute value of the product
      {0, -180, -170, 56},
      {0, 0, 500, 0},        // the template value weights its own difference
      {0, 31, 30, 0},        // 31 >> 5
      {1, 0, 10, 10},
      {3, 5, -5, 10},
      {4, 0, 10, 9},         // (10 * 116) >> 7 = 1160 >> 7
      {5, 10, 0, 9},
      {9, -3, 7, 9},
      {6, 0, 1, 0},          // (1 * 107) >> 7
      {7, 0, 100, 160},      // (100 * 206) >> 7 = 20600 >> 7
      {10, 0, 10, 10},
      {12, 0, 10, 10},
      {33, 10, 0, 10},
  };
  for (const Case& c : cases) {
    Vec m, f;
    m.v[c.feature] = c.model;
    f.v[c.feature] = c.frame;
    EXPECT_EQ(User::rudePelScore(m.v, f.v), c.expected) << "feature " << c.feature;
  }
}

TEST(RudePelScore, TermsAreSummedEachWithItsOwnShift) {
  Vec m, f;
  m.v[0] = 180; f.v[0] = 170;   // 56
  m.v[2] = 7;                   // 7
  f.v[5] = 10;                  // 9
  f.v[8] = -10;                 // 9
  m.v[20] = -4; f.v[20] = 4;    // 8
  EXPECT_EQ(User::rudePelScore(m.v, f.v), 56 + 7 + 9 + 9 + 8);
  // Identical vectors score 0 whatever their values.
  for (int i = 0; i < kFrameFeatures; ++i) m.v[i] = static_cast<int16_t>(i * 977 - 15000);
  EXPECT_EQ(User::rudePelScore(m.v, m.v), 0);
}

// Every form of the distance (the scorer's choice, the portable one and, where the processor has
// it, the AVX2 one) must agree with the definition over the whole 16-bit range, including the
// extremes where the products need more than 31 bits.
TEST(RudePelScore, EveryFormAgreesWithTheDefinitionOnRandomAndExtremeValues) {
  struct Form {
    const char* name;
    int (*score)(const int16_t*, const int16_t*);
  };
  std::vector<Form> forms = {{"scorer", &User::rudePelScore}, {"portable", &distance::portable}};
#if defined(VLM_DISTANCE_AVX2)
  if (distance::avx2Supported()) forms.push_back({"avx2", &distance::avx2});
#endif
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_int_distribution<int> small(-700, 700);
    const int16_t extremes[] = {-32768, -32767, -1, 0, 1, 32766, 32767};
    for (int round = 0; round < 3000; ++round) {
      Vec m, f;
      for (int i = 0; i < kFrameFeatures; ++i) {
        if (round % 3 == 0) {
          m.v[i] = static_cast<int16_t>(any(rng));
          f.v[i] = static_cast<int16_t>(any(rng));
        } else if (round % 3 == 1) {
          m.v[i] = static_cast<int16_t>(small(rng));
          f.v[i] = static_cast<int16_t>(small(rng));
        } else {
          m.v[i] = extremes[rng() % 7];
          f.v[i] = extremes[rng() % 7];
        }
      }
      const int64_t expected = referenceDistance(m.v, f.v);
      ASSERT_EQ(form.score(m.v, f.v), expected) << "round " << round;
    }
    // The largest possible distance still fits in 32 bits.
    Vec m, f;
    for (int i = 0; i < kFrameFeatures; ++i) { m.v[i] = -32768; f.v[i] = 32767; }
    EXPECT_EQ(form.score(m.v, f.v), referenceDistance(m.v, f.v));
    EXPECT_GT(form.score(m.v, f.v), 0);
  }
}

class PelScorePrim : public ::testing::Test {
 protected:
  void SetUp() override {
    user = std::make_unique<User>();
    User::usr = user.get();
  }
  Frame frameWith(int feature, int16_t value) {
    Frame fr{};
    fr.features[feature] = value;
    return fr;
  }
  UsrGuard guard;
  std::unique_ptr<User> user;
};

TEST_F(PelScorePrim, ScalesTheDistanceToSearchUnits) {
  Frame fr{};
  EXPECT_EQ(User::pelScorePrim(100, &fr), 1);              // (0 + 24) >> 4
  fr = frameWith(12, 100);
  EXPECT_EQ(User::pelScorePrim(100, &fr), 7);              // (100 + 24) >> 4
  fr = frameWith(12, 7);
  EXPECT_EQ(User::pelScorePrim(100, &fr), 1);              // 31 >> 4
  fr = frameWith(12, 8);
  EXPECT_EQ(User::pelScorePrim(100, &fr), 2);              // 32 >> 4
  fr = frameWith(5, 100);
  EXPECT_EQ(User::pelScorePrim(100, &fr), (160 + 24) >> 4);
  // The state's own template is used, not its neighbour's.
  user->models[101][12] = 100;
  fr = frameWith(12, 100);
  EXPECT_EQ(User::pelScorePrim(101, &fr), 1);
  EXPECT_EQ(User::pelScorePrim(100, &fr), 7);
}

TEST_F(PelScorePrim, AlternativeGroupsCountTheBetterOfTwo) {
  struct Pair { int group; int alternative; };
  const Pair pairs[] = {{23, 26}, {25, 27}, {87, 89}, {91, 88}};
  for (const Pair& p : pairs) {
    EXPECT_EQ(User::alternativeGroupState[p.group], p.alternative * 13) << p.group;
    for (int context : {0, 5, 12}) {
      const short state = static_cast<short>(p.group * 13 + context);
      const short alt = static_cast<short>(p.alternative * 13 + context);
      user->models[state][12] = 1000;   // distance 1000 from the frame below
      user->models[alt][12] = 200;      // distance 200
      Frame fr{};
      EXPECT_EQ(User::pelScorePrim(state, &fr), (200 + 24) >> 4) << state;
      // The alternative group itself has no alternative.
      EXPECT_EQ(User::pelScorePrim(alt, &fr), (200 + 24) >> 4) << alt;
      user->models[alt][12] = 3000;     // now the state's own template is better
      EXPECT_EQ(User::pelScorePrim(state, &fr), (1000 + 24) >> 4) << state;
      EXPECT_EQ(User::pelScorePrim(alt, &fr), (3000 + 24) >> 4) << alt;
    }
  }
  int withAlternative = 0;
  for (int g = 0; g < kPelGroupCount; ++g) withAlternative += User::alternativeGroupState[g] >= 0;
  EXPECT_EQ(withAlternative, 4);
  // A group without an alternative ignores every other template: group 24 lies between two
  // groups that have one.
  user->models[24 * 13 + 3][12] = 1000;
  Frame fr{};
  EXPECT_EQ(User::pelScorePrim(24 * 13 + 3, &fr), (1000 + 24) >> 4);
}

TEST_F(PelScorePrim, WithoutASpeakerEveryStateIsUnreachable) {
  Frame fr{};
  User::usr = nullptr;
  EXPECT_EQ(User::pelScorePrim(0, &fr), kUnreachableScore);
  EXPECT_EQ(kUnreachableScore, 200000);
}

TEST(GenericModels, MeanOfEachGroupTruncatedTowardZero) {
  auto user = std::make_unique<User>();
  for (int s = 0; s < kPelCount; ++s) {
    const int g = s / 13, k = s % 13;
    user->models[s][0] = static_cast<int16_t>(g * 10 + k);        // mean g * 10 + 6
    user->models[s][3] = static_cast<int16_t>(k == 0 ? -20 : 0);  // -20 / 13 = -1 (not -2)
    user->models[s][7] = static_cast<int16_t>(k == 0 ? 25 : 0);   // 25 / 13 = 1
    user->models[s][33] = 30000;                                  // a sum beyond 16 bits
    user->models[s][20] = static_cast<int16_t>(k < 7 ? -32768 : 32767);
  }
  user->initGenericModels();
  for (int g = 0; g < kPelGroupCount; ++g) {
    EXPECT_EQ(user->genericModels[g][0], g * 10 + 6) << g;
    EXPECT_EQ(user->genericModels[g][3], -1) << g;
    EXPECT_EQ(user->genericModels[g][7], 1) << g;
    EXPECT_EQ(user->genericModels[g][33], 30000) << g;
    EXPECT_EQ(user->genericModels[g][20], (7 * -32768 + 6 * 32767) / 13) << g;
    EXPECT_EQ(user->genericModels[g][1], 0) << g;
  }
  // Group 0 includes the two settings templates.
  user->vtln = 61;
  user->stampSettings();
  user->models[kChannelStoreState][17] = 1300;
  user->initGenericModels();
  EXPECT_EQ(user->genericModels[0][0], (0 + 32 + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 + 12) / 13);
  EXPECT_EQ(user->genericModels[0][1], 61 / 13);
  EXPECT_EQ(user->genericModels[0][17], 100);
  EXPECT_EQ(user->genericModels[1][17], 0);
}

TEST(ChannelStore, CopiesTheChannelStateAndBack) {
  auto user = std::make_unique<User>();
  auto channel = std::make_unique<StaticWavChannel>();
  int32_t norm[kStaticFeatures];
  for (int i = 0; i < kStaticFeatures; ++i) norm[i] = i * 31 - 250;
  channel->setCepstralNormaliser(norm);
  channel->setDcOffset(-37);
  channel->setNoiseFloor(5000);
  channel->setSpeechPeak(9001);

  user->getChanCepMnDel(channel.get());
  const int16_t* store = user->models[kChannelStoreState];
  for (int i = 0; i < kStaticFeatures; ++i) EXPECT_EQ(store[i], norm[i]) << i;
  EXPECT_EQ(store[17], -37);
  EXPECT_EQ(store[18], 4500);     // 9/10 of the noise floor
  EXPECT_EQ(store[19], 8100);     // 9/10 of the speech peak, truncated (81009 / 10)
  for (int i = 20; i < kFrameFeatures; ++i) EXPECT_EQ(store[i], 0) << i;
  // Only the channel store changes.
  for (int s = 0; s < kPelCount; ++s) {
    if (s == kChannelStoreState) continue;
    for (int i = 0; i < kFrameFeatures; ++i) ASSERT_EQ(user->models[s][i], 0) << s;
  }

  // Into a fresh channel: the normaliser is replaced as a whole and the levels are those stored.
  auto other = std::make_unique<StaticWavChannel>();
  user->setChanCepMnDel(other.get());
  for (int i = 0; i < kStaticFeatures; ++i) EXPECT_EQ(other->cepstralNormaliser()[i], norm[i]) << i;
  EXPECT_EQ(other->dcOffset(), -37);
  EXPECT_EQ(other->noiseFloor(), 4500);
  EXPECT_EQ(other->speechPeak(), 8100);
  EXPECT_EQ(other->speechFrameCount(), 0);

  // And back: the normaliser and DC offset survive unchanged, the levels lose another tenth.
  auto again = std::make_unique<User>();
  again->getChanCepMnDel(other.get());
  for (int i = 0; i < 18; ++i) EXPECT_EQ(again->models[kChannelStoreState][i], store[i]) << i;
  EXPECT_EQ(again->models[kChannelStoreState][18], 4050);
  EXPECT_EQ(again->models[kChannelStoreState][19], 7290);
}

TEST(ChannelStore, LevelsBeyondSixteenBitsAreStoredAtTheLimit) {
  auto user = std::make_unique<User>();
  auto channel = std::make_unique<StaticWavChannel>();
  channel->setNoiseFloor(-100000);
  channel->setSpeechPeak(2147483647);   // 9/10 computed without overflow
  user->getChanCepMnDel(channel.get());
  EXPECT_EQ(user->models[kChannelStoreState][18], -32768);
  EXPECT_EQ(user->models[kChannelStoreState][19], 32767);
  // A null channel is ignored.
  user->getChanCepMnDel(nullptr);
  user->setChanCepMnDel(nullptr);
}

TEST(SettingsTemplate, CarriesTheMarkerAndTheWarpBin) {
  auto user = std::make_unique<User>();
  user->vtln = 63;
  user->stampSettings();
  EXPECT_EQ(user->models[1][0], 32);
  EXPECT_EQ(user->models[1][1], 63);
  EXPECT_EQ(user->models[1][2], 0);
}

TEST(PhoneLoop, TablesChainEachPhoneFirstMiddleLast) {
  GenericPelStatics statics;
  ASSERT_EQ(statics.startList.count(), 47);   // every phone but silence
  int exits = 0;
  for (int g = 0; g < kPelGroupCount; ++g) {
    EXPECT_EQ(statics.pels[g].score, kUnreachableScore) << g;
    EXPECT_EQ(statics.pels[g].active, 0) << g;
    exits += statics.pels[g].exit;
  }
  EXPECT_EQ(exits, 48);
  EXPECT_EQ(statics.pels[0].exit, 1);
  EXPECT_EQ(statics.pels[0].genericPel, 0);
  // E: groups 1, 2, 3 stored first, last, middle; the loop runs 1 -> 2 (middle) -> 3 (last).
  EXPECT_EQ(statics.startList[0], &statics.pels[1]);
  EXPECT_EQ(statics.pels[1].genericPel, 1);
  EXPECT_EQ(statics.pels[2].genericPel, 3);
  EXPECT_EQ(statics.pels[3].genericPel, 2);
  EXPECT_EQ(statics.pels[1].exit + statics.pels[2].exit, 0);
  EXPECT_EQ(statics.pels[3].exit, 1);
  // e: groups 4, 5; 5 ends the phone.
  EXPECT_EQ(statics.startList[1], &statics.pels[4]);
  EXPECT_EQ(statics.pels[4].exit, 0);
  EXPECT_EQ(statics.pels[5].exit, 1);
  EXPECT_EQ(statics.pels[5].genericPel, 5);
  // The last phone, y: groups 104, 105.
  EXPECT_EQ(statics.startList[46], &statics.pels[104]);
  EXPECT_EQ(statics.pels[105].exit, 1);
  // Every start is a first group of its phone and no start is an exit.
  for (GenPel* start : statics.startList) {
    const int g = static_cast<int>(start - statics.pels);
    EXPECT_EQ(kPhoneFirstPel[static_cast<unsigned char>(kGroupPhone[g])], g * 13) << g;
    EXPECT_EQ(start->exit, 0) << g;
  }
}

TEST(PhoneLoop, ReInitLeavesOnlySilenceActive) {
  GenericPelStatics& statics = GenericPelStatics::instance();
  EXPECT_EQ(&statics, &GenericPelStatics::instance());
  for (GenPel& p : statics.pels) {
    p.score = 17;
    p.active = 1;
  }
  const int16_t genericOf2 = statics.pels[2].genericPel;
  GenPel::reInit();
  EXPECT_EQ(statics.pels[0].score, 0);
  EXPECT_EQ(statics.pels[0].active, 1);
  for (int g = 1; g < kPelGroupCount; ++g) {
    EXPECT_EQ(statics.pels[g].score, kUnreachableScore) << g;
    EXPECT_EQ(statics.pels[g].active, 0) << g;
  }
  EXPECT_EQ(statics.pels[2].genericPel, genericOf2);   // the topology is untouched
}

TEST(PhoneSetForwarding, UserStaticsAnswerAsTheLexicon) {
  EXPECT_EQ(User::isValidPron("TrE"), 1);
  EXPECT_EQ(User::isValidPron(".TrE"), 0);
  EXPECT_STREQ(User::pelIdToName(26), "EE.");
  EXPECT_STREQ(User::pelIdToName(1377), "yyk");
}

TEST(SeparatedSpeaker, EveryStateIsFarFromEveryOther) {
  UsrGuard guard;
  auto user = std::make_unique<User>();
  user->makeSeparated();
  User::usr = user.get();
  EXPECT_EQ(user->vtln, kNeutralWarpBin);
  Frame fr;
  for (int s = 0; s < kPelCount; ++s) {
    ASSERT_EQ(user->templateFrame(static_cast<short>(s), &fr), 1);
    ASSERT_EQ(User::pelScorePrim(static_cast<short>(s), &fr), 1) << s;
    for (int t = 0; t < kPelCount; ++t) {
      if (t == s) continue;
      const int tAlt = User::alternativeGroupState[t / 13];
      const bool alternative = tAlt >= 0 && tAlt + t % 13 == s;
      const int cost = User::pelScorePrim(static_cast<short>(t), &fr);
      if (alternative) {
        ASSERT_EQ(cost, 1) << t << " scored on " << s;
      } else {
        ASSERT_GT(cost, 250) << t << " scored on " << s;
        ASSERT_GE(User::rudePelScore(user->models[t], fr.features), 4000);
      }
    }
  }
}

TEST(SeparatedSpeaker, ChainFramesRepeatTheTemplates) {
  auto user = std::make_unique<User>();
  user->makeSeparated();
  const short states[] = {0, 13 + 5, 26 + 2, 0};
  const int repeats[] = {3, 2, 0, 4};
  Frame frames[9];
  ASSERT_EQ(user->makeChainFrames(states, repeats, 4, frames, 9), 9);
  const short expected[] = {0, 0, 0, 18, 18, 0, 0, 0, 0};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(std::memcmp(frames[i].features, user->models[expected[i]], sizeof frames[i].features), 0) << i;
    EXPECT_EQ(frames[i].power, 0);
  }
  // Too little room, a bad state or a negative repeat: nothing is made.
  EXPECT_EQ(user->makeChainFrames(states, repeats, 4, frames, 8), -1);
  const short bad[] = {0, 1378};
  const int two[] = {1, 1};
  EXPECT_EQ(user->makeChainFrames(bad, two, 2, frames, 9), -1);
  const int negative[] = {1, -1};
  EXPECT_EQ(user->makeChainFrames(states, negative, 2, frames, 9), -1);
  EXPECT_EQ(user->makeChainFrames(states, repeats, 0, frames, 9), 0);
}

}  // namespace
