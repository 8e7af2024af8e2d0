#define VLM_UNIT "calibrate"
#include "models/calibrate.h"

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/user.h"

namespace vlm {

namespace {

CalibrationRecognizeFn installedRecognizer = nullptr;

// Opens the channel on the utterance's samples with the speech peak lowered to 60 % and starts
// listening; returns the utterance the channel finds there (taken, still being filled), or null.
Utterance* detect(StaticWavChannel* channel, Utterance* source) {
  WaveData data{source->samples, source->sampleCount};
  if (!channel->open(&data)) return nullptr;
  channel->topTracker().scaleValue(kCalibrationPeakPercent);
  channel->listen(1, nullptr);
  if (channel->isUttAvailable() != 1) return nullptr;
  return channel->takeUtt();
}

int hasSamples(const Utterance* u) { return u != nullptr && u->samples != nullptr && u->sampleCount > 0; }

}  // namespace

CalibrationRecognizeFn setCalibrationRecognizer(CalibrationRecognizeFn fn) {
  CalibrationRecognizeFn previous = installedRecognizer;
  installedRecognizer = fn;
  return previous;
}

CalibrationRecognizeFn calibrationRecognizer() { return installedRecognizer; }

int User::calibrate(UttFifo* utterances, WordDictionary* dict, CepMeanNorms* out, int warpBin) {
  const int count = utterances ? utterances->count() : 0;
  if (count == 0) return 0;

  StaticWavChannel channel;
  vtln = warpBin;
  WavChannel::melFilterBankWithVTLN(warpBin);

  // The normaliser from all recordings at once: frozen, so that the speech frames of every
  // utterance accumulate, newest first.
  channel.freezeNormaliser(1);
  for (int i = count - 1; i >= 0; i--) {
    Utterance* source = utterances->at(i);
    if (!hasSamples(source)) continue;
    Utterance* utt = detect(&channel, source);
    if (utt) {
      utt->complete(0);
      delete utt;
    }
    channel.close();
  }
  channel.freezeNormaliser(0);
  channel.resetChannelAccums(nullptr);
  if (out) {
    for (int i = 0; i < kStaticFeatures; i++) {
      out->normaliser[i] = channel.cepstralNormaliser()[i];
      out->accums[i] = 0;
    }
    out->count = 0;
  }

  // Two passes of recognition against each prompt and alignment with the result.
  RuleDictionary rules(10);
  int ruleList[1];
  for (int pass = 0; pass < kCalibrationPasses; pass++) {
    AdaptAccumHS accums(0);
    for (int i = 0; i < count; i++) {
      Utterance* source = utterances->at(i);
      if (!hasSamples(source) || source->prompt == nullptr) continue;
      FSGNodeTypeItemAC items;
      if (!RuleBodyParser::simpleSequence(dict, source->prompt, &items)) {
        logError("Calibration: prompt with words outside the dictionary: ", source->prompt);
        continue;
      }
      const int rule = rules.newRule(kCalibrateRuleName);
      VLM_ASSERT(rule >= 0, "ruleIndex >= 0");
      if (rule < 0) continue;
      RuleData* data = rules.ruleAt(rule);
      if (data == nullptr || !data->setRuleBody(items, dict, &rules)) {
        logError("Calibration: cannot compile the prompt ", source->prompt);
        rules.deleteRule(rule);
        continue;
      }
      ruleList[0] = rule;
      Utterance* utt = detect(&channel, source);
      if (utt) {
        // Heard as recognition hears it: complete, shifted by its own normaliser.
        hearWhole(utt);
        FSGNodeTypeItemAC best;
        int recognised;
        if (installedRecognizer) {
          recognised = installedRecognizer(this, dict, &rules, utt, ruleList, 1, &best);
        } else {
          for (int k = 0; k < items.count(); k++) best.add(items[k]);
          recognised = 1;
        }
        if (recognised) adaptUtterance(this, dict, utt, &best, &accums, nullptr);
        delete utt;
      }
      channel.close();
      rules.deleteRule(rule);
    }
    accums.updateUser(this, 0);
    cousinsUpdate(&accums);
  }
  initGenericModels();
  return 1;
}

int hasChannelStore(const User& user) {
  for (int j = 0; j <= kStoreSpeechPeak; j++)
    if (user.models[kChannelStoreState][j] != 0) return 1;
  return 0;
}

void prepareEnrollmentChannel(const User& user, WavChannel* channel) {
  if (channel != nullptr && hasChannelStore(user)) user.setChanCepMnDel(channel);
  WavChannel::melFilterBankWithVTLN(user.vtln > 0 ? user.vtln : kNeutralWarpBin);
}

void applyAdaptation(User* user, AdaptAccumHS* accums) {
  if (user == nullptr || accums == nullptr) return;
  accums->updateUser(user, 0);
  user->cousinsUpdate(accums);
}

}  // namespace vlm
