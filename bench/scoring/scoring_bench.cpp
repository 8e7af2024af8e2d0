// The innermost loop of recognition: User::rudePelScore (the distance of a frame from a template)
// against the same distance as a plain scalar loop built without vectorisation, in the same run.
// Each iteration scores one frame against all 1378 templates of a speaker; the report ends with
// the time per call of each and the ratio scalar / vectorised (> 1: the vectorised scorer is
// faster). The speaker's templates and frames are random values in the range of real features.
//
//   build-xx/bin/bench_scoring [--benchmark_repetitions=5]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/scoring/scalar_scorer.h"
#include "models/user.h"

namespace {

using namespace vlm;

constexpr int kFrames = 64;

struct Fixture {
  User* user = new User;
  std::vector<Frame> frames = std::vector<Frame>(kFrames);
  Fixture() {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> value(-600, 600);
    for (auto& m : user->models)
      for (auto& v : m) v = static_cast<int16_t>(value(rng));
    for (Frame& f : frames)
      for (auto& v : f.features) v = static_cast<int16_t>(value(rng));
    user->initGenericModels();
    User::usr = user;
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

template <int (*Score)(const int16_t*, const int16_t*)>
void scoreAllTemplates(benchmark::State& state) {
  Fixture& fx = fixture();
  int frame = 0;
  for (auto _ : state) {
    const int16_t* features = fx.frames[frame].features;
    int32_t total = 0;
    for (int s = 0; s < kPelCount; ++s) total += Score(fx.user->models[s], features);
    benchmark::DoNotOptimize(total);
    frame = (frame + 1) % kFrames;
  }
  state.SetItemsProcessed(state.iterations() * kPelCount);
}

void BM_rudePelScore_vector(benchmark::State& state) { scoreAllTemplates<&User::rudePelScore>(state); }
void BM_rudePelScore_scalar(benchmark::State& state) { scoreAllTemplates<&rudePelScoreScalar>(state); }

// The frame cost the search asks for (the template, its alternative where there is one, and the
// scaling), over every pel state.
void BM_pelScorePrim(benchmark::State& state) {
  Fixture& fx = fixture();
  int frame = 0;
  for (auto _ : state) {
    int32_t total = 0;
    for (int s = 0; s < kPelCount; ++s) total += User::pelScorePrim(static_cast<short>(s), &fx.frames[frame]);
    benchmark::DoNotOptimize(total);
    frame = (frame + 1) % kFrames;
  }
  state.SetItemsProcessed(state.iterations() * kPelCount);
}

BENCHMARK(BM_rudePelScore_vector);
BENCHMARK(BM_rudePelScore_scalar);
BENCHMARK(BM_pelScorePrim);

// Collects the time per call of every run and prints the ratio scalar / vectorised at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
      auto items = r.counters.find("items_per_second");
      if (items == r.counters.end() || items->second.value <= 0) continue;
      nsPerCall[r.run_name.function_name] = 1e9 / items->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\ntime per call (ns; median when repeated)\n");
    for (const auto& [name, ns] : nsPerCall) std::printf("  %-28s %8.2f\n", name.c_str(), ns);
    auto v = nsPerCall.find("BM_rudePelScore_vector");
    auto s = nsPerCall.find("BM_rudePelScore_scalar");
    if (v != nsPerCall.end() && s != nsPerCall.end())
      std::printf("ratio scalar / vectorised rudePelScore: %.2f (> 1: vectorised faster)\n",
                  s->second / v->second);
  }

 private:
  std::map<std::string, double> nsPerCall;
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
