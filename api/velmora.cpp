// libvelmora (velmora/velmora.h): the engine behind a small interface, over the same wiring as
// `recognize` and `adapt` (api/wiring.h).
#define VLM_UNIT "velmora"
#include "velmora/velmora.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "api/wiring.h"
#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "foundation/filepath.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/recognizer.h"
#include "search/result.h"

namespace velmora {

namespace {

constexpr const char* kProgram = "velmora";

bool endsWith(const std::string& s, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool readText(const std::string& path, std::string* text, std::string* error) {
  const std::string problem = vlm::fileProblem(path.c_str());
  if (!problem.empty()) {
    *error = path + ": " + problem;
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::stringstream whole;
  whole << in.rdbuf();
  *text = whole.str();
  return true;
}

}  // namespace

struct Engine::State {
  std::unique_ptr<vlm::User> user;
  std::vector<std::string> vocPaths;
  // The grammar as last set, kept so that a dictionary added later takes effect.
  bool haveGrammarSource = false;
  vlm::GrammarSource grammarSource;
  std::vector<std::string> grammarRules;
  std::unique_ptr<vlm::LoadedGrammar> grammar;
  std::unique_ptr<vlm::Recognizer> recognizer;
  std::unique_ptr<vlm::LiveWavChannel> live;
  int nbest = vlm::RecogResult::kMaxResults;
  int utteranceCount = 0;
  std::string error;
  std::vector<std::string> messages;
  vlm::LineSink sink;

  State() {
    sink = [this](const std::string& line) { messages.push_back(line); };
  }
  ~State() {
    if (live) {
      live->listen(0, nullptr);
      live->close();
    }
    recognizer.reset();
    grammar.reset();
    if (vlm::User::usr == user.get()) vlm::User::usr = nullptr;
  }

  bool fail(const std::string& reason) {
    error = reason;
    return false;
  }

  // The last message that came from the engine, as the reason of a failure.
  std::string lastMessage(const std::string& otherwise) const {
    if (messages.empty()) return otherwise;
    std::string m = messages.back();
    const std::string prefix = std::string(kProgram) + ": ";
    if (m.compare(0, prefix.size(), prefix) == 0) m.erase(0, prefix.size());
    return m;
  }

  // This engine's speaker becomes the one the scorer and the front end use.
  void useSpeaker() {
    vlm::User::usr = user.get();
    if (user->vtln != vlm::WavChannel::melFilterBankSecondEFormantBin())
      vlm::WavChannel::melFilterBankWithVTLN(user->vtln);
  }

  bool loadGrammar() {
    recognizer.reset();
    std::vector<const char*> vocs;
    for (const std::string& v : vocPaths) vocs.push_back(v.c_str());
    auto loaded = std::make_unique<vlm::LoadedGrammar>();
    if (!vlm::loadGrammar(vocs, grammarSource, grammarRules, kProgram, sink, loaded.get())) {
      grammar.reset();
      return fail(lastMessage("the grammar cannot be loaded"));
    }
    grammar = std::move(loaded);
    if (user) recognizer = std::make_unique<vlm::Recognizer>(user.get(), grammar->words.get(), grammar->rules.get());
    return true;
  }

  bool ready() {
    if (!user) return fail("no speaker models loaded (loadUser)");
    if (!grammar) return fail("no grammar set (setRulGrammar, setJsgfGrammar or setGrammarFile)");
    if (!recognizer)
      recognizer = std::make_unique<vlm::Recognizer>(user.get(), grammar->words.get(), grammar->rules.get());
    useSpeaker();
    return true;
  }

  // Recognises one utterance and describes it.
  Result recognise(vlm::Utterance& utt, bool heard) {
    std::vector<vlm::HypothesisText> list;
    const int end = vlm::recogniseUtterance(recognizer.get(), &utt, grammar->active, heard, nbest, *grammar, &list);
    Result r;
    for (vlm::HypothesisText& h : list) r.nbest.push_back(Hypothesis{std::move(h.words), h.score, std::move(h.rules)});
    r.phoneLoopScore = utt.phoneLoopScore;
    r.frames = utt.frameCount();
    if (end != vlm::eEndResults) {
      r.reason = vlm::recognizeEndText(end);
      if (end == vlm::eEndTooLong)
        r.reason += ": only the first " + std::to_string(vlm::maxFramesInUtt) + " frames were searched";
    }
    return r;
  }

  std::vector<Result> recogniseSamples(const std::vector<int16_t>& samples) {
    std::vector<Result> results;
    vlm::hearRecording(user.get(), samples, [&](vlm::Utterance& utt, int, bool heard) {
      results.push_back(recognise(utt, heard));
      return 1;
    });
    return results;
  }
};

Engine::Engine() : state(std::make_unique<State>()) {
  // The host program's standard output is its own: engine messages go to the speech log and
  // to messages().
  vlm::setConsoleProgram(false);
}
Engine::~Engine() = default;
Engine::Engine(Engine&&) noexcept = default;
Engine& Engine::operator=(Engine&&) noexcept = default;

std::string Engine::dataDirectory() {
  // findVelmora gives the end of the directory's prefix (null when there is none); the prefix
  // itself is the mapped empty name.
  if (vlm::findVelmora() == nullptr) return std::string();
  return vlm::catFname2VlmDir("");
}

std::string Engine::version() {
  return std::to_string(VELMORA_VERSION_MAJOR) + "." + std::to_string(VELMORA_VERSION_MINOR);
}

bool Engine::loadUser(const std::string& usrPath) {
  State& s = *state;
  s.messages.clear();
  const std::string problem = vlm::fileProblem(usrPath.c_str());
  if (!problem.empty()) return s.fail("cannot read speaker models " + usrPath + ": " + problem);
  auto user = std::make_unique<vlm::User>();
  vlm::User* previous = vlm::User::usr;
  vlm::LogCapture quiet(kProgram, usrPath.c_str(), nullptr, false);
  if (!user->readFile(usrPath.c_str())) {
    vlm::User::usr = previous;
    std::string reason = quiet.last;
    const std::string prefix = "Speaker model file " + usrPath;
    if (reason.compare(0, prefix.size(), prefix) == 0) reason = reason.substr(prefix.size());
    while (!reason.empty() && (reason[0] == ':' || reason[0] == ',' || reason[0] == ' ')) reason.erase(0, 1);
    if (reason.empty()) reason = "not a speaker model file";
    return s.fail("cannot read speaker models " + usrPath + ": " + reason);
  }
  s.recognizer.reset();
  if (vlm::User::usr == s.user.get()) vlm::User::usr = nullptr;
  s.user = std::move(user);
  vlm::User::usr = s.user.get();
  return true;
}

bool Engine::addDictionary(const std::string& vocPath) {
  State& s = *state;
  s.messages.clear();
  const std::string problem = vlm::fileProblem(vocPath.c_str());
  if (!problem.empty()) return s.fail("cannot read dictionary " + vocPath + ": " + problem);
  s.vocPaths.push_back(vocPath);
  if (s.haveGrammarSource && !s.loadGrammar()) {
    s.vocPaths.pop_back();
    const std::string reason = s.error;
    s.loadGrammar();
    return s.fail(reason);
  }
  return true;
}

void Engine::clearDictionaries() {
  State& s = *state;
  s.recognizer.reset();
  s.grammar.reset();
  s.haveGrammarSource = false;
  s.vocPaths.clear();
}

bool Engine::setRulGrammar(const std::string& text, const std::vector<std::string>& activeRules) {
  State& s = *state;
  s.messages.clear();
  if (s.vocPaths.empty()) return s.fail("no dictionary added (addDictionary)");
  s.grammarSource = vlm::GrammarSource();
  s.grammarSource.text = text;
  s.grammarSource.name = "<grammar>";
  s.grammarRules = activeRules;
  s.haveGrammarSource = true;
  return s.loadGrammar();
}

bool Engine::setJsgfGrammar(const std::string& text, const std::vector<std::string>& activeRules) {
  State& s = *state;
  s.messages.clear();
  if (s.vocPaths.empty()) return s.fail("no dictionary added (addDictionary)");
  s.grammarSource = vlm::GrammarSource();
  s.grammarSource.jsgf = true;
  s.grammarSource.text = text;
  s.grammarSource.name = "<grammar>";
  s.grammarRules = activeRules;
  s.haveGrammarSource = true;
  return s.loadGrammar();
}

bool Engine::setGrammarFile(const std::string& path, const std::vector<std::string>& activeRules) {
  State& s = *state;
  std::string text, error;
  if (!readText(path, &text, &error)) {
    s.messages.clear();
    return s.fail("cannot read grammar " + error);
  }
  const bool ok = endsWith(path, ".gram") || endsWith(path, ".jsgf") ? setJsgfGrammar(text, activeRules)
                                                                      : setRulGrammar(text, activeRules);
  s.grammarSource.name = path;
  return ok;
}

std::vector<std::string> Engine::activeRules() const {
  std::vector<std::string> names;
  if (!state->grammar) return names;
  for (int rule : state->grammar->active) {
    const char* name = state->grammar->rules->nameOf(rule);
    names.push_back(name ? name : "");
  }
  return names;
}

void Engine::setNbest(int n) {
  state->nbest = n < 1 ? 1 : n > vlm::RecogResult::kMaxResults ? vlm::RecogResult::kMaxResults : n;
}

std::vector<Result> Engine::recognizeFile(const std::string& path) {
  State& s = *state;
  s.messages.clear();
  if (!s.ready()) return {};
  std::string error;
  const std::string problem = vlm::fileProblem(path.c_str());
  if (!problem.empty()) {
    s.fail(path + ": " + problem);
    return {};
  }
  const std::vector<int16_t> samples =
      vlm::readSpeech(path.c_str(), &error, [&](const std::string& line) { s.messages.push_back(line); });
  if (!error.empty()) {
    s.fail(path + ": " + error);
    return {};
  }
  return s.recogniseSamples(samples);
}

std::vector<Result> Engine::recognizeBuffer(const int16_t* samples, std::size_t count, unsigned rate) {
  State& s = *state;
  s.messages.clear();
  if (!s.ready()) return {};
  if (rate < 4000 || rate > 384000) {
    s.fail("sample rate " + std::to_string(rate) + " Hz is outside 4000 to 384000 Hz");
    return {};
  }
  if (samples == nullptr && count > 0) {
    s.fail("no samples given");
    return {};
  }
  std::string error;
  const std::vector<int16_t> speech = vlm::speechAt11025(samples, count, rate, &error);
  if (!error.empty()) {
    s.fail(error);
    return {};
  }
  return s.recogniseSamples(speech);
}

bool Engine::startListening() {
  State& s = *state;
  s.messages.clear();
  if (s.live) return true;
  if (!s.ready()) return false;
  auto channel = std::make_unique<vlm::LiveWavChannel>();
  channel->open(nullptr);
  s.user->setChanCepMnDel(channel.get());
  channel->bottomTracker().reInit(61, 57);
  vlm::LogCapture capture(kProgram, "microphone", &s.sink);
  if (!channel->listen(1, nullptr)) {
    channel->close();
    return s.fail("the microphone does not start (check the input device, or set VELMORA_MIC to a wave file)");
  }
  s.live = std::move(channel);
  s.utteranceCount = 0;
  return true;
}

int Engine::nextUtterance(Result* result, int timeoutMs) {
  State& s = *state;
  if (!s.live) {
    s.fail("the microphone is off (startListening)");
    return -1;
  }
  if (!s.ready()) return -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const int available = s.live->isUttAvailable();
    if (available == 1) {
      vlm::Utterance* utt = s.live->takeUtt();
      if (utt) {
        // Searched once it is complete, shifted by its own normaliser.
        vlm::hearWhole(utt);
        Result r = s.recognise(*utt, true);
        delete utt;
        s.utteranceCount++;
        if (result) *result = std::move(r);
        return 1;
      }
      continue;
    }
    if (available == -3) {
      s.fail("the input has ended");
      return -1;
    }
    if (available < -3) {
      s.fail("the microphone failed (code " + std::to_string(available) + ")");
      return -1;
    }
    if (std::chrono::steady_clock::now() >= until) return 0;
    usleep(10000);
  }
}

void Engine::stopListening() {
  State& s = *state;
  if (!s.live) return;
  s.live->listen(0, nullptr);
  s.live->close();
  s.live.reset();
}

bool Engine::listening() const { return state->live != nullptr; }

bool Engine::adapt(const std::vector<Recording>& recordings, AdaptReport* report) {
  State& s = *state;
  s.messages.clear();
  if (!s.user) return s.fail("no speaker models loaded (loadUser)");
  if (s.vocPaths.empty()) return s.fail("no dictionary added (addDictionary)");
  if (recordings.empty()) return s.fail("no recordings to adapt with");
  // The prompts' words: the dictionaries as they are, without a grammar.
  std::vector<const char*> vocs;
  long room = 4096;
  for (const std::string& v : s.vocPaths) {
    vocs.push_back(v.c_str());
    std::ifstream in(v, std::ios::binary);
    for (std::string line; std::getline(in, line);) room++;
  }
  vlm::WordDictionary words(static_cast<int>(room));
  for (const std::string& v : s.vocPaths) {
    vlm::LogCapture show(kProgram, v.c_str(), &s.sink);
    if (!words.readFile(v.c_str())) return s.fail("cannot read dictionary " + v);
  }
  // The models as they were, to go back to when the adaptation falls short.
  std::string saved = "/tmp/velmora-user-XXXXXX";
  if (const char* dir = std::getenv("TMPDIR"); dir && *dir) saved = std::string(dir) + "/velmora-user-XXXXXX";
  const int fd = mkstemp(saved.data());
  if (fd < 0) return s.fail(std::string("cannot make a temporary file: ") + std::strerror(errno));
  const bool kept = s.user->writeFd(fd) != 0;
  close(fd);
  if (!kept) {
    unlink(saved.c_str());
    return s.fail("cannot keep a copy of the speaker models");
  }
  if (const std::string warning = vlm::referenceModelsWarning(); !warning.empty())
    s.messages.push_back(std::string(kProgram) + ": " + warning);

  std::vector<vlm::AdaptPrompt> prompts;
  for (const Recording& r : recordings) {
    vlm::AdaptPrompt p;
    p.wave = r.wave;
    p.text = r.text;
    p.calibration = r.calibration;
    prompts.push_back(p);
  }
  auto read = [&](const vlm::AdaptPrompt& p, std::vector<int16_t>* samples) {
    std::string error;
    *samples = vlm::readSpeech(p.wave.c_str(), &error, s.sink);
    if (error.empty() && samples->empty()) error = "no samples";
    if (!error.empty()) {
      s.messages.push_back(std::string(kProgram) + ": " + p.wave + ": " + error);
      samples->clear();
      return false;
    }
    return true;
  };
  s.recognizer.reset();
  s.useSpeaker();
  vlm::AdaptOutcome outcome;
  const int done = vlm::adaptSpeaker(s.user.get(), &words, prompts, true, read, s.sink, &outcome);
  if (report) {
    report->recordings = outcome.readable;
    report->adapted = outcome.adapted;
    report->warpBin = s.user->vtln;
  }
  if (!done) {
    vlm::LogCapture quiet(kProgram, saved.c_str(), nullptr, false);
    s.user = std::make_unique<vlm::User>();
    s.user->readFile(saved.c_str());
    unlink(saved.c_str());
    if (report) report->warpBin = s.user->vtln;
    if (outcome.readable == 0) return s.fail("no recording could be read");
    return s.fail("only " + std::to_string(outcome.adapted) + " of " + std::to_string(outcome.phase2) +
                  " recordings adapted (at least " + std::to_string(outcome.minimum) +
                  " needed); the models are unchanged");
  }
  unlink(saved.c_str());
  return true;
}

bool Engine::saveUser(const std::string& usrPath) {
  State& s = *state;
  if (!s.user) return s.fail("no speaker models loaded (loadUser)");
  vlm::SafeFile out;
  if (out.open(usrPath.c_str()) && !s.user->writeFd(out.handle())) out.noteWriteFailure(errno);
  if (!out.commit()) return s.fail(std::string(out.reason()) + " (" + usrPath + " kept as it was)");
  return true;
}

const std::string& Engine::lastError() const { return state->error; }
const std::vector<std::string>& Engine::messages() const { return state->messages; }

}  // namespace velmora
