// The engine's wiring for programs that recognise recordings (api/wiring.h).
#define VLM_UNIT "wiring"
#include "api/wiring.h"

#include <sndfile.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "grammar/jsgf.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "search/confidence.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "search/wordtree.h"

namespace vlm {

// ---- messages -------------------------------------------------------------------------------

LogCapture::LogCapture(const char* program, const char* source, const LineSink* sink, bool echo)
    : program(program), source(source), sink(sink), echo(echo) {
  previous = setLogObserver(show, this);
}

LogCapture::~LogCapture() { setLogObserver(previous, nullptr); }

void LogCapture::show(const char* text, const char* second, void* context) {
  auto* self = static_cast<LogCapture*>(context);
  std::string message = std::string(text) + (second ? second : "");
  for (char& c : message)
    if (c == '\n' || c == '\t') c = ' ';
  const size_t start = message.find_first_not_of(' ');
  message = start == std::string::npos ? "" : message.substr(start);
  self->last = message;
  if (self->collect) self->all.push_back(message);
  if (!self->echo || self->sink == nullptr || !*self->sink) return;
  if (self->source)
    (*self->sink)(std::string(self->program) + ": " + self->source + ": " + message);
  else
    (*self->sink)(std::string(self->program) + ": " + message);
}

namespace {

void say(const LineSink& sink, const std::string& line) {
  if (sink) sink(line);
}

// ---- reading recordings ---------------------------------------------------------------------

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

// The number of lines of a text (those starting with prefix when given). Dictionaries hold one
// pronunciation per line and rule files start each rule with "RULE", so counting both before
// reading sizes the tables for what is loaded rather than for the largest dictionary there is.
int countLines(std::istream& in, const char* prefix) {
  int count = 0;
  std::string line;
  const std::size_t n = prefix ? std::strlen(prefix) : 0;
  while (std::getline(in, line))
    if (n == 0 || line.compare(0, n, prefix) == 0) count++;
  return count;
}

int countInFile(const char* path, const char* prefix) {
  std::ifstream in(path, std::ios::binary);
  return countLines(in, prefix);
}

// The word records a grammar's compound words ("ann_lee") will take on top of the dictionaries':
// the rule parser makes a compound with a pronunciation for every combination of its parts'
// pronunciations, each part with and without a pause in front, so 2^parts times the product of
// the parts' pronunciation counts. Counted from the grammar's text and the .voc lines.
long compoundRoom(const std::string& grammar, const std::vector<const char*>& vocs) {
  std::istringstream in(grammar);
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

// A grammar word the dictionaries lack gets the letter-to-sound pronunciation (class 4) instead
// of disabling the rules that use it, with a warning naming it. A compound ("ann_zork") gets one
// for each missing part, so the grammar can build it. Returns how many words were added.
int pronounceMissingWords(const std::vector<std::string>& missing, WordDictionary* words, const char* grammar,
                          const char* program, const LineSink& sink) {
  int added = 0;
  std::set<std::string> done;
  for (const std::string& word : missing) {
    std::istringstream parts(word);
    for (std::string part; std::getline(parts, part, '_');) {
      if (part.empty() || words->getWordData(part.c_str()) != nullptr || !done.insert(part).second) continue;
      char pron[1024];
      xlateString(pron, part.c_str(), sizeof pron, nullptr, 1);
      if (pron[0] == 0 || words->addWordIfNew(part.c_str(), pron, 4) < 0) {
        say(sink, std::string(program) + ": " + grammar + ": \"" + part +
                      "\" is in no dictionary and has no letter-to-sound pronunciation");
        continue;
      }
      say(sink, std::string(program) + ": " + grammar + ": warning: \"" + part +
                    "\" is in no dictionary; using the letter-to-sound pronunciation \"" + pron +
                    "\" (run pronmerge on your word list for a lasting one)");
      added++;
    }
  }
  return added;
}

// The words a .rul file names that the dictionaries lack, from a quiet trial read.
std::vector<std::string> missingRuleWords(const char* path, WordDictionary* words, int ruleRoom) {
  LogCapture quiet("", path, nullptr, false);
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

// Text written to a temporary file for the readers that take a path; removed by the destructor.
struct TemporaryFile {
  std::string path;
  bool ok = false;
  TemporaryFile(const std::string& text, std::string* error) {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/velmora-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
      *error = std::string("cannot make a temporary file: ") + std::strerror(errno);
      path.clear();
      return;
    }
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        *error = std::string("cannot write a temporary file: ") + std::strerror(n < 0 ? errno : EIO);
        break;
      }
      done += static_cast<size_t>(n);
    }
    ok = close(fd) == 0 && done == text.size();
    if (!ok && error->empty()) *error = "cannot write a temporary file";
  }
  ~TemporaryFile() {
    if (!path.empty()) unlink(path.c_str());
  }
};

// ---- the rules a grammar starts from --------------------------------------------------------

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

}  // namespace

std::string fileProblem(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory, not a file";
  if (access(path, R_OK) != 0) return std::strerror(errno);
  return "";
}

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

std::vector<int16_t> rawSpeech(const std::string& bytes, unsigned rate, std::string* error, const LineSink& warn) {
  std::vector<int16_t> out;
  std::vector<float> mono(bytes.size() / 2);
  for (size_t i = 0; i < mono.size(); i++) {
    const unsigned lo = static_cast<unsigned char>(bytes[2 * i]), hi = static_cast<unsigned char>(bytes[2 * i + 1]);
    mono[i] = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)))) / 32768.0f;
  }
  if (bytes.size() % 2) say(warn, "warning: raw input has an odd number of bytes; the last is ignored");
  char why[256] = {0};
  if (!toSpeechSamples(mono.data(), static_cast<uint32_t>(mono.size()), rate, &out, why, sizeof why))
    *error = why[0] ? why : "cannot resample to 11025 Hz";
  return out;
}

std::vector<int16_t> speechAt11025(const int16_t* samples, std::size_t count, unsigned rate, std::string* error) {
  std::vector<int16_t> out;
  if (rate == static_cast<unsigned>(kSampleRate)) return std::vector<int16_t>(samples, samples + count);
  std::vector<float> mono(count);
  for (size_t i = 0; i < count; i++) mono[i] = static_cast<float>(samples[i]) / 32768.0f;
  char why[256] = {0};
  if (!toSpeechSamples(mono.data(), static_cast<uint32_t>(mono.size()), rate, &out, why, sizeof why))
    *error = why[0] ? why : "cannot resample to 11025 Hz";
  return out;
}

std::vector<int16_t> readSpeech(const char* path, std::string* error, const LineSink& warn) {
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
    if (wave.warning[0]) say(warn, std::string(path) + ": warning: " + wave.warning);
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

LoadedGrammar::LoadedGrammar() = default;
LoadedGrammar::~LoadedGrammar() {
  // The rules refer to the words: they go first.
  rules.reset();
  words.reset();
}

int loadGrammar(const std::vector<const char*>& vocPaths, const GrammarSource& grammar,
                const std::vector<std::string>& ruleNames, const char* program, const LineSink& sink,
                LoadedGrammar* out) {
  const std::string p = std::string(program) + ": ";
  const char* name = grammar.name.c_str();
  std::string text = grammar.text;
  if (grammar.path) {
    std::ifstream in(grammar.path, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    text = whole.str();
  }
  // Room for every pronunciation of the dictionaries and for the compound words the grammar
  // makes from their parts.
  long wordRoom = 4096 + compoundRoom(text, vocPaths);
  for (const char* voc : vocPaths) wordRoom += countInFile(voc, nullptr);
  if (wordRoom > (1L << 26)) {
    say(sink, p + "the grammar's compound words need " + std::to_string(wordRoom) + " word records, more than " +
                  std::to_string(1L << 26));
    return 0;
  }
  out->rules.reset();
  out->words = std::make_unique<WordDictionary>(static_cast<int>(wordRoom));
  out->active.clear();
  out->publicRules.clear();
  out->partial = false;
  WordDictionary* words = out->words.get();
  for (const char* voc : vocPaths) {
    LogCapture show(program, voc, &sink);
    if (!words->readFile(voc)) {
      say(sink, p + "cannot read dictionary " + voc);
      return 0;
    }
  }
  std::vector<int>& active = out->active;
  if (!grammar.jsgf) {
    std::string problem;
    std::unique_ptr<TemporaryFile> copy;
    const char* path = grammar.path;
    if (path == nullptr) {
      copy = std::make_unique<TemporaryFile>(text, &problem);
      if (!copy->ok) {
        say(sink, p + problem);
        return 0;
      }
      path = copy->path.c_str();
    }
    std::istringstream lines(text);
    const int ruleRoom = 256 + countLines(lines, "RULE");
    out->rules = std::make_unique<RuleDictionary>(ruleRoom);
    pronounceMissingWords(missingRuleWords(path, words, ruleRoom), words, name, program, sink);
    LogCapture show(program, name, &sink);
    errno = 0;
    if (!out->rules->readFile(path, words)) {
      say(sink, p + "cannot read grammar " + name + ": " + std::strerror(errno ? errno : EIO));
      return 0;
    }
    if (out->rules->readErrorCount() > 0) {
      say(sink, p + std::to_string(out->rules->readErrorCount()) + " rule(s) of " + name + " do not parse");
      out->partial = true;
    }
    if (ruleNames.empty()) active = topLevelRules(*out->rules);
  } else {
    out->rules = std::make_unique<RuleDictionary>(4096);
    JsgfConversion conversion;
    if (!convertJsgf(text.c_str(), words, &conversion, name) && !conversion.missingWords.empty() &&
        pronounceMissingWords(conversion.missingWords, words, name, program, sink) > 0) {
      conversion = JsgfConversion();
      convertJsgf(text.c_str(), words, &conversion, name);
    }
    if (conversion.errors > 0 || !conversion.missingWords.empty()) out->partial = true;
    for (const std::string& m : conversion.messages) say(sink, m);
    for (const std::string& w : conversion.missingWords)
      say(sink, p + name + ": word not in the dictionary: " + w);
    // the converted text goes through the .rul reader
    std::string problem;
    TemporaryFile converted(conversion.rul, &problem);
    if (!converted.ok) {
      say(sink, p + problem);
      return 0;
    }
    LogCapture show(program, name, &sink);
    if (!out->rules->readFile(converted.path.c_str(), words)) {
      say(sink, p + "cannot load the converted grammar of " + name);
      return 0;
    }
    if (out->rules->readErrorCount() > 0) {
      say(sink, p + std::to_string(out->rules->readErrorCount()) + " rule(s) of " + name + " do not parse");
      out->partial = true;
    }
    out->publicRules = conversion.publicRules;
    if (ruleNames.empty()) {
      for (const std::string& rule : conversion.publicRules)
        if (RuleData* rd = out->rules->getRuleData(rule.c_str())) active.push_back(rd->index);
      if (conversion.publicRules.empty()) active = topLevelRules(*out->rules);
    }
  }
  for (const std::string& rule : ruleNames) {
    RuleData* rd = out->rules->getRuleData(rule.c_str());
    if (rd == nullptr) {
      say(sink, p + "unknown rule " + rule);
      out->partial = true;
      continue;
    }
    active.push_back(rd->index);
  }
  if (active.empty()) {
    say(sink, p + "no rule to recognise with");
    return 0;
  }
  return 1;
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

// A frame is speech when its power (1/512 ln units) is above the file's floor (its 10th
// percentile) by at least 6 dB and by 30 % of the way to its peak (95th percentile); pauses
// shorter than kMinPause frames (0.3 s) stay inside a span, speech shorter than kMinSpeech frames
// (a click) is passed over; each span keeps a little of the pause on either side. The live
// channel's endpointer waits for about 1.3 s of silence before it ends an utterance, so commands
// spoken with short pauses would share one utterance and all but the first be lost; a file is
// cut at every real pause.
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

int hearRecording(User* user, const std::vector<int16_t>& samples,
                  const std::function<int(Utterance& utterance, int k, bool heard)>& each) {
  // Every frame of the recording, from the channel state stored with the speaker's models.
  WaveData data{const_cast<int16_t*>(samples.data()), static_cast<int32_t>(samples.size())};
  StaticWavChannel fileChannel;
  Utterance whole(nullptr);
  if (!samples.empty() && fileChannel.open(&data)) {
    user->setChanCepMnDel(&fileChannel);
    Frame frame;
    while (fileChannel.nextFrame(&frame) >= 0) whole.frames.add(frame);
  }
  whole.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
  if (whole.frameCount() <= maxFramesInUtt) {
    normaliseOwnMean(&whole);
    return each(whole, 0, whole.frameCount() > 0) ? 1 : 0;
  }
  // Longer than one utterance: cut at the pauses, as a user who speaks several commands is
  // heard utterance by utterance, and recognise each part.
  int ok = 1, k = 0;
  for (const auto& [from, to] : speechSpans(whole)) {
    Utterance part(nullptr);
    for (int i = from; i < to; i++) part.frames.add(whole.frames[i]);
    part.flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
    normaliseOwnMean(&part);  // each command its own normaliser
    if (!each(part, ++k, true)) ok = 0;
  }
  if (k == 0) {
    Utterance silent(nullptr);
    each(silent, 0, false);
    ok = 0;
  }
  return ok;
}

std::vector<HypothesisText> nbestText(const RecogResult& result, int count, WordDictionary& words,
                                      RuleDictionary& rules) {
  std::vector<HypothesisText> out;
  char text[4096];
  for (int i = 0; i < count && i < result.count(); i++) {
    const FSGNodeTypeItemAC& items = *result.at(i);
    HypothesisText h;
    toAscii(items, &words, text, sizeof text);
    h.words = text;
    h.score = items.score;
    for (int k = 0; k < items.count(); k++) {
      if (items[k].type != eRuleNode) continue;
      const char* name = rules.nameOf(items[k].value);
      h.rules.push_back(name ? name : "");
    }
    out.push_back(std::move(h));
  }
  return out;
}

namespace {

// The rule addConfidenceRules adds for speech outside the grammar.
constexpr const char* kOovRuleName = "_OutOfVocabulary";

// True when the hypothesis passes through the out-of-vocabulary element, or through rule.
bool passesThrough(const FSGNodeTypeItemAC& items, int rule) {
  for (int k = 0; k < items.count(); k++) {
    if (items[k].type == eOutOfVocabularyNode) return true;
    if (rule >= 0 && items[k].type == eRuleNode && items[k].value == rule) return true;
  }
  return false;
}

}  // namespace

int addConfidenceRules(LoadedGrammar* grammar, bool oov, const char* program, const LineSink& sink,
                       bool phoneLoop) {
  WordDictionary& words = *grammar->words;
  RuleDictionary& rules = *grammar->rules;
  if (oov && grammar->oovRule < 0) {
    const int index = rules.newRule(kOovRuleName);
    RuleData* rd = index >= 0 ? rules.ruleAt(index) : nullptr;
    FSGNodeTypeItemAC items;
    items.add(eSequenceNode, 0);
    items.add(eOutOfVocabularyNode, kOutOfVocabularyRule);
    items.add(eSequenceEnd, 0);
    if (rd == nullptr || !rd->setRuleBody(items, &words, &rules)) {
      say(sink, std::string(program) + ": cannot add the out-of-vocabulary rule " + kOovRuleName +
                    " (is the name taken?)");
      return 0;
    }
    rd->flag = RULE_NOT_WRITTEN;
    grammar->oovRule = index;
    grammar->active.push_back(index);
  }
  if (phoneLoop && grammar->phoneRule < 0) {
    LogCapture quiet(program, nullptr, nullptr, false);
    grammar->phoneRule = addPhoneLoopRule(&words, &rules);
    if (grammar->phoneRule < 0)
      say(sink, std::string(program) +
                    ": warning: no free phone loop; the confidence comes from the phone-loop ratio alone");
  }
  return 1;
}

int recogniseUtterance(Recognizer* recognizer, Utterance* utterance, const std::vector<int>& active, bool heard,
                       int nbest, LoadedGrammar& grammar, std::vector<HypothesisText>* out, double rejectBelow,
                       int* phoneBest, std::string* rejection) {
  out->clear();
  if (rejection) rejection->clear();
  // the free phone loop first: the grammar's search leaves its result on the utterance
  const int phone = heard ? searchPhoneLoop(recognizer, utterance, grammar.phoneRule) : -1;
  if (phoneBest) *phoneBest = phone;
  const int n = heard ? recognizer->recognize(utterance, const_cast<int*>(active.data()), static_cast<int>(active.size())) : 0;
  const int end = heard ? recognizer->lastEnd() : eEndNoSpeech;
  RecogResult* result = utterance->result;
  // results that differ only in pronunciation variants are one result to the user
  if (result && n > 0) result->noAltProns();
  const int found = result && n > 0 ? result->count() : 0;
  if (found == 0) return end;
  std::vector<HypothesisText> all = nbestText(*result, found, *grammar.words, *grammar.rules);
  for (int i = 0; i < found && i < static_cast<int>(all.size()); i++) {
    HypothesisText& h = all[static_cast<size_t>(i)];
    h.index = i;
    h.confidence = resultConfidence(utterance->phoneLoopScore, result->at(i)->score, phone, utterance->frameCount());
    h.oov = passesThrough(*result->at(i), -1);
    const bool outside = grammar.oovRule >= 0 && passesThrough(*result->at(i), grammar.oovRule);
    const bool doubtful = h.confidence < rejectBelow;
    if (i == 0 && (outside || doubtful)) {
      char buffer[96];
      if (outside) std::snprintf(buffer, sizeof buffer, "rejected: out of vocabulary");
      else std::snprintf(buffer, sizeof buffer, "rejected: confidence %.3f below %.3f", h.confidence, rejectBelow);
      if (rejection) *rejection = buffer;
      out->clear();
      return end;
    }
    if (!outside && !doubtful && static_cast<int>(out->size()) < nbest) out->push_back(h);
  }
  return end;
}

}  // namespace vlm
