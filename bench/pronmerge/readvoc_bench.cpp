// Loading the reference dictionary: WordDictionary::readFile of data/fulldict.voc and a look-up of
// every word in it, each against a baseline measured in the same run (reading the file's bytes
// and splitting them into lines; the same look-ups in a std::unordered_set). The whole
// pronmerge run is measured by bench/pronmerge/run.sh.
//
//   build/bin/bench_pronmerge [--benchmark_...]    ($VLM_FULLDICT overrides the dictionary path)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "lexicon/worddict.h"

namespace {

const char* dictPath() {
  const char* p = std::getenv("VLM_FULLDICT");
  return p ? p : VLM_DEFAULT_FULLDICT;
}

std::string readAll(const char* path) {
  std::string text;
  int fd = open(path, O_RDONLY);
  if (fd < 0) return text;
  char buffer[1 << 16];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fd);
  return text;
}

// The names of the file, one per line, as the look-up keys.
std::vector<std::string> names() {
  std::vector<std::string> out;
  std::string text = readAll(dictPath());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(pos, text.find('\t', pos) - pos));
    pos = end + 1;
  }
  return out;
}

template <class F>
double bestSeconds(F f, int runs = 5) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

// Baseline: the file's bytes read in blocks and split into lines, nothing stored.
long rawReadLines() {
  int fd = open(dictPath(), O_RDONLY);
  if (fd < 0) return 0;
  static char buffer[1 << 18];
  long lines = 0;
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    for (const char* p = buffer; (p = static_cast<const char*>(std::memchr(p, '\n', buffer + n - p))); ++p) ++lines;
  close(fd);
  return lines;
}

void BM_ReadFile(benchmark::State& state) {
  const double baseline = bestSeconds([] { benchmark::DoNotOptimize(rawReadLines()); });
  double total = 0;
  long words = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    auto* d = new vlm::WordDictionary(150000);
    if (!d->readFile(dictPath())) state.SkipWithError("cannot read the dictionary");
    words = d->wordCount();
    delete d;
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["words"] = static_cast<double>(words);
  state.counters["ratio_to_raw_read"] = total / state.iterations() / baseline;
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LookUpEveryWord(benchmark::State& state) {
  static vlm::WordDictionary d(150000);
  static bool loaded = d.readFile(dictPath());
  if (!loaded) state.SkipWithError("cannot read the dictionary");
  static std::vector<std::string> keys = names();
  // Baseline: the same look-ups in a standard hash set of the names.
  static std::unordered_set<std::string> set(keys.begin(), keys.end());
  const double baseline = bestSeconds([] {
    long n = 0;
    for (const std::string& k : keys) n += set.count(k);
    benchmark::DoNotOptimize(n);
  });
  double total = 0;
  long found = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    found = 0;
    for (const std::string& k : keys) found += d.getWordData(k.c_str()) != nullptr;
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  if (found != static_cast<long>(keys.size())) state.SkipWithError("a name of the file was not found");
  state.counters["lookups"] = static_cast<double>(keys.size());
  state.counters["ratio_to_std_unordered_set"] = total / state.iterations() / baseline;
}
BENCHMARK(BM_LookUpEveryWord)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
