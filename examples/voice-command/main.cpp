// voice-command: a small program with voice commands on libvelmora.
//
//   voice-command [--data DIR] [--grammar FILE.gram] (WAVE... | --mic)
//
// It loads the speaker models and dictionaries from the data directory (the installed
// share/velmora, or the user's ~/velmora), sets a JSGF grammar of a few commands (or the one
// given), and prints for each utterance the n-best list with scores and the phone-loop score.
//
// Build against the installed library with pkg-config:
//   g++ -std=c++17 main.cpp $(pkg-config --cflags --libs velmora) -o voice-command
// or with CMake (CMakeLists.txt beside this file): find_package(Velmora) and Velmora::velmora.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <velmora/velmora.h>

namespace {

const char* kCommands =
    "#JSGF V1.0;\n"
    "grammar commands;\n"
    "public <command> = <call> | <lookup>;\n"
    "<call> = call (home | work);\n"
    "<lookup> = look up (nadia | marcus | elena);\n";

void print(const velmora::Result& result) {
  if (!result.recognized()) {
    std::printf("heard nothing (%s)\n", result.reason.c_str());
    return;
  }
  std::printf("heard: %s\n", result.nbest[0].words.c_str());
  for (std::size_t i = 0; i < result.nbest.size(); i++) {
    const velmora::Hypothesis& h = result.nbest[i];
    std::printf("  %zu. %-30s score %d  rules", i + 1, h.words.c_str(), h.score);
    for (const std::string& rule : h.rules) std::printf(" %s", rule.c_str());
    std::printf("\n");
  }
  std::printf("  phone loop score %d, %d frames\n", result.phoneLoopScore, result.frames);
}

}  // namespace

int main(int argc, char** argv) {
  std::string data, grammar;
  std::vector<std::string> waves;
  bool mic = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if ((a == "--data" || a == "--grammar") && i + 1 < argc) (a == "--data" ? data : grammar) = argv[++i];
    else if (a == "--mic") mic = true;
    else if (a == "--help" || a == "-h") {
      std::printf("usage: voice-command [--data DIR] [--grammar FILE.gram] (WAVE... | --mic)\n");
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "voice-command: unknown option %s\n", a.c_str());
      return 2;
    } else waves.push_back(a);
  }
  if (waves.empty() != mic) {
    std::fprintf(stderr, "usage: voice-command [--data DIR] [--grammar FILE.gram] (WAVE... | --mic)\n");
    return 2;
  }
  if (data.empty()) data = velmora::Engine::dataDirectory();
  if (data.empty()) {
    std::fprintf(stderr, "voice-command: no Velmora data directory found (give --data DIR)\n");
    return 1;
  }
  if (data.back() != '/') data += '/';

  velmora::Engine engine;
  if (!engine.loadUser(data + "newuser.usr") || !engine.addDictionary(data + "base.voc") ||
      !engine.addDictionary(data + "demo.voc") ||
      !(grammar.empty() ? engine.setJsgfGrammar(kCommands) : engine.setGrammarFile(grammar))) {
    std::fprintf(stderr, "voice-command: %s\n", engine.lastError().c_str());
    return 1;
  }
  for (const std::string& m : engine.messages()) std::fprintf(stderr, "%s\n", m.c_str());
  engine.setNbest(3);

  int status = 0;
  if (mic) {
    if (!engine.startListening()) {
      std::fprintf(stderr, "voice-command: %s\n", engine.lastError().c_str());
      return 1;
    }
    std::fprintf(stderr, "listening (Ctrl-C stops)\n");
    velmora::Result result;
    int got;
    while ((got = engine.nextUtterance(&result, 1000)) >= 0)
      if (got == 1) print(result);
    engine.stopListening();
    return 0;
  }
  for (const std::string& wave : waves) {
    const std::vector<velmora::Result> results = engine.recognizeFile(wave);
    if (results.empty()) {
      std::fprintf(stderr, "voice-command: %s\n", engine.lastError().c_str());
      status = 1;
      continue;
    }
    std::printf("%s:\n", wave.c_str());
    for (const velmora::Result& r : results) print(r);
  }
  return status;
}
