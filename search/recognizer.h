// Recognizer: the frame-synchronous Viterbi beam search over the word models of the active rules,
// with nested rules on a shared return stack, an out-of-vocabulary element scored against a free
// phone loop, utterance-initial and word-final silence, and the back-trace into an n-best list.
// It consumes an utterance's frames as the front end produces them.
//
// The search parameters are process-wide values (costs in the scorer's units); the applications
// change them for their own purposes through the setters below. maxFramesInUtt lives with the
// utterance (audio/utterance.h) and is set through WavChannel::setMaxFramesInUtt.
#pragma once
#include <cstddef>

namespace vlm {

class AdaptAccumHS;
class FSGNodeTypeItemAC;

class User;
class WordDictionary;
class RuleDictionary;
class Utterance;

// ---- search parameters ----------------------------------------------------------------------
extern int pruneThresh;            // 240: state beam, and the n-best cut-off
extern int wordEndBeam;            // 230: word-end beam
extern int loopBeam;               // 20: phone-loop beam
extern int loopExitBeam;           // 15: phone-loop exit beam
extern int loopTransitionPenalty;  // 10: phone-loop transition, entering the out-of-vocabulary element
extern int longStayPenalty;        // 9: per frame in one state after its first three
extern long maxMemoryAlloced;      // kDefaultMaxMemoryAlloced: bytes the two search arenas may hold together
extern long maxTickCount;          // 0 (off): milliseconds a search may run before it is aborted

// The default memory limit of a search: 64 MiB, room for a grammar of 2000 full names written as
// word sequences (the handheld's 3 MiB were its whole budget; this platform has far more). The
// search's memory grows with the paths it keeps active, not with the grammar's size.
constexpr long kDefaultMaxMemoryAlloced = 64L << 20;

// Each setter returns the value it replaced.
int setPruneThresh(int value);
int setWordEndBeam(int value);
long setMaxMemoryAlloced(long bytes);
long setMaxTickCount(long milliseconds);  // 0 turns the time limit off

// Why a search ended early (the utterance's log shows "channel warning: " and the message).
enum RecognizeAbort {
  eRecognizeOk = 0,
  eUttTooLong = 1,       // "Utt too long <maxFramesInUtt>": a warning; results still extracted
  eTimeTooLong = 2,      // "Time too long <maxTickCount>, aborting"
  eTooMuchMemory = 3,    // "Too much memory <maxMemoryAlloced>, aborting"
  eChannelError = 4,     // "Overflow or primitive channel error, aborting"
};

// How the last search ended, for callers that tell the user why nothing (or only part) was
// recognised. recognizeEndText gives the text of each.
enum RecognizeEnd {
  eEndResults = 0,      // results found
  eEndNoStart = 1,      // "the grammar starts no word" (no active rule, or no word of them can be
                        // modelled: a word without a usable pronunciation)
  eEndNoSpeech = 2,     // "no speech" (the utterance has no frames)
  eEndNoMatch = 3,      // "nothing in the grammar matched" (no path ended in silence)
  eEndTooLong = 4,      // "utterance too long" (results from the first maxFramesInUtt frames)
  eEndTime = 5,         // "search took too long" (maxTickCount)
  eEndMemory = 6,       // "search ran out of memory" (maxMemoryAlloced)
  eEndChannel = 7,      // "audio channel error"
  eEndNoModels = 8,     // "no speaker models"
};
const char* recognizeEndText(int end);

class Recognizer {
 public:
  Recognizer(User* user, WordDictionary* words, RuleDictionary* rules)
      : user(user), wordDictionary(words), ruleDictionary(rules) {}

  // Decodes utterance against the start nodes of the given rules. The utterance's result list is
  // created on the first call and emptied on later ones. Returns the number of results; 15 when
  // the list filled up; 0 when nothing could start, no path ended in silence, or the search was
  // aborted (the utterance is then marked aborted and its result list is empty).
  int recognize(Utterance* utterance, int* rules, int ruleCount);
  // Aligns the utterance with the known word sequence and records its frames into accums (with
  // the dictionary of the utterance's own result when it carries one); 1 when frames were
  // recorded, 0 when the sequence cannot be aligned or the utterance was aborted.
  int adapt(Utterance* utterance, const FSGNodeTypeItemAC* words, AdaptAccumHS* accums, const char* logPath);

  // The code the last search ended with (RecognizeAbort).
  int lastAbortCode() const { return abortCode; }
  // How the last search ended (RecognizeEnd): eEndResults, or why there are no results, or
  // eEndTooLong when the results cover only the first maxFramesInUtt frames.
  int lastEnd() const { return endReason; }
  // Frames scored by the last search.
  int lastFrameCount() const { return framesSearched; }

  // The most the two search arenas held at once since the last reset (benchmarks): the blocks
  // held, and the bytes handed out of them.
  static std::size_t peakArenaBytes();
  static std::size_t peakArenaUsedBytes();
  static void resetPeakArenaBytes();
  // The bytes the two search arenas hold now.
  static std::size_t arenaBytes();

  User* user;
  WordDictionary* wordDictionary;
  RuleDictionary* ruleDictionary;

 private:
  int abortCode = 0;
  int endReason = 0;
  int framesSearched = 0;
};

// Calibration's recognition step through this search (models/calibrate.h): recognises utt for
// user against ruleList and copies the first hypothesis into best; 1 with a result, else 0.
// Enrollment installs it with setCalibrationRecognizer(recognizeForCalibration).
int recognizeForCalibration(User* user, WordDictionary* words, RuleDictionary* rules, Utterance* utt,
                            int* ruleList, int ruleCount, FSGNodeTypeItemAC* best);

}  // namespace vlm
