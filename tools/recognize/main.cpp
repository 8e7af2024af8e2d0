// recognize: runs the recognition search on wave files.
//
//   recognize --usr FILE --voc FILE [--voc FILE...] (--rul FILE | --jsgf FILE) [--rule NAME...]
//             [--json] [--session] [--time] [--nbest N] [--raw [--rate HZ]] (WAVE... | - | --mic)
//
// docs/recognize.md describes every option. "-" reads one recording from standard input; --raw
// takes every input as 16-bit little-endian mono samples at --rate (16000 Hz unless given).
// --mic hears the microphone (or VELMORA_MIC) through the live channel and its endpointer and
// prints each utterance's result as it ends, until SIGINT or the end of the input; it is served
// by recognize-mic, the same program linked with the audio device layer, so that recognition of
// files never loads the sound libraries.
//
// For each wave file it prints the n-best list (words, score, rules), the phone-loop score and
// the number of frames. Text output: the file name, a tab and the best hypothesis's words (empty
// when nothing was recognised), then one indented line per hypothesis ("\t<rank>\t<score>\t<words>
// \t<rules>"), "\tconfidence\t<c>" (of the best hypothesis, search/confidence.h; "\trejected\t<why>"
// after it when --reject or --oov rejected the utterance), "\tphoneLoopScore\t<n>" and
// "\tframes\t<n>". With --json: one JSON object per file per line with the fields file, frames,
// phoneLoopScore, confidence, nbest (objects with words, score, confidence and rules) and, for a
// rejected utterance, rejected.
// Without --rule every top-level rule of the grammar is active (for a .rul file the rules
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
#include <csignal>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <map>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "search/confidence.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtimes.h"
#include "search/wordtree.h"
#include "grammar/jsgf.h"
#include "tools/cli.h"

using namespace vlm;

namespace {

#ifdef VLM_RECOGNIZE_LIVE
// Set by SIGINT or SIGTERM: live recognition stops after the utterance being heard; a second
// signal ends the program at once.
volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int signal) {
  if (stopRequested) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  stopRequested = 1;
}
#endif


constexpr const char* kUsage =
    "usage: recognize --usr FILE --voc FILE [--voc FILE...] (--rul FILE | --jsgf FILE)\n"
    "                 [--rule NAME...] [--json] [--session] [--time] [--nbest N]\n"
    "                 [--reject T] [--oov] [--raw [--rate HZ]] [--max-memory MB] [--max-time MS]\n"
    "                 (WAVE... | - | --mic)\n";
constexpr const char* kHelp =
    "Recognises speech against a grammar: each wave file, standard input (-) or the microphone.\n"
    "  --usr FILE        the speaker's models (data/newuser.usr for a speaker not enrolled)\n"
    "  --voc FILE        a pronunciation dictionary (repeat for more)\n"
    "  --rul FILE        the grammar as rules, or --jsgf FILE as a JSGF grammar\n"
    "  --rule NAME       only this rule is active (repeat for more; default: the top-level rules)\n"
    "  --json            one JSON object per utterance instead of text\n"
    "  --session         the files are one speaker's utterances in order, heard as one channel\n"
    "  --time            the start and end (frames and seconds) of each word\n"
    "  --nbest N         at most N hypotheses per utterance (1 to 15)\n"
    "  --reject T        drop hypotheses whose confidence (0 to 1) is below T; an utterance\n"
    "                    whose best one is dropped is rejected (0.1 rejects most speech that\n"
    "                    is not in the grammar)\n"
    "  --oov             let speech outside the grammar match the out-of-vocabulary phone loop;\n"
    "                    an utterance it matches best is rejected\n"
    "  --raw             inputs are 16-bit little-endian mono samples; --rate HZ (default 16000)\n"
    "  --mic             recognise live from the microphone (or VELMORA_MIC) until Ctrl-C\n"
    "  --max-memory MB, --max-time MS   limits of one search\n"
    "  --help, --version\n"
    "Exit status: 0 every input recognised, 1 a failure, 2 a usage error.\n"
    "Example: recognize --usr data/newuser.usr --voc data/base.voc --jsgf commands.gram command.wav\n";

void usage() {
  std::fputs(kUsage, stderr);
  std::fprintf(stderr, "(recognize --help lists the options)\n");
}

// Standard output, checked: a write that fails (a full device, a closed pipe) ends the program
// with the reason, since results that never arrive must not pass for success.
void emit(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    const int e = errno;
    std::fprintf(stderr, "recognize: cannot write the results to standard output: %s\n", std::strerror(e ? e : EIO));
    std::exit(1);
  }
}

// An input given by name must be a readable file, not a folder: "" when it is, else the reason.
std::string fileProblem(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory, not a file";
  if (access(path, R_OK) != 0) return std::strerror(errno);
  return "";
}

// While a reader runs, what it logs is shown on standard error as "recognize: <source>: <text>".
// With echo off the messages are only kept (the last one in last).
struct ShowLog {
  explicit ShowLog(const char* source, bool echo = true) : source(source), echo(echo) {
    previous = setLogObserver(show, this);
  }
  ~ShowLog() { setLogObserver(previous, nullptr); }
  static void show(const char* text, const char* second, void* context) {
    auto* self = static_cast<ShowLog*>(context);
    std::string message = std::string(text) + (second ? second : "");
    for (char& c : message)
      if (c == '\n' || c == '\t') c = ' ';
    const size_t start = message.find_first_not_of(' ');
    message = start == std::string::npos ? "" : message.substr(start);
    self->last = message;
    if (self->collect) self->all.push_back(message);
    if (!self->echo) return;
    if (self->source)
      std::fprintf(stderr, "recognize: %s: %s\n", self->source, message.c_str());
    else
      std::fprintf(stderr, "recognize: %s\n", message.c_str());
  }
  const char* source;
  bool echo;
  std::string last;
  std::vector<std::string> all;   // every message, when collecting
  bool collect = false;
  LogObserver previous;
};

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

// The word records a grammar's compound words ("ann_lee") will take on top of the dictionaries':
// the rule parser makes a compound with a pronunciation for every combination of its parts'
// pronunciations, each part with and without a pause in front, so 2^parts times the product of
// the parts' pronunciation counts. Counted from the grammar's text and the .voc lines.
long compoundRoom(const char* grammar, const std::vector<const char*>& vocs) {
  std::ifstream in(grammar, std::ios::binary);
  std::set<std::string> compounds;
  std::map<std::string, long> prons;
  std::string token;
  while (in >> token) {
    const size_t end = token.find_first_of(";{}()[]<>|*+=&\"");
    if (end != std::string::npos) token.resize(end);
    if (token.find('_') == std::string::npos || !compounds.insert(token).second) continue;
    std::istringstream parts(token);
    for (std::string part; std::getline(parts, part, '_');) prons.emplace(part, 0);
  }
  if (compounds.empty()) return 0;
  for (const char* voc : vocs) {
    std::ifstream v(voc, std::ios::binary);
    for (std::string line; std::getline(v, line);) {
      auto it = prons.find(line.substr(0, line.find('\t')));
      if (it != prons.end()) it->second++;
    }
  }
  long room = 0;
  for (const std::string& compound : compounds) {
    long records = 1;
    std::istringstream parts(compound);
    for (std::string part; std::getline(parts, part, '_') && records < (1L << 24);)
      records *= std::max(1L, prons[part]) * 2;
    room += std::min(records, 1L << 24) + 1;
  }
  return room;
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

// Raw input: 16-bit little-endian mono samples at rate, converted to 11025 Hz.
std::vector<int16_t> rawSpeech(const std::string& bytes, unsigned rate, std::string* error) {
  std::vector<int16_t> out;
  std::vector<float> mono(bytes.size() / 2);
  for (size_t i = 0; i < mono.size(); i++) {
    const unsigned lo = static_cast<unsigned char>(bytes[2 * i]), hi = static_cast<unsigned char>(bytes[2 * i + 1]);
    mono[i] = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)))) / 32768.0f;
  }
  if (bytes.size() % 2) std::fprintf(stderr, "recognize: warning: raw input has an odd number of bytes; the last is ignored\n");
  char why[256] = {0};
  if (!toSpeechSamples(mono.data(), static_cast<uint32_t>(mono.size()), rate, &out, why, sizeof why))
    *error = why[0] ? why : "cannot resample to 11025 Hz";
  return out;
}

// Everything a descriptor gives until its end; false with the reason when a read fails.
bool readAll(int fd, std::string* bytes, std::string* error) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = std::strerror(errno);
      return false;
    }
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

std::vector<int16_t> readSpeech(const char* path, std::string* error);

// Standard input: raw samples, or a recording in any format the files may have (kept in a
// temporary file for the readers, which take a path).
std::vector<int16_t> readStandardInput(bool raw, unsigned rate, std::string* error) {
  std::string bytes;
  if (!readAll(0, &bytes, error)) return {};
  if (raw) return rawSpeech(bytes, rate, error);
  if (bytes.empty()) {
    *error = "standard input is empty";
    return {};
  }
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/recognize-stdin-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = std::string("cannot make a temporary file: ") + std::strerror(errno);
    return {};
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      *error = std::string("cannot write a temporary file: ") + std::strerror(errno);
      close(fd);
      unlink(name.c_str());
      return {};
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  std::vector<int16_t> out = readSpeech(name.c_str(), error);
  unlink(name.c_str());
  return out;
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
    if (wave.warning[0]) std::fprintf(stderr, "recognize: %s: warning: %s\n", path, wave.warning);
  } else {
    std::string other;
    if (!readOtherFormat(path, &mono, &rate, &other)) {
      *error = reason[0] ? reason : "unknown sound file format";
      if (!other.empty()) *error += " (libsndfile: " + other + ")";
      else if (!sndfile.load()) *error += " (libsndfile.so.1 is not available for other formats)";
      return out;
    }
  }
  char why[256] = {0};
  if (!toSpeechSamples(mono.data(), static_cast<uint32_t>(mono.size()), rate, &out, why, sizeof why))
    *error = why[0] ? why : "cannot resample to 11025 Hz";
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

// Where a recording longer than one utterance is cut: the spans of speech between pauses, each
// with a little of the pause on either side. A frame is speech when its power (1/512 ln units) is
// above the file's floor (its 10th percentile) by at least 6 dB and by 30 % of the way to its
// peak (95th percentile); pauses shorter than kMinPause frames (0.3 s) stay inside a span, speech
// shorter than kMinSpeech frames (a click) is passed over. The live channel's endpointer waits
// for about 1.3 s of silence before it ends an utterance, so commands spoken with short pauses
// would share one utterance and all but the first be lost; a file is cut at every real pause.
std::vector<std::pair<int, int>> speechSpans(const Utterance& whole) {
  constexpr int kMinPause = 17, kMinSpeech = 5, kPad = 8;
  const int n = whole.frameCount();
  std::vector<std::pair<int, int>> spans;
  if (n == 0) return spans;
  std::vector<int32_t> sorted(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) sorted[static_cast<size_t>(i)] = whole.frames[i].power;
  std::sort(sorted.begin(), sorted.end());
  const int32_t floor = sorted[static_cast<size_t>(n / 10)], peak = sorted[static_cast<size_t>(n * 95 / 100)];
  const int32_t threshold = floor + std::max<int32_t>(707, (peak - floor) * 3 / 10);
  int start = -1, last = -1;  // the open span's first and last speech frame
  auto close = [&]() {
    if (start >= 0 && last - start + 1 >= kMinSpeech) spans.push_back({start, last + 1});
    start = -1;
  };
  for (int i = 0; i < n; i++) {
    if (whole.frames[i].power <= threshold) continue;
    if (start >= 0 && i - last > kMinPause) close();
    if (start < 0) start = i;
    last = i;
  }
  close();
  // a little of each pause on both sides, never past the middle of the pause
  for (size_t k = 0; k < spans.size(); k++) {
    const int before = k == 0 ? 0 : (spans[k - 1].second + spans[k].first) / 2;
    const int after = k + 1 == spans.size() ? n : (spans[k].second + spans[k + 1].first) / 2;
    spans[k].first = std::max(before, spans[k].first - kPad);
    spans[k].second = std::min(after, spans[k].second + kPad);
  }
  return spans;
}

// The rule --oov adds.
constexpr const char* kOovRuleName = "_OutOfVocabulary";

// True when the hypothesis passes through the out-of-vocabulary element, or through rule.
bool passesThrough(const FSGNodeTypeItemAC& items, int rule) {
  for (int k = 0; k < items.count(); k++) {
    if (items[k].type == eOutOfVocabularyNode) return true;
    if (rule >= 0 && items[k].type == eRuleNode && items[k].value == rule) return true;
  }
  return false;
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

// A grammar word the dictionaries lack gets the letter-to-sound pronunciation (class 4) instead
// of disabling the rules that use it, with a warning naming it. A compound ("ann_zork") gets one
// for each missing part, so the grammar can build it. Returns how many words were added.
int pronounceMissingWords(const std::vector<std::string>& missing, WordDictionary* words, const char* grammar) {
  int added = 0;
  std::set<std::string> done;
  for (const std::string& word : missing) {
    std::istringstream parts(word);
    for (std::string part; std::getline(parts, part, '_');) {
      if (part.empty() || words->getWordData(part.c_str()) != nullptr || !done.insert(part).second) continue;
      char pron[1024];
      xlateString(pron, part.c_str(), sizeof pron, nullptr, 1);
      if (pron[0] == 0 || words->addWordIfNew(part.c_str(), pron, 4) < 0) {
        std::fprintf(stderr, "recognize: %s: \"%s\" is in no dictionary and has no letter-to-sound pronunciation\n",
                     grammar, part.c_str());
        continue;
      }
      std::fprintf(stderr,
                   "recognize: %s: warning: \"%s\" is in no dictionary; using the letter-to-sound pronunciation "
                   "\"%s\" (run pronmerge on your word list for a lasting one)\n",
                   grammar, part.c_str(), pron);
      added++;
    }
  }
  return added;
}

// The words a .rul file names that the dictionaries lack, from a quiet trial read.
std::vector<std::string> missingRuleWords(const char* path, WordDictionary* words, int ruleRoom) {
  ShowLog quiet(path, false);
  quiet.collect = true;
  RuleDictionary trial(ruleRoom);
  trial.readFile(path, words);
  std::vector<std::string> missing;
  const std::string key = "No word named: ";
  for (const std::string& m : quiet.all) {
    const size_t at = m.find(key);
    if (at == std::string::npos) continue;
    std::string word = m.substr(at + key.size());
    word = word.substr(0, word.find(' '));
    if (!word.empty()) missing.push_back(word);
  }
  return missing;
}

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "recognize", (std::string(kUsage) + kHelp).c_str());
  const char* usrPath = nullptr;
  const char* rulPath = nullptr;
  const char* jsgfPath = nullptr;
  std::vector<const char*> vocPaths, ruleNames, waves;
  bool json = false;
  bool session = false;
  bool timings = false, raw = false, mic = false, oov = false;
  double rejectBelow = -1;   // --reject: the lowest confidence kept
  int nbest = RecogResult::kMaxResults;
  unsigned rawRate = 0;
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
    else if (a == "--time") timings = true;
    else if (a == "--raw") raw = true;
    else if (a == "--mic") mic = true;
    else if (a == "--oov") oov = true;
    else if (a == "--reject") {
      value(&v);
      char* end = nullptr;
      const double number = std::strtod(v, &end);
      if (end == v || *end != 0 || !(number >= 0 && number <= 1)) {
        std::fprintf(stderr, "recognize: --reject needs a confidence from 0 to 1, not %s\n", v);
        usage();
        return 2;
      }
      rejectBelow = number;
    }
    else if (a == "--nbest" || a == "--rate") {
      value(&v);
      char* end = nullptr;
      errno = 0;
      const long number = std::strtol(v, &end, 10);
      const long low = a == "--nbest" ? 1 : 4000, high = a == "--nbest" ? RecogResult::kMaxResults : 384000;
      if (end == v || *end != 0 || errno != 0 || number < low || number > high) {
        std::fprintf(stderr, "recognize: %s needs a whole number from %ld to %ld, not %s\n", a.c_str(), low, high, v);
        usage();
        return 2;
      }
      if (a == "--nbest") nbest = static_cast<int>(number);
      else rawRate = static_cast<unsigned>(number);
    }
    else if (a == "--max-memory" || a == "--max-time") {
      value(&v);
      char* end = nullptr;
      const double number = std::strtod(v, &end);
      if (end == v || *end != 0 || !(number > 0) || number > 1e9) {
        std::fprintf(stderr, "recognize: %s needs a positive number, not %s\n", a.c_str(), v);
        usage();
        return 2;
      }
      if (a == "--max-memory") setMaxMemoryAlloced(static_cast<long>(number * 1048576.0));
      else setMaxTickCount(static_cast<long>(number));
    }
    else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "recognize: unknown option %s\n", a.c_str());
      usage();
      return 2;
    } else waves.push_back(argv[i]);
  }
  auto usageError = [](const char* text) {
    std::fprintf(stderr, "recognize: %s\n", text);
    usage();
    std::exit(2);
  };
  if (mic && !waves.empty()) usageError("--mic takes no wave files");
  if (mic && (session || raw)) usageError("--mic hears the live channel: --session and --raw do not apply");
  if (rawRate && !raw) usageError("--rate is for --raw input");
  if (std::count_if(waves.begin(), waves.end(), [](const char* w) { return std::strcmp(w, "-") == 0; }) > 1)
    usageError("standard input (-) can be read only once");
  if (!usrPath || vocPaths.empty() || (!rulPath == !jsgfPath) || (waves.empty() && !mic)) {
    usage();
    return 2;
  }
  if (raw && rawRate == 0) rawRate = 16000;
#ifndef VLM_RECOGNIZE_LIVE
  // The microphone is heard by recognize-mic beside this program, which links the device layer.
  if (mic) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string live = "recognize-mic";
    if (n > 0) {
      self[n] = 0;
      live = std::string(self);
      live = live.substr(0, live.rfind('/') + 1) + "recognize-mic";
    }
    argv[0] = live.data();
    if (n > 0) execv(live.c_str(), argv);
    else execvp(live.c_str(), argv);   // no /proc: found on the PATH
    std::fprintf(stderr, "recognize: cannot start %s for --mic: %s\n", live.c_str(), std::strerror(errno));
    return 1;
  }
#endif

  // Where the speech log goes is settled first, so that what the data-directory search reports
  // is shown as the program's own message.
  {
    ShowLog show(nullptr);
    speechLogPath();
  }
  // Inputs named on the command line must be files (a folder given by mistake is said so).
  {
    std::vector<std::pair<const char*, const char*>> inputs{{"speaker models", usrPath}};
    for (const char* voc : vocPaths) inputs.push_back({"dictionary", voc});
    if (rulPath) inputs.push_back({"grammar", rulPath});
    if (jsgfPath) inputs.push_back({"grammar", jsgfPath});
    for (const auto& [what, path] : inputs) {
      const std::string problem = fileProblem(path);
      if (!problem.empty()) {
        std::fprintf(stderr, "recognize: cannot read %s %s: %s\n", what, path, problem.c_str());
        return 1;
      }
    }
  }

  int failed = 0;
  User user;
  {
    ShowLog quiet(usrPath, false);
    if (!user.readFile(usrPath)) {
      std::string reason = quiet.last;
      const std::string prefix = std::string("Speaker model file ") + usrPath;
      if (reason.compare(0, prefix.size(), prefix) == 0) reason = reason.substr(prefix.size());
      while (!reason.empty() && (reason[0] == ':' || reason[0] == ',' || reason[0] == ' ')) reason.erase(0, 1);
      if (reason.empty()) reason = "not a speaker model file";
      std::fprintf(stderr, "recognize: cannot read speaker models %s: %s\n", usrPath, reason.c_str());
      return 1;
    }
  }
  // The speaker's features are computed with the filter bank warped for that speaker.
  if (user.vtln != WavChannel::melFilterBankSecondEFormantBin()) WavChannel::melFilterBankWithVTLN(user.vtln);
  // Room for every pronunciation of the dictionaries and for the compound words the grammar
  // makes from their parts.
  long wordRoom = 4096 + compoundRoom(rulPath ? rulPath : jsgfPath, vocPaths);
  for (const char* voc : vocPaths) wordRoom += countInFile(voc, nullptr);
  if (wordRoom > (1L << 26)) {
    std::fprintf(stderr, "recognize: the grammar's compound words need %ld word records, more than %ld\n", wordRoom,
                 1L << 26);
    return 1;
  }
  WordDictionary words(static_cast<int>(wordRoom));
  for (const char* voc : vocPaths) {
    ShowLog show(voc);
    if (!words.readFile(voc)) {
      std::fprintf(stderr, "recognize: cannot read dictionary %s\n", voc);
      return 1;
    }
  }
  const int ruleRoom = rulPath ? 256 + countInFile(rulPath, "RULE") : 4096;
  RuleDictionary rules(ruleRoom);
  std::vector<int> active;
  if (rulPath) {
    pronounceMissingWords(missingRuleWords(rulPath, &words, ruleRoom), &words, rulPath);
    ShowLog show(rulPath);
    if (!rules.readFile(rulPath, &words)) {
      std::fprintf(stderr, "recognize: cannot read grammar %s: %s\n", rulPath, std::strerror(errno ? errno : EIO));
      return 1;
    }
    if (rules.readErrorCount() > 0) {
      std::fprintf(stderr, "recognize: %d rule(s) of %s do not parse\n", rules.readErrorCount(), rulPath);
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
    if (!convertJsgf(text.str().c_str(), &words, &conversion, jsgfPath) && !conversion.missingWords.empty() &&
        pronounceMissingWords(conversion.missingWords, &words, jsgfPath) > 0) {
      conversion = JsgfConversion();
      convertJsgf(text.str().c_str(), &words, &conversion, jsgfPath);
    }
    if (conversion.errors > 0 || !conversion.missingWords.empty()) failed = 1;
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
    ShowLog show(jsgfPath);
    const int read = written == static_cast<ssize_t>(conversion.rul.size()) && rules.readFile(temporary, &words);
    unlink(temporary);
    if (!read) {
      std::fprintf(stderr, "recognize: cannot load the converted grammar of %s\n", jsgfPath);
      return 1;
    }
    if (rules.readErrorCount() > 0) {
      std::fprintf(stderr, "recognize: %d rule(s) of %s do not parse\n", rules.readErrorCount(), jsgfPath);
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
  // --oov: one more active rule, the out-of-vocabulary element alone, which takes speech the
  // grammar does not describe (scored against the free phone loop).
  int oovRule = -1;
  if (oov) {
    oovRule = rules.newRule(kOovRuleName);
    RuleData* rd = oovRule >= 0 ? rules.ruleAt(oovRule) : nullptr;
    FSGNodeTypeItemAC items;
    items.add(eSequenceNode, 0);
    items.add(eOutOfVocabularyNode, kOutOfVocabularyRule);
    items.add(eSequenceEnd, 0);
    if (rd == nullptr || !rd->setRuleBody(items, &words, &rules)) {
      std::fprintf(stderr, "recognize: cannot add the out-of-vocabulary rule %s (is the name taken?)\n", kOovRuleName);
      return 1;
    }
    rd->flag = RULE_NOT_WRITTEN;
    active.push_back(oovRule);
  }
  // The free phone loop over the speaker's models: each utterance is also searched with it alone,
  // the reference of the confidence (search/confidence.h).
  int phoneRule = -1;
  {
    ShowLog show(nullptr);
    phoneRule = addPhoneLoopRule(&words, &rules);
  }
  if (phoneRule < 0)
    std::fprintf(stderr, "recognize: warning: no free phone loop; the confidence comes from the phone-loop ratio alone\n");

  Recognizer recognizer(&user, &words, &rules);
  StaticWavChannel sessionChannel;
  if (session) user.setChanCepMnDel(&sessionChannel);
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
  // The recognised words of result i with their frames [from, to) (out-of-vocabulary items are
  // passed over, as in the words shown).
  // A word ends where its sound ends (speechEnds), not where the next word or the end of the
  // utterance begins.
  auto forEachTimedWord = [&](const Utterance& utt, const RecogResult& list, int i, auto&& each) {
    const FSGNodeTypeItemAC& items = *list.at(i);
    const WordFrames& spans = list.framesAt(i);
    std::vector<int> ends(static_cast<size_t>(spans.words()) + 1);
    if (spans.words() > 0)
      speechEnds(items, spans, utt.frameCount() ? &utt.frames[0] : nullptr, utt.frameCount(), words, &user, ends.data());
    int k = 0;
    for (int j = 0; j < items.count(); j++) {
      if (items[j].type != eWordNode && items[j].type != eOutOfVocabularyNode) continue;
      if (items[j].type == eWordNode && k < spans.words()) {
        const char* name = words.nameOf(items[j].value);
        each(name ? name : "", spans.start(k), ends[size_t(k)]);
      }
      k++;
    }
  };
  // A frame number as seconds (frames of 200 samples at 11025 Hz).
  auto seconds = [](int frame) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", frame * 200.0 / 11025.0);
    return std::string(buffer);
  };
  // Recognises one utterance of a file (number k of a file split at pauses, 0 when not split)
  // and prints its result; a reason when it has none (or only for its first frames) goes to
  // standard error and into the JSON object. 1 when the utterance got a result.
  auto recogniseAndReport = [&](const char* wave, Utterance& utt, int k, bool heard) -> int {
    // the free phone loop first: the grammar's search leaves its result on the utterance
    int phoneBest = -1;
    if (heard && phoneRule >= 0 && recognizer.recognize(&utt, &phoneRule, 1) > 0 && utt.result &&
        utt.result->count() > 0)
      phoneBest = utt.result->at(0)->score;
    const int n = heard ? recognizer.recognize(&utt, active.data(), static_cast<int>(active.size())) : 0;
    const int end = heard ? recognizer.lastEnd() : eEndNoSpeech;
    RecogResult* result = utt.result;
    // results that differ only in pronunciation variants are one result to the user
    if (result && n > 0) result->noAltProns();
    const int found = result && n > 0 ? result->count() : 0;
    const std::string name = k > 0 ? std::string(wave) + "#" + std::to_string(k) : std::string(wave);
    // Confidence of each hypothesis; --reject and --oov drop hypotheses, and when they drop the
    // best one the utterance is rejected (the next ones are not promoted in its place).
    std::vector<int> kept;
    std::vector<double> confidence(static_cast<size_t>(found));
    std::string rejection;
    for (int i = 0; i < found; i++) {
      confidence[size_t(i)] = resultConfidence(utt.phoneLoopScore, result->at(i)->score, phoneBest, utt.frameCount());
      const bool outside = oovRule >= 0 && passesThrough(*result->at(i), oovRule);
      const bool doubtful = confidence[size_t(i)] < rejectBelow;
      if (i == 0 && (outside || doubtful)) {
        char buffer[96];
        if (outside) std::snprintf(buffer, sizeof buffer, "rejected: out of vocabulary");
        else std::snprintf(buffer, sizeof buffer, "rejected: confidence %.3f below %.3f", confidence[0], rejectBelow);
        rejection = buffer;
        break;
      }
      if (!outside && !doubtful && static_cast<int>(kept.size()) < nbest) kept.push_back(i);
    }
    const int count = static_cast<int>(kept.size());
    std::string reason;
    if (end != eEndResults) {
      reason = recognizeEndText(end);
      if (end == eEndTooLong) reason += ": only the first " + std::to_string(maxFramesInUtt) + " frames were searched";
      if (end == eEndMemory) reason += " (limit " + std::to_string(maxMemoryAlloced >> 20) + " MB; raise it with --max-memory)";
      if (end == eEndTime) reason += " (limit " + std::to_string(maxTickCount) + " ms; raise it with --max-time)";
      std::fprintf(stderr, "recognize: %s: %s%s\n", name.c_str(), count > 0 ? "" : "no result: ", reason.c_str());
    }
    if (!rejection.empty()) std::fprintf(stderr, "recognize: %s: %s\n", name.c_str(), rejection.c_str());
    char text[4096];
    char number[32];
    auto fixed = [&number](double x) {
      std::snprintf(number, sizeof number, "%.3f", x);
      return std::string(number);
    };
    if (json) {
      std::string line = "{\"file\":" + jsonString(wave);
      if (k > 0) line += ",\"utterance\":" + std::to_string(k);
      line += ",\"frames\":" + std::to_string(utt.frameCount()) +
              ",\"phoneLoopScore\":" + std::to_string(utt.phoneLoopScore) + ",\"phoneScore\":" +
              (phoneBest >= 0 ? std::to_string(phoneBest) : std::string("null")) + ",\"confidence\":" +
              (found > 0 ? fixed(confidence[0]) : std::string("null")) + ",\"nbest\":[";
      for (int j = 0; j < count; j++) {
        const int i = kept[size_t(j)];
        toAscii(*result->at(i), &words, text, sizeof text);
        if (j) line += ",";
        line += "{\"words\":" + jsonString(text) + ",\"score\":" + std::to_string(result->at(i)->score) +
                ",\"confidence\":" + fixed(confidence[size_t(i)]) + ",\"rules\":[" +
                rulesOf(*result->at(i), ",", true) + "]";
        if (passesThrough(*result->at(i), -1)) line += ",\"oov\":true";
        if (timings) {
          line += ",\"times\":[";
          bool first = true;
          forEachTimedWord(utt, *result, i, [&](const char* word, int from, int to) {
            line += std::string(first ? "" : ",") + "{\"word\":" + jsonString(word) + ",\"startFrame\":" +
                    std::to_string(from) + ",\"endFrame\":" + std::to_string(to) + ",\"start\":" + seconds(from) +
                    ",\"end\":" + seconds(to) + "}";
            first = false;
          });
          line += "]";
        }
        line += "}";
      }
      line += "],\"reason\":" + (reason.empty() ? std::string("null") : jsonString(reason.c_str()));
      if (!rejection.empty()) line += ",\"rejected\":" + jsonString(rejection.c_str());
      if (session) {
        line += ",\"normaliser\":[";
        for (int c = 0; c < kStaticFeatures; c++)
          line += (c ? "," : "") + std::to_string(sessionChannel.cepstralNormaliser()[c]);
        line += "]";
      }
      emit(line + "}\n");
    } else {
      text[0] = 0;
      if (count > 0) toAscii(*result->at(kept[0]), &words, text, sizeof text);
      std::string out = name + "\t" + text + "\n";
      for (int j = 0; j < count; j++) {
        const int i = kept[size_t(j)];
        toAscii(*result->at(i), &words, text, sizeof text);
        out += "\t" + std::to_string(j + 1) + "\t" + std::to_string(result->at(i)->score) + "\t" + text + "\t" +
               rulesOf(*result->at(i), " ", false) + "\n";
      }
      if (timings && count > 0)
        forEachTimedWord(utt, *result, kept[0], [&](const char* word, int from, int to) {
          out += "\ttime\t" + std::string(word) + "\t" + std::to_string(from) + "\t" + std::to_string(to) + "\t" +
                 seconds(from) + "\t" + seconds(to) + "\n";
        });
      if (found > 0) out += "\tconfidence\t" + fixed(confidence[0]) + "\n";
      if (!rejection.empty()) out += "\trejected\t" + rejection.substr(rejection.find(": ") + 2) + "\n";
      out += "\tphoneLoopScore\t" + std::to_string(utt.phoneLoopScore) + "\n\tframes\t" +
             std::to_string(utt.frameCount()) + "\n";
      emit(out);
    }
    return count > 0 || !rejection.empty() ? 1 : 0;
  };

#ifdef VLM_RECOGNIZE_LIVE
  if (mic) {
    // The live channel as the applications use it: the speaker's channel state, the endpointer
    // cutting utterances out of what the microphone hears; each is recognised as it arrives.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    LiveWavChannel channel;
    channel.open(nullptr);
    user.setChanCepMnDel(&channel);
    channel.bottomTracker().reInit(61, 57);
    {
      ShowLog show("microphone");
      if (!channel.listen(1, nullptr)) {
        std::fprintf(stderr, "recognize: the microphone does not start (check the input device, or set VELMORA_MIC to a wave file)\n");
        channel.close();
        return 1;
      }
    }
    std::fprintf(stderr, "recognize: listening (Ctrl-C stops)\n");
    int k = 0;
    while (!stopRequested) {
      const int available = channel.isUttAvailable();
      if (available == 1) {
        Utterance* utt = channel.takeUtt();
        if (utt) {
          hearWhole(utt);
          recogniseAndReport("mic", *utt, ++k, true);
        }
        delete utt;
        continue;
      }
      if (available == -3) break;   // a file microphone has played out
      if (available < -3) {
        std::fprintf(stderr, "recognize: the microphone failed (code %d)\n", available);
        failed = 1;
        break;
      }
      usleep(10000);
    }
    channel.listen(0, nullptr);
    channel.close();
    std::fprintf(stderr, "recognize: stopped after %d utterance(s)\n", k);
    return failed;
  }
#endif

  for (const char* wave : waves) {
    std::string error;
    std::vector<int16_t> samples;
    const bool standardInput = std::strcmp(wave, "-") == 0;
    const std::string problem = standardInput ? "" : fileProblem(wave);
    if (!problem.empty()) {
      error = problem;
    } else if (standardInput) {
      samples = readStandardInput(raw, rawRate, &error);
    } else if (raw) {
      std::string bytes;
      const int fd = openRegularFile(wave);
      if (fd < 0 || !readAll(fd, &bytes, &error)) {
        if (error.empty()) error = std::strerror(errno);
      } else {
        samples = rawSpeech(bytes, rawRate, &error);
      }
      if (fd >= 0) close(fd);
    } else {
      samples = readSpeech(wave, &error);
    }
    if (!error.empty()) {
      std::fprintf(stderr, "recognize: %s: %s\n", wave, error.c_str());
      failed = 1;
      continue;
    }
    WaveData data{samples.data(), static_cast<int32_t>(samples.size())};
    if (session) {
      // The session channel keeps its normaliser and levels from file to file.
      Utterance* heard = nullptr;
      if (!samples.empty() && sessionChannel.open(&data) && sessionChannel.listen(1, nullptr) &&
          sessionChannel.isUttAvailable() == 1)
        heard = sessionChannel.takeUtt();
      if (heard) {
        // Searched once it is complete, shifted by its own normaliser (docs/audio-frontend.md).
        hearWhole(heard);
      }
      Utterance silent(nullptr);
      if (!recogniseAndReport(wave, heard ? *heard : silent, 0, heard != nullptr)) failed = 1;
      delete heard;
      sessionChannel.close();
      continue;
    }
    // Every frame of the file, from the channel state stored with the speaker's models.
    StaticWavChannel fileChannel;
    Utterance whole(nullptr);
    if (!samples.empty() && fileChannel.open(&data)) {
      user.setChanCepMnDel(&fileChannel);
      Frame frame;
      while (fileChannel.nextFrame(&frame) >= 0) whole.frames.add(frame);
    }
    whole.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    if (whole.frameCount() <= maxFramesInUtt) {
      normaliseOwnMean(&whole);
      if (!recogniseAndReport(wave, whole, 0, whole.frameCount() > 0)) failed = 1;
      continue;
    }
    // Longer than one utterance: cut at the pauses, as a user who speaks several commands is
    // heard utterance by utterance, and recognise each part.
    int k = 0;
    for (const auto& [from, to] : speechSpans(whole)) {
      Utterance part(nullptr);
      for (int i = from; i < to; i++) part.frames.add(whole.frames[i]);
      part.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
      normaliseOwnMean(&part);  // each command its own normaliser
      if (!recogniseAndReport(wave, part, ++k, true)) failed = 1;
    }
    if (k == 0) {
      Utterance silent(nullptr);
      recogniseAndReport(wave, silent, 0, false);
      failed = 1;
    }
  }
  if (failed && speechLogWrittenByThisProcess()) std::fprintf(stderr, "recognize: speech log: %s\n", speechLogPath());
  return failed;
}
