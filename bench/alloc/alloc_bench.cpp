// The global pool allocator (operator new/delete) against the system allocator (malloc/free called
// directly), measured in the same run: small objects, mixed sizes, one and two threads. Prints
// the time ratio pool / system per case after the usual table (below 1 means the pool is faster).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "foundation/oneshot.h"

namespace {

struct Pool {
  static void* get(std::size_t n) { return ::operator new(n); }
  static void put(void* p) { ::operator delete(p); }
  static constexpr const char* name = "pool";
};
struct System {
  static void* get(std::size_t n) { return std::malloc(n); }
  static void put(void* p) { std::free(p); }
  static constexpr const char* name = "system";
};

// Deterministic request sizes: 70% up to 64 bytes, 25% up to 512, 5% up to 4096.
std::vector<std::size_t> mixedSizes() {
  std::vector<std::size_t> sizes(4096);
  unsigned x = 12345;
  for (std::size_t& s : sizes) {
    x = x * 1103515245u + 12345u;
    unsigned r = (x >> 8) % 100, v = x >> 16;
    s = r < 70 ? 1 + v % 64 : r < 95 ? 65 + v % 448 : 513 + v % 3584;
  }
  return sizes;
}

// A working set of live objects in which one object at a time is replaced: the pattern of the
// engine's records and strings.
template <class A>
void churn(benchmark::State& state, const std::vector<std::size_t>& sizes, std::size_t slots) {
  std::vector<void*> live(slots, nullptr);
  for (std::size_t i = 0; i < slots; ++i) live[i] = A::get(sizes[i % sizes.size()]);
  std::size_t i = 0, j = 0;
  for (auto _ : state) {
    A::put(live[i]);
    void* p = A::get(sizes[j]);
    *static_cast<char*>(p) = 1;
    live[i] = p;
    benchmark::DoNotOptimize(p);
    i = (i * 5 + 1) % slots;  // full-period step over a power-of-two slot count
    if (++j == sizes.size()) j = 0;
  }
  for (void* p : live) A::put(p);
  state.SetItemsProcessed(state.iterations());
}

template <class A>
void BM_Small(benchmark::State& state) {
  static const std::vector<std::size_t> sizes{24, 32, 16, 40, 8, 32, 48, 24};
  churn<A>(state, sizes, 1024);
}

template <class A>
void BM_Mixed(benchmark::State& state) {
  static const std::vector<std::size_t> sizes = mixedSizes();
  churn<A>(state, sizes, 4096);
}

// A burst of allocations freed in the same order: a list built and torn down.
template <class A>
void BM_Burst(benchmark::State& state) {
  std::vector<void*> items(256);
  for (auto _ : state) {
    for (void*& p : items) p = A::get(32);
    for (void* p : items) A::put(p);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 256);
}

// Registered in three phases, run in this order: one thread while the process still has only
// one (the pool then skips its lock), two threads, and one thread again once the process has had
// other threads (the lock is taken on every call, as in the programs with an audio thread).
void registerAll() {
  struct Case {
    const char* name;
    void (*pool)(benchmark::State&);
    void (*system)(benchmark::State&);
  } cases[] = {{"small", BM_Small<Pool>, BM_Small<System>},
               {"mixed", BM_Mixed<Pool>, BM_Mixed<System>},
               {"burst", BM_Burst<Pool>, BM_Burst<System>}};
  struct Phase {
    const char* name;
    int threads;
  } phases[] = {{"1 thread, single-threaded process", 1}, {"2 threads", 2},
                {"1 thread, multi-threaded process", 1}};
  for (const Phase& ph : phases) {
    for (const Case& c : cases) {
      for (int pool = 1; pool >= 0; --pool) {
        std::string name = std::string(c.name) + "/" + (pool ? "pool" : "system") + "/" + ph.name;
        benchmark::RegisterBenchmark(name.c_str(), pool ? c.pool : c.system)->Threads(ph.threads)->UseRealTime();
      }
    }
  }
}

// Collects the time per item of every run, then prints pool / system for each case.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      bool isMedian = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type != Run::RT_Iteration && !isMedian) continue;
      auto items = r.counters.find("items_per_second");
      if (items == r.counters.end() || items->second.value <= 0) continue;
      std::string name = r.run_name.function_name;
      names.insert(name);
      if (isMedian) medians[name] = items->second.value;
      else perSecond[name].push_back(items->second.value);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nratio pool/system (time per allocate+free; < 1: pool faster)\n");
    for (const std::string& name : names) {
      auto at = name.find("/pool/");
      if (at == std::string::npos) continue;
      std::string other = name;
      other.replace(at, 6, "/system/");
      if (!names.count(other)) continue;
      std::string label = name.substr(0, at) + " (" + name.substr(at + 6) + ")";
      std::printf("  %-50s %.2f\n", label.c_str(), rate(other) / rate(name));
    }
    std::printf("pool allocator active: %s\n", vlm::poolAllocatorActive() ? "yes" : "no (system build)");
  }

 private:
  // items per second of every repetition, by benchmark name; the ratio uses the medians
  // (or the median the library computed over repetitions)
  double rate(const std::string& name) const {
    auto m = medians.find(name);
    if (m != medians.end()) return m->second;
    std::vector<double> v = perSecond.at(name);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  std::map<std::string, std::vector<double>> perSecond;
  std::map<std::string, double> medians;
  std::set<std::string> names;
};

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
