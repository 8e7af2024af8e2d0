#define VLM_UNIT "namefind"
// The namefind shell: start-up, microphone and timer, recognition, nag, saving and exit.
#include "apps/namefind/app.h"

#include <fcntl.h>
#include <unistd.h>

#include "apps/namefind/commandrules.h"
#include "apps/namefind/config.h"
#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/adapt.h"
#include "models/user.h"
#include "platform/msgbox.h"
#include "platform/spawn.h"
#include "search/recognizer.h"
#include "search/result.h"

namespace vlm {

const char* const NamefindApp::kNagText =
    "Train to improve accuracy.\nAfter saying a phrase, if\nthe selection is correct,\ntap train.  Else, if the\n"
    "correct choice is in the\nchoice list, tap that\nchoice THEN tap train.\nDon't train in high noise\n"
    "or if the choice is NOT\nexactly what you said.\nMore?  See the Help.\nSee Options to stop Nagging";
const char* const NamefindApp::kSayHintText =
    "Turn the Mic on,\nhold the mic close\nto your lips and\nsay: 'Namefind Ostrawen'\n(or some other name...)\n"
    "Active Commands are: 'Namefind...' 'Call...' 'SendMail' 'VoiceMail' 'ScheduleA...' 'SwitchTo...";

namespace {

constexpr int kUttFifoSlots = 8;

// Lines of a text file (0 when it cannot be read): dictionaries are sized for what they load.
int linesIn(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  int lines = 0;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    for (ssize_t i = 0; i < n; i++) lines += buffer[i] == '\n';
  close(fd);
  return lines;
}

}  // namespace

NamefindApp::NamefindApp(NamefindView* v, const std::string& dataDir, bool phoneEdition) : view(v), phone(phoneEdition) {
  st.dataDir = dataDir;
  if (!st.dataDir.empty() && st.dataDir.back() != '/') st.dataDir += '/';
}

NamefindApp::~NamefindApp() { releaseEngine(); }

int NamefindApp::initMain() {
  if (!readConfig(configPath(), &st)) {
    // No usable configuration: choose the files first; a chosen set restarts the program.
    st.firstStart = 1;
    view->runOptions();
    if (exitSequence()) view->closeMain();
    return 0;
  }
  view->setEnabled(kIdTrain, false);
  view->setText(kIdMic, "mic is Off");
  std::string failure;
  if (!loadEngine(&failure)) {
    logError(failure.c_str());
    messageBox("Error loading start configuration.\nDeleting configuration.\nTry restarting.", "Load Error", eBoxOk,
               eIconError, eAnswerOk);
    unlink(configPath().c_str());
    releaseEngine();
    if (exitSequence()) view->closeMain();
    return 0;
  }
  view->postMessage(kMsgNamefindStart);
  view->bringForward();
  return 1;
}

int NamefindApp::loadEngine(std::string* failure) {
  usr = std::make_unique<User>();
  if (!usr->readFile(st.userFilePath.c_str())) {
    *failure = "can't open .usr file";
    return 0;
  }
  // The speaker's features are computed with the filter bank warped for that speaker.
  if (usr->vtln != WavChannel::melFilterBankSecondEFormantBin()) WavChannel::melFilterBankWithVTLN(usr->vtln);

  const std::string abcVoc = st.inDataDir("abc.voc");
  abcWords = std::make_unique<WordDictionary>(256 + linesIn(abcVoc));
  if (!abcWords->readFile(abcVoc.c_str())) {
    *failure = "can't open abc.voc file";
    return 0;
  }
  abcRules = std::make_unique<RuleDictionary>(64);
  if (!abcRules->readFile(st.inDataDir("abc.rul").c_str(), abcWords.get())) {
    *failure = "can't read abc.rul file";
    return 0;
  }
  const std::string baseVoc = st.inDataDir("base.voc");
  const std::string commandVoc = st.inDataDir("command.voc");
  // Room for every pronunciation and for the compound words the grammar makes from them.
  words = std::make_unique<WordDictionary>(4096 + linesIn(baseVoc) + 3 * linesIn(st.contactsVocPath) +
                                           linesIn(commandVoc));
  if (!words->readFile(baseVoc.c_str())) {
    *failure = "can't open base.voc file";
    return 0;
  }
  if (!words->readFile(st.contactsVocPath.c_str())) {
    *failure = "can't open .voc file";
    return 0;
  }
  if (!words->readFile(commandVoc.c_str())) {
    *failure = "can't open command.voc file";
    return 0;
  }

  st.loadedVocPath = st.contactsVocPath;
  rules = std::make_unique<RuleDictionary>(1024);
  recog = std::make_unique<Recognizer>(usr.get(), words.get(), rules.get());
  accums = std::make_unique<AdaptAccumHS>();
  fifo = std::make_unique<UttFifo>(kUttFifoSlots);
  chan = std::make_unique<LiveWavChannel>();
  chan->open(nullptr);
  chan->keepWavData(1);   // the samples of an utterance go with it (voice mail, replay)
  usr->setChanCepMnDel(chan.get());
  chan->bottomTracker().reInit(61, 57);
  return 1;
}

void NamefindApp::releaseEngine() {
  if (chan && chan->isListening()) chan->listen(0, nullptr);
  fifo.reset();   // deletes the utterances it holds
  if (chan) chan->close();
  chan.reset();
  recog.reset();
  accums.reset();
  commands.reset();
  rules.reset();
  words.reset();
  abcRules.reset();
  abcWords.reset();
  usr.reset();
  mainList.clear();
}

void NamefindApp::postStart() {
  // Contacts and the command list come with their own rules; the built-in commands are there now.
  if (words && rules) {
    commands = std::make_unique<CommandRules>(words.get(), rules.get());
    mainList.clear();
    commands->build(&mainList);
  }
  if (st.showSayHint) {
    st.showSayHint = 0;
    st.configChanged = 1;
    messageBox(kSayHintText, "Say: 'Namefind...'", eBoxOk, eIconInformation, eAnswerOk);
  }
  started = true;
  if (activationPending) {
    activationPending = false;
    activate();
  }
}

void NamefindApp::onMessage(int message) {
  switch (message) {
    case kMsgNamefindStart: postStart(); break;
    case kMsgNamefindActivate: activate(); break;
    case kMsgNag:
      st.uttsSinceNag = 0;
      st.nagThreshold = 1;
      messageBox(kNagText, "Train More!", eBoxOk, eIconInformation, eAnswerOk);
      break;
    default: break;
  }
}

bool NamefindApp::micOn() const { return chan && chan->isListening(); }

void NamefindApp::toggleMic() {
  if (st.micBlocked || !chan) return;
  if (chan->listen(chan->isListening() ? 0 : 1, nullptr)) {
    chan->topTracker().scaleValue(90);
    chan->bottomTracker().scaleValue(90);
    view->setText(kIdMic, "mic is On");
    view->startMicTimer();
    st.softKeyboardShown = 0;
    view->setSoftKeyboard(false);
  } else {
    view->stopMicTimer();
    view->setText(kIdMic, "mic is Off");
  }
}

void NamefindApp::timerTick() {
  if (!recog || !chan) return;
  const int available = chan->isUttAvailable();
  if (available == 1) {
    recognise(chan->takeUtt());
    return;
  }
  if (available == -3) {
    // The input has ended (a file-backed microphone played out): nothing more will be heard.
    logError("namefind: the microphone's input has ended");
    if (micOn()) toggleMic();
    return;
  }
  if (++ticks % 9 == 0) showLevel();
}

void NamefindApp::showLevel() {
  if (chan) view->setLevel(chan->lastFramePower(), chan->noiseFloor(), chan->speechPeak());
}

void NamefindApp::recognise(Utterance* utt) {
  if (utt == nullptr) return;
  st.uttsSinceNag++;
  const int found = mainList.empty() ? 0 : recog->recognize(utt, mainList.data(), static_cast<int>(mainList.size()));
  if (micOn()) toggleMic();   // one utterance per tap
  RecogResult* result = utt->result;
  if (found <= 0 || result == nullptr || result->count() == 0) {
    delete utt;
    return;
  }
  // Until the second pass and its confidence test exist every first-pass result is accepted.
  fifo->removeAll();
  fifo->advancePoint(utt);
  phraseTexts.clear();
  char text[1024];
  for (int i = 0; i < result->count(); i++) {
    toAscii(*result->at(i), words.get(), text, sizeof text);
    phraseTexts.push_back(text);
  }
  result->selected = 0;
  view->setList(kIdPhrases, phraseTexts, 0);
  if (st.nagThreshold < st.uttsSinceNag / 4) view->postMessage(kMsgNag);
}

void NamefindApp::saveUser() {
  if (!chan || !usr || st.userFilePath.empty()) return;
  usr->getChanCepMnDel(chan.get());
  if (usr->writeFile(st.userFilePath.c_str())) {
    st.modelsAdapted = 0;
    return;
  }
  messageBox(("Couldn't save " + baseName(st.userFilePath) + ".\nThe previous file is kept.").c_str(), "Save Error",
             eBoxOk, eIconError, eAnswerOk);
}

void NamefindApp::activate() {
  view->bringForward();
  if (view->forwardActivation()) return;
  // A second start right after the first may arrive before the models are loaded: it is
  // answered once the post-start work is done.
  if (!chan || !started) {
    activationPending = true;
    return;
  }
  if (!micOn()) toggleMic();
}

bool NamefindApp::exitSequence() {
  if (micOn()) toggleMic();
  if (mailOnHold &&
      messageBox("There is unsent mail on hold.  Would you like to review it?\n\nYes returns to the Email dialog.\n"
                 "No abandons the mail and exits.",
                 "Unsent Mail", eBoxYesNo, eIconQuestion, eAnswerYes) == eAnswerYes)
    return false;
  if (st.configChanged && !writeConfig(configPath(), st))
    messageBox("Couldn't save namefind.cfg.\nThe previous file is kept.", "Save Error", eBoxOk, eIconError, eAnswerOk);
  if (st.modelsAdapted &&
      messageBox("Phonetic models have been adapted!\nSave the changes?", "Phonetic Models are Adapted", eBoxYesNo,
                 eIconQuestion, eAnswerYes) == eAnswerYes)
    saveUser();
  // Changed contacts are saved here by the contacts store once it exists.
  return true;
}

int NamefindApp::finish(const std::string& programFolder) {
  view->stopMicTimer();
  releaseEngine();
  if (st.startAfterExit == 1 || st.startAfterExit == 2) {
    const std::string program =
        programFolder + (st.startAfterExit == 2 ? "enroll" : phone ? "namefind-phone" : "namefind");
    if (!startProgram(program))
      messageBox("Create Process failed!!!", "restart manually...", eBoxOk, eIconError, eAnswerOk);
  }
  return 0;
}

}  // namespace vlm
