// accuracy_recognize: the recognition run of the accuracy benchmark.
//
//   accuracy_recognize --usr FILE --voc FILE [--voc FILE...] --rul FILE --rule NAME [--rule NAME...]
//                      WAVE...
//
// Prints one JSON object per wave file and line, as `recognize --json` does (file, frames,
// phoneLoopScore, nbest of words and score). Unlike `recognize`, it builds the filter bank for the
// speaker's warp bin (the `vtln` of the model file) before any frame is computed, so that models
// calibrated for a speaker are scored on the features they were adapted on. Wave files must be
// 16-bit mono at 11025 Hz (the benchmark makes them so). Errors go to standard error; the exit
// status is then 1, after every other file has been processed.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "search/recognizer.h"
#include "search/result.h"

using namespace vlm;

namespace {

constexpr uint32_t kRate = 11025;

std::string jsonString(const char* s) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", *p);
      out += buf;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

int usage() {
  std::fprintf(stderr,
               "usage: accuracy_recognize --usr FILE --voc FILE [--voc FILE...] --rul FILE --rule NAME "
               "[--rule NAME...] WAVE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* usrPath = nullptr;
  const char* rulPath = nullptr;
  std::vector<const char*> vocPaths, ruleNames, waves;
  for (int i = 1; i < argc; i++) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--usr") == 0 && hasValue) usrPath = argv[++i];
    else if (std::strcmp(argv[i], "--voc") == 0 && hasValue) vocPaths.push_back(argv[++i]);
    else if (std::strcmp(argv[i], "--rul") == 0 && hasValue) rulPath = argv[++i];
    else if (std::strcmp(argv[i], "--rule") == 0 && hasValue) ruleNames.push_back(argv[++i]);
    else if (argv[i][0] == '-') return usage();
    else waves.push_back(argv[i]);
  }
  if (!usrPath || !rulPath || vocPaths.empty() || ruleNames.empty() || waves.empty()) return usage();

  User user;
  if (!user.readFile(usrPath)) {
    std::fprintf(stderr, "accuracy_recognize: cannot read speaker models %s\n", usrPath);
    return 1;
  }
  if (user.vtln > 0) WavChannel::melFilterBankWithVTLN(user.vtln);
  WordDictionary words(4096);
  for (const char* voc : vocPaths) {
    if (!words.readFile(voc)) {
      std::fprintf(stderr, "accuracy_recognize: cannot read dictionary %s\n", voc);
      return 1;
    }
  }
  RuleDictionary rules(256);
  if (!rules.readFile(rulPath, &words) || rules.readErrorCount() > 0) {
    std::fprintf(stderr, "accuracy_recognize: grammar %s cannot be read or does not parse\n", rulPath);
    return 1;
  }
  std::vector<int> active;
  for (const char* name : ruleNames) {
    RuleData* rd = rules.getRuleData(name);
    if (rd == nullptr) {
      std::fprintf(stderr, "accuracy_recognize: unknown rule %s\n", name);
      return 1;
    }
    active.push_back(rd->index);
  }

  int failed = 0;
  Recognizer recognizer(&user, &words, &rules);
  std::vector<int16_t> samples;
  char text[4096];
  for (const char* wave : waves) {
    LoadedWave loaded;
    char reason[256] = {0};
    if (!loadWaveFile(wave, &loaded, reason, sizeof reason) || loaded.rate != kRate) {
      std::fprintf(stderr, "accuracy_recognize: %s: %s\n", wave, reason[0] ? reason : "not 11025 Hz");
      failed = 1;
      continue;
    }
    samples.resize(loaded.count);
    for (uint32_t i = 0; i < loaded.count; i++) {
      const float v = std::nearbyint(loaded.samples[i] * 32768.0f);
      samples[i] = static_cast<int16_t>(v > 32767.0f ? 32767 : v < -32768.0f ? -32768 : v);
    }
    StaticWavChannel channel;
    WaveData data{samples.data(), static_cast<int32_t>(samples.size())};
    Utterance utt(nullptr);
    if (!samples.empty() && channel.open(&data)) {
      user.setChanCepMnDel(&channel);
      Frame frame;
      while (channel.nextFrame(&frame) >= 0) utt.frames.add(frame);
    }
    utt.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    const int n = utt.frameCount() > 0 ? recognizer.recognize(&utt, active.data(), static_cast<int>(active.size())) : 0;
    RecogResult* result = utt.result;
    const int count = result && n > 0 ? result->count() : 0;
    std::string line = "{\"file\":" + jsonString(wave) + ",\"frames\":" + std::to_string(utt.frameCount()) +
                       ",\"phoneLoopScore\":" + std::to_string(utt.phoneLoopScore) + ",\"nbest\":[";
    for (int i = 0; i < count; i++) {
      toAscii(*result->at(i), &words, text, sizeof text);
      if (i) line += ",";
      line += "{\"words\":" + jsonString(text) + ",\"score\":" + std::to_string(result->at(i)->score) + "}";
    }
    std::printf("%s]}\n", line.c_str());
  }
  return failed;
}
