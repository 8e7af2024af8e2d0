// Front-end speed as a real-time factor: seconds of audio turned into frames per CPU second, on
// one core, over 30 s of a deterministic speech-like signal (a gliding harmonic buzz with moving
// formant-like peaks, pauses and noise). Baselines measured in the same run over the same
// samples: a plain copy-and-sum pass (what fetching the chunks and the DC sums cost at least).
// After the table it prints the real-time factor of each path and its ratio to the baseline.
// Target: the front end at least 1000 times real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"

namespace {

using namespace vlm;

constexpr double kSeconds = 30.0;

const std::vector<int16_t>& signal() {
  static std::vector<int16_t> s = [] {
    const int n = static_cast<int>(kSeconds * kSampleRate);
    std::vector<int16_t> v(n);
    uint32_t x = 2463534242u;
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(i) / kSampleRate;
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      const double noise = (static_cast<double>(x % 2001) - 1000.0) * 0.03;
      // 1.2 s of "speech" then 1.8 s of pause, repeated.
      const double cycle = std::fmod(t, 3.0);
      double sample = noise;
      if (cycle < 1.2) {
        const double f0 = 110.0 + 30.0 * std::sin(2 * M_PI * 0.7 * t);
        phase += 2 * M_PI * f0 / kSampleRate;
        const double f1 = 500.0 + 300.0 * std::sin(2 * M_PI * 2.1 * t);
        const double f2 = 1500.0 + 600.0 * std::sin(2 * M_PI * 1.3 * t);
        for (int h = 1; h <= 30; ++h) {
          const double fh = h * f0;
          const double g = 1.0 / (1.0 + std::pow((fh - f1) / 150.0, 2)) + 0.5 / (1.0 + std::pow((fh - f2) / 200.0, 2));
          sample += 4000.0 * g / h * std::sin(h * phase);
        }
      }
      v[i] = static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, sample))));
    }
    return v;
  }();
  return s;
}

void setAudioCounter(benchmark::State& state) {
  state.counters["audio_s_per_s"] = benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

// Baseline: copy every 100-sample chunk out and sum it, as the chunk source and DC sums do.
void BM_CopyAndSum(benchmark::State& state) {
  const std::vector<int16_t>& s = signal();
  int16_t chunk[100];
  for (auto _ : state) {
    int64_t total = 0;
    for (size_t at = 0; at + 100 < s.size(); at += 100) {
      std::memcpy(chunk, s.data() + at, sizeof chunk);
      benchmark::DoNotOptimize(chunk);
      int32_t sum = 0;
      for (int k = 0; k < 100; ++k) sum += chunk[k];
      total += sum;
    }
    benchmark::DoNotOptimize(total);
  }
  setAudioCounter(state);
}

// Every frame of the signal, without endpointing.
void BM_FrontEnd(benchmark::State& state) {
  std::vector<int16_t> s = signal();
  WaveData data{s.data(), static_cast<int32_t>(s.size())};
  StaticWavChannel ch;
  int64_t frames = 0;
  for (auto _ : state) {
    ch.open(&data);
    Frame f;
    while (ch.nextFrame(&f) >= 0) ++frames;
    benchmark::DoNotOptimize(f);
  }
  state.counters["frames"] = static_cast<double>(frames) / state.iterations();
  setAudioCounter(state);
}

// The analysis exactly as defined: without the channel cleanup (first-chunk DC, high-pass), so
// that the cleanup's cost shows against BM_FrontEnd.
void BM_FrontEndAsDefined(benchmark::State& state) {
  setChannelCleanup(0);
  std::vector<int16_t> s = signal();
  WaveData data{s.data(), static_cast<int32_t>(s.size())};
  StaticWavChannel ch;
  for (auto _ : state) {
    ch.open(&data);
    Frame f;
    while (ch.nextFrame(&f) >= 0) {
    }
    benchmark::DoNotOptimize(f);
  }
  setChannelCleanup(1);
  setAudioCounter(state);
}

// Every frame, then the second pass of the utterance's own normaliser over them (what recognize
// does with a file).
void BM_FrontEndWithOwnMean(benchmark::State& state) {
  std::vector<int16_t> s = signal();
  WaveData data{s.data(), static_cast<int32_t>(s.size())};
  StaticWavChannel ch;
  std::vector<Frame> frames;
  for (auto _ : state) {
    frames.clear();
    ch.open(&data);
    Frame f;
    while (ch.nextFrame(&f) >= 0) frames.push_back(f);
    int32_t shift[kStaticFeatures];
    ownNormaliserShift(frames.data(), static_cast<int>(frames.size()), 0, shift);
    shiftStatics(frames.data(), static_cast<int>(frames.size()), shift);
    benchmark::DoNotOptimize(frames.data());
  }
  setAudioCounter(state);
}

// The front end with the endpointer: utterances found, taken and completed.
void BM_FrontEndWithEndpointer(benchmark::State& state) {
  std::vector<int16_t> s = signal();
  WaveData data{s.data(), static_cast<int32_t>(s.size())};
  StaticWavChannel ch;
  int64_t utts = 0;
  for (auto _ : state) {
    ch.open(&data);
    ch.listen(1, nullptr);
    while (ch.isUttAvailable() == 1) {
      Utterance* u = ch.takeUtt();
      u->complete(0);
      ++utts;
      delete u;
    }
    ch.listen(0, nullptr);
  }
  state.counters["utterances"] = static_cast<double>(utts) / state.iterations();
  setAudioCounter(state);
}

BENCHMARK(BM_CopyAndSum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrontEnd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrontEndAsDefined)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrontEndWithOwnMean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrontEndWithEndpointer)->Unit(benchmark::kMillisecond);

// Prints each path's real-time factor and the baseline's speed relative to it.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      auto c = r.counters.find("audio_s_per_s");
      if (c != r.counters.end()) rate[r.run_name.function_name] = c->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double base = rate.count("BM_CopyAndSum") ? rate["BM_CopyAndSum"] : 0.0;
    std::printf("\nreal-time factor (audio seconds per CPU second, one core; target >= 1000)\n");
    for (const auto& [name, r] : rate) {
      if (name == "BM_CopyAndSum") continue;
      std::printf("  %-28s %10.0f x real time", name.c_str(), r);
      if (base > 0) std::printf("   (copy-and-sum baseline is %.0f times faster)", base / r);
      std::printf("%s\n", r >= 1000.0 ? "" : "   BELOW TARGET");
    }
    if (base > 0) std::printf("  %-28s %10.0f x real time\n", "BM_CopyAndSum (baseline)", base);
  }

 private:
  std::map<std::string, double> rate;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
