// How sure a recognition result is: its best hypothesis's score against the phone-loop score of
// the same search (the free phone loop scores the utterance as any sequence of phones, so a
// hypothesis that fits the speech scores close to it and one that the grammar forced onto other
// speech scores well above it). See docs/recognize.md, "Confidence and rejection".
#pragma once

namespace vlm {

class WordDictionary;
class RuleDictionary;
class Recognizer;
struct Utterance;

// The phone-loop ratio: (best - ref) * 200 / ref in whole numbers (signed division), where ref
// is the utterance's phone-loop score and best a hypothesis's score. The phone loop scores with
// the coarse generic models, so a hypothesis that fits usually scores below it (a negative
// ratio) and one the grammar forced onto other speech comes closer to it or above it. Returns 0
// and leaves ratio alone when ref is 0 (no search, or an aborted one). namefind's confidence
// test rejects a result whose ratio is above its threshold (100, settling at 80) and passes
// every result whose score is not above ref.
int phoneLoopRatio(int ref, int best, int* ratio);

// The free phone loop over the speaker's own models, the reference that tells speech the grammar
// describes from other speech also when it is short: the rule kPhoneLoopRuleName, any sequence of
// one-phone words (named "phx<k>" after the k-th phone of the inventory, silence left out).
// Searched on an utterance alone, its best score is what the speech costs as free phones; a
// grammar hypothesis that fits scores about as well, one forced onto other speech worse, per frame.
constexpr const char* kPhoneLoopRuleName = "_PhoneLoop";
// Adds the phone words to words and the rule to rules (once; a second call finds the rule).
// Returns the rule's index, or -1 (logged) when a name is taken by something else or a table is
// full.
int addPhoneLoopRule(WordDictionary* words, RuleDictionary* rules);
// Searches the free phone loop (rule phoneRule) on utt and returns its best score, or -1 when it
// finds nothing; its result is left on the utterance. The search runs with half the state and
// word-end beams in force: the loop lets every phone follow every other, so the full beams keep
// many more states alive than a command grammar does, and on 80 command recordings half the
// beams gave the same best scores in well under half the time (docs/recognize.md).
int searchPhoneLoop(Recognizer* recognizer, Utterance* utt, int phoneRule);

// The confidence, from 0 (surely not what was said) to 1: a logistic curve over the phone-loop
// ratio (ratio / 100) and the cost per frame of the hypothesis above the free phone loop,
// (best - phoneBest) / frames, fitted to which results were right among commands and other speech
// of voices the models were not trained on (bench/rejection/rejection.py --fit). phoneBest below
// 0 (no phone-loop search) uses the phone-loop ratio alone (a curve fitted the same way); no
// phone-loop score (ref 0) gives 1.
double resultConfidence(int ref, int best, int phoneBest, int frames);
double resultConfidence(int ref, int best);

// The curves' constants (bench/rejection/rejection.py --fit prints them): with the free phone
// loop, 1 / (1 + e^-(kBias + kRatioWeight * ratio / 100 + kPhoneWeight * perFrame)); without it,
// 1 / (1 + e^((ratio - kConfidenceMidpoint) / kConfidenceScale)).
constexpr double kConfidenceBias = -24.080;
constexpr double kConfidenceRatioWeight = -26.707;
constexpr double kConfidencePhoneWeight = -3.599;
constexpr double kConfidenceMidpoint = -84.4;
constexpr double kConfidenceScale = 1.99;

}  // namespace vlm
