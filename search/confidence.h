// How sure a recognition result is: its best hypothesis's score against the phone-loop score of
// the same search (the free phone loop scores the utterance as any sequence of phones, so a
// hypothesis that fits the speech scores close to it and one that the grammar forced onto other
// speech scores well above it). See docs/recognize.md, "Confidence and rejection".
#pragma once

namespace vlm {

// The phone-loop ratio: (best - ref) * 200 / ref in whole numbers (signed division), where ref
// is the utterance's phone-loop score and best a hypothesis's score. The phone loop scores with
// the coarse generic models, so a hypothesis that fits usually scores below it (a negative
// ratio) and one the grammar forced onto other speech comes closer to it or above it. Returns 0
// and leaves ratio alone when ref is 0 (no search, or an aborted one). namefind's confidence
// test rejects a result whose ratio is above its threshold (100, settling at 80) and passes
// every result whose score is not above ref.
int phoneLoopRatio(int ref, int best, int* ratio);

// The ratio as a figure from 0 (surely not what was said) to 1, the logistic curve
// 1 / (1 + e^((ratio - kMidpoint) / kScale)) fitted to which results were right, among commands
// and other speech of voices the models were not trained on (bench/rejection). Without a
// phone-loop score (ref 0) the result gets 1.
double resultConfidence(int ref, int best);

// The curve's constants (bench/rejection/rejection.py --fit prints them).
constexpr double kConfidenceMidpoint = -84.4;
constexpr double kConfidenceScale = 1.83;

}  // namespace vlm
