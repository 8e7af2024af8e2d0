// The feature front end: filter bank, window, transforms, DC removal, the chunk-to-frame
// schedule, silence, the normaliser and DC updates.
#include <gtest/gtest.h>

#include "testpaths.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "audio/wavefile.h"

namespace vlm {
namespace {

// A source of a fixed number of chunks from a sample generator; exposes the channel's state.
class ProbeChannel : public WavChannel {
 public:
  ProbeChannel(std::vector<int16_t> s, int64_t chunkLimit = -1) : samples(std::move(s)), limit(chunkLimit) {}
  int listen(int on, const WaveFormat*) override { return on; }
  int getWAVCHUNKshorts(short* buffer) override {
    if (limit >= 0 && delivered >= limit) return -3;
    if ((delivered + 1) * 100 > static_cast<int64_t>(samples.size())) return -3;
    for (int i = 0; i < 100; ++i) buffer[i] = samples[delivered * 100 + i];
    ++delivered;
    return 100;
  }
  using WavChannel::dcChunks;
  using WavChannel::dcSum;
  using WavChannel::deltas;
  using WavChannel::normaliser;
  using WavChannel::slot;
  using WavChannel::speechAccum;
  using WavChannel::speechFrames;
  std::vector<int16_t> samples;
  int64_t limit;
  int64_t delivered = 0;
};

std::vector<int16_t> noise(int n, int amplitude, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<int16_t> v(n);
  for (auto& s : v) s = static_cast<int16_t>(d(rng));
  return v;
}

std::vector<int16_t> tone(int n, double hz, double amplitude) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / 11025.0)));
  return v;
}

// The analysis exactly as defined (no channel cleanup) for the life of the guard.
struct DefinedAnalysis {
  DefinedAnalysis() { setChannelCleanup(0); }
  ~DefinedAnalysis() { setChannelCleanup(1); }
};

struct Triple {
  int dest, bin, weight;
};

std::vector<std::vector<Triple>> bankByFilter() {
  int n = 0;
  const int* t = melFilterBankTable(&n);
  std::vector<std::vector<Triple>> filters(kFilterCount);
  for (int i = 0; i < n; i += 3) {
    EXPECT_GE(t[i], 128);
    EXPECT_LT(t[i], 160);
    if (t[i] >= 128 && t[i] < 160) filters[t[i] - 128].push_back({t[i], t[i + 1], t[i + 2]});
  }
  return filters;
}

TEST(FilterBank, NeutralWarpMatchesTheDefinition) {
  ASSERT_EQ(WavChannel::melFilterBankWithVTLN(58), 558);
  EXPECT_EQ(WavChannel::melFilterBankSecondEFormantBin(), 58);
  const auto filters = bankByFilter();
  ASSERT_EQ(filters[0].size(), 2u);
  EXPECT_EQ(filters[0][0].bin, 0);
  EXPECT_EQ(filters[0][0].weight, 488);
  EXPECT_EQ(filters[0][1].bin, 1);
  EXPECT_EQ(filters[0][1].weight, 24);
  ASSERT_EQ(filters[1].size(), 3u);
  const int w1[3] = {61, 338, 113};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(filters[1][i].bin, i);
    EXPECT_EQ(filters[1][i].weight, w1[i]);
  }
  ASSERT_FALSE(filters[31].empty());
  EXPECT_EQ(filters[31].front().bin, 65);
  EXPECT_EQ(filters[31].back().bin, 80);
}

TEST(FilterBank, EveryWarpGivesFiltersOf512InBinOrder) {
  for (int vtln : {50, 58, 66}) {
    const int n = WavChannel::melFilterBankWithVTLN(vtln);
    EXPECT_EQ(n % 3, 0);
    EXPECT_EQ(WavChannel::melFilterBankSecondEFormantBin(), vtln);
    const auto filters = bankByFilter();
    int previousFirstBin = -1;
    for (int f = 0; f < kFilterCount; ++f) {
      SCOPED_TRACE(testing::Message() << "vtln " << vtln << " filter " << f);
      ASSERT_FALSE(filters[f].empty());
      int sum = 0;
      for (size_t i = 0; i < filters[f].size(); ++i) {
        sum += filters[f][i].weight;
        EXPECT_GT(filters[f][i].weight, 0);
        EXPECT_LT(filters[f][i].bin, 128);
        if (i) {
          EXPECT_GT(filters[f][i].bin, filters[f][i - 1].bin);
        }
      }
      EXPECT_EQ(sum, 512);
      EXPECT_GE(filters[f].front().bin, previousFirstBin);
      previousFirstBin = filters[f].front().bin;
    }
  }
  // A higher warp bin stretches the bank upwards.
  WavChannel::melFilterBankWithVTLN(66);
  const int top66 = bankByFilter()[31].back().bin;
  WavChannel::melFilterBankWithVTLN(50);
  const int top50 = bankByFilter()[31].back().bin;
  EXPECT_GT(top66, top50);
  // Out of range: the bank stays as it is.
  EXPECT_EQ(WavChannel::melFilterBankWithVTLN(0), WavChannel::melFilterBankWithVTLN(50));
  EXPECT_EQ(WavChannel::melFilterBankSecondEFormantBin(), 50);
  EXPECT_EQ(WavChannel::melFilterBankWithVTLN(58), 558);
}

TEST(WelchWindow, SymmetricAndShapedAsDefined) {
  const WelchWin& w = welchWin();
  for (int k = 0; k < kWindowLength; ++k) {
    EXPECT_EQ(w.w[k], w.w[kWindowLength - 1 - k]) << k;
    const double x = (k + 1) / 255.0;
    const double expect = 32767.0 * std::pow(4 * x * (1 - x), 7.0 / 8.0);
    EXPECT_NEAR(w.w[k], expect, 1.0) << k;
  }
  EXPECT_EQ(w.w[126], 32767);
  EXPECT_LT(w.w[0], 1000);
}

TEST(Transforms, MatchDirectSums) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> d(-1000, 1000);
  for (int n : {4, 16, 256}) {
    SCOPED_TRACE(n);
    std::vector<double> x(n);
    for (auto& v : x) v = d(rng);
    // realfft against the direct DFT.
    std::vector<double> a(n + 1);
    for (int i = 0; i < n; ++i) a[i + 1] = x[i];
    realfft(a.data(), n, 1);
    const double tol = 1e-7 * n * 1000;
    for (int k = 0; k <= n / 2; ++k) {
      double re = 0, im = 0;
      for (int j = 0; j < n; ++j) {
        re += x[j] * std::cos(2 * M_PI * j * k / n);
        im -= x[j] * std::sin(2 * M_PI * j * k / n);
      }
      if (k == 0) {
        EXPECT_NEAR(a[1], re, tol);
      } else if (k == n / 2) {
        EXPECT_NEAR(a[2], re, tol);
      } else {
        EXPECT_NEAR(a[2 * k + 1], re, tol) << k;
        EXPECT_NEAR(a[2 * k + 2], im, tol) << k;
      }
    }
    // The inverse gives n/2 times the input.
    realfft(a.data(), n, -1);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i + 1], x[i] * n / 2, tol);

    // cosfft against its definition, and back.
    std::vector<double> c(n + 1);
    for (int i = 0; i < n; ++i) c[i + 1] = x[i];
    cosfft(c.data(), n, 1);
    for (int k = 0; k < n; ++k) {
      double g = 0;
      for (int j = 0; j < n; ++j) g += x[j] * std::cos(M_PI * j * k / n);
      EXPECT_NEAR(c[k + 1], g, tol) << k;
    }
    cosfft(c.data(), n, -1);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(c[i + 1] * 2.0 / n, x[i], 1e-6) << i;
  }
  // A length beyond the stored twiddle tables (2^16) makes its own: some bins against their direct
  // sums, then back again.
  const int n = 1 << 17;
  std::vector<double> x(n), a(n + 1);
  for (int i = 0; i < n; ++i) a[i + 1] = x[i] = d(rng);
  realfft(a.data(), n, 1);
  for (int k : {1, 3, 1000, n / 4, n / 2 - 1}) {
    double re = 0, im = 0;
    for (int j = 0; j < n; ++j) {
      const double phase = 2 * M_PI * static_cast<double>(static_cast<int64_t>(j) * k % n) / n;
      re += x[j] * std::cos(phase);
      im -= x[j] * std::sin(phase);
    }
    EXPECT_NEAR(a[2 * k + 1], re, 1e-4) << k;
    EXPECT_NEAR(a[2 * k + 2], im, 1e-4) << k;
  }
  realfft(a.data(), n, -1);
  double worst = 0;
  for (int i = 0; i < n; ++i) worst = std::max(worst, std::fabs(a[i + 1] * 2.0 / n - x[i]));
  EXPECT_LT(worst, 1e-6);
}

TEST(DcRemoval, ClampsAtTheRails) {
  struct Case {
    int32_t offset;
    std::vector<int16_t> in, out;
  };
  const Case cases[] = {
      {1, {-32764, -32763, 0, 100}, {-32764, -32764, -1, 99}},
      {1, {5, -32768, -32768}, {4, 4, 4}},
      {-1, {32763, 32762, 0}, {32764, 32763, 1}},
      {-1, {32767, 10}, {32764, 11}},
      {0, {-32768, 32767, 3}, {-32768, 32767, 3}},
      {300, {-32464, -32465, 1000}, {-32764, -32764, 700}},
  };
  for (const Case& c : cases) {
    std::vector<int16_t> s = c.in;
    removeDcOffset(s.data(), static_cast<int>(s.size()), c.offset);
    EXPECT_EQ(s, c.out) << "offset " << c.offset;
  }
}

TEST(FrameSchedule, FramesOnTheFifthSeventhNinthChunk) {
  WavChannel::melFilterBankWithVTLN(58);
  ProbeChannel ch(noise(100 * 40, 2000));
  ch.open(nullptr);
  Frame f;
  std::vector<int64_t> chunkOfFrame;
  int rc;
  int expected = 0;
  while ((rc = ch.nextFrame(&f)) >= 0) {
    EXPECT_EQ(rc, expected++);
    chunkOfFrame.push_back(ch.delivered);
  }
  EXPECT_EQ(rc, -3);
  ASSERT_GE(chunkOfFrame.size(), 3u);
  EXPECT_EQ(chunkOfFrame[0], 5);
  EXPECT_EQ(chunkOfFrame[1], 7);
  EXPECT_EQ(chunkOfFrame[2], 9);
  EXPECT_EQ(chunkOfFrame.size(), 18u);   // chunks 5, 7, ..., 39

  // Four chunks give no frame; reopening starts the schedule again.
  ProbeChannel four(noise(100 * 10, 2000), 4);
  four.open(nullptr);
  EXPECT_EQ(four.nextFrame(&f), -3);
  EXPECT_EQ(four.delivered, 4);
  four.limit = -1;
  four.delivered = 0;
  four.open(nullptr);
  EXPECT_EQ(four.nextFrame(&f), 0);
  EXPECT_EQ(four.delivered, 5);
}

TEST(FrameSchedule, DeltasComeFromThePreviousFrame) {
  ProbeChannel ch(tone(100 * 60, 440, 3000));
  std::vector<int16_t>& s = ch.samples;
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(s[i] * (1.0 + 0.8 * std::sin(i / 700.0)));
  ch.open(nullptr);
  Frame f;
  // Before frame 0 the primed delta is in the vector frame 0 will use as "previous".
  ASSERT_EQ(ch.nextFrame(&f), 0);
  int nonZero = 0;
  for (int n = 1; n < 20; ++n) {
    // The delta computed when frame n-1 was emitted sits in the vector of that chunk's slot.
    const int prevSlot = (ch.slot + 3) & 3;
    int16_t expect[kDeltaFeatures];
    for (int k = 0; k < kDeltaFeatures; ++k) expect[k] = static_cast<int16_t>(std::trunc(ch.deltas[prevSlot >> 1][k]));
    ASSERT_EQ(ch.nextFrame(&f), n);
    for (int k = 0; k < kDeltaFeatures; ++k) {
      EXPECT_EQ(f.features[kFirstDelta + k], expect[k]) << "frame " << n << " delta " << k;
      nonZero += expect[k] != 0;
    }
  }
  EXPECT_GT(nonZero, 20);   // a modulated tone has moving features
}

TEST(FrameValues, DigitalSilenceGivesDefinedFrames) {
  // The DC offset starts at 1, so samples of 1 come out as exact zeros.
  ProbeChannel silent(std::vector<int16_t>(100 * 30, 1));
  silent.open(nullptr);
  Frame f, first{};
  int n = 0;
  while (silent.nextFrame(&f) >= 0) {
    EXPECT_EQ(f.power, 0);
    for (int k = kFirstDelta; k < kFrameFeatures; ++k) EXPECT_EQ(f.features[k], 0) << k;
    if (n++ == 0)
      first = f;
    else
      for (int k = 0; k < kStaticFeatures; ++k) EXPECT_EQ(f.features[k], first.features[k]);
  }
  EXPECT_GT(n, 5);

  // One step of noise above silence raises the energies and the frame power.
  ProbeChannel quiet(noise(100 * 30, 1));
  quiet.open(nullptr);
  Frame q;
  for (int i = 0; i < 5; ++i) ASSERT_GE(quiet.nextFrame(&q), 0);
  EXPECT_GE(q.power, 0);
  EXPECT_GT(q.features[0], first.features[0] + 100);
  EXPECT_GT(q.features[1], first.features[1] + 100);
  EXPECT_GT(q.features[2], first.features[2] + 100);
}

// Frames of the golden signal, computed by an independent direct-DFT implementation of the
// feature definition: power, then the 34 features.
const int32_t kGoldenFrames[9][35] = {
    {4651, 182, 234, 140, 71, 142, 142, 139, 98, 72, 40, 81, 148, 161, 131, 125, 229, 173, 0, 1, -1, -17, -24, -16, -20, -21, -26, 7, -3, -6, -3, -11, -4, 0, 1},
    {4727, 181, 239, 136, 61, 138, 131, 121, 83, 61, 36, 56, 141, 162, 122, 118, 205, 163, 0, 8, -3, -10, -8, -13, -15, -13, -9, 0, -13, -5, 0, -3, -5, 0, -3},
    {4683, 183, 233, 139, 60, 134, 139, 127, 76, 54, 42, 72, 137, 139, 122, 117, 204, 169, 2, -5, 2, -2, -3, 4, 1, -8, -10, 0, 5, 0, -6, 0, 1, -1, 0},
    {4749, 182, 232, 140, 62, 134, 137, 123, 86, 66, 41, 62, 146, 134, 115, 138, 217, 165, -2, -4, 0, 3, 1, 0, -1, 11, 13, 1, -3, 0, -3, -2, 5, 1, 1},
    {4738, 184, 233, 142, 65, 140, 145, 137, 88, 53, 39, 81, 162, 147, 107, 143, 215, 161, 3, 1, 3, 0, 2, 7, 8, -4, -7, 0, 6, 9, 1, -2, 3, -1, -1},
    {4716, 184, 227, 140, 61, 140, 139, 135, 95, 44, 37, 80, 147, 151, 117, 140, 211, 168, 0, -5, -1, 0, 2, -5, 1, 8, -9, 0, 5, -4, 5, 1, -2, 0, 1},
    {4738, 183, 230, 139, 66, 139, 139, 136, 85, 58, 42, 83, 143, 155, 135, 139, 215, 173, 0, -1, 0, 0, -4, 0, 0, -8, 5, -1, -1, -5, -2, 8, 0, 0, 3},
    {4708, 184, 234, 144, 67, 142, 139, 135, 92, 72, 55, 77, 144, 166, 132, 147, 228, 166, 0, 11, 1, 0, 4, 0, -3, 3, 12, 6, -5, 0, 7, -2, 1, 0, -5},
    {4726, 183, 232, 142, 73, 150, 140, 133, 94, 82, 52, 78, 161, 158, 130, 146, 230, 167, 0, -9, 2, 7, 5, 1, 2, 2, 9, 4, 5, 7, -2, 0, 1, 0, 4},
};

// The golden signal: integer noise from a linear congruential generator on a square wave.
std::vector<int16_t> goldenSignal() {
  std::vector<int16_t> v;
  uint64_t x = 12345;
  for (int i = 0; i < 2101; ++i) {
    x = (x * 1103515245u + 12345u) % 2147483648u;
    v.push_back(static_cast<int16_t>(static_cast<int>((x >> 16) % 4001) - 2000 + ((i / 25) % 2 ? 3000 : -3000)));
  }
  return v;
}

TEST(FrameValues, MatchAnIndependentImplementation) {
  const DefinedAnalysis defined;
  WavChannel::melFilterBankWithVTLN(58);
  ProbeChannel ch(goldenSignal());
  ch.open(nullptr);
  Frame f;
  int n = 0;
  while (ch.nextFrame(&f) >= 0) {
    ASSERT_LT(n, 9);
    EXPECT_EQ(f.power, kGoldenFrames[n][0]) << "frame " << n;
    for (int k = 0; k < kFrameFeatures; ++k) EXPECT_EQ(f.features[k], kGoldenFrames[n][1 + k]) << "frame " << n << " feature " << k;
    ++n;
  }
  EXPECT_EQ(n, 9);
}

// The features tool's binary dump holds the frames the front end gives, in the documented layout.
TEST(FeaturesTool, DumpHoldsTheFrames) {
  const std::string tool = vlmtest::binDir() + "/features";
  ASSERT_EQ(::access(tool.c_str(), X_OK), 0) << tool << " is not built";
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vlm_features_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::vector<int16_t> sig = goldenSignal();
  const std::string wav = (dir / "g.wav").string(), dump = (dir / "g.dump").string();
  ASSERT_EQ(writeRiffFile(wav.c_str(), sig.data(), sig.size(), kRiffSpeechFormat), 1);
  ASSERT_EQ(std::system((tool + " -d -o '" + dump + "' '" + wav + "' 2>/dev/null").c_str()), 0);

  std::ifstream in(dump, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto i32 = [&](size_t at) {
    return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24));
  };
  ASSERT_GE(b.size(), 96u);
  EXPECT_EQ(std::memcmp(b.data(), "VLMF", 4), 0);
  EXPECT_EQ(i32(4), 1);
  const int n = i32(8);
  EXPECT_EQ(n, 9);
  EXPECT_EQ(i32(12), 34);
  EXPECT_EQ(i32(16), 58);
  EXPECT_EQ(i32(20), -1);
  for (int k = 0; k < kStaticFeatures; ++k) EXPECT_EQ(i32(24 + 4 * k), kInitialNormaliser[k]);
  const int nameLen = i32(92);
  EXPECT_EQ(std::string(b.begin() + 96, b.begin() + 96 + nameLen), wav);
  const size_t frames = 96 + ((nameLen + 3) & ~3);
  ASSERT_EQ(b.size(), frames + 72u * n);
  for (int f = 0; f < n; ++f) {
    const size_t at = frames + 72u * f;
    EXPECT_EQ(i32(at), kGoldenFrames[f][0]);
    for (int k = 0; k < kFrameFeatures; ++k)
      EXPECT_EQ(static_cast<int16_t>(b[at + 4 + 2 * k] | (b[at + 5 + 2 * k] << 8)), kGoldenFrames[f][1 + k]) << f << " " << k;
  }
  std::filesystem::remove_all(dir);
}

TEST(FrameValues, LouderSignalRaisesPowerAndEnergy) {
  int32_t lastPower = -1;
  int lastE = -100000;
  for (double amp : {100.0, 1000.0, 10000.0}) {
    ProbeChannel ch(tone(100 * 20, 1000, amp));
    ch.open(nullptr);
    Frame f;
    for (int i = 0; i < 5; ++i) ASSERT_GE(ch.nextFrame(&f), 0);
    EXPECT_GT(f.power, lastPower);
    EXPECT_GT(f.features[0], lastE);
    lastPower = f.power;
    lastE = f.features[0];
  }
}

// The filter bank's noise floor on synthetic filter outputs: stationary noise in every filter (a
// power fluctuating as a sum of four squared normal values, as a band of a few spectral bins does),
// then a tone 20 dB above it in one filter.
TEST(NoiseFloor, StationaryNoiseIsPulledDownAToneKeepsItsBand) {
  std::mt19937 rng(7);
  std::normal_distribution<double> g(0.0, 1.0);
  auto noisePower = [&] {
    double p = 0;
    for (int k = 0; k < 4; ++k) {
      const double x = g(rng);
      p += x * x;
    }
    return 1000.0 * p / 4.0;   // mean 1000
  };
  NoiseFloor nf;
  const int toneFilter = 12;
  double inNoise = 0, outNoise = 0;
  for (int c = 0; c < 400; ++c) {
    double F[kFilterCount];
    for (double& f : F) f = noisePower();
    double in[kFilterCount];
    std::memcpy(in, F, sizeof F);
    nf.subtract(F);
    for (int f = 0; f < kFilterCount; ++f) {
      EXPECT_GE(F[f], kNoiseKeep * in[f] * (1 - 1e-12));
      EXPECT_LE(F[f], in[f]);
      if (c >= 100) inNoise += in[f], outNoise += F[f];
    }
  }
  // Noise alone: on average more than 7 dB down, the floor near the noise's level.
  EXPECT_LT(outNoise / inNoise, 0.2);
  for (int f = 0; f < kFilterCount; ++f) {
    EXPECT_GT(nf.floor[f], 100.0) << f;
    EXPECT_LT(nf.floor[f], 1000.0) << f;
  }
  // A tone of 100 000 in one filter for a second (110 chunks): it keeps most of its energy (about
  // 1 dB lost at most: the chunk's ratio over all filters is only 6 dB, so more than the noise is
  // taken off, and the floor of its filter rises slowly under it).
  for (int c = 0; c < 110; ++c) {
    double F[kFilterCount];
    for (double& f : F) f = noisePower();
    F[toneFilter] += 100000.0;
    const double in = F[toneFilter];
    nf.subtract(F);
    EXPECT_GT(F[toneFilter], 0.75 * in) << "chunk " << c;
  }
  EXPECT_LT(nf.floor[toneFilter], 4000.0);
}

// How much is taken off follows the chunk's signal-to-noise ratio: the noise (twice the floor)
// once at 20 dB or more, 2.5 times at 10 dB, 4 times at 0 dB (there clamped to the part kept).
TEST(NoiseFloor, TakesOffMoreTheNearerTheChunkIsToTheNoise) {
  struct Case {
    double snrDb, alpha;
  };
  const Case cases[] = {{30, 1.0}, {20, 1.0}, {10, 2.5}, {0, 4.0}, {-5, 4.0}};
  for (const Case& c : cases) {
    NoiseFloor nf;
    nf.primed = 1;
    const double floorAfter = 100.0 * kNoiseFloorRise;   // the floor rises by one step this chunk
    const double level = kNoiseOverSubtract * floorAfter * std::pow(10.0, c.snrDb / 10.0);
    double F[kFilterCount];
    for (int f = 0; f < kFilterCount; ++f) nf.floor[f] = 100.0, nf.smooth[f] = F[f] = level;
    nf.subtract(F);
    const double expected = std::max(level - c.alpha * kNoiseOverSubtract * floorAfter, kNoiseKeep * level);
    for (int f = 0; f < kFilterCount; ++f) ASSERT_NEAR(F[f], expected, 1e-6 * level) << c.snrDb << " dB, filter " << f;
  }
}

// open() starts the floor afresh: a quiet file after a loud one gives the frames it gives on a
// channel that never heard the loud one.
TEST(NoiseFloor, OpenStartsAFreshFloor) {
  std::vector<int16_t> quiet = noise(100 * 40, 30, 3);
  for (int i = 2000; i < 3000; ++i) quiet[i] = static_cast<int16_t>(quiet[i] + 2000 * std::sin(2 * M_PI * 700 * i / 11025.0));
  auto framesOf = [](ProbeChannel& ch) {
    std::vector<Frame> v;
    Frame f;
    while (ch.nextFrame(&f) >= 0) v.push_back(f);
    return v;
  };
  ProbeChannel fresh(quiet);
  fresh.open(nullptr);
  const std::vector<Frame> expected = framesOf(fresh);
  ASSERT_GT(expected.size(), 10u);
  ProbeChannel used(noise(100 * 40, 8000, 4));
  used.open(nullptr);
  framesOf(used);
  used.samples = quiet;
  used.delivered = 0;
  used.open(nullptr);
  const std::vector<Frame> got = framesOf(used);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t t = 0; t < got.size(); ++t)
    for (int k = 0; k < kFrameFeatures; ++k) ASSERT_EQ(got[t].features[k], expected[t].features[k]) << t << " " << k;
}

// Through the channel: in white noise, the noise-only frames lose much of their c0 with the floor
// subtracted while the frames with a tone lose little, so the tone stands further out.
TEST(NoiseFloor, ToneInNoiseStandsOutFurther) {
  std::vector<int16_t> s = noise(100 * 200, 400, 5);
  for (int i = 100 * 120; i < 100 * 160; ++i) s[i] = static_cast<int16_t>(s[i] + 6000 * std::sin(2 * M_PI * 1000 * i / 11025.0));
  auto c0 = [&](int on, int from, int to) {
    setNoiseFloorSubtraction(on);
    ProbeChannel ch(s);
    ch.open(nullptr);
    Frame f;
    int n = 0, t = 0;
    double sum = 0;
    while (ch.nextFrame(&f) >= 0) {
      if (t >= from && t < to) sum += f.features[2], ++n;
      ++t;
    }
    return sum / std::max(n, 1);
  };
  // Frames 30..55: noise alone (the floor has settled); 64..76: the tone.
  const double noiseOff = c0(0, 30, 55), noiseOn = c0(1, 30, 55);
  const double toneOff = c0(0, 64, 76), toneOn = c0(1, 64, 76);
  setNoiseFloorSubtraction(1);
  EXPECT_LT(noiseOn, noiseOff - 40);
  EXPECT_GT(toneOn - noiseOn, 1.25 * (toneOff - noiseOff));
}

TEST(Normaliser, UpdateAfterTenSpeechFrames) {
  struct Case {
    int frames;
    int frozen;
    int expectStep0;
  };
  const Case cases[] = {{9, 0, 0}, {10, 0, -2}, {10, 1, 0}};
  for (const Case& c : cases) {
    ProbeChannel ch({});
    for (int i = 0; i < kStaticFeatures; ++i) ch.speechAccum[i] = 128LL * c.frames;
    ch.speechAccum[0] = 194LL * c.frames;
    ch.speechFrames = c.frames;
    ch.freezeNormaliser(c.frozen);
    Utterance utt(&ch);
    Frame f{};
    f.features[0] = 300;
    f.features[5] = 7;
    utt.frames.add(f);
    ch.resetChannelAccums(&utt);
    EXPECT_EQ(ch.normaliser[0], kInitialNormaliser[0] + c.expectStep0) << c.frames;
    for (int i = 1; i < kStaticFeatures; ++i) EXPECT_EQ(ch.normaliser[i], kInitialNormaliser[i]);
    EXPECT_EQ(utt.frames[0].features[0], 300 + c.expectStep0);
    EXPECT_EQ(utt.frames[0].features[5], 7);
    const bool updated = c.frames >= 10 && !c.frozen;
    EXPECT_EQ((utt.flags & Utterance::UTT_NORMALISED) != 0, updated);
    EXPECT_EQ(ch.speechFrames, updated ? 0 : c.frames);   // otherwise the count carries on
  }
}

TEST(Normaliser, DcOffsetUpdateAndOverflowGuard) {
  struct Case {
    int64_t sum;
    int32_t chunks;
    int32_t expectOffset;
  };
  // offset starts at 1: (1 + round(mean)) >> 1, 0 becoming 1.
  const Case cases[] = {{20 * 100 * 7, 20, 4}, {0, 20, 1}, {-20 * 100 * 9, 20, -4}, {20 * 100 * 7 - 1000, 20, 4}};
  for (const Case& c : cases) {
    ProbeChannel ch({});
    ch.speechFrames = 10;
    ch.dcSum = c.sum;
    ch.dcChunks = c.chunks;
    ch.resetChannelAccums(nullptr);
    EXPECT_EQ(ch.dcOffset(), c.expectOffset) << c.sum;
    EXPECT_EQ(ch.dcSum, 0);
    EXPECT_EQ(ch.dcChunks, 0);
  }
  ProbeChannel ch({});
  ch.dcSum = (1LL << 30) + 1;
  ch.dcChunks = 1000;
  ch.dcOverflowGuard();
  EXPECT_EQ(ch.dcOffset(), ((1LL << 30) + 1) / 100000);
  EXPECT_EQ(ch.dcChunks, 0);
  ch.dcSum = 5000;
  ch.dcChunks = 10;
  ch.dcOverflowGuard();   // far from overflow: nothing changes
  EXPECT_EQ(ch.dcChunks, 10);
}

TEST(Normaliser, ChannelStoreRoundTrip) {
  ProbeChannel ch({});
  int32_t values[kStaticFeatures];
  for (int i = 0; i < kStaticFeatures; ++i) values[i] = i * 3 - 20;
  ch.speechFrames = 4;
  ch.clearNormaliser();
  EXPECT_EQ(ch.speechFrames, 0);
  for (int i = 0; i < kStaticFeatures; ++i) EXPECT_EQ(ch.normaliser[i], 0);
  ch.setCepstralNormaliser(values);
  ch.setDcOffset(-12);
  ch.setNoiseFloor(33);
  ch.setSpeechPeak(900);
  for (int i = 0; i < kStaticFeatures; ++i) EXPECT_EQ(ch.cepstralNormaliser()[i], values[i]);
  EXPECT_EQ(ch.dcOffset(), -12);
  EXPECT_EQ(ch.noiseFloor(), 33);
  EXPECT_EQ(ch.speechPeak(), 900);
  // The normaliser and levels survive open; the DC offset restarts at 1.
  ch.open(nullptr);
  EXPECT_EQ(ch.cepstralNormaliser()[3], values[3]);
  EXPECT_EQ(ch.noiseFloor(), 33);
  EXPECT_EQ(ch.dcOffset(), 1);
}

}  // namespace
}  // namespace vlm
