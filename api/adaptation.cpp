// Adaptation of a speaker's models to recordings of known text (api/wiring.h), shared by `adapt`
// and the library.
#define VLM_UNIT "adaptation"
#include <strings.h>

#include <cstring>

#include "api/wiring.h"
#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "foundation/filepath.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/calibrate.h"
#include "models/user.h"
#include "models/warpbin.h"
#include "search/recognizer.h"
#include "search/result.h"

namespace vlm {

namespace {

// At least one in this many phase-2 prompts must be adapted for the models to be kept.
constexpr int kMinAdaptedShare = 4;

// Starts the channel on a recording the way the enrollment program listens for a repetition.
Utterance* listenTo(StaticWavChannel* channel, std::vector<int16_t>* samples) {
  WaveData data{samples->data(), static_cast<int32_t>(samples->size())};
  if (!channel->open(&data)) return nullptr;
  channel->bottomTracker().reInit(95, 90);
  channel->listen(1, nullptr);
  if (channel->isUttAvailable() != 1) return nullptr;
  return channel->takeUtt();
}

// The enrollment search settings while an adaptation runs, the previous ones after it.
struct EnrollmentSearch {
  explicit EnrollmentSearch(bool recognise) {
    beam = setWordEndBeam(750);
    prune = setPruneThresh(800);
    calibration = setCalibrationRecognizer(recognise ? recognizeForCalibration : nullptr);
  }
  ~EnrollmentSearch() {
    setWordEndBeam(beam);
    setPruneThresh(prune);
    setCalibrationRecognizer(calibration);
  }
  int beam, prune;
  CalibrationRecognizeFn calibration;
};

}  // namespace

std::string referenceModelsWarning() {
  const char* path = catFname2VlmDir("delta.usr");
  User* current = User::usr;
  User* reference = new User;
  const bool ok = reference->readFile(path);
  User::usr = current;
  delete reference;
  if (ok) return "";
  return std::string("warning: the reference models ") + path + " cannot be read (see " + speechLogPath() +
         "); the contexts no prompt reaches keep their starting templates";
}

int adaptSpeaker(User* user, WordDictionary* words, const std::vector<AdaptPrompt>& prompts, bool recognise,
                 const std::function<bool(const AdaptPrompt&, std::vector<int16_t>*)>& read,
                 const LineSink& progressSink, AdaptOutcome* outcome) {
  auto progress = [&](const std::string& line) {
    if (progressSink) progressSink(line);
  };
  *outcome = AdaptOutcome();
  EnrollmentSearch settings(recognise);

  // The enrolment channel: its normaliser and levels carry over from recording to recording.
  StaticWavChannel channel(warpBinDisplayHook);
  prepareEnrollmentChannel(*user, &channel);

  // The silence template describes the room the prompts were recorded in, not the speaker: it is
  // kept as the starting models have it, so that an enrolled speaker is still heard in another
  // room (docs/audio-frontend.md, "Real microphones").
  int16_t silence[kFrameFeatures];
  std::memcpy(silence, user->models[0], sizeof silence);

  auto readRecording = [&](const AdaptPrompt& p, std::vector<int16_t>* samples) {
    if (!read(p, samples)) return false;
    outcome->readable++;
    return true;
  };

  // ---- Phase 1: warp-bin estimates and calibration -----------------------------------------
  int calibrationCount = 0;
  for (const AdaptPrompt& p : prompts) calibrationCount += p.calibration;
  if (calibrationCount > 0) {
    UttFifo kept(calibrationCount + 1);
    std::vector<int> estimates;
    WarpBinHistogram histogram;
    for (const AdaptPrompt& p : prompts) {
      if (!p.calibration) continue;
      std::vector<int16_t> samples;
      if (!readRecording(p, &samples)) continue;
      if (p.text == "tea") {
        histogram.clear();
        Utterance* utt = listenTo(&channel, &samples);
        if (utt) {
          setWarpBinCollector(&histogram);
          utt->complete(0);
          setWarpBinCollector(nullptr);
          delete utt;
        }
        channel.close();
        const int estimate = histogram.estimate();
        if (!isWarpEstimateValid(estimate)) {
          progress("  " + p.wave + ": warp-bin estimate out of range, repetition dropped");
          continue;
        }
        estimates.push_back(estimate);
        progress("  " + p.wave + ": warp-bin estimate " + std::to_string(estimate));
      }
      Utterance* keptUtt = new Utterance();
      keptUtt->samples = new int16_t[samples.size()];
      std::memcpy(keptUtt->samples, samples.data(), samples.size() * sizeof(int16_t));
      keptUtt->sampleCount = static_cast<int32_t>(samples.size());
      keptUtt->setPrompt(p.text.c_str());
      keptUtt->setExtra(p.wave.c_str());
      keptUtt->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
      if (Utterance* dropped = kept.advancePoint(keptUtt)) delete dropped;
    }
    const int bin = chooseWarpBin(estimates.data(), static_cast<int>(estimates.size()));
    progress("phase 1: " + std::to_string(kept.count()) + " recordings, warp bin " + std::to_string(bin) +
             "; calibrating");
    CepMeanNorms norms{};
    if (user->calibrate(&kept, words, &norms, bin)) channel.setCepstralNormaliser(norms.normaliser);
    kept.removeAll();
  } else {
    progress("no calibration prompts: warp bin " + std::to_string(user->vtln) + " kept");
  }

  // ---- Phase 2: recognise each prompt against itself and adapt -----------------------------
  AdaptAccumHS accums(0);
  RuleDictionary rules(16);
  Recognizer recognizer(user, words, &rules);
  int adapted = 0, phase2 = 0;
  for (const AdaptPrompt& p : prompts) {
    if (p.calibration) continue;
    phase2++;
    FSGNodeTypeItemAC items;
    if (!RuleBodyParser::simpleSequence(words, p.text.c_str(), &items)) {
      progress("  " + p.wave + ": words not in the dictionary, skipped: " + p.text);
      continue;
    }
    std::vector<int16_t> samples;
    if (!readRecording(p, &samples)) continue;
    const int rule = rules.newRule("tmpRule");
    RuleData* rd = rule >= 0 ? rules.ruleAt(rule) : nullptr;
    if (rd == nullptr || !rd->setRuleBody(items, words, &rules)) {
      progress("  " + p.wave + ": prompt does not compile, skipped: " + p.text);
      if (rule >= 0) rules.deleteRule(rule);
      continue;
    }
    rd->LM = 4;
    Utterance* utt = listenTo(&channel, &samples);
    if (utt) {
      // Adapted on the frames recognition will see: complete, shifted by its own normaliser.
      hearWhole(utt);
    }
    int ok = 0;
    if (utt == nullptr) {
      progress("  " + p.wave + ": no speech found");
    } else if (!recognise) {
      ok = adaptUtterance(user, words, utt, &items, &accums, nullptr);
    } else {
      int ruleList[1] = {rule};
      const int n = recognizer.recognize(utt, ruleList, 1);
      if (n <= 0 || utt->result == nullptr || utt->result->count() == 0) {
        progress("  " + p.wave + ": not recognised as its prompt, skipped");
      } else {
        const FSGNodeTypeItemAC* chosen = &items;
        char text[1024];
        for (int i = 0; i < utt->result->count(); i++) {
          toAscii(*utt->result->at(i), words, text, sizeof text);
          if (strcasecmp(text, p.text.c_str()) == 0) {
            chosen = utt->result->at(i);
            break;
          }
        }
        ok = adaptUtterance(user, words, utt, chosen, &accums, nullptr);
      }
    }
    if (utt && !ok) progress("  " + p.wave + ": adaptation failed");
    adapted += ok;
    delete utt;
    channel.close();
    rules.deleteRule(rule);
  }
  // The contexts the prompts never reached follow their group's adapted contexts, as after the
  // calibration passes; without this they keep whatever calibration left them.
  applyAdaptation(user, &accums);
  progress("phase 2: " + std::to_string(adapted) + " of " + std::to_string(phase2) + " prompts adapted");
  outcome->adapted = adapted;
  outcome->phase2 = phase2;
  // Models adapted on too few prompts (silence, the wrong recordings) would be worse than none.
  outcome->minimum = phase2 > 0 ? (phase2 + kMinAdaptedShare - 1) / kMinAdaptedShare : 0;
  if (outcome->readable == 0 || adapted < outcome->minimum) return 0;
  std::memcpy(user->models[0], silence, sizeof silence);
  user->initGenericModels();
  user->getChanCepMnDel(&channel);
  return 1;
}

}  // namespace vlm
