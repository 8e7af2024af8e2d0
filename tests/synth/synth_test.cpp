// The formant synthesiser: phone-code rewriting, element expansion, timing, parameter frames and
// rendering.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "synth/klatt.h"
#include "synth/synth.h"
#include "synth/synthrules.h"

using namespace vlm;

namespace {

std::string rewrite(const char* pron) {
  AC<char> out(127);
  const int n = rewritePhones(pron, out);
  EXPECT_EQ(n, out.count());
  return std::string(out.begin(), out.count());
}

struct Expanded {
  std::vector<std::string> names;
  std::vector<int> durations;
  std::vector<int> stresses;
  int frames = 0;
};

Expanded expand(const std::string& symbols) {
  AC<char> elements;
  Expanded e;
  e.frames = expandPhonemes(symbols.data(), static_cast<int>(symbols.size()), elements);
  EXPECT_EQ(elements.count() % 3, 0);
  for (int i = 0; i + 2 < elements.count(); i += 3) {
    const int index = static_cast<unsigned char>(elements[i]);
    EXPECT_LT(index, synthElementCount());
    e.names.push_back(synthElements()[index].name);
    e.durations.push_back(static_cast<unsigned char>(elements[i + 1]));
    e.stresses.push_back(static_cast<unsigned char>(elements[i + 2]));
  }
  return e;
}

std::string join(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : " ") + n;
  return s;
}

int meanDuration(const char* name) {
  const Element& e = synthElements()[findSynthElement(name)];
  return static_cast<int>(kSynthSpeedFactor * ((e.duration + e.unstressedDuration) / 2.0));
}

std::vector<std::string> diagnostics;
void collect(const char* text) { diagnostics.push_back(text); }

}  // namespace

TEST(SynthRewrite, PhoneCodesBecomePhonemeSymbols) {
  const struct {
    const char* pron;
    const char* symbols;
  } cases[] = {
      {"kat", "k&t  "},
      {"oE", "aI  "},
      {"Ow", "@U  "},       // the w after O is consumed
      {"0w", "@U  "},
      {"Ox", "@U  "},       // x is not a phone code
      {"fOr", "fOr  "},
      {"0r", "Or  "},
      {"pOYnt", "poInt  "},
      {"0Y", "oI  "},
      {"ot", "0t  "},       // o not followed by E
      {"wun.tUw", "wVn tuw  "},
      {"wun..tUw", "wVn tuw  "},  // one blank for a run of pauses
      {"wun.", "wVn "},     // the output already ends in a blank: nothing appended
      {".wun", "wVn  "},    // no blank at the start
      {"\tA b", "eI b  "},
      {"C j L M N", "tS dZ @l @m @n  "},
      {"+ K ~ y u c 8 ?", "t k N j V e U aU  "},
      {": i E Y I P R U a", "I I i i aI 3 3 u &  "},
      {"@DSTZbdefghklmnprstvwz", "@DSTZbdefghklmnprstvwz  "},
      {"", ""},
      {".", ""},
      {"...", ""},
      {"xX!", ""},          // unknown codes only
  };
  for (const auto& c : cases) EXPECT_EQ(rewrite(c.pron), c.symbols) << "pronunciation '" << c.pron << "'";
  EXPECT_EQ(rewrite(nullptr), "");
}

TEST(SynthExpand, LongestMatchInTheSymbolTrie) {
  const struct {
    const char* symbols;
    const char* elements;
  } cases[] = {
      {"k&t  ", "K KY KZ AA T TY TZ Q Q"},
      {"tS", "CH CI"},          // not t then S
      {"ts", "T TY TZ S"},
      {"dZ", "J JY QQ JY"},
      {"dz", "D DY DZ Z QQ ZZ"},
      {"eI", "AI I"},
      {"e", "E"},
      {"e@", "AIR IB"},
      {"rr", "R QQ R"},
      {"rrr", "R QQ R R"},
      {"aU", "OU OV"},
      {"@U", "OA OV"},
      {"@", "A"},
      {"I@U", "IA IB OO"},     // I@ is longer than I, then U alone
      {"oU oI o", "OI OV Q OI I Q OI"},
      {"v D z Z", "V QQ V Q DH QQ DI Q Z QQ ZZ Q ZH QQ ZH"},
      {"pbgmnNfTsShlRwxj%", "P PY PZ B BY BZ G GY GZ M N NG F TH S SH H L RX W X Y QQ"},
      {"iI3AOuV0&", "EE I ER AR AW UU U O AA"},
      {"U@O@", "OOR IB OR IB"},
  };
  for (const auto& c : cases) EXPECT_EQ(join(expand(c.symbols).names), c.elements) << "symbols '" << c.symbols << "'";
}

TEST(SynthExpand, MoveToFrontKeepsResults) {
  // Searches reorder the trie's child lists; the same input must expand the same way afterwards.
  const std::string text = "tS t s S dZ d Z eI e aI aU @U I@ rr r";
  const std::string first = join(expand(text).names);
  for (const char* other : {"s", "S", "t", "tSdZ", "Ze", "@", "rrrr", "I@I"}) expand(other);
  EXPECT_EQ(join(expand(text).names), first);
}

TEST(SynthExpand, StressMarksAndUnknownSymbols) {
  diagnostics.clear();
  setSynthDiagnosticSink(collect);
  const Expanded e = expand("'eIt-+&#k");
  setSynthDiagnosticSink(nullptr);
  EXPECT_EQ(join(e.names), "AI I T TY TZ AA K KY KZ");
  // Only vowels carry the stress; a later mark replaces it.
  EXPECT_EQ(e.stresses, (std::vector<int>{3, 3, 0, 0, 0, 1, 0, 0, 0}));
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0], "Ignoring # in ''eIt-+&#k'\n");

  // Without a sink the diagnostic is discarded; the expansion is the same.
  EXPECT_EQ(join(expand("#k").names), "K KY KZ");
  EXPECT_EQ(expand("").frames, 0);
  EXPECT_TRUE(expand("'-#").names.empty());
}

TEST(SynthExpand, DurationsAndFrameCount) {
  const Expanded e = expand("k&t  ");
  int sum = 0;
  for (size_t i = 0; i < e.names.size(); ++i) {
    EXPECT_EQ(e.durations[i], meanDuration(e.names[i].c_str())) << e.names[i];
    EXPECT_LE(e.durations[i], 255);
    sum += e.durations[i];
  }
  EXPECT_EQ(e.frames, sum);
  EXPECT_GT(e.frames, 0);
}

TEST(SynthElements, EveryElementHasSaneTracks) {
  const Element* table = synthElements();
  for (int i = 0; i < synthElementCount(); ++i) {
    const Element& e = table[i];
    EXPECT_EQ(findSynthElement(e.name), i);
    EXPECT_GE(e.duration, e.unstressedDuration) << e.name;
    for (int j = 0; j < kSynthParams; ++j) {
      const ElementParam& p = e.param[j];
      if (j >= pAN) {
        EXPECT_GE(p.steady, 0) << e.name << " track " << j;
        EXPECT_LE(p.steady, 87) << e.name << " track " << j;
      } else {
        EXPECT_GT(p.steady, 0) << e.name << " track " << j;
        EXPECT_LT(p.steady, kSynthSampleRate / 2) << e.name << " track " << j;
      }
      EXPECT_GE(p.proportion, 0);
      EXPECT_LE(p.proportion, 100);
    }
  }
  EXPECT_NE(table[findSynthElement("EE")].features & ELM_VOWEL, 0u);
  EXPECT_EQ(table[findSynthElement("S")].features & ELM_VOWEL, 0u);
  EXPECT_EQ(findSynthElement("nope"), -1);
  EXPECT_EQ(findSynthElement(nullptr), -1);
}

TEST(SynthTracks, TransitionsMoveTowardsTheVowelTarget) {
  AC<char> elements;
  const int frames = expandPhonemes("k&t  ", 5, elements);
  std::vector<SynthFrame> f(frames);
  ASSERT_EQ(buildParameterFrames(elements, f.data(), frames), frames);
  const Element& aa = synthElements()[findSynthElement("AA")];
  const int kFrames = meanDuration("K") + meanDuration("KY") + meanDuration("KZ");
  const int vowelFrames = meanDuration("AA");
  const SynthFrame& first = f[kFrames];
  const SynthFrame& middle = f[kFrames + vowelFrames / 2];
  const SynthFrame& last = f[kFrames + vowelFrames - 1];
  // The middle of the vowel reaches its targets; its edges lie between the stops' onsets and them.
  for (int j : {pF1, pF2, pF3}) EXPECT_EQ(middle.value[j], aa.param[j].steady) << j;
  EXPECT_LT(first.value[pF1], aa.param[pF1].steady);
  EXPECT_LT(last.value[pF1], aa.param[pF1].steady);
  EXPECT_GT(std::abs(first.value[pF2] - aa.param[pF2].steady), 0);
  EXPECT_EQ(middle.value[pAV], aa.param[pAV].steady);
  // Closure of k: silent; the aspiration of k: noise without voicing.
  EXPECT_EQ(f[0].value[pAV], 0);
  EXPECT_EQ(f[0].value[pAF] + f[0].value[pASP], 0);
  EXPECT_GT(f[kFrames - 1].value[pASP], 0);
  // F0 falls over the utterance.
  EXPECT_GT(f[0].f0, f[frames - 1].f0);
  // Room limits what is written.
  EXPECT_EQ(buildParameterFrames(elements, f.data(), 3), 3);
  AC<char> none;
  EXPECT_EQ(buildParameterFrames(none, f.data(), frames), 0);
}

TEST(SynthRender, FrameSizeFormantCountAndAmplitudeTable) {
  KlattSynth s;
  s.reset(11025);
  EXPECT_EQ(s.samplesPerFrame, 110);  // trunc(110.25)
  EXPECT_EQ(s.cascadeFormants, 6);
  s.reset(16000);
  EXPECT_EQ(s.samplesPerFrame, 160);
  EXPECT_EQ(s.cascadeFormants, 8);
  s.reset(8000);
  EXPECT_EQ(s.samplesPerFrame, 80);
  EXPECT_EQ(s.cascadeFormants, 6);

  EXPECT_EQ(klattDbToLinear(87), 32767.0);
  EXPECT_EQ(klattDbToLinear(200), 32767.0);
  EXPECT_NEAR(klattDbToLinear(81), 16384.0, 1.0);  // 6 dB halves
  EXPECT_NEAR(klattDbToLinear(57), 1024.0, 1.0);
  EXPECT_EQ(klattDbToLinear(12), 0.0);
  EXPECT_EQ(klattDbToLinear(-3), 0.0);
  EXPECT_GT(klattDbToLinear(13), 0.0);
  for (int db = 14; db < 88; ++db) EXPECT_GE(klattDbToLinear(db), klattDbToLinear(db - 1));
}

TEST(SynthRender, EveryElementStaysFiniteAndDecaysToSilence) {
  // Each element for its own duration, then two seconds of silence: no NaN, no subnormal filter
  // state, and the output returns to exact silence.
  const int q = findSynthElement("Q");
  for (int i = 0; i < synthElementCount(); ++i) {
    AC<char> elements;
    const char body[3] = {static_cast<char>(i), static_cast<char>(10), 0};
    for (char b : body) elements.add(b);
    for (int k = 0; k < 20; ++k) {
      const char pause[3] = {static_cast<char>(q), static_cast<char>(10), 0};
      for (char b : pause) elements.add(b);
    }
    const int frames = 210;
    std::vector<SynthFrame> f(frames);
    ASSERT_EQ(buildParameterFrames(elements, f.data(), frames), frames);
    KlattSynth s;
    s.reset(kSynthSampleRate);
    std::vector<short> out(s.samplesPerFrame);
    long energy = 0;
    for (int k = 0; k < frames; ++k) {
      s.renderFrame(f[k], out.data());
      ASSERT_TRUE(s.stateIsClean()) << synthElements()[i].name << " frame " << k;
      if (k < 10)
        for (short v : out) energy += std::abs(v);
    }
    for (short v : out) ASSERT_EQ(v, 0) << synthElements()[i].name;
    bool silent = true;  // pauses and voiceless closures
    for (int j = pAN; j < kSynthParams; ++j) silent = silent && synthElements()[i].param[j].steady == 0;
    if (!silent) {
      EXPECT_GT(energy, 0) << synthElements()[i].name;
    }
  }
}

TEST(SynthRender, ClippedSamplesAreCounted) {
  KlattSynth s;
  s.reset(kSynthSampleRate);
  SynthFrame f{};
  const short values[kSynthParams] = {270, 500, 1500, 2500, 30, 40, 50, 0, 0, 0, 0, 0, 0, 0, 0, 87, 0, 0, 0};
  for (int j = 0; j < kSynthParams; ++j) f.value[j] = values[j];
  f.f0 = 600;
  std::vector<short> out(s.samplesPerFrame);
  long clipped = 0, atLimit = 0;
  for (int k = 0; k < 20; ++k) {
    clipped += s.renderFrame(f, out.data());
    for (short v : out) {
      EXPECT_GE(v, -32767);
      atLimit += v == 32767 || v == -32767;
    }
  }
  EXPECT_GT(clipped, 0);
  EXPECT_EQ(clipped, atLimit);
  EXPECT_EQ(s.clipped, clipped);
}

TEST(Synthesize, NothingToSayGivesNoBuffer) {
  for (const char* pron : {"", ".", "....", " \t", "xX!"}) {
    short* samples = reinterpret_cast<short*>(1);
    EXPECT_EQ(synthesize(pron, &samples), 0) << "'" << pron << "'";
    EXPECT_EQ(samples, nullptr);
  }
  short* samples = reinterpret_cast<short*>(1);
  EXPECT_EQ(synthesize(nullptr, &samples), 0);
  EXPECT_EQ(samples, nullptr);
}

TEST(Synthesize, SampleCountIsFramesTimesFrameSize) {
  for (const char* pron : {"kat", "wun.tUw", "TrE", "dubLyU", "eksklMASN"}) {
    AC<char> symbols(127), elements;
    rewritePhones(pron, symbols);
    const int frames = expandPhonemes(symbols.begin(), symbols.count(), elements);
    short* samples = nullptr;
    const int count = synthesize(pron, &samples);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(count, frames * 110) << pron;
    delete[] samples;
  }
}

TEST(Synthesize, SpeechIsAudibleRepeatableAndEndsInSilence) {
  resetSynthClippedSamples();
  short* a = nullptr;
  short* b = nullptr;
  const int n = synthesize("siks", &a);
  ASSERT_EQ(synthesize("siks", &b), n);
  ASSERT_GT(n, 0);
  for (int i = 0; i < n; ++i) ASSERT_EQ(a[i], b[i]) << "sample " << i;  // the state is reset per call

  // 10 ms windows: the loudest is clearly audible, the last is quiet.
  double loudest = 0, lastRms = 0;
  int s1 = 0;  // zero crossings in the first window of s (frication) and the vowel's loudest one
  for (int w = 0; w + 110 <= n; w += 110) {
    double e = 0;
    for (int i = w; i < w + 110; ++i) e += double(a[i]) * a[i];
    const double rms = std::sqrt(e / 110);
    loudest = std::max(loudest, rms);
    lastRms = rms;
  }
  for (int i = 111; i < 330; ++i) s1 += (a[i - 1] < 0) != (a[i] < 0);
  EXPECT_GT(loudest, 1000.0);
  EXPECT_LT(lastRms, 50.0);
  // Frication of s crosses zero far more often than voicing (about 2 per 10 ms at F1).
  EXPECT_GT(s1, 60);
  delete[] a;
  delete[] b;
  EXPECT_EQ(synthClippedSamples(), 0);
}
