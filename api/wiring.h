// The wiring of the engine for a program that recognises recordings: reading a recording in any
// format to 11025 Hz samples, loading the dictionaries and a grammar (.rul or JSGF) with room for
// what they hold, choosing the rules to start from, hearing a whole recording as utterances, and
// the n-best list of a result as text. `recognize` and the library (velmora/velmora.h) are built
// on it, so that both hear a file and load a grammar the same way.
//
// Messages are whole lines handed to a LineSink; each starts with the program name given
// ("recognize: ..."), as the programs print them on standard error.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/log.h"

namespace vlm {

class RuleDictionary;
class WordDictionary;
class Utterance;
class User;
class RecogResult;

using LineSink = std::function<void(const std::string& line)>;

// While it lives, what the engine logs is handed to the sink as "<program>: <source>: <text>"
// (or "<program>: <text>" without a source); with echo off the messages are only kept.
class LogCapture {
 public:
  LogCapture(const char* program, const char* source, const LineSink* sink, bool echo = true);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string last;               // the last message, without program and source
  std::vector<std::string> all;   // every message, when collect is set
  bool collect = false;

 private:
  static void show(const char* text, const char* second, void* context);
  const char* program;
  const char* source;
  const LineSink* sink;
  bool echo;
  LogObserver previous;
};

// "" when path names a readable file, else the reason (a folder is said to be one).
std::string fileProblem(const char* path);
// Everything a descriptor gives until its end; false with the reason when a read fails.
bool readAll(int fd, std::string* bytes, std::string* error);

// A recording as 16-bit mono samples at 11025 Hz: RIFF and NIST by the audio layer, every other
// format through libsndfile (opened on first use). Empty with *error set on failure; warnings
// about the file go to warn as "<path>: warning: <text>" lines (without the program name).
std::vector<int16_t> readSpeech(const char* path, std::string* error, const LineSink& warn);
// 16-bit little-endian mono samples at rate, converted to 11025 Hz (an odd last byte is warned
// about and ignored).
std::vector<int16_t> rawSpeech(const std::string& bytes, unsigned rate, std::string* error, const LineSink& warn);
// Samples at any rate (mono, 16-bit) converted to 11025 Hz.
std::vector<int16_t> speechAt11025(const int16_t* samples, std::size_t count, unsigned rate, std::string* error);

// Where a grammar comes from: a .rul file (path), or text that is .rul or JSGF. name is what
// messages call it (the file name, or e.g. "<grammar>").
struct GrammarSource {
  bool jsgf = false;
  const char* path = nullptr;   // a .rul file read as it stands; null when text is given
  std::string text;
  std::string name;
};

// The dictionaries and grammar recognition runs on.
struct LoadedGrammar {
  std::unique_ptr<WordDictionary> words;
  std::unique_ptr<RuleDictionary> rules;
  std::vector<int> active;          // the rules recognition starts from
  std::vector<std::string> publicRules;   // a JSGF grammar's public rules
  bool partial = false;             // loaded, but some rule did not parse or a rule name is unknown
  int phoneRule = -1;   // the free phone loop the confidence is measured against (addConfidenceRules)
  int oovRule = -1;     // the out-of-vocabulary rule, when asked for (an active rule)
  LoadedGrammar();
  ~LoadedGrammar();
};

// Loads the dictionaries (sized for them and for the compound words the grammar makes) and the
// grammar. Words the grammar uses that no dictionary has get their letter-to-sound pronunciation
// with a warning. Without ruleNames every top-level rule is active (for JSGF its public rules).
// 1 when recognition can run (out->partial says whether something was passed over), 0 when it
// cannot; the reasons go to sink.
int loadGrammar(const std::vector<const char*>& vocPaths, const GrammarSource& grammar,
                const std::vector<std::string>& ruleNames, const char* program, const LineSink& sink,
                LoadedGrammar* out);

// Adds what the confidence of a result needs: the free phone loop over the speaker's models
// (search/confidence.h; without it, a warning, and the confidence comes from the phone-loop ratio
// alone) and, with oov, one more active rule "_OutOfVocabulary": the out-of-vocabulary element
// alone, which takes speech the grammar does not describe. Without phoneLoop the free loop is left
// out on purpose (no warning): one search per utterance instead of two, the confidence from the
// ratio alone. 0 (with the reason) when the out-of-vocabulary rule cannot be added.
int addConfidenceRules(LoadedGrammar* grammar, bool oov, const char* program, const LineSink& sink,
                       bool phoneLoop = true);

// The rules no other rule refers to (a .rul grammar's starting points).
std::vector<int> topLevelRules(RuleDictionary& rules);

// Where a recording longer than one utterance is cut: the spans [from, to) of speech between
// pauses.
std::vector<std::pair<int, int>> speechSpans(const Utterance& whole);

// Hears a recording whole, from the channel state stored with the speaker's models, and hands
// each utterance to each(utterance, k, heard): one call with k = 0 when the recording fits one
// utterance, else one per part cut at its pauses (k = 1, 2, ...), each normalised on its own;
// heard is false when there is nothing to search. 1 when every call returned nonzero.
int hearRecording(User* user, const std::vector<int16_t>& samples,
                  const std::function<int(Utterance& utterance, int k, bool heard)>& each);

// One entry of an n-best list as text.
struct HypothesisText {
  std::string words;
  int score = 0;
  std::vector<std::string> rules;   // the rules it went through, outermost first
  double confidence = 1.0;          // 0 to 1 (search/confidence.h)
  bool oov = false;                 // passes through the out-of-vocabulary element
  int index = 0;                    // its place in the search's result
};
// The first count results as text.
std::vector<HypothesisText> nbestText(const RecogResult& result, int count, WordDictionary& words,
                                      RuleDictionary& rules);

class Recognizer;
// Searches an utterance against the grammar's active rules (nothing to search when heard is
// false) and lists at most nbest results, those differing only in pronunciation variants taken
// as one, each with its confidence. When the grammar has its free phone loop, the utterance is
// searched with it first (its best score goes to *phoneBest; -1 without it). Hypotheses whose
// confidence is below rejectBelow, or that pass through the out-of-vocabulary rule, are dropped;
// when that drops the best one the utterance is rejected (the list is empty, *rejection says
// why; the next ones are not promoted in its place). Returns how the search ended
// (RecognizeEnd: eEndResults, or why there are no results).
int recogniseUtterance(Recognizer* recognizer, Utterance* utterance, const std::vector<int>& active, bool heard,
                       int nbest, LoadedGrammar& grammar, std::vector<HypothesisText>* out,
                       double rejectBelow = -1, int* phoneBest = nullptr, std::string* rejection = nullptr);

// ---- adaptation to recordings of known text (api/adaptation.cpp) -----------------------------

struct AdaptPrompt {
  std::string wave;
  std::string text;
  bool calibration = false;   // a calibration prompt ("tea" repetitions give the warp bin)
};

struct AdaptOutcome {
  int readable = 0;   // recordings read
  int adapted = 0;    // prompts after calibration adapted
  int phase2 = 0;     // prompts after calibration
  int minimum = 0;    // adapted prompts needed for the models to be kept
};

// Enrolls a speaker from recordings of known text, as the enrollment program does: the warp-bin
// estimates of the calibration prompts' "tea" repetitions choose the warp bin, the calibration
// recordings calibrate the speaker, then every other prompt is recognised against a rule made of
// its words alone (or, with recognise false, aligned with its words at once) and adapted; finally
// the accumulators are applied and the channel state is stored in the speaker. read gives a
// prompt's recording at 11025 Hz (false when it cannot; it reports why itself); progress gets
// one line per step. 1 when the models were adapted on enough prompts (at least a quarter of
// those after calibration) and are complete; 0 when not (the models are then half-done and must
// not be written). Uses the enrollment search settings while it runs.
int adaptSpeaker(User* user, WordDictionary* words, const std::vector<AdaptPrompt>& prompts, bool recognise,
                 const std::function<bool(const AdaptPrompt&, std::vector<int16_t>*)>& read,
                 const LineSink& progress, AdaptOutcome* outcome);

// "" when the reference models "delta.usr" of the data directory can be read, else a warning:
// without them the adaptation does not spread to the contexts no prompt reached.
std::string referenceModelsWarning();

}  // namespace vlm
