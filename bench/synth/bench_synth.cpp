// Speed of the formant synthesiser as a real-time factor (seconds of speech made per second of
// CPU, counter "x_realtime"), against two baselines measured in the same run: the rule stages
// alone (rewrite, expansion and parameter frames, no rendering) and a plain fill of a buffer of
// the same number of samples.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "synth/synth.h"
#include "synth/synthrules.h"

using namespace vlm;

namespace {

// Number names, letter names and command words in the system's phone codes.
const char* const kPhrases[] = {
    "zir0w", "wun", "tUw", "TrE", "fOr", "foEv", "siks", "sevN", "At", "noEn",
    "A", "bE", "sE", "dE", "E", "ef", "jE", "AC", "oE", "jA", "kA", "el", "em", "en", "Ow", "pE",
    "kyU", "or", "es", "tE", "yU", "vE", "dubLyU", "eks", "woE", "zE",
    "l8k.up", "kol.hOm", "wPk", "ek0w.on", "send.vOYs.mAl", "skej8l.@.mEt:~", "@pOYntment",
    "t@m0r0w", "eksklMASN.mork", "hundr@d.T?zNd",
};

double secondsOf(long samples) { return static_cast<double>(samples) / kSynthSampleRate; }

long totalSamples() {
  long total = 0;
  for (const char* p : kPhrases) {
    short* s = nullptr;
    total += synthesize(p, &s);
    delete[] s;
  }
  return total;
}

void BM_Synthesize(benchmark::State& state) {
  long samples = 0;
  for (auto _ : state) {
    for (const char* p : kPhrases) {
      short* s = nullptr;
      const int n = synthesize(p, &s);
      benchmark::DoNotOptimize(s);
      samples += n;
      delete[] s;
    }
  }
  state.counters["x_realtime"] = benchmark::Counter(secondsOf(samples), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(samples);
}
BENCHMARK(BM_Synthesize)->Unit(benchmark::kMillisecond);

// Baseline: the rule stages without rendering.
void BM_ParameterTracksOnly(benchmark::State& state) {
  long samples = 0;
  AC<char> symbols(127), elements(96);
  std::vector<SynthFrame> frames;
  for (auto _ : state) {
    for (const char* p : kPhrases) {
      const int n = rewritePhones(p, symbols);
      const int count = expandPhonemes(symbols.begin(), n, elements);
      if (static_cast<int>(frames.size()) < count) frames.resize(count);
      benchmark::DoNotOptimize(buildParameterFrames(elements, frames.data(), count));
      samples += static_cast<long>(count) * 110;
    }
  }
  state.counters["x_realtime"] = benchmark::Counter(secondsOf(samples), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(samples);
}
BENCHMARK(BM_ParameterTracksOnly)->Unit(benchmark::kMillisecond);

// Baseline: allocating and filling the same number of samples with a ramp.
void BM_BufferFillOnly(benchmark::State& state) {
  static const long perPass = totalSamples();
  long samples = 0;
  for (auto _ : state) {
    short* s = new short[perPass];
    for (long i = 0; i < perPass; ++i) s[i] = static_cast<short>(i * 7);
    benchmark::DoNotOptimize(s);
    benchmark::ClobberMemory();
    delete[] s;
    samples += perPass;
  }
  state.counters["x_realtime"] = benchmark::Counter(secondsOf(samples), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(samples);
}
BENCHMARK(BM_BufferFillOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
