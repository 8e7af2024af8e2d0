#define VLM_UNIT "enroll"
// The enrollment logic: start, phases, undo, unknown words, saving, exit.
#include "apps/enroll/app.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>

#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/calibrate.h"
#include "models/user.h"
#include "platform/msgbox.h"
#include "platform/spawn.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "synth/synth.h"

namespace vlm {

const char* const EnrollApp::kBeginText =
    "Tap the on-screen mic\nbutton then repeat the\nprompts.\nIf the speaker volume is\nlow turn it up.\nPause slightly "
    "after hearing\nthe prompt before\nrepeating it. (the recording\nmust finish playing before\nthe mic turns on)\nIf "
    "you mis-speak, Undo!";
const char* const EnrollApp::kLowVolumeText =
    "Signal too Low!\nHold the mic very\nclose to your lips\nwhen you speak\n(less than an inch away)";
const char* const EnrollApp::kPhase1DoneText =
    "In the next phase,\nwhen you repeat the\nprompt, do not pause\nbetween words.\nSpeak in a continuous manner.\nIf "
    "you mis-speak, Undo!\n\nTurn the mic on when ready.";
const char* const EnrollApp::kDeletePromptsText =
    "Delete enrollment prompts?\n\nPro's: Free up 400K of file space.\nCon's: Next enrollment will not have\noral "
    "promtps.\n\n(re-installing will return them)";
const char* const EnrollApp::kTrainText =
    "Enroll creates an initial set of voice models.\nTo improve recognition accuracy, use the 'train' button in the "
    "main app.";

namespace {

constexpr int kKeptUtterances = 20;   // holds every calibration repetition of the shipped prompts
constexpr int kLetterResults = 8;
constexpr int kTextRoom = 1024;

bool readable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The word sequence of a result as items of a plain sequence.
void wordItems(const FSGNodeTypeItemAC& result, FSGNodeTypeItemAC* out) {
  out->add(FSGNodeTypeItem{9, 0});
  for (int i = 0; i < result.count(); i++)
    if (result[i].type == 1) out->add(result[i]);
  out->add(FSGNodeTypeItem{10, 0});
}

}  // namespace

EnrollApp::EnrollApp(EnrollView* v, const std::string& dir) : view(v), dataDir(dir) {
  if (!dataDir.empty() && dataDir.back() != '/') dataDir += '/';
}

EnrollApp::~EnrollApp() { release(); }

void EnrollApp::release() {
  if (chan && chan->isListening()) chan->listen(0, nullptr);
  setWarpBinCollector(nullptr);
  fifo.reset();
  if (chan) chan->close();
  chan.reset();
  recog.reset();
  accums.reset();
  rules.reset();
  words.reset();
  abcRules.reset();
  abcWords.reset();
  usr.reset();
  prompts.close();
  unknownList.close();
}

void EnrollApp::fail(const char* text, const char* caption) {
  messageBox(text, caption, eBoxOk, eIconError, eAnswerOk);
  view->closeMain();
}

int EnrollApp::warpBin() const { return usr ? usr->vtln : 0; }

int EnrollApp::chooseBin(const std::vector<int>& estimates) {
  return chooseWarpBin(estimates.data(), static_cast<int>(estimates.size()));
}

bool EnrollApp::micOn() const { return chan && chan->isListening(); }

// ---- start ------------------------------------------------------------------------------------

int EnrollApp::initDialog() {
  setWordEndBeam(750);
  setPruneThresh(800);
  const std::string cfgPath = inData("enrol.cfg");
  if (readEnrolConfig(cfgPath, &cfg)) unlink(cfgPath.c_str());
  if (!prompts.open(inData(cfg.base + ".txt"))) {
    fail("Couldn't open promptFile", "In onInitDialog()");
    return 0;
  }
  view->setText(kIdProgress, " 0% done");
  if (!cfg.newUser) {
    existingMode = true;
    unknownList.open(inData("unknown.lst"));
    std::vector<std::string> users;
    int selected = -1;
    for (const std::string& name : filesEnding(dataDir, ".usr")) {
      if (strcasecmp(name.c_str(), "delta.usr") == 0) continue;
      if (strcasecmp(name.c_str(), "newuser.usr") == 0) selected = static_cast<int>(users.size());
      users.push_back(name);
    }
    view->setList(kIdUsers, users, selected);
    return 1;
  }
  return begin("");
}

int EnrollApp::begin(const std::string& comboText) {
  if (chan) return 1;
  const std::string userFile = existingMode ? comboText : "newuser.usr";
  if (userFile.empty()) return 1;
  usr = std::make_unique<User>();
  if (!isPlainFileName(userFile) || !usr->readFile(inData(userFile).c_str())) {
    fail("Error loading .usr file", "In selectUser()");
    return 0;
  }
  const std::string voc = inData(cfg.base + ".voc");
  words = std::make_unique<WordDictionary>(1024 + 4 * countFileLines(voc.c_str()));
  if (!words->readFile(voc.c_str())) {
    fail("Error loading .voc", "In selectUser()");
    return 0;
  }
  rules = std::make_unique<RuleDictionary>(64);
  if (!rules->readFile(inData(cfg.base + ".rul").c_str(), words.get())) {
    fail("Error loading .rul", "In selectUser()");
    return 0;
  }
  recog = std::make_unique<Recognizer>(usr.get(), words.get(), rules.get());
  accums = std::make_unique<AdaptAccumHS>();
  fifo = std::make_unique<UttFifo>(kKeptUtterances);
  setCalibrationRecognizer(recognizeForCalibration);
  chan = std::make_unique<LiveWavChannel>(warpBinDisplayHook);
  prepareEnrollmentChannel(*usr, chan.get());
  if (!chan->open(nullptr)) {
    fail("Error opening wavChannel", "In selectUser()");
    return 0;
  }
  chan->keepWavData(1);
  chan->bottomTracker().reInit(75, 70);
  for (int id : {kIdUndo, kIdEnrollMic, kIdWarpBin, kIdPrompt, kIdSay, kIdEnrollLevel, kIdMicState, kIdProgress})
    view->setVisible(id, true);
  view->setVisible(kIdBegin, false);
  view->setVisible(kIdUsers, false);
  if (existingMode) {
    for (PromptLine line = prompts.next(); line.kind != PromptLine::eEnd && line.kind != PromptLine::eEndCalibrate;
         line = prompts.next()) {
    }
    view->setText(kIdWarpBin, std::to_string(usr->vtln));
    saveVisible = true;
    view->setVisible(kIdSaveUserButton, true);
    if (unknownList.isOpen()) {
      skipVisible = true;
      view->setVisible(kIdSkipEnrol, true);
    }
  } else {
    messageBox(kBeginText, "Beginning Phase 1", eBoxOk, eIconInformation, eAnswerOk);
    newUser = true;
  }
  view->setText(kIdMicState, kMicOffText);
  return 1;
}

// ---- microphone --------------------------------------------------------------------------------

void EnrollApp::listen(bool on) {
  if (!chan) return;
  if (on && chan->listen(1, nullptr)) {
    view->setText(kIdMicState, kMicOnText);
    view->startPollTimer();
    return;
  }
  if (!chan->isListening()) return;
  chan->listen(0, nullptr);
  view->setText(kIdMicState, kMicOffText);
  view->stopPollTimer();
}

void EnrollApp::toggleMic() {
  if (!chan) return;
  if (!micOn() && !playQueued) {
    // A prompt still showing (the microphone failed to start) is asked for again, not skipped.
    if (current.valid()) {
      remembered.push_front(current);
      current = Prompt();
    }
    if (done && !unknownWordPhase && remembered.empty()) return;   // nothing left to say
    view->setText(kIdSay, "Say:");
    chan->bottomTracker().reInit(95, 90);
    if (unknownWordPhase) {
      fifo->backupPoint();
      showPronControls(false);
    }
    if (!nextPrompt()) return;
    if (!current.recording.empty()) {
      playQueued = true;
      view->postMessage(kMsgPlayPrompt);
    } else {
      listen(true);
    }
    return;
  }
  // Off: the displayed prompt is shown again when the microphone comes back.
  playQueued = false;
  listen(false);
  if (current.valid()) remembered.push_front(current);
  current = Prompt();
  view->setText(kIdPrompt, "");
}

void EnrollApp::onMessage(int message) {
  if (message == kMsgPlayPrompt) {
    if (!playQueued || !chan) return;
    playQueued = false;
    listen(false);
    view->repaint();
    usleep(100000);
    chan->beep(inData(current.recording).c_str(), 0);
    listen(true);
  } else if (message == kMsgEnrollActivate) {
    view->bringForward();
    if (chan && !micOn() && !playQueued) toggleMic();
  }
}

void EnrollApp::timerTick() {
  if (!chan || !micOn()) return;
  const int available = chan->isUttAvailable();
  if (available == 1) {
    handleRepetition(chan->takeUtt());
    return;
  }
  if (available == -3) {
    // A file-backed microphone has played out: nothing more will be heard.
    logError("enroll: the microphone's input has ended");
    listen(false);
    return;
  }
  if (++ticks % 9 == 0) view->setLevel(chan->lastFramePower(), chan->noiseFloor(), chan->speechPeak());
}

// ---- prompts -----------------------------------------------------------------------------------

void EnrollApp::showPrompt(const Prompt& p) { view->setText(kIdPrompt, p.text); }

int EnrollApp::nextPrompt() {
  if (!remembered.empty()) {
    current = remembered.front();
    remembered.pop_front();
    showPrompt(current);
    return 1;
  }
  PromptFile& file = unknownWordPhase ? unknownList : prompts;
  for (;;) {
    const PromptLine line = file.next();
    if (line.kind == PromptLine::eStartCalibrate) {
      adaptKept("in adaptUttFifo()");
      chan->keepWavData(1);
      phase1 = true;
      continue;
    }
    if (line.kind == PromptLine::eEndCalibrate) {
      current = Prompt();
      view->setText(kIdPrompt, "");
      finishCalibration();
      return 0;
    }
    if (line.kind == PromptLine::ePrompt) {
      char out[kTextRoom];
      const bool known = words->lookUpWords(out, line.text.c_str(), sizeof out) != nullptr;
      if (!known && !unknownWordPhase) continue;   // words no dictionary knows wait for that phase
      current.text = line.text;
      // Only a plain file name in the data directory that opens counts as a recording.
      current.recording = isPlainFileName(line.recording) && readable(inData(line.recording)) ? line.recording : "";
      showPrompt(current);
      view->setText(kIdProgress, std::to_string(file.percentDone()) + "% done");
      return 1;
    }
    // The end of the prompts.
    done = true;
    current = Prompt();
    view->setText(kIdPrompt, "");
    view->setText(kIdProgress, "done");
    saveVisible = true;
    view->setVisible(kIdSaveUserButton, true);
    view->setText(kIdMicState, "mic is Off; save user then exit");
    if (unknownList.isOpen() && !unknownWordPhase) {
      view->setText(kIdSkipEnrol, "newProns");
      skipVisible = true;
      view->setVisible(kIdSkipEnrol, true);
    }
    file.close();
    return 0;
  }
}

// ---- repetitions -------------------------------------------------------------------------------

void EnrollApp::keep(Utterance* utt) {
  if (Utterance* out = fifo->advancePoint(utt)) {
    // The oldest kept repetition leaves the queue: it can no longer be undone, so it is adapted.
    if (!unknownWordPhase && out->result && out->result->count() > 0) {
      const int sel = out->result->selected >= 0 ? out->result->selected : 0;
      if (!recog->adapt(out, out->result->at(sel), accums.get(), nullptr))
        messageBox("adaptation failed...", "in outPutUtt()", eBoxOk, eIconWarning, eAnswerOk);
    }
    delete out;
  }
}

void EnrollApp::handleRepetition(Utterance* utt) {
  if (utt == nullptr) return;
  if (unknownWordPhase) {
    hearWhole(utt);
    handleLetters(utt);
    return;
  }
  if (!current.valid() || !words || !rules) {
    delete utt;
    return;
  }
  FSGNodeTypeItemAC items;
  char out[kTextRoom];
  words->lookUpWords(out, current.text.c_str(), sizeof out, &items);
  const int rule = rules->newRule("tmpRule");
  RuleData* rd = rule >= 0 ? rules->ruleAt(rule) : nullptr;
  if (rd == nullptr || !rd->setRuleBody(items, words.get(), rules.get())) {
    if (rule >= 0) rules->deleteRule(rule);
    delete utt;
    return;
  }
  rd->LM = 4;
  utt->setPrompt(current.text.c_str());
  utt->setExtra(current.recording.empty() ? nullptr : current.recording.c_str());
  const bool tea = current.text == "tea";
  const bool collect = tea && !lowVolume;
  if (collect) {
    histogram.clear();
    setWarpBinCollector(&histogram);
  }
  hearWhole(utt);   // the warp-bin estimate is collected while its frames are made
  setWarpBinCollector(nullptr);
  int ruleList[1] = {rule};
  const int found = recog->recognize(utt, ruleList, 1);
  rules->deleteRule(rule);
  RecogResult* result = utt->result;
  if (found <= 0 || result == nullptr || result->count() == 0) {
    delete utt;   // not the prompt: wait for the next repetition
    return;
  }
  if (lowVolume) {
    // The first accepted repetition of the run is always taken back with the volume hint.
    lowVolume = false;
    listen(false);
    keep(utt);
    nextPrompt();
    undo();
    view->setText(kIdMicState, kMicOffText);
    messageBox(kLowVolumeText, "Low Volume", eBoxOk, eIconWarning, eAnswerOk);
    return;
  }
  result->selected = -1;
  char text[kTextRoom];
  for (int i = 0; i < result->count(); i++) {
    toAscii(*result->at(i), words.get(), text, sizeof text);
    if (strcasecmp(text, current.text.c_str()) == 0) {
      result->selected = i;
      break;
    }
  }
  if (result->selected < 0) {
    result->removeAll();
    result->wordDictionary = words.get();
    result->addResult(&items);
    result->selected = 0;
  }
  keep(utt);
  if (collect) {
    const int estimate = histogram.estimate();
    if (!isWarpEstimateValid(estimate)) {
      // The repetition is taken back and the prompt stays.
      listen(false);
      playQueued = false;
      if (fifo->backupPoint()) {
        remembered.push_front(current);
        current = Prompt();
      }
      return;
    }
    warpEstimates.push_back(estimate);
    view->setText(kIdWarpBin, std::to_string(estimate));
  }
  unsaved = true;
  accepted++;
  if (nextPrompt()) {
    chan->bottomTracker().reInit(95, 90);
    if (!current.recording.empty()) {
      listen(false);
      playQueued = true;
      view->postMessage(kMsgPlayPrompt);
    }
    return;
  }
  listen(false);
  if (done) messageBox("Save your User models\nthen exit.", "Done Enrolling", eBoxOk, eIconInformation, eAnswerOk);
}

void EnrollApp::undo() {
  if (!chan) return;
  playQueued = false;
  listen(false);
  if (current.valid()) remembered.push_front(current);
  current = Prompt();
  if (fifo->backupPoint()) {
    // The repetition taken back is asked for again, before the prompt that was showing.
    const Utterance* back = fifo->atPoint();
    Prompt again;
    again.text = back && back->prompt ? back->prompt : "";
    again.recording = back && back->extra ? back->extra : "";
    if (again.valid()) {
      if (again.text == "tea" && !warpEstimates.empty() && !unknownWordPhase) warpEstimates.pop_back();
      remembered.push_front(again);
      if (accepted > 0) accepted--;
    }
  }
  if (!remembered.empty()) view->setText(kIdPrompt, remembered.front().text);
  if (unknownWordPhase) showPronControls(false);
}

// ---- calibration and adaptation ----------------------------------------------------------------

void EnrollApp::adaptKept(const char* caption) {
  if (!fifo || !recog || !accums) return;
  while (Utterance* u = fifo->advanceTail()) {
    if (!unknownWordPhase && u->result && u->result->count() > 0) {
      const int sel = u->result->selected >= 0 ? u->result->selected : 0;
      if (!recog->adapt(u, u->result->at(sel), accums.get(), nullptr))
        messageBox("adaptation failed...", caption, eBoxOk, eIconWarning, eAnswerOk);
    }
    delete u;
  }
  applyAdaptation(usr.get(), accums.get());
}

void EnrollApp::finishCalibration() {
  view->setWaitCursor(true);
  listen(false);
  const int bin = chooseBin(warpEstimates);
  // Only the repetitions still accepted (up to the queue's point) are calibrated on.
  UttFifo kept(kKeptUtterances + 1);
  while (Utterance* u = fifo->advanceTail()) kept.advancePoint(u);
  CepMeanNorms norms{};
  if (usr->calibrate(&kept, words.get(), &norms, bin)) chan->setCepstralNormaliser(norms.normaliser);
  else usr->vtln = bin;
  view->setText(kIdWarpBin, std::to_string(usr->vtln));
  kept.removeAll();
  fifo->removeAll();
  accums = std::make_unique<AdaptAccumHS>();
  chan->keepWavData(0);
  phase1 = false;
  view->setText(kIdMicState, "mic is Off; phase1 complete; turn mic on!");
  view->setWaitCursor(false);
  messageBox(kPhase1DoneText, "Phase 1 Completed", eBoxOk, eIconInformation, eAnswerOk);
}

// ---- unknown words -----------------------------------------------------------------------------

void EnrollApp::showPronControls(bool on) {
  for (int id : {kIdPronList, kIdPronEdit, kIdAcceptPron, kIdPlayPron}) view->setVisible(id, on);
}

void EnrollApp::skipEnrol() {
  if (!chan || unknownWordPhase || !unknownList.isOpen()) return;
  listen(false);
  playQueued = false;
  adaptKept("in adaptUttFifo()");
  unknownWordPhase = true;
  skipVisible = false;
  view->setVisible(kIdSkipEnrol, false);
  abcWords = std::make_unique<WordDictionary>(256 + countFileLines(inData("abc.voc").c_str()));
  abcRules = std::make_unique<RuleDictionary>(256);
  if (!abcWords->readFile(inData("abc.voc").c_str()) ||
      !abcRules->readFile(inData("abc.rul").c_str(), abcWords.get())) {
    messageBox("aborting!", "missing ABC.voc or ABC.RUL", eBoxOk, eIconError, eAnswerOk);
    exitSequence();
    return;
  }
  recog = std::make_unique<Recognizer>(usr.get(), abcWords.get(), abcRules.get());
  view->setVisible(kIdMicState, false);
  if (unsaved) saveUser();
  setWordEndBeam(290);
  setPruneThresh(310);
  remembered.clear();
  current = Prompt();
  done = false;
  if (nextPrompt() == 0 && !current.valid()) view->setText(kIdPrompt, "");
  // The prompt shows; the microphone tap asks for it.
  if (current.valid()) remembered.push_front(current);
  current = Prompt();
}

void EnrollApp::handleLetters(Utterance* utt) {
  if (!current.valid()) {
    listen(false);
    delete utt;
    return;
  }
  // Step 1: the letter-group grammar of the prompt.
  const std::vector<LetterRule> letterRules = letterGroupRules(current.text, abcWords.get(), "");
  std::vector<int> made;
  for (auto it = letterRules.rbegin(); it != letterRules.rend(); ++it) {
    const int index = abcRules->newRule(it->name.c_str());
    if (index < 0) break;
    made.push_back(index);
    RuleBodyParser parser(abcWords.get(), abcRules.get());
    if (!parser.loadRuleBody(it->body.c_str()) ||
        !abcRules->ruleAt(index)->setRuleBody(parser.items(), abcWords.get(), abcRules.get()))
      logError("enroll: letter-group rule does not compile: ", it->body.c_str());
  }
  int found = 0;
  if (!made.empty()) {
    int start = made.back();
    found = recog->recognize(utt, &start, 1);
  }
  for (int index : made) abcRules->deleteRule(index);
  listen(false);   // one word per tap
  if (found <= 0 || utt->result == nullptr || utt->result->count() == 0) {
    delete utt;
    remembered.push_front(current);
    view->setText(kIdPrompt, current.text);
    current = Prompt();
    return;
  }
  // Step 2: the first results again, each as a rule of its own words.
  std::vector<int> again;
  const int n = std::min(kLetterResults, utt->result->count());
  for (int i = 0; i < n; i++) {
    const int index = abcRules->newRule(("tmp" + std::to_string(i + 1)).c_str());
    if (index < 0) break;
    FSGNodeTypeItemAC seq;
    wordItems(*utt->result->at(i), &seq);
    if (abcRules->ruleAt(index)->setRuleBody(seq, abcWords.get(), abcRules.get())) again.push_back(index);
    else abcRules->deleteRule(index);
  }
  if (!again.empty()) found = recog->recognize(utt, again.data(), static_cast<int>(again.size()));
  for (int index : again) abcRules->deleteRule(index);
  RecogResult* result = utt->result;
  if (found <= 0 || result == nullptr || result->count() == 0) {
    delete utt;
    return;
  }
  // Step 3: rejection against the phone loop.
  const long loop = utt->phoneLoopScore;
  const long best = result->at(0)->score;
  if (loop != 0 && loop < best) {
    if ((best - loop) * 100 / loop > threshold) {
      delete utt;
      remembered.push_front(current);
      view->setText(kIdPrompt, current.text);
      current = Prompt();
      return;
    }
  }
  if (threshold > 270) threshold--;
  // Step 4: the distinct pronunciations, in the readable spelling.
  choices.clear();
  for (int i = 0; i < result->count(); i++) {
    std::string pron;
    const FSGNodeTypeItemAC& r = *result->at(i);
    for (int k = 0; k < r.count(); k++)
      if (r[k].type == 1)
        if (const char* p = abcWords->pronOf(r[k].value)) pron += p;
    if (pron.empty()) continue;
    char shown[kTextRoom];
    pronToReadable(pron.c_str(), shown, sizeof shown);
    bool seen = false;
    for (const std::string& c : choices) seen = seen || c == shown;
    if (!seen) choices.push_back(shown);
  }
  keep(utt);
  view->setList(kIdPronList, choices, -1);
  view->setText(kIdPronEdit, "");
  showPronControls(true);
}

void EnrollApp::choosePron(int index) {
  if (index >= 0 && index < static_cast<int>(choices.size())) view->setText(kIdPronEdit, choices[index]);
}

void EnrollApp::playPron(const std::string& editText) {
  char pron[kTextRoom];
  readableToPron(editText.c_str(), pron, sizeof pron);
  if (editText.empty() || !User::isValidPron(pron)) {
    view->setText(kIdPronEdit, "");
    return;
  }
  short* samples = nullptr;
  const int count = synthesize(pron, &samples);
  if (count > 0 && samples) view->playSamples(samples, count);
  delete[] samples;
}

void EnrollApp::acceptPron(const std::string& editText) {
  char pron[kTextRoom];
  readableToPron(editText.c_str(), pron, sizeof pron);
  if (!editText.empty() && User::isValidPron(pron) && current.valid()) prons.emplace_back(current.text, pron);
  else view->setText(kIdPronEdit, "");
  showPronControls(false);
  fifo->removeAll();
  remembered.clear();
  current = Prompt();
  if (!nextPrompt()) {
    exitSequence();
    return;
  }
  remembered.push_front(current);
  current = Prompt();
}

// ---- saving ------------------------------------------------------------------------------------

int EnrollApp::writeUser(const std::string& name) {
  if (!usr->writeFile(inData(name).c_str())) return 0;
  unsaved = false;
  saved = true;
  return 1;
}

void EnrollApp::applyPending() {
  if (!newUser) return;
  applyAdaptation(usr.get(), accums.get());
  newUser = false;
}

int EnrollApp::saveUser() {
  if (!chan || !usr) return 0;
  view->setWaitCursor(true);
  if (micOn() || playQueued) toggleMic();
  adaptKept("in adaptUttFifo()");
  usr->getChanCepMnDel(chan.get());
  const bool wasSaved = saved;
  saved = false;
  int ok = 0;
  if (cfg.saveName.empty()) {
    std::vector<std::string> files;
    for (const std::string& name : filesEnding(dataDir, ".usr"))
      if (!isReservedUsr(name)) files.push_back(name);
    view->setWaitCursor(false);
    view->runSaveDialog(files);
    ok = saved ? 1 : 0;
  } else {
    applyPending();
    ok = writeUser(cfg.saveName);
    if (!ok) cfg.saveName.clear();
  }
  saved = saved || wasSaved;
  view->setWaitCursor(false);
  return ok;
}

EnrollApp::SaveItAnswer EnrollApp::saveIt(const std::string& editText) {
  const std::string name = usrSaveName(editText);
  if (name.empty()) return eSaveRefused;
  applyPending();
  if (!writeUser(name)) return eSaveFailed;
  cfg.saveName = name;
  return eSaved;
}

bool EnrollApp::pronsTargetOk(const std::string& name) const {
  return isPlainFileName(name) && !isReservedVoc(name) && readable(inData(name));
}

void EnrollApp::appendProns(const std::string& vocName) {
  FILE* f = std::fopen(inData(vocName).c_str(), "ab");
  if (f == nullptr) return;
  bool ok = std::fputs("\n", f) >= 0;
  for (size_t i = 0; ok && i < prons.size(); i++) {
    if (!User::isValidPron(prons[i].second.c_str())) continue;
    std::string word = prons[i].first;
    for (char& c : word)
      if (c == ' ' || c == '\t') c = '_';
    ok = std::fprintf(f, "%s\t%s\n", word.c_str(), prons[i].second.c_str()) > 0;
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) logError("enroll: could not append every pronunciation to ", vocName.c_str());
}

void EnrollApp::deletePromptRecordings() {
  PromptFile file;
  if (!file.open(inData(cfg.base + ".txt"))) return;
  PromptLine line = file.next();
  while (line.kind != PromptLine::eEnd && line.kind != PromptLine::eEndCalibrate) line = file.next();
  if (line.kind == PromptLine::eEnd) return;
  for (line = file.next(); line.kind != PromptLine::eEnd; line = file.next())
    if (line.kind == PromptLine::ePrompt && isPlainFileName(line.recording)) unlink(inData(line.recording).c_str());
}

// ---- exit --------------------------------------------------------------------------------------

void EnrollApp::exitSequence() {
  if (micOn() || playQueued) toggleMic();
  if (!prons.empty()) {
    std::vector<std::string> files;
    for (const std::string& name : filesEnding(dataDir, ".voc"))
      if (!isReservedVoc(name)) files.push_back(name);
    const std::string target = view->runPronsDialog(files);
    if (!target.empty() && pronsTargetOk(target)) {
      appendProns(target);
      unknownList.close();
      unlink(inData("unknown.lst").c_str());
      prons.clear();
    }
  }
  if (saveVisible) {
    while (unsaved) {
      const char* question = saved ? "Some adaptation not saved.\nSave to .Usr?" : "Models NOT saved!\nSave to .Usr?";
      if (messageBox(question, "About to exit...", eBoxYesNo, eIconQuestion, eAnswerYes) != eAnswerYes) break;
      if (saveUser()) break;
      if (messageBox("Save Failed! Retry?\nYes -> retry\nNo -> abort", "Save Failed!", eBoxYesNo, eIconWarning,
                     eAnswerNo) != eAnswerYes)
        break;
    }
    if (readable(inData("mary.wav")) &&
        messageBox(kDeletePromptsText, "Delete .wav files?", eBoxYesNo, eIconQuestion, eAnswerNo) == eAnswerYes)
      deletePromptRecordings();
    if (!unsaved) messageBox(kTrainText, "Training improves models!", eBoxOk, eIconInformation, eAnswerOk);
  }
  view->closeMain();
}

int EnrollApp::finish(const std::string& programFolder) {
  view->stopPollTimer();
  release();
  if (!cfg.exitProgram.empty()) {
    const std::string program = programFolder + cfg.exitProgram;
    if (!startProgram(program)) {
      logError("enroll: cannot start ", program.c_str());
      messageBox("Create Process failed!!!", "restart manually...", eBoxOk, eIconError, eAnswerOk);
    }
  }
  return 0;
}

}  // namespace vlm
