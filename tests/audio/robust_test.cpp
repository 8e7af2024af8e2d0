// The front end on real microphones: the high-pass, the first chunk's DC estimate and the
// utterance's own normaliser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"

namespace vlm {
namespace {

// A speech-like test signal: a few harmonics of a slowly gliding 150 Hz voice, switched on and off
// like syllables, over a little noise.
std::vector<int16_t> voiced(int n, double gain, int dc, unsigned seed = 3) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 30.0);
  std::vector<int16_t> v(n);
  double phase = 0.0;
  for (int i = 0; i < n; ++i) {
    const double t = i / 11025.0;
    phase += 2 * M_PI * (150.0 + 20.0 * std::sin(2 * M_PI * 0.7 * t)) / 11025.0;
    const double on = std::sin(2 * M_PI * 2.5 * t) > -0.2 ? 1.0 : 0.05;
    double s = 0.0;
    for (int h = 1; h <= 12; ++h) s += std::sin(h * phase) * 2500.0 / h;
    v[i] = static_cast<int16_t>(std::lround(std::clamp(gain * (on * s + noise(rng)) + dc, -32768.0, 32767.0)));
  }
  return v;
}

// Every frame of samples through a fresh channel, with the initial normaliser.
std::vector<Frame> framesOf(std::vector<int16_t> samples) {
  StaticWavChannel ch;
  WaveData data{samples.data(), static_cast<int32_t>(samples.size())};
  EXPECT_EQ(ch.open(&data), 1);
  std::vector<Frame> out;
  Frame f;
  while (ch.nextFrame(&f) >= 0) out.push_back(f);
  return out;
}

// Mean absolute difference of the static features 2..16 (the cepstra) of two frame sequences.
double cepstralDistance(const std::vector<Frame>& a, const std::vector<Frame>& b) {
  EXPECT_EQ(a.size(), b.size());
  double sum = 0.0;
  long n = 0;
  for (size_t t = 0; t < std::min(a.size(), b.size()); ++t)
    for (int k = 2; k < kStaticFeatures; ++k, ++n) sum += std::abs(a[t].features[k] - b[t].features[k]);
  return n ? sum / n : 0.0;
}

TEST(HighPass, StopsHumAndDcAndPassesSpeechBand) {
  // A fourth-order Butterworth high-pass: |H(f)|^2 = 1 / (1 + (fc / f)^8); DC is stopped.
  const double fc = kHighPassHz;
  for (double hz : {0.0, 50.0, fc / 2, fc, 1000.0}) {
    const int n = 11025;
    std::vector<int16_t> in(n);
    for (int i = 0; i < n; ++i)
      in[i] = static_cast<int16_t>(std::lround(hz == 0.0 ? 10000.0 : 10000.0 * std::sin(2 * M_PI * hz * i / 11025.0)));
    std::vector<double> out(n);
    double state[4] = {};
    for (int i = 0; i < n; i += kChunkSamples) highPassChunk(in.data() + i, out.data() + i, kChunkSamples, state);
    // The second half, after the filter has settled.
    double pin = 0.0, pout = 0.0;
    for (int i = n / 2; i < n; ++i) pin += static_cast<double>(in[i]) * in[i], pout += out[i] * out[i];
    const double db = 10.0 * std::log10((pout + 1e-30) / pin);
    if (hz == 0.0) {
      EXPECT_LT(db, -60.0);
    } else {
      const double expect = -10.0 * std::log10(1.0 + std::pow(fc / hz, 8));
      EXPECT_NEAR(db, expect, 0.5) << hz << " Hz";
    }
  }
}

TEST(ChannelCleanup, FirstChunkSetsTheDcOffset) {
  struct Case {
    int dc;
    int expect;
  };
  const Case cases[] = {{655, 655}, {-1200, -1200}, {0, 1}};
  for (const Case& c : cases) {
    std::vector<int16_t> s(2000, static_cast<int16_t>(c.dc));
    StaticWavChannel ch;
    WaveData data{s.data(), static_cast<int32_t>(s.size())};
    ch.open(&data);
    Frame f;
    ASSERT_GE(ch.nextFrame(&f), 0);
    EXPECT_EQ(ch.dcOffset(), c.expect) << c.dc;
  }
  // Without the cleanup the offset stays at 1 until an utterance ends.
  setChannelCleanup(0);
  std::vector<int16_t> s(2000, 655);
  StaticWavChannel ch;
  WaveData data{s.data(), static_cast<int32_t>(s.size())};
  ch.open(&data);
  Frame f;
  ASSERT_GE(ch.nextFrame(&f), 0);
  EXPECT_EQ(ch.dcOffset(), 1);
  setChannelCleanup(1);
}

// A DC offset and mains hum barely move the cepstra with the cleanup on; without it they do.
TEST(ChannelCleanup, DcOffsetAndHumLeaveTheCepstra) {
  const int n = 11025 * 2;
  const std::vector<int16_t> clean = voiced(n, 1.0, 0);
  std::vector<int16_t> hum = clean;
  for (int i = 0; i < n; ++i) hum[i] = static_cast<int16_t>(hum[i] + std::lround(400.0 * std::sin(2 * M_PI * 50.0 * i / 11025.0)));
  const std::vector<int16_t> dc = voiced(n, 1.0, 655);
  for (int on : {1, 0}) {
    setChannelCleanup(on);
    const std::vector<Frame> ref = framesOf(clean);
    const double dDc = cepstralDistance(ref, framesOf(dc));
    const double dHum = cepstralDistance(ref, framesOf(hum));
    if (on) {
      EXPECT_LT(dDc, 1.0);
      EXPECT_LT(dHum, 6.0);
    } else {
      EXPECT_GT(dDc, 5.0);
      EXPECT_GT(dHum, 6.0);
    }
  }
  setChannelCleanup(1);
}

TEST(OwnNormaliser, ShiftBringsTheSpeechMeanToTheTargets) {
  // Four loud frames (power 1000) and four quiet ones (power 0): only the loud ones count.
  std::vector<Frame> frames(8);
  for (int t = 0; t < 8; ++t) {
    frames[t].power = t < 4 ? 1000 : 0;
    for (int k = 0; k < kFrameFeatures; ++k) frames[t].features[k] = static_cast<int16_t>(t < 4 ? 100 + k + t : -500);
  }
  struct Case {
    int prior;
    int expect0, expect5;   // shifts of features 0 and 5
  };
  // Speech mean of feature k: 100 + k + 1.5; targets 180 (feature 0) and 128; the shift of the
  // spectral shape (features 3..16) is weighted by 4 / (4 + prior), that of the level (features
  // 0..2) is not; rounded half away from zero.
  const Case cases[] = {{0, 79, 22}, {4, 79, 11}, {12, 79, 5}};
  for (const Case& c : cases) {
    int32_t shift[kStaticFeatures];
    EXPECT_EQ(ownNormaliserShift(frames.data(), 8, c.prior, shift), 4);
    EXPECT_EQ(shift[0], c.expect0) << c.prior;
    EXPECT_EQ(shift[5], c.expect5) << c.prior;
  }
  int32_t shift[kStaticFeatures];
  EXPECT_EQ(ownNormaliserShift(frames.data(), 0, 0, shift), 0);
  EXPECT_EQ(shift[0], 0);
  std::vector<Frame> copy = frames;
  ownNormaliserShift(copy.data(), 8, 0, shift);
  shiftStatics(copy.data(), 8, shift);
  EXPECT_EQ(copy[0].features[0], 100 + 79);
  EXPECT_EQ(copy[0].features[kStaticFeatures], frames[0].features[kStaticFeatures]);   // deltas stay
}

// The same speech 12 dB quieter gives the same normalised statics, within a few units.
TEST(OwnNormaliser, LevelIndependent) {
  const int n = 11025 * 2;
  std::vector<Frame> loud = framesOf(voiced(n, 1.0, 0));
  std::vector<Frame> quiet = framesOf(voiced(n, 0.25, 0));
  ASSERT_EQ(loud.size(), quiet.size());
  double before = 0.0;
  for (size_t t = 0; t < loud.size(); ++t) before += std::abs(loud[t].features[0] - quiet[t].features[0]);
  for (std::vector<Frame>* v : {&loud, &quiet}) {
    int32_t shift[kStaticFeatures];
    ASSERT_GT(ownNormaliserShift(v->data(), static_cast<int>(v->size()), 0, shift), 10);
    shiftStatics(v->data(), static_cast<int>(v->size()), shift);
  }
  double after0 = 0.0;
  long speech = 0;
  for (size_t t = 0; t < loud.size(); ++t) {
    if (loud[t].power < 2000) continue;   // the voiced frames
    after0 += std::abs(loud[t].features[0] - quiet[t].features[0]);
    ++speech;
  }
  ASSERT_GT(speech, 10);
  EXPECT_GT(before / loud.size(), 40.0);   // 12 dB is about 55 units of feature 0
  EXPECT_LT(after0 / speech, 3.0);
  EXPECT_LT(cepstralDistance(loud, quiet), 3.0);
}

TEST(OwnNormaliser, EnergyFloorsRaiseOnlyTheLowEnergies) {
  struct Case {
    int16_t in[3];
    int16_t out[3];
  };
  const Case cases[] = {{{-300, -300, -300}, {kEnergyFloor[0], kEnergyFloor[1], kEnergyFloor[2]}},
                        {{180, 128, 128}, {180, 128, 128}},
                        {{static_cast<int16_t>(kEnergyFloor[0] - 1), kEnergyFloor[1], static_cast<int16_t>(kEnergyFloor[2] + 1)},
                         {kEnergyFloor[0], kEnergyFloor[1], static_cast<int16_t>(kEnergyFloor[2] + 1)}}};
  for (const Case& c : cases) {
    Frame f{};
    for (int k = 0; k < kFrameFeatures; ++k) f.features[k] = -400;
    for (int i = 0; i < 3; ++i) f.features[i] = c.in[i];
    floorEnergies(&f, 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f.features[i], c.out[i]) << c.in[i];
    for (int k = 3; k < kFrameFeatures; ++k) EXPECT_EQ(f.features[k], -400);   // cepstra and deltas stay
  }
  // A quiet pause and a noisy one come out alike after the own normaliser.
  Utterance utt;
  Frame speech{}, pause{};
  speech.power = 5000;
  for (int k = 0; k < kStaticFeatures; ++k) speech.features[k] = 200;
  pause.power = 100;
  for (int k = 0; k < kStaticFeatures; ++k) pause.features[k] = -200;
  for (int i = 0; i < 4; ++i) utt.frames.add(speech);
  utt.frames.add(pause);
  utt.flags |= Utterance::UTT_COMPLETE;
  EXPECT_EQ(normaliseOwnMean(&utt, 0), 4);
  EXPECT_EQ(utt.frames[4].features[0], kEnergyFloor[0]);
  EXPECT_EQ(utt.frames[4].features[2], kEnergyFloor[2]);
  EXPECT_EQ(utt.frames[4].features[3], -200 + (128 - 200));   // c1 is shifted, not floored
}

TEST(OwnNormaliser, UtteranceMustBeComplete) {
  Utterance utt;
  Frame f{};
  f.power = 0;
  f.features[0] = 10;
  for (int i = 0; i < 3; ++i) utt.frames.add(f);
  EXPECT_EQ(normaliseOwnMean(&utt), -1);
  EXPECT_EQ(utt.frames[0].features[0], 10);
  utt.flags |= Utterance::UTT_COMPLETE;
  // Silence only: no frame lies above the threshold.
  EXPECT_EQ(normaliseOwnMean(&utt), 0);
  utt.frames[1].power = 900;
  EXPECT_EQ(normaliseOwnMean(&utt), 1);
  EXPECT_EQ(utt.frames[1].features[0], 180);
  EXPECT_TRUE(utt.flags & Utterance::UTT_NORMALISED);
  EXPECT_EQ(normaliseOwnMean(nullptr), -1);
}

}  // namespace
}  // namespace vlm
