// namefind's command grammar at the scale of an address book: building the rules for 20, 200 and
// 2000 contacts (the 20 demo contacts and made-up names pronounced by letter-to-sound), and the
// recognition of spoken commands (espeak-ng en-us, an allowed voice) with the first pass over the
// main rules and the second pass with its confidence test. Reported per case: processor time, and
// for recognition whether the command came out right (1 or 0) after the first pass alone and
// after the second pass. After the table: each size's times against 20 contacts, measured in this
// run. Needs espeak-ng and sox on PATH (the utterances are made at start).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "platform/msgbox.h"
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

// Sentences that are not commands: each should be rejected rather than acted on.
std::vector<Spoken>& nonCommands() {
  static std::vector<Spoken> list;
  if (list.empty())
    for (const char* t : {"the weather is nice today", "please pass the salt", "I would like a cup of coffee",
                          "where did you park the car", "this meeting is running late", "my phone battery is almost empty",
                          "turn left at the next corner", "the train leaves at seven", "can you help me with this box",
                          "what time does the shop open", "I forgot my umbrella again", "the children are playing outside",
                          "we need more paper for the printer", "how was your holiday", "the soup is too hot",
                          "let us go for a walk", "my brother lives in Chicago", "the window is stuck",
                          "she reads a book every week", "the bus was late this morning", "thank you very much",
                          "good night and sleep well", "the garden needs water", "I like green apples",
                          "he is painting the fence", "open the door please", "the music is too loud",
                          "a cat sat on the mat", "the river is very wide", "happy birthday to you"})
      list.push_back({t, {}});
  return list;
}

// Spoken commands for the accuracy and rejection table (the demo contacts and built-in rules).
std::vector<Spoken>& moreCommands() {
  static std::vector<Spoken> list;
  if (list.empty())
    for (const char* t : {"look up marcus tarnowicz", "look up corwin", "call work", "call home", "echo off",
                          "send mail", "voice mail", "schedule a meeting", "look up nadia ostrawen", "look up ann lee",
                          "look up gwendolyn ashdown", "look up elena castellano", "call cell", "schedule a lunch",
                          "look up tobias hartley", "look up henry", "call pager", "schedule a dinner",
                          "look up riverside software", "look up priya nakamura"})
      list.push_back({t, {}});
  return list;
}

// Speaks each command into an 11025 Hz file and keeps its frames.
bool makeUtterances() {
  char dir[] = "/tmp/nfbench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  std::vector<Spoken*> all;
  for (Spoken& s : spoken()) all.push_back(&s);
  for (Spoken& s : nonCommands()) all.push_back(&s);
  for (Spoken& s : moreCommands()) all.push_back(&s);
  for (Spoken* sp : all) {
    Spoken& s = *sp;
    const std::string raw = std::string(dir) + "/raw.wav", wav = std::string(dir) + "/u.wav";
    // VLM_BENCH_VOICE: another espeak-ng voice (e.g. en-gb-x-rp+m5), or flite:VOICE (slt, kal16, ...)
    const char* v = std::getenv("VLM_BENCH_VOICE");
    const std::string voice = v && *v ? v : "en-us";
    const std::string say = voice.rfind("flite:", 0) == 0
                                ? "flite -voice " + voice.substr(6) + " -o '" + raw + "' -t '" + s.text + "'"
                                : "espeak-ng -v " + voice + " -w '" + raw + "' '" + s.text + "'";
    // a microphone's low noise under the pauses, not digital silence
    const std::string cmd = say + " && sox -q '" + raw + "' -r 11025 -c 1 -b 16 '" + wav +
                            "' pad 0.3 0.5 dither -s";
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
  hearWhole(u);   // each utterance on its own normaliser, as namefind hears it
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

// The first and second pass and the confidence test on one utterance: the text of the accepted
// best hypothesis ("" when rejected), and the test's figures.
struct Judged {
  std::string first, accepted;
  int ref = 0, best = 0;
  double costAbovePhones = NAN;   // per frame, above the free phone loop (NaN: the test did not run)
};

Judged judge(Grammar& g, Recognizer& recognizer, const Spoken& s, bool withConfidence) {
  Judged j;
  Utterance* u = utteranceOf(s);
  recognizer.recognize(u, g.grammar->mainList.data(), static_cast<int>(g.grammar->mainList.size()));
  char text[256] = "";
  if (!u->result || u->result->count() == 0) {
    delete u;
    return j;
  }
  toAscii(*u->result->at(0), &g.words, text, sizeof text);
  j.first = text;
  const int saved = g.grammar->threshold;
  const double savedMax = g.grammar->maxCostAbovePhones;
  if (!withConfidence) {
    g.grammar->threshold = 1 << 28;
    g.grammar->maxCostAbovePhones = -1;
  }
  g.grammar->lastCostAbovePhones = NAN;
  Utterance* kept = g.grammar->secondPass(&recognizer, u, 1);
  j.costAbovePhones = g.grammar->lastCostAbovePhones;
  g.grammar->threshold = saved;
  g.grammar->maxCostAbovePhones = savedMax;
  if (kept == nullptr) return j;
  j.ref = kept->phoneLoopScore;
  j.best = kept->result->at(0)->score;
  text[0] = 0;
  toAscii(*kept->result->at(0), &g.words, text, sizeof text);
  j.accepted = text;
  delete kept;
  return j;
}

bool sameCommand(const std::string& said, const std::string& heard) {
  std::string h = heard;
  for (char& c : h) c = c == '_' ? ' ' : c;
  return h == said;
}

// Command accuracy with and without the second pass and confidence test, and the share of the
// sentences that are not commands which is rejected.
void rejectionTable() {
  Grammar g(20);
  Recognizer recognizer(&user(), &g.words, &g.rules);
  int firstRight = 0, secondRight = 0, commandsKept = 0;
  int commandMax = 0, otherMin = 1 << 30;   // best / ref in thousandths
  double commandCostMax = -1e9, otherCostMin = 1e9;   // cost per frame above the free phone loop
  // ratio: (best - ref) * 200 / ref as the confidence test computes it; the test only applies it
  // when ref < best (the phone loop scoring better than the grammar's best path).
  std::printf("\ncommands (first pass / second pass with confidence test; ref best ratio, cost per frame above\n"
              "the free phone loop):\n");
  for (const Spoken& s : moreCommands()) {
    const Judged plain = judge(g, recognizer, s, false);
    const Judged j = judge(g, recognizer, s, true);
    firstRight += sameCommand(s.text, plain.first);
    secondRight += sameCommand(s.text, j.accepted);
    commandsKept += !j.accepted.empty();
    const int ratio = j.ref != 0 ? (j.best - j.ref) * 200 / j.ref : 0;
    if (j.ref > 0) commandMax = std::max(commandMax, j.best * 1000 / j.ref);
    if (!std::isnan(j.costAbovePhones)) commandCostMax = std::max(commandCostMax, j.costAbovePhones);
    std::printf("  %-28s -> %-28s %-28s %7d %7d %4d %6.2f\n", s.text, plain.first.c_str(),
                j.accepted.empty() ? "(rejected)" : j.accepted.c_str(), j.ref, j.best, ratio, j.costAbovePhones);
  }
  int rejected = 0;
  std::printf("\nnot commands:\n");
  for (const Spoken& s : nonCommands()) {
    const Judged j = judge(g, recognizer, s, true);
    rejected += j.accepted.empty();
    const int ratio = j.ref != 0 ? (j.best - j.ref) * 200 / j.ref : 0;
    if (j.ref > 0) otherMin = std::min(otherMin, j.best * 1000 / j.ref);
    if (!std::isnan(j.costAbovePhones)) otherCostMin = std::min(otherCostMin, j.costAbovePhones);
    std::printf("  %-36s -> %-28s %7d %7d %4d %6.2f\n", s.text, j.accepted.empty() ? "(rejected)" : j.accepted.c_str(),
                j.ref, j.best, ratio, j.costAbovePhones);
  }
  const double n = static_cast<double>(moreCommands().size());
  std::printf("\ncommand accuracy: first pass %.0f %%, second pass and confidence test %.0f %% (%d of %zu kept)\n",
              100.0 * firstRight / n, 100.0 * secondRight / n, commandsKept, moreCommands().size());
  std::printf("best / ref: at most %d / 1000 for commands, at least %d / 1000 for the others\n", commandMax, otherMin);
  std::printf("cost per frame above the free phone loop: at most %.2f for commands, at least %.2f for the others "
              "(limit %.2f)\n", commandCostMax, otherCostMin, CommandGrammar::kMaxCostAbovePhones);
  std::printf("not commands rejected: %d of %zu (%.0f %%)\n", rejected, nonCommands().size(),
              100.0 * rejected / static_cast<double>(nonCommands().size()));
}

// Start-up to a listening microphone: the shell's initialisation (models, dictionaries), the
// post-start work (contacts, command list, grammar) and the microphone turned on, on a data
// directory of the shipped files and n contacts.
class QuietView : public NamefindView {
 public:
  void setText(int, const std::string&) override {}
  void setList(int, const std::vector<std::string>&, int) override {}
  void setEnabled(int, bool) override {}
  void setLevel(int, int, int) override {}
  void startMicTimer() override {}
  void stopMicTimer() override {}
  void postMessage(int) override {}
  void runOptions() override {}
  void closeMain() override {}
  void bringForward() override {}
  bool forwardActivation() override { return false; }
  void setSoftKeyboard(bool) override {}
};

int quietBox(const char*, const char*, BoxButtons, BoxIcon, int answer) { return answer; }

void startUpTable() {
  setMessageBoxHandler(quietBox);
  char dir[] = "/tmp/nfstart-XXXXXX";
  if (mkdtemp(dir) == nullptr) return;
  const std::string d = std::string(dir) + "/";
  for (const char* f : {"base.voc", "demo.voc", "command.tsv", "command.voc", "abc.voc", "abc.rul", "delta.usr"})
    std::system(("cp '" + dataDir() + f + "' '" + d + f + "'").c_str());
  std::system(("cp '" + dataDir() + "newuser.usr' '" + d + "tester.usr'").c_str());
  std::system(("sox -q -n -r 11025 -c 1 -b 16 '" + d + "quiet.wav' trim 0 0.5").c_str());
  setenv("VELMORA_MIC", (d + "quiet.wav").c_str(), 1);
  std::printf("\nstart-up to a listening microphone (processor / wall seconds):\n");
  double base = 0;
  for (int n : {20, 200, 2000}) {
    std::ofstream(d + "demo.tsv") << contactsText(n);
    std::ofstream(d + "namefind.cfg") << "u:tester.usr\nt:demo.tsv\ni:1\n";
    timespec w0, w1;
    clock_gettime(CLOCK_MONOTONIC, &w0);
    const double c0 = cpuSeconds();
    bool listening = false;
    {
      QuietView view;
      NamefindApp app(&view, d, false);
      if (app.initMain() == 1) {
        app.postStart();
        app.toggleMic();
        listening = app.micOn();
      }
      const double c1 = cpuSeconds();
      clock_gettime(CLOCK_MONOTONIC, &w1);
      const double wall = static_cast<double>(w1.tv_sec - w0.tv_sec) + (w1.tv_nsec - w0.tv_nsec) / 1e9;
      if (n == 20) base = c1 - c0;
      std::printf("  %4d contacts: %.3f / %.3f s%s (%.2f x 20 contacts)\n", n, c1 - c0, wall,
                  listening ? "" : " (the microphone did not start)", base > 0 ? (c1 - c0) / base : 0.0);
      if (app.micOn()) app.toggleMic();
    }
  }
  unsetenv("VELMORA_MIC");
  std::system(("rm -rf '" + d + "'").c_str());
}

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
  rejectionTable();
  startUpTable();
  return 0;
}
