// libvelmora: speaker-adapted, grammar-driven speech recognition for programs that want voice
// commands.
//
//   velmora::Engine engine;
//   engine.loadUser("/usr/share/velmora/newuser.usr");      // the speaker's models
//   engine.addDictionary("/usr/share/velmora/base.voc");    // pronunciations
//   engine.setJsgfGrammar("#JSGF V1.0; grammar g; public <cmd> = call (home | work);");
//   for (const velmora::Result& r : engine.recognizeFile("command.wav"))
//     if (!r.nbest.empty()) std::printf("%s\n", r.nbest[0].words.c_str());
//
// Operations that can fail return false (or an empty list) and leave the reason in lastError();
// warnings (a grammar word no dictionary has, a rule that does not parse) are in messages().
// Recordings of any rate, format (RIFF, NIST, and whatever libsndfile reads) and channel count are
// mixed to mono and resampled to 11025 Hz.
//
// One Engine is used from one thread at a time. The engine's feature front end is process-wide:
// an Engine sets it for its speaker before every recognition, so several Engines in one process
// take turns rather than run side by side. docs/library.md describes the library in full.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#define VELMORA_VERSION_MAJOR 0
#define VELMORA_VERSION_MINOR 1

namespace velmora {

// One entry of an n-best list. Scores are search costs: lower is better, and the list is in
// order of score.
struct Hypothesis {
  std::string words;               // the recognised words, separated by blanks
  int score = 0;
  std::vector<std::string> rules;  // the grammar rules it went through, outermost first
};

// What one utterance was heard as.
struct Result {
  std::vector<Hypothesis> nbest;   // empty when nothing was recognised (see reason)
  int phoneLoopScore = 0;          // the free phone loop's score over the same frames: a
                                   // hypothesis far above it is unlikely to be what was said
  int frames = 0;                  // 200 samples (18 ms) each
  std::string reason;              // why there are no (or only partial) results; empty otherwise
  bool recognized() const { return !nbest.empty(); }
};

// A (recording, text) pair to adapt the speaker's models with.
struct Recording {
  std::string wave;           // the recording's file
  std::string text;           // what was said, words of the dictionaries separated by blanks
  bool calibration = false;   // a calibration recording: the enrollment's first prompts, whose
                              // "tea" repetitions give the speaker's warp bin
};

// How an adaptation went.
struct AdaptReport {
  int recordings = 0;   // recordings that could be read
  int adapted = 0;      // of these, adapted
  int warpBin = 0;      // the speaker's warp bin after the adaptation
};

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(Engine&&) noexcept;
  Engine& operator=(Engine&&) noexcept;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The folder of the shipped data (models, dictionaries): the user's data directory when there
  // is one (VELMORA_DIR, ~/velmora), else the installed share/velmora. Empty when none exists.
  static std::string dataDirectory();
  // The library's version, "major.minor".
  static std::string version();

  // The speaker's models (a .usr file; "newuser.usr" of the data directory for a speaker not
  // enrolled). Replaces the models loaded before.
  bool loadUser(const std::string& usrPath);
  // Adds a pronunciation dictionary (.voc). Dictionaries are read again when the grammar is set.
  bool addDictionary(const std::string& vocPath);
  // Forgets the dictionaries and the grammar.
  void clearDictionaries();

  // The grammar as .rul text or as a JSGF grammar. Without rule names every top-level rule (for
  // JSGF the public rules) is active. Words no dictionary has are given letter-to-sound
  // pronunciations (with a warning). Needs the dictionaries first. False when nothing can be
  // recognised with it; rules that do not parse are passed over with a message.
  bool setRulGrammar(const std::string& text, const std::vector<std::string>& activeRules = {});
  bool setJsgfGrammar(const std::string& text, const std::vector<std::string>& activeRules = {});
  // The same from a file: a name ending in ".gram" or ".jsgf" is JSGF, anything else .rul.
  bool setGrammarFile(const std::string& path, const std::vector<std::string>& activeRules = {});
  // The grammar's public rules (JSGF) or top-level rules (.rul).
  std::vector<std::string> activeRules() const;

  // At most this many hypotheses per utterance (1 to 15; 15 at first).
  void setNbest(int n);

  // Recognises a recording: one Result per utterance (a recording longer than one utterance is
  // cut at its pauses). Empty, with lastError(), when the recording cannot be read or no grammar
  // is set. samples are 16-bit mono at rate Hz.
  std::vector<Result> recognizeFile(const std::string& path);
  std::vector<Result> recognizeBuffer(const int16_t* samples, std::size_t count, unsigned rate = 11025);
  std::vector<Result> recognizeBuffer(const std::vector<int16_t>& samples, unsigned rate = 11025) {
    return recognizeBuffer(samples.data(), samples.size(), rate);
  }

  // The live microphone (or the recordings VELMORA_MIC names, for tests), heard through the
  // endpointer: startListening turns it on; nextUtterance waits up to timeoutMs for the next
  // utterance to end and recognises it: 1 with *result set, 0 when none ended in time, -1 when
  // the input ended or failed (lastError()). stopListening turns it off.
  bool startListening();
  int nextUtterance(Result* result, int timeoutMs);
  void stopListening();
  bool listening() const;

  // Adapts the speaker's models to recordings of known text, as enrollment does: the calibration
  // recordings choose the warp bin (from their "tea" repetitions) and calibrate; every other
  // recording is recognised against its own text and adapted. Needs the models and dictionaries
  // with the texts' words. False (models unchanged) when fewer than a quarter of the recordings
  // after calibration could be adapted.
  bool adapt(const std::vector<Recording>& recordings, AdaptReport* report = nullptr);

  // Writes the speaker's models (replacing the file safely: a failed write keeps the old one).
  bool saveUser(const std::string& usrPath);

  const std::string& lastError() const;
  // Warnings and errors since the last call that loaded or recognised something.
  const std::vector<std::string>& messages() const;

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace velmora
