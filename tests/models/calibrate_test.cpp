// Calibration on synthesised recordings: the empty queue, a queue without enough speech for the
// normaliser, and the normaliser pass with two adaptation passes through a stub recogniser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/calibrate.h"
#include "models/user.h"

namespace {

using namespace vlm;

const int32_t kInitialNormaliser[kStaticFeatures] = {-57, 0,   -210, 20, 140, 105, 145, 83, 138,
                                                      86,  140, 86,   138, 84, 143, 75,  130};

// Quiet noise, then (when voiced) 0.8 s of a buzz with four partials, then quiet noise.
std::vector<int16_t> recording(bool voiced, unsigned seed, double noiseLevel = 20.0) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, noiseLevel);
  std::vector<int16_t> s;
  const double pi = std::acos(-1.0);
  for (int i = 0; i < 5000; i++) s.push_back(static_cast<int16_t>(noise(rng)));
  if (voiced)
    for (int i = 0; i < 9000; i++) {
      const double t = i / 11025.0;
      const double env = std::sin(pi * i / 9000.0);
      const double v = 3000 * std::sin(2 * pi * 120 * t) + 2500 * std::sin(2 * pi * 700 * t) +
                       1500 * std::sin(2 * pi * 1900 * t) + 900 * std::sin(2 * pi * 3100 * t);
      s.push_back(static_cast<int16_t>(env * v + noise(rng)));
    }
  for (int i = 0; i < 18000; i++) s.push_back(static_cast<int16_t>(noise(rng)));
  return s;
}

Utterance* keptUtterance(const std::vector<int16_t>& samples, const char* prompt) {
  auto* u = new Utterance();
  u->samples = new int16_t[samples.size()];
  std::memcpy(u->samples, samples.data(), samples.size() * sizeof(int16_t));
  u->sampleCount = static_cast<int32_t>(samples.size());
  u->setPrompt(prompt);
  u->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
  return u;
}

struct StubLog {
  int calls = 0;
  int frames = 0;
  int word = -1;
  bool ruleNamed = true;
};
StubLog stub;

// Takes the prompt rule's one word as the recognised sequence.
int stubRecognizer(User* user, WordDictionary* words, RuleDictionary* rules, Utterance* utt,
                   int* ruleList, int ruleCount, FSGNodeTypeItemAC* best) {
  stub.calls++;
  utt->complete(0);
  stub.frames += utt->frameCount();
  RuleData* rule = ruleCount == 1 ? rules->ruleAt(ruleList[0]) : nullptr;
  stub.ruleNamed &= rule != nullptr && std::strcmp(rule->name, kCalibrateRuleName) == 0;
  best->add(eRuleNode, ruleList[0]);
  best->add(eWordNode, stub.word);
  best->add(eTerminalNode, ruleList[0]);
  return 1;
}

class Calibrate : public ::testing::Test {
 protected:
  void SetUp() override {
    savedUsr = User::usr;
    WavChannel::melFilterBankWithVTLN(58);
    tea = dict.addWordIfNew("tea", "ti");
    stub = StubLog{};
    stub.word = tea;
    previous = setCalibrationRecognizer(stubRecognizer);
  }
  void TearDown() override {
    setCalibrationRecognizer(previous);
    WavChannel::melFilterBankWithVTLN(58);
    User::usr = savedUsr;
  }
  // A speaker whose every template is the mean frame of the voiced recording, so that frame
  // costs are moderate everywhere.
  std::unique_ptr<User> flatUser(int warp) {
    WavChannel::melFilterBankWithVTLN(warp);
    std::vector<int16_t> s = recording(true, 1);
    StaticWavChannel ch;
    WaveData data{s.data(), static_cast<int32_t>(s.size())};
    ch.open(&data);
    ch.listen(1, nullptr);
    auto u = std::make_unique<User>();
    if (ch.isUttAvailable() != 1) return u;
    Utterance* utt = ch.takeUtt();
    utt->complete(0);
    double mean[kFrameFeatures] = {};
    for (int i = 0; i < utt->frameCount(); i++)
      for (int j = 0; j < kFrameFeatures; j++) mean[j] += utt->frames[i].features[j];
    for (int s2 = 0; s2 < kPelCount; s2++)
      for (int j = 0; j < kFrameFeatures; j++)
        u->models[s2][j] = static_cast<int16_t>(std::lround(mean[j] / utt->frameCount()));
    delete utt;
    ch.close();
    u->initGenericModels();
    return u;
  }

  User* savedUsr = nullptr;
  CalibrationRecognizeFn previous = nullptr;
  WordDictionary dict{50};
  int tea = -1;
};

TEST_F(Calibrate, EmptyQueueChangesNothing) {
  User u;
  u.vtln = 58;
  UttFifo fifo(4);
  CepMeanNorms out{};
  out.normaliser[0] = 777;
  EXPECT_EQ(u.calibrate(&fifo, &dict, &out, 63), 0);
  EXPECT_EQ(u.vtln, 58);
  EXPECT_EQ(WavChannel::melFilterBankSecondEFormantBin(), 58);
  EXPECT_EQ(out.normaliser[0], 777);
  EXPECT_EQ(stub.calls, 0);
}

// A recording of digital silence: no utterance is found and no speech frame reaches the
// normaliser, which keeps the channel's initial values; nothing is recognised or adapted.
TEST_F(Calibrate, TooFewSpeechFramesKeepTheInitialNormaliser) {
  auto u = flatUser(58);
  std::vector<int16_t> before(&u->models[0][0], &u->models[0][0] + kPelCount * kFrameFeatures);
  UttFifo fifo(4);
  fifo.advancePoint(keptUtterance(recording(false, 7, 0.0), "tea"));
  CepMeanNorms out{};
  EXPECT_EQ(u->calibrate(&fifo, &dict, &out, 61), 1);
  EXPECT_EQ(u->vtln, 61);
  EXPECT_EQ(WavChannel::melFilterBankSecondEFormantBin(), 61);
  for (int i = 0; i < kStaticFeatures; i++) EXPECT_EQ(out.normaliser[i], kInitialNormaliser[i]) << i;
  EXPECT_EQ(out.count, 0);
  EXPECT_EQ(stub.calls, 0);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), &u->models[0][0]));
}

TEST_F(Calibrate, NormaliserPassAndTwoAdaptationPasses) {
  auto u = flatUser(60);
  std::vector<int16_t> before(&u->models[0][0], &u->models[0][0] + kPelCount * kFrameFeatures);
  UttFifo fifo(4);
  fifo.advancePoint(keptUtterance(recording(true, 11), "tea"));
  fifo.advancePoint(keptUtterance(recording(true, 12), "tea"));
  CepMeanNorms out{};
  ASSERT_EQ(u->calibrate(&fifo, &dict, &out, 60), 1);
  EXPECT_EQ(stub.calls, 4);   // two utterances, two passes
  EXPECT_TRUE(stub.ruleNamed);
  EXPECT_GT(stub.frames, 4 * 30);
  EXPECT_EQ(User::usr, u.get());
  // The normaliser moved from its initial values toward the targets.
  int moved = 0;
  for (int i = 0; i < kStaticFeatures; i++) moved += out.normaliser[i] != kInitialNormaliser[i];
  EXPECT_GT(moved, 10);
  // The silence template and the states of "ti" were adapted; a state of another phone was not.
  const int silence = 0;
  int changedSilence = 0;
  for (int j = 0; j < kFrameFeatures; j++) changedSilence += u->models[silence][j] != before[j];
  EXPECT_GT(changedSilence, 0);
  const int other = 60 * 13 + 5;
  EXPECT_TRUE(std::equal(before.begin() + other * kFrameFeatures,
                         before.begin() + (other + 1) * kFrameFeatures, u->models[other]));
  // Generic models were recomputed from the adapted templates.
  for (int j = 0; j < kFrameFeatures; j++) {
    int sum = 0;
    for (int c = 0; c < 13; c++) sum += u->models[c][j];
    EXPECT_EQ(u->genericModels[0][j], sum / 13);
  }
  // Calibrating again adapts further.
  std::vector<int16_t> once(&u->models[0][0], &u->models[0][0] + kPelCount * kFrameFeatures);
  ASSERT_EQ(u->calibrate(&fifo, &dict, &out, 60), 1);
  EXPECT_EQ(stub.calls, 8);
  EXPECT_FALSE(std::equal(once.begin(), once.end(), &u->models[0][0]));
}

// Without an installed recogniser every utterance is aligned with its prompt's words.
TEST_F(Calibrate, WithoutRecognizerAlignsWithThePrompt) {
  setCalibrationRecognizer(nullptr);
  auto u = flatUser(58);
  std::vector<int16_t> before(&u->models[0][0], &u->models[0][0] + kPelCount * kFrameFeatures);
  UttFifo fifo(4);
  fifo.advancePoint(keptUtterance(recording(true, 21), "tea"));
  fifo.advancePoint(keptUtterance(recording(true, 22), "unknownword"));
  CepMeanNorms out{};
  ASSERT_EQ(u->calibrate(&fifo, &dict, &out, 58), 1);
  EXPECT_FALSE(std::equal(before.begin(), before.end(), &u->models[0][0]));
}

}  // namespace
