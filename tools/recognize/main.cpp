// recognize: runs the recognition search on wave files.
//
//   recognize --usr FILE --voc FILE [--voc FILE...] (--rul FILE | --jsgf FILE) [--rule NAME...]
//             [--json] [--session] WAVE...
//
// For each wave file it prints the n-best list (words, score, rules), the phone-loop score and
// the number of frames. Text output: the file name, a tab and the best hypothesis's words (empty
// when nothing was recognised), then one indented line per hypothesis ("\t<rank>\t<score>\t<words>
// \t<rules>"), "\tphoneLoopScore\t<n>" and "\tframes\t<n>". With --json: one JSON object per file
// per line with the fields file, frames, phoneLoopScore and nbest (objects with words, score and
// rules). Without --rule every top-level rule of the grammar is active (for a .rul file the rules
// no other rule refers to; for a JSGF grammar its public rules).
//
// By default every file is heard on its own: all its frames, from the channel state stored in the
// speaker's models. With --session the files are the utterances of one speaker in order, heard as
// the application hears them: one channel for all of them, the endpointer cutting each file's
// first utterance out, and the channel's normaliser and levels carried from one to the next (each
// utterance's end updates them); the JSON object then also has the normaliser after the file.
//
// RIFF and NIST files are read by the audio layer, other formats through libsndfile (opened on
// demand); every rate, sample format or channel count is mixed to mono and resampled to 11025 Hz. Errors (a missing or unreadable file, an unknown
// rule, a grammar that does not parse) are reported on standard error; the exit status is then 1,
// after every other file has been processed.
#include <sndfile.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtree.h"
#include "grammar/jsgf.h"

using namespace vlm;

namespace {


void usage() {
  std::fprintf(stderr,
               "usage: recognize --usr FILE --voc FILE [--voc FILE...] (--rul FILE | --jsgf FILE)\n"
               "                 [--rule NAME...] [--json] [--session] WAVE...\n");
}

// Reads a wave file as 16-bit mono samples at 11025 Hz. Empty error on success.
// The number of lines of a text file (0 when it cannot be read). Dictionaries hold one
// pronunciation per line and rule files start each rule with "RULE", so counting both before
// reading sizes the tables for what is loaded rather than for the largest dictionary there is.
int countInFile(const char* path, const char* prefix) {
  std::ifstream in(path, std::ios::binary);
  int count = 0;
  std::string line;
  const std::size_t n = prefix ? std::strlen(prefix) : 0;
  while (std::getline(in, line))
    if (n == 0 || line.compare(0, n, prefix) == 0) count++;
  return count;
}

// libsndfile, opened the first time a file is not RIFF or NIST: the wave files recognition is
// normally run on never map it (and the dozen codec libraries it needs) into the process.
struct Sndfile {
  bool tried = false;
  void* handle = nullptr;
  SNDFILE* (*open)(const char*, int, SF_INFO*) = nullptr;
  sf_count_t (*readfFloat)(SNDFILE*, float*, sf_count_t) = nullptr;
  int (*close)(SNDFILE*) = nullptr;
  const char* (*strerror)(SNDFILE*) = nullptr;

  bool load() {
    if (!tried) {
      tried = true;
      handle = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
      if (handle != nullptr) {
        open = reinterpret_cast<decltype(open)>(dlsym(handle, "sf_open"));
        readfFloat = reinterpret_cast<decltype(readfFloat)>(dlsym(handle, "sf_readf_float"));
        close = reinterpret_cast<decltype(close)>(dlsym(handle, "sf_close"));
        strerror = reinterpret_cast<decltype(strerror)>(dlsym(handle, "sf_strerror"));
      }
    }
    return open && readfFloat && close && strerror;
  }
};
Sndfile sndfile;

// Other formats (FLAC, Ogg, AIFF, ...) through libsndfile, channels mixed to mono.
bool readOtherFormat(const char* path, std::vector<float>* mono, unsigned* rate, std::string* error) {
  if (!sndfile.load()) return false;
  SF_INFO info{};
  SNDFILE* f = sndfile.open(path, SFM_READ, &info);
  if (f == nullptr) {
    *error = sndfile.strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.frames < 0 || info.samplerate <= 0) {
    sndfile.close(f);
    *error = "not a sound file";
    return false;
  }
  std::vector<float> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const sf_count_t got = sndfile.readfFloat(f, interleaved.data(), info.frames);
  sndfile.close(f);
  mono->resize(got > 0 ? static_cast<size_t>(got) : 0);
  for (size_t i = 0; i < mono->size(); i++) {
    float sum = 0;
    for (int c = 0; c < info.channels; c++) sum += interleaved[i * static_cast<size_t>(info.channels) + static_cast<size_t>(c)];
    (*mono)[i] = sum / static_cast<float>(info.channels);
  }
  *rate = static_cast<unsigned>(info.samplerate);
  return true;
}

std::vector<int16_t> readSpeech(const char* path, std::string* error) {
  std::vector<int16_t> out;
  if (access(path, R_OK) != 0) {
    *error = std::strerror(errno);
    return out;
  }
  std::vector<float> mono;
  unsigned rate = 0;
  // RIFF and NIST by the audio layer's reader; anything else through libsndfile.
  LoadedWave wave;
  char reason[256] = {0};
  if (loadWaveFile(path, &wave, reason, sizeof reason)) {
    mono.assign(wave.samples, wave.samples + wave.count);
    rate = wave.rate;
  } else {
    std::string other;
    if (!readOtherFormat(path, &mono, &rate, &other)) {
      *error = reason[0] ? reason : "unknown sound file format";
      if (!other.empty()) *error += " (libsndfile: " + other + ")";
      else if (!sndfile.load()) *error += " (libsndfile.so.1 is not available for other formats)";
      return out;
    }
  }
  if (!toSpeechSamples(mono.data(), static_cast<uint32_t>(mono.size()), rate, &out)) *error = "cannot resample to 11025 Hz";
  return out;
}

// ---- the rules a grammar starts from ----

void collectReferences(const FSGNode* node, std::set<const FSGNode*>& seen, std::set<int>& referenced);

void treeContinuation(const WordNode*, const NodeTerminal* t, void* context) {
  auto* refs = static_cast<std::set<int>*>(context);
  if (t->node) refs->insert(t->node->rule);
}

void collectReferences(const FSGNode* node, std::set<const FSGNode*>& seen, std::set<int>& referenced) {
  for (; node != nullptr; node = node->next) {
    if (!seen.insert(node).second) return;
    switch (node->type) {
      case eRuleNode: referenced.insert(node->index()); break;
      case eOptionalNode: collectReferences(node->node, seen, referenced); break;
      case eAlternativeNode:
        if (node->alternative) {
          for (int i = 0; i < node->alternative->rules.count(); i++) referenced.insert(node->alternative->rules[i]);
          for (int i = 0; i < node->alternative->branches.count(); i++)
            collectReferences(node->alternative->branches[i], seen, referenced);
        }
        break;
      case eWordTreeNode:
        if (node->wordTree) node->wordTree->forEachWordEnd(treeContinuation, &referenced);
        break;
      default: break;
    }
  }
}

std::vector<int> topLevelRules(RuleDictionary& rules) {
  std::set<int> referenced;
  std::set<const FSGNode*> seen;
  for (int i = 2; i < rules.recordCount(); i++)
    if (RuleData* rd = rules.ruleAt(i)) collectReferences(&rd->root, seen, referenced);
  std::vector<int> top;
  for (int i = 2; i < rules.recordCount(); i++) {
    RuleData* rd = rules.ruleAt(i);
    if (rd && rd->root.type != eTerminalNode && !referenced.count(i)) top.push_back(i);
  }
  return top;
}

std::string jsonString(const char* s) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    switch (*p) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (*p < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", *p);
          out += buf;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  const char* usrPath = nullptr;
  const char* rulPath = nullptr;
  const char* jsgfPath = nullptr;
  std::vector<const char*> vocPaths, ruleNames, waves;
  bool json = false;
  bool session = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&](const char** target) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "recognize: %s needs a value\n", a.c_str());
        usage();
        std::exit(2);
      }
      *target = argv[++i];
    };
    const char* v = nullptr;
    if (a == "--usr") value(&usrPath);
    else if (a == "--voc") { value(&v); vocPaths.push_back(v); }
    else if (a == "--rul") value(&rulPath);
    else if (a == "--jsgf") value(&jsgfPath);
    else if (a == "--rule") { value(&v); ruleNames.push_back(v); }
    else if (a == "--json") json = true;
    else if (a == "--session") session = true;
    else if (a == "--help" || a == "-h") { usage(); return 0; }
    else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "recognize: unknown option %s\n", a.c_str());
      usage();
      return 2;
    } else waves.push_back(argv[i]);
  }
  if (!usrPath || vocPaths.empty() || (!rulPath == !jsgfPath) || waves.empty()) {
    usage();
    return 2;
  }

  int failed = 0;
  User user;
  if (!user.readFile(usrPath)) {
    std::fprintf(stderr, "recognize: cannot read speaker models %s\n", usrPath);
    return 1;
  }
  // The speaker's features are computed with the filter bank warped for that speaker.
  if (user.vtln != WavChannel::melFilterBankSecondEFormantBin()) WavChannel::melFilterBankWithVTLN(user.vtln);
  // Room for every pronunciation of the dictionaries and for the compound words the grammar
  // makes from their parts.
  int wordRoom = 4096;
  for (const char* voc : vocPaths) wordRoom += countInFile(voc, nullptr);
  WordDictionary words(wordRoom);
  for (const char* voc : vocPaths) {
    if (!words.readFile(voc)) {
      std::fprintf(stderr, "recognize: cannot read dictionary %s\n", voc);
      failed = 1;
    }
  }
  RuleDictionary rules(rulPath ? 256 + countInFile(rulPath, "RULE") : 4096);
  std::vector<int> active;
  if (rulPath) {
    if (!rules.readFile(rulPath, &words)) {
      std::fprintf(stderr, "recognize: cannot read grammar %s\n", rulPath);
      return 1;
    }
    if (rules.readErrorCount() > 0) {
      std::fprintf(stderr, "recognize: %d rule(s) of %s do not parse (see velmora.log)\n", rules.readErrorCount(),
                   rulPath);
      failed = 1;
    }
    if (ruleNames.empty()) active = topLevelRules(rules);
  } else {
    std::ifstream in(jsgfPath, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "recognize: cannot read grammar %s: %s\n", jsgfPath, std::strerror(errno));
      return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    JsgfConversion conversion;
    if (!convertJsgf(text.str().c_str(), &words, &conversion, jsgfPath)) failed = 1;
    for (const std::string& m : conversion.messages) std::fprintf(stderr, "%s\n", m.c_str());
    for (const std::string& w : conversion.missingWords)
      std::fprintf(stderr, "recognize: %s: word not in the dictionary: %s\n", jsgfPath, w.c_str());
    // the converted text goes through the .rul reader
    char temporary[] = "/tmp/recognize-XXXXXX";
    const int fd = mkstemp(temporary);
    if (fd < 0) {
      std::fprintf(stderr, "recognize: cannot make a temporary file: %s\n", std::strerror(errno));
      return 1;
    }
    const ssize_t written = write(fd, conversion.rul.data(), conversion.rul.size());
    close(fd);
    const int read = written == static_cast<ssize_t>(conversion.rul.size()) && rules.readFile(temporary, &words);
    unlink(temporary);
    if (!read) {
      std::fprintf(stderr, "recognize: cannot load the converted grammar of %s\n", jsgfPath);
      return 1;
    }
    if (rules.readErrorCount() > 0) {
      std::fprintf(stderr, "recognize: %d rule(s) of %s do not parse (see velmora.log)\n", rules.readErrorCount(),
                   jsgfPath);
      failed = 1;
    }
    if (ruleNames.empty()) {
      for (const std::string& name : conversion.publicRules)
        if (RuleData* rd = rules.getRuleData(name.c_str())) active.push_back(rd->index);
      if (conversion.publicRules.empty()) active = topLevelRules(rules);
    }
  }
  for (const char* name : ruleNames) {
    RuleData* rd = rules.getRuleData(name);
    if (rd == nullptr) {
      std::fprintf(stderr, "recognize: unknown rule %s\n", name);
      failed = 1;
      continue;
    }
    active.push_back(rd->index);
  }
  if (active.empty()) {
    std::fprintf(stderr, "recognize: no rule to recognise with\n");
    return 1;
  }

  Recognizer recognizer(&user, &words, &rules);
  StaticWavChannel sessionChannel;
  if (session) user.setChanCepMnDel(&sessionChannel);
  for (const char* wave : waves) {
    std::string error;
    std::vector<int16_t> samples = readSpeech(wave, &error);
    if (!error.empty()) {
      std::fprintf(stderr, "recognize: %s: %s\n", wave, error.c_str());
      failed = 1;
      continue;
    }
    WaveData data{samples.data(), static_cast<int32_t>(samples.size())};
    StaticWavChannel fileChannel;
    Utterance whole(nullptr);
    Utterance* heard = nullptr;  // the session channel's utterance of this file
    Utterance* uttp = &whole;
    if (session) {
      // The session channel keeps its normaliser and levels from file to file.
      if (!samples.empty() && sessionChannel.open(&data) && sessionChannel.listen(1, nullptr) &&
          sessionChannel.isUttAvailable() == 1)
        heard = sessionChannel.takeUtt();
      if (heard) {
        // Searched once it is complete, shifted by its own normaliser (docs/audio-frontend.md).
        heard->complete(0);
        normaliseOwnMean(heard);
        uttp = heard;
      }
    } else {
      if (!samples.empty() && fileChannel.open(&data)) {
        user.setChanCepMnDel(&fileChannel);
        Frame frame;
        while (fileChannel.nextFrame(&frame) >= 0) whole.frames.add(frame);
      }
      whole.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
      normaliseOwnMean(&whole);
    }
    Utterance& utt = *uttp;
    const int n = heard || utt.frameCount() > 0 ? recognizer.recognize(&utt, active.data(), static_cast<int>(active.size())) : 0;
    RecogResult* result = utt.result;
    const int count = result && n > 0 ? result->count() : 0;
    char text[4096];
    auto rulesOf = [&](const FSGNodeTypeItemAC& items, const char* separator, bool quoted) {
      std::string s;
      for (int k = 0; k < items.count(); k++) {
        if (items[k].type != eRuleNode) continue;
        const char* name = rules.nameOf(items[k].value);
        if (!s.empty()) s += separator;
        s += quoted ? jsonString(name ? name : "") : std::string(name ? name : "");
      }
      return s;
    };
    if (json) {
      std::string line = "{\"file\":" + jsonString(wave) + ",\"frames\":" + std::to_string(utt.frameCount()) +
                         ",\"phoneLoopScore\":" + std::to_string(utt.phoneLoopScore) + ",\"nbest\":[";
      for (int i = 0; i < count; i++) {
        toAscii(*result->at(i), &words, text, sizeof text);
        if (i) line += ",";
        line += "{\"words\":" + jsonString(text) + ",\"score\":" + std::to_string(result->at(i)->score) +
                ",\"rules\":[" + rulesOf(*result->at(i), ",", true) + "]}";
      }
      line += "]";
      if (session) {
        line += ",\"normaliser\":[";
        for (int k = 0; k < kStaticFeatures; k++)
          line += (k ? "," : "") + std::to_string(sessionChannel.cepstralNormaliser()[k]);
        line += "]";
      }
      line += "}";
      std::printf("%s\n", line.c_str());
    } else {
      text[0] = 0;
      if (count > 0) toAscii(*result->at(0), &words, text, sizeof text);
      std::printf("%s\t%s\n", wave, text);
      for (int i = 0; i < count; i++) {
        toAscii(*result->at(i), &words, text, sizeof text);
        std::printf("\t%d\t%d\t%s\t%s\n", i + 1, result->at(i)->score, text, rulesOf(*result->at(i), " ", false).c_str());
      }
      std::printf("\tphoneLoopScore\t%d\n\tframes\t%d\n", utt.phoneLoopScore, utt.frameCount());
    }
    std::fflush(stdout);
    if (session) {
      delete heard;
      sessionChannel.close();
    }
  }
  return failed;
}
