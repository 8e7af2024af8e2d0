// The recognition search on constructed utterances against the contact-name grammar
// "( look up < names > )" with 10, 100 and 1000 contacts (each contact: a first name, a last name,
// and first_last compounds with and without a pause). Frames are the templates of the spoken pel
// chain, 200 samples each at 11025 Hz, so the real-time factor is search time / (frames x 200 /
// 11025 s). Three speakers: templates far apart (closeness 1: mismatching states are pruned at
// once), and templates 16 and 64 times closer (many states stay inside the beams, as with real
// speech; at 64 a mismatching frame costs only about 4).
// Reported per case: real-time factor (processor time of the search / audio time), the peak of the
// two search arenas (blocks held and bytes handed out), and how many of the five spoken names came
// out first. After the table: each grammar's time against the 10-contact grammar of the
// same speaker, measured in this run.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/utterance.h"
#include "grammar/ruledict.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtree.h"
#include "tests/search/chainpels.h"

using namespace vlm;

namespace {


struct Setup {
  User user;
  WordDictionary words{20000};
  RuleDictionary rules{64};
  int rule = -1;
  std::vector<std::unique_ptr<Utterance>> utterances;
  std::vector<std::string> expected;
  double audioSeconds = 0;
};

std::string randomName(unsigned& seed) {
  static const char consonants[] = "bdfghlmnrsvzSZjywDC";
  static const char vowels[] = "Eew@AaYci:Oo0Uu8?";
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  std::string p;
  const unsigned syllables = 2 + next(2);
  for (unsigned s = 0; s < syllables; s++) {
    p += consonants[next(sizeof consonants - 1)];
    p += vowels[next(sizeof vowels - 1)];
  }
  p += consonants[next(sizeof consonants - 1)];
  return p;
}

Setup* makeSetup(int contacts, int closeness) {
  auto* s = new Setup;
  s->user.makeSeparated();
  if (closeness > 1) {
    for (auto& m : s->user.models)
      for (auto& v : m) v = static_cast<int16_t>(v / closeness);
    s->user.initGenericModels();
  }
  User::usr = &s->user;
  s->words.addWordIfNew("look", "luk");
  s->words.addWordIfNew("up", "@b");
  unsigned seed = 4242;
  std::vector<std::pair<std::string, std::string>> names;  // compound name, pronunciation
  std::string body = "RULE _NamefindRule ( look up <\n";
  for (int i = 0; i < contacts; i++) {
    const std::string f = "f" + std::to_string(i), l = "l" + std::to_string(i);
    const std::string fp = randomName(seed), lp = randomName(seed);
    s->words.addWordIfNew(f.c_str(), fp.c_str());
    s->words.addWordIfNew(l.c_str(), lp.c_str());
    const std::string c = f + "_" + l;
    s->words.addWordIfNew(c.c_str(), (fp + lp).c_str());
    s->words.addWordIfNew(c.c_str(), (fp + "." + lp).c_str());
    body += "\t" + f + "\n\t" + l + "\n\t" + c + "\n";
    names.emplace_back(c, fp + lp);
  }
  body += "> ) ;\n";
  const std::string path = "search_bench_" + std::to_string(contacts) + ".rul";
  {
    std::ofstream out(path);
    out << body;
  }
  s->rules.readFile(path.c_str(), &s->words);
  unlink(path.c_str());
  s->rule = s->rules.getRuleData("_NamefindRule")->index;
  // five spoken names spread over the list
  for (int k = 0; k < 5; k++) {
    const auto& [name, pron] = names[static_cast<size_t>(k * contacts / 5)];
    auto utt = std::make_unique<Utterance>(nullptr);
    const std::vector<short> pels = searchtest::chainPels({{"luk"}, {"@b"}, {pron.c_str()}});
    for (size_t i = 0; i < pels.size(); i++) {
      const int n = pels[i] == 0 ? (i == 0 ? 8 : 12) : 4;
      Frame f;
      s->user.templateFrame(pels[i], &f);
      for (int r = 0; r < n; r++) utt->frames.add(f);
    }
    utt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    s->audioSeconds += utt->frameCount() * 200.0 / 11025.0;
    s->expected.push_back("look up " + name);
    s->utterances.push_back(std::move(utt));
  }
  return s;
}

Setup* setupFor(int contacts, int closeness) {
  static std::map<std::pair<int, int>, Setup*> cache;
  Setup*& s = cache[{contacts, closeness}];
  if (s == nullptr) s = makeSetup(contacts, closeness);
  User::usr = &s->user;
  return s;
}

std::map<std::pair<int, int>, double> secondsPerPass;

// Processor time of this process (the machine may be shared).
double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_Search(benchmark::State& state) {
  const int contacts = static_cast<int>(state.range(0));
  const int close = static_cast<int>(state.range(1));
  Setup* s = setupFor(contacts, close);
  setMaxMemoryAlloced(1L << 30);  // measure the need, do not cap it
  Recognizer recognizer(&s->user, &s->words, &s->rules);
  int correct = 0, passes = 0;
  Recognizer::resetPeakArenaBytes();
  const double start = cpuSeconds();
  for (auto _ : state) {
    correct = 0;
    for (size_t i = 0; i < s->utterances.size(); i++) {
      Utterance* utt = s->utterances[i].get();
      const int n = recognizer.recognize(utt, &s->rule, 1);
      char text[256] = {0};
      if (n > 0) toAscii(*utt->result->at(0), &s->words, text, sizeof text);
      if (s->expected[i] == text) correct++;
    }
    passes++;
  }
  const double perPass = (cpuSeconds() - start) / passes;
  secondsPerPass[{contacts, close}] = perPass;
  state.counters["rtf"] = perPass / s->audioSeconds;
  state.counters["arenaHeldKB"] = static_cast<double>(Recognizer::peakArenaBytes()) / 1024.0;
  state.counters["arenaUsedKB"] = static_cast<double>(Recognizer::peakArenaUsedBytes()) / 1024.0;
  state.counters["correct"] = correct;
  state.counters["utts"] = static_cast<double>(s->utterances.size());
  setMaxMemoryAlloced(kDefaultMaxMemoryAlloced);
}

BENCHMARK(BM_Search)->ArgNames({"contacts", "closeness"})->ArgsProduct({{10, 100, 1000}, {1, 16, 64}})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nsearch time per pass against the 10-contact grammar of the same speaker:\n");
  for (int close : {1, 16, 64}) {
    auto base = secondsPerPass.find({10, close});
    if (base == secondsPerPass.end() || base->second <= 0) continue;
    for (int n : {100, 1000}) {
      auto it = secondsPerPass.find({n, close});
      if (it != secondsPerPass.end())
        std::printf("  closeness %2d, %4d contacts: %.2f x\n", close, n, it->second / base->second);
    }
  }
  return 0;
}
