// Calibration: turns recorded enrollment utterances into a speaker. User::calibrate applies the
// speaker's warp bin, derives the channel's cepstral mean normaliser from all recordings at once
// and adapts the templates in two passes of recognition and forced alignment against the text
// each utterance was prompted with. See docs/adaptation.md.
#pragma once
#include <cstdint>
#include "audio/frame.h"

namespace vlm {

class User;
class Utterance;
class WordDictionary;
class RuleDictionary;
class FSGNodeTypeItemAC;
class WavChannel;
class AdaptAccumHS;

// The channel's normalisation block, as a WavChannel holds it.
struct CepMeanNorms {
  int32_t normaliser[kStaticFeatures];
  int32_t accums[kStaticFeatures];
  int32_t count;
};

// The recognition step of calibration: recognise utt (taken from its channel, still being
// filled) for user against ruleList[0..ruleCount-1] of rules, and copy the first hypothesis into
// best. Returns non-zero when there is a result. The search provides one
// (recognizeForCalibration in search/recognizer.h), which enrollment installs with
// setCalibrationRecognizer; the speaker models stand below the search and cannot call it
// directly.
using CalibrationRecognizeFn = int (*)(User* user, WordDictionary* words, RuleDictionary* rules,
                                       Utterance* utt, int* ruleList, int ruleCount,
                                       FSGNodeTypeItemAC* best);
// Installs fn (null: none) and returns the previous one. Without a recogniser, calibration
// aligns every utterance with its prompt's words directly.
CalibrationRecognizeFn setCalibrationRecognizer(CalibrationRecognizeFn fn);
CalibrationRecognizeFn calibrationRecognizer();

// The name of the temporary rule each prompt becomes during the adaptation passes.
constexpr const char* kCalibrateRuleName = "_calibrateTmpRule";
constexpr int kCalibrationPasses = 2;
constexpr int kCalibrationPeakPercent = 60;   // the top tracker's level before each recording

// Readies the enrolment channel for a speaker before the first recording: the process-wide filter
// bank for the speaker's warp bin (58 when the file has none) and, when the speaker's file carries
// a channel store, the channel's normaliser and levels from it. Shared by the enrollment program
// and the adapt tool.
void prepareEnrollmentChannel(const User& user, WavChannel* channel);
// 1 when the speaker's channel store holds anything (a speaker saved after enrolment).
int hasChannelStore(const User& user);
// Applies the accumulated adaptation to the speaker: the full update of every touched template,
// then the spread to the contexts no frame reached (User::cousinsUpdate).
void applyAdaptation(User* user, AdaptAccumHS* accums);

}  // namespace vlm
