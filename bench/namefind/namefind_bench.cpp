// namefind's command grammar at the scale of an address book: building the rules for 20, 200 and
// 2000 contacts (the 20 demo contacts and made-up names pronounced by letter-to-sound), and the
// recognition of spoken commands (espeak-ng en-us, an allowed voice) with the first pass over the
// main rules and the second pass with its confidence test. Reported per case: processor time, and
// for recognition whether the command came out right (1 or 0) after the first pass alone and
// after the second pass. After the table: each size's times against 20 contacts, measured in this
// run. Needs espeak-ng and sox on PATH (the utterances are made at start).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "apps/namefind/commands.h"
#include "audio/channel.h"
#include "audio/utterance.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/recognizer.h"
#include "search/result.h"

using namespace vlm;

namespace {

std::string dataDir() { return std::string(VLM_SOURCE_DIR) + "/data/"; }

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The demo contacts and n - 20 made-up ones.
std::string contactsText(int n) {
  const char* syllables[] = {"bal", "dor", "ven", "mir", "tas", "kel", "ron", "sil", "gar", "lun",
                             "fen", "hol", "zan", "per", "wic", "nor", "jas", "tam", "quin", "bre"};
  std::string text = readAll(dataDir() + "demo.tsv");
  const std::string header = text.substr(0, text.find('\n') + 1);
  std::string rows;
  for (int i = 0; i < n - 20; i++)
    rows += std::string(syllables[i % 20]) + syllables[(i / 20) % 20] + "\t" + syllables[i % 17] +
            syllables[(i / 17) % 17] + syllables[(i / 289) % 7] + "a\n";
  // Only firstName and lastName for the made-up rows: a header of their own before the demo's.
  TsvStore demo(eKindContact);
  demo.loadText(text);
  TsvStore all(eKindContact);
  all.loadText("firstName\tlastName\n" + rows);
  for (const Row& r : demo.rows) all.addRow(r);
  return all.saveText();
}

struct Grammar {
  WordDictionary words{4096 + 400 + 16 * 2100};
  RuleDictionary rules{256};
  TsvStore contacts{eKindContact};
  TsvStore commands{eKindCommand};
  std::unique_ptr<CommandGrammar> grammar;

  explicit Grammar(int n) {
    words.readFile((dataDir() + "base.voc").c_str());
    words.readFile((dataDir() + "demo.voc").c_str());
    words.readFile((dataDir() + "command.voc").c_str());
    contacts.loadText(contactsText(n));
    commands.loadText(readAll(dataDir() + "command.tsv"));
    grammar = std::make_unique<CommandGrammar>(&words, &rules, &contacts, &commands);
    std::vector<std::string> bad;
    std::vector<int> out;
    grammar->build(&bad, &out, dataDir());
  }
};

struct Spoken {
  const char* text;
  std::vector<Frame> frames;
};

std::vector<Spoken>& spoken() {
  static std::vector<Spoken> list = {{"look up marcus tarnowicz", {}}, {"look up corwin", {}}, {"call work", {}}};
  return list;
}

User& user() {
  static User u;
  static bool read = u.readFile((dataDir() + "newuser.usr").c_str());
  (void)read;
  return u;
}

// Speaks each command into an 11025 Hz file and keeps its frames.
bool makeUtterances() {
  char dir[] = "/tmp/nfbench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  for (Spoken& s : spoken()) {
    const std::string raw = std::string(dir) + "/raw.wav", wav = std::string(dir) + "/u.wav";
    const std::string cmd = "espeak-ng -v en-us -w '" + raw + "' '" + s.text + "' && sox -q '" + raw +
                            "' -r 11025 -c 1 -b 16 '" + wav + "' pad 0.3 0.5";
    if (std::system(cmd.c_str()) != 0) return false;
    FileWavChannel channel;
    if (!channel.open(wav.c_str())) return false;
    user().setChanCepMnDel(&channel);
    Frame frame;
    while (channel.nextFrame(&frame) >= 0) s.frames.push_back(frame);
    unlink(raw.c_str());
    unlink(wav.c_str());
  }
  rmdir(dir);
  return true;
}

Utterance* utteranceOf(const Spoken& s) {
  auto* u = new Utterance(nullptr);
  for (const Frame& f : s.frames) u->frames.add(f);
  u->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
  return u;
}

double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

std::map<std::string, double>& times() {
  static std::map<std::string, double> t;
  return t;
}

void BM_BuildGrammar(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double total = 0;
  for (auto _ : state) {
    const double start = cpuSeconds();
    Grammar g(n);
    total += cpuSeconds() - start;
    benchmark::DoNotOptimize(g.grammar.get());
  }
  times()["build/" + std::to_string(n)] = total / static_cast<double>(state.iterations());
}

// Recognition of every spoken command: first pass, then second pass and confidence test.
void BM_Recognise(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Grammar g(n);
  Recognizer recognizer(&user(), &g.words, &g.rules);
  double first = 0, second = 0;
  int rightFirst = 0, rightSecond = 0, runs = 0;
  for (auto _ : state) {
    for (const Spoken& s : spoken()) {
      Utterance* u = utteranceOf(s);
      double t0 = cpuSeconds();
      recognizer.recognize(u, g.grammar->mainList.data(), static_cast<int>(g.grammar->mainList.size()));
      double t1 = cpuSeconds();
      char text[256] = "";
      if (u->result && u->result->count() > 0) toAscii(*u->result->at(0), &g.words, text, sizeof text);
      rightFirst += std::string(text) == s.text || (std::string(s.text) == "look up marcus tarnowicz" &&
                                                    std::string(text) == "look up marcus_tarnowicz");
      Utterance* kept = u->result && u->result->count() > 0 ? g.grammar->secondPass(&recognizer, u, 1) : nullptr;
      double t2 = cpuSeconds();
      text[0] = 0;
      if (kept && kept->result && kept->result->count() > 0) toAscii(*kept->result->at(0), &g.words, text, sizeof text);
      rightSecond += std::string(text) == s.text;
      if (kept) delete kept;
      else if (!u->result || u->result->count() == 0) delete u;
      first += t1 - t0;
      second += t2 - t1;
      runs++;
    }
  }
  state.counters["first_pass_ms"] = first / runs * 1000;
  state.counters["second_pass_ms"] = second / runs * 1000;
  state.counters["right_first"] = static_cast<double>(rightFirst) / runs;
  state.counters["right_second"] = static_cast<double>(rightSecond) / runs;
  times()["first/" + std::to_string(n)] = first / runs;
  times()["second/" + std::to_string(n)] = second / runs;
}

BENCHMARK(BM_BuildGrammar)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Recognise)->Arg(20)->Arg(200)->Arg(2000)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!makeUtterances()) {
    std::fprintf(stderr, "bench_namefind: espeak-ng and sox are needed\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nagainst 20 contacts (same run):\n");
  for (const char* what : {"build", "first", "second"})
    for (int n : {200, 2000}) {
      const double base = times()[std::string(what) + "/20"];
      const double t = times()[std::string(what) + "/" + std::to_string(n)];
      if (base > 0) std::printf("  %-6s %4d contacts: %.2f x\n", what, n, t / base);
    }
  return 0;
}
