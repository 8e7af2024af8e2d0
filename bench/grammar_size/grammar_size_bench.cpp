// The search's memory and time against the size of a contact grammar: "look up" followed by one
// of 20, 200 or 2000 full names, written as word sequences (a names rule of alternatives, each a
// first and a last name: "( look up &names )" with "{ ( f0 l0 ) ( f1 l1 ) ... }") and as compound
// words ("( look up { f0_l0 f1_l1 ... } )", each compound with and without a pause). Utterances
// are the templates of "look up <first> <last>" for five names spread over the list, with a
// speaker whose templates are 16 times closer than far apart (many states stay inside the beams,
// as with real speech), each state's template blended with a neighbour's.
//
// Reported per case: real-time factor (processor time / audio time), the peak of the two search
// arenas (blocks held and bytes handed out), the process's peak resident size so far (the cases
// run in the order listed, so a later case shows at least an earlier one's peak), whether the
// arena peak fits the default limit, and how many of the five names came out first. After the table: time and arena peak of each grammar against
// the 20-name grammar of the same form, measured in this run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
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
#include "tests/search/chainpels.h"

using namespace vlm;

namespace {

constexpr int kCloseness = 16;

struct Setup {
  User user;
  WordDictionary words{30000};
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
  const unsigned syllables = 1 + next(2);
  for (unsigned s = 0; s < syllables; s++) {
    p += consonants[next(sizeof consonants - 1)];
    p += vowels[next(sizeof vowels - 1)];
  }
  p += consonants[next(sizeof consonants - 1)];
  return p;
}

Setup* makeSetup(int names, bool compounds) {
  auto* s = new Setup;
  s->user.makeSeparated();
  for (auto& m : s->user.models)
    for (auto& v : m) v = static_cast<int16_t>(v / kCloseness);
  s->user.initGenericModels();
  User::usr = &s->user;
  s->words.addWordIfNew("look", "luk");
  s->words.addWordIfNew("up", "@b");
  unsigned seed = 4242;
  std::vector<std::pair<std::string, std::string>> spoken;  // words, first pron + " " + last pron
  std::string text;
  if (compounds)
    text = "RULE top ( look up {\n";
  else
    text = "RULE names {\n";
  for (int i = 0; i < names; i++) {
    const std::string f = "f" + std::to_string(i), l = "l" + std::to_string(i);
    const std::string fp = randomName(seed), lp = randomName(seed);
    s->words.addWordIfNew(f.c_str(), fp.c_str());
    s->words.addWordIfNew(l.c_str(), lp.c_str());
    if (compounds) {
      const std::string c = f + "_" + l;
      s->words.addWordIfNew(c.c_str(), (fp + lp).c_str());
      s->words.addWordIfNew(c.c_str(), (fp + "." + lp).c_str());
      text += "\t" + c + "\n";
      spoken.emplace_back(c, fp + " " + lp);
    } else {
      text += "\t( " + f + " " + l + " )\n";
      spoken.emplace_back(f + " " + l, fp + " " + lp);
    }
  }
  text += compounds ? "} ) ;\n" : "} ;\nRULE top ( look up &names ) ;\n";
  const std::string path = "grammar_size_bench_" + std::to_string(getpid()) + ".rul";
  {
    std::ofstream out(path);
    out << text;
  }
  s->rules.readFile(path.c_str(), &s->words);
  unlink(path.c_str());
  s->rule = s->rules.getRuleData("top")->index;
  unsigned noise = 77;
  for (int k = 0; k < 5; k++) {
    const auto& [words, prons] = spoken[static_cast<size_t>(k * names / 5)];
    const std::string fp = prons.substr(0, prons.find(' ')), lp = prons.substr(prons.find(' ') + 1);
    auto utt = std::make_unique<Utterance>(nullptr);
    const std::vector<short> pels = searchtest::chainPels({{"luk"}, {"@b"}, {fp.c_str()}, {lp.c_str()}});
    for (size_t i = 0; i < pels.size(); i++) {
      const int n = pels[i] == 0 ? (i == 0 ? 8 : 12) : 4;
      Frame f, g;
      s->user.templateFrame(pels[i], &f);
      s->user.templateFrame(pels[i + 1 < pels.size() ? i + 1 : i], &g);
      for (int r = 0; r < n; r++) {
        Frame x = f;
        noise = noise * 1103515245u + 12345u;
        const int mix = static_cast<int>((noise >> 16) % 40);  // up to 40 % of the neighbour
        for (int c = 0; c < kFrameFeatures; c++) x.features[c] = static_cast<int16_t>((f.features[c] * (100 - mix) + g.features[c] * mix) / 100);
        utt->frames.add(x);
      }
    }
    utt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    s->audioSeconds += utt->frameCount() * 200.0 / 11025.0;
    s->expected.push_back("look up " + words);
    s->utterances.push_back(std::move(utt));
  }
  return s;
}

std::map<std::pair<int, int>, double> secondsPerPass, arenaPeak;

double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_GrammarSize(benchmark::State& state) {
  const int names = static_cast<int>(state.range(0));
  const bool compounds = state.range(1) != 0;
  static std::map<std::pair<int, int>, Setup*> cache;
  Setup*& s = cache[{names, compounds}];
  if (s == nullptr) s = makeSetup(names, compounds);
  User::usr = &s->user;
  const long oldLimit = setMaxMemoryAlloced(1L << 30);  // measure the need, do not cap it
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
  secondsPerPass[{names, compounds}] = perPass;
  arenaPeak[{names, compounds}] = static_cast<double>(Recognizer::peakArenaBytes());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["rtf"] = perPass / s->audioSeconds;
  state.counters["arenaHeldKB"] = static_cast<double>(Recognizer::peakArenaBytes()) / 1024.0;
  state.counters["arenaUsedKB"] = static_cast<double>(Recognizer::peakArenaUsedBytes()) / 1024.0;
  state.counters["peakRssMB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["correct"] = correct;
  state.counters["fitsDefault"] = Recognizer::peakArenaBytes() <= static_cast<size_t>(kDefaultMaxMemoryAlloced);
  setMaxMemoryAlloced(oldLimit);
}

BENCHMARK(BM_GrammarSize)
    ->ArgNames({"names", "compounds"})
    ->ArgsProduct({{20, 200, 2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nagainst the 20-name grammar of the same form (time per pass, arena peak):\n");
  for (int compounds : {0, 1}) {
    auto base = secondsPerPass.find({20, compounds});
    auto baseArena = arenaPeak.find({20, compounds});
    if (base == secondsPerPass.end() || base->second <= 0) continue;
    for (int n : {200, 2000}) {
      auto it = secondsPerPass.find({n, compounds});
      if (it == secondsPerPass.end()) continue;
      std::printf("  %-9s %4d names: time %.2f x, arena %.2f x\n", compounds ? "compounds" : "sequences", n,
                  it->second / base->second, arenaPeak[{n, compounds}] / baseArena->second);
    }
  }
  return 0;
}
