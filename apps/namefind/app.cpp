#define VLM_UNIT "namefind"
// The namefind shell: start-up, microphone and timer, recognition, nag, saving and exit.
#include "apps/namefind/app.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "apps/namefind/commands.h"
#include "apps/namefind/config.h"
#include "apps/namefind/vcard.h"
#include "audio/channel.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "grammar/ruledict.h"
#include "lexicon/phoneset.h"
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

// Until the action dialogs exist, every action is reported through the view; the spelling is
// also played and the pronunciation dialog run (training.cpp).
class ReportedActions : public NamefindActions {
 public:
  ReportedActions(NamefindView* v, NamefindApp* a) : view(v), app(a) {}
  void dial(const std::string& label, const std::string& number) override { view->action("dial", {label, number}); }
  void switchTo(const Entry& entry, const Row* row) override {
    view->action("switch-to", {entry.second, row ? row->text(eColPath) : std::string()});
  }
  void mail(const Entry* contact, bool voice) override {
    view->action(voice ? "voice-mail" : "mail", {contact ? entryName(*contact) : std::string()});
  }
  void appointment(const Entry* contact, const std::string& type) override {
    view->action("appointment", {contact ? entryName(*contact) : std::string(), type});
  }
  void playPronunciation(const std::string& spelling) override {
    view->action("play-pron", {spelling});
    app->playSpelling(spelling);
  }
  void inspectPronunciations(const std::vector<std::string>& names) override {
    view->action("pron-dialog", names);
    app->inspectPronunciations(names);
  }

 private:
  NamefindView* view;
  NamefindApp* app;
};

}  // namespace

NamefindApp::NamefindApp(NamefindView* v, const std::string& dataDir, bool phoneEdition) : view(v), phone(phoneEdition) {
  st.dataDir = dataDir;
  if (!st.dataDir.empty() && st.dataDir.back() != '/') st.dataDir += '/';
  defaultActions = std::make_unique<ReportedActions>(view, this);
  actions = defaultActions.get();
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
  abcWords = std::make_unique<WordDictionary>(256 + countFileLines(abcVoc.c_str()));
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
  // Room for every pronunciation and for the words the grammar makes from the names: each
  // contact's first_last compounds (two per pair of pronunciations), its company's compound and
  // the letter-to-sound words of names no dictionary holds.
  const std::string contactRows =
      endsWithNoCase(st.contactsFilePath, "outlook.tsv") ? st.inDataDir("contacts.vcf") : st.contactsFilePath;
  words = std::make_unique<WordDictionary>(4096 + countFileLines(baseVoc.c_str()) +
                                           3 * countFileLines(st.contactsVocPath.c_str()) +
                                           countFileLines(commandVoc.c_str()) + 16 * countFileLines(contactRows.c_str()));
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
  contactsStore.reset();
  commandsStore.reset();
  addressBook.reset();
  currentUtt = nullptr;
  rules.reset();
  words.reset();
  abcRules.reset();
  abcWords.reset();
  usr.reset();
  mainList.clear();
}

void NamefindApp::postStart() {
  if (words && rules) {
    contactsStore = std::make_unique<TsvStore>(eKindContact);
    commandsStore = std::make_unique<TsvStore>(eKindCommand);
    st.loadedContactsPath = st.contactsFilePath;
    if (endsWithNoCase(st.contactsFilePath, "outlook.tsv")) {
      // The desktop's address book: the contacts of contacts.vcf.
      addressBook = std::make_unique<VCardFile>();
      if (!addressBook->load(st.inDataDir("contacts.vcf"), contactsStore.get())) logError("can't open contacts.vcf");
    } else if (!contactsStore->load(st.contactsFilePath)) {
      logError("can't open .tsv file");
    }
    if (!commandsStore->load(st.inDataDir("command.tsv"))) logError("can't open command.tsv file");
    commands = std::make_unique<CommandGrammar>(words.get(), rules.get(), contactsStore.get(), commandsStore.get());
    std::vector<std::string> bad;
    std::vector<int> out;
    commands->build(&bad, &out, st.dataDir);
    mainList = commands->mainList;
    checkBadPronunciations();
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
    case kMsgPlayPron:
      if (!pronText.empty()) actions->playPronunciation(pronText);
      break;
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
  hearWhole(utt);
  const int found = mainList.empty() ? 0 : recog->recognize(utt, mainList.data(), static_cast<int>(mainList.size()));
  if (micOn()) toggleMic();   // one utterance per tap
  RecogResult* result = utt->result;
  if (found <= 0 || result == nullptr || result->count() == 0) {
    delete utt;
    return;
  }
  utt = commands->secondPass(recog.get(), utt, st.echo);
  if (commands->tmpRuleFailed) {
    // A word sequence of a recognised result could not be made into a rule: the grammar is
    // broken, and the program ends without the exit questions.
    messageBox("Something wrong with tmpRule", "In onSpeech()", eBoxOk, eIconError, eAnswerOk);
    view->closeMain();
    return;
  }
  if (utt == nullptr) {
    view->action("rejected", {});
    return;
  }
  fifo->removeAll();
  fifo->advancePoint(utt);
  currentUtt = utt;
  showResult(utt);
  if (st.nagThreshold < st.uttsSinceNag / 4) view->postMessage(kMsgNag);
}

void NamefindApp::showResult(Utterance* utt) {
  RecogResult* result = utt ? utt->result : nullptr;
  phraseTexts.clear();
  choiceTexts.clear();
  matches.clear();
  if (result == nullptr) return;
  char text[80];
  for (int i = 0; i < result->count(); i++) {
    toAscii(*result->at(i), words.get(), text, sizeof text);
    phraseTexts.push_back(text);
  }
  view->setList(kIdPhrases, phraseTexts, result->selected >= 0 ? result->selected : 0);
  for (int i = 0; i < result->count(); i++)
    if (result->selected < 0 || result->selected == i) findMatchesOf(i);
  view->setList(kIdChoices, choiceTexts, matches.empty() ? -1 : 0);
  if (!matches.empty()) actOnEntry(matches[0].contacts, matches[0].entry);
}

void NamefindApp::findMatchesOf(int i) {
  RecogResult* result = currentUtt ? currentUtt->result : nullptr;
  if (result == nullptr || i < 0 || i >= result->count() || !commands) return;
  const size_t before = matches.size();
  commands->findMatches(*result->at(i), i, &matches);
  char text[80];
  toAscii(*result->at(i), words.get(), text, sizeof text);
  for (size_t m = before; m < matches.size(); m++) {
    const CommandMatch& match = matches[m];
    if (m == 0) {
      showSpelling(i);
      const int rule = CommandGrammar::hypothesisRule(*result->at(i));
      if (st.echo && !pronText.empty() && (rule == commands->nameRule || rule == commands->callRule))
        view->postMessage(kMsgPlayPron);
    }
    if (match.contacts) {
      choiceTexts.push_back(entryName(contactsStore->entries[static_cast<size_t>(match.entry)]));
    } else {
      choiceTexts.push_back(text);
    }
  }
}

void NamefindApp::showSpelling(int i) {
  RecogResult* result = currentUtt ? currentUtt->result : nullptr;
  pronText.clear();
  if (result == nullptr || i < 0 || i >= result->count()) return;
  pronText = spellingOf(*result->at(i));
  view->setText(kIdPronunciation, pronText);
}

std::string NamefindApp::spellingOf(const FSGNodeTypeItemAC& h) const {
  char prons[1024];
  toProns(h, words.get(), prons, sizeof prons);
  const char* p = prons;
  // The name rule's spelling leaves out "look up".
  if (commands && CommandGrammar::hypothesisRule(h) == commands->nameRule)
    p = std::strlen(prons) > 7 ? prons + 7 : prons + std::strlen(prons);
  char readable[2048];
  pronToReadable(p, readable, sizeof readable);
  return readable;
}

void NamefindApp::selectPhrase(int index) {
  RecogResult* result = currentUtt ? currentUtt->result : nullptr;
  if (result == nullptr || index < 0 || index >= result->count()) return;
  result->selected = index;
  choiceTexts.clear();
  matches.clear();
  findMatchesOf(index);
  view->setList(kIdChoices, choiceTexts, matches.empty() ? -1 : 0);
  if (!matches.empty()) actOnEntry(matches[0].contacts, matches[0].entry);
}

void NamefindApp::selectChoice(int index) {
  if (index < 0 || index >= static_cast<int>(matches.size())) return;
  const CommandMatch m = matches[static_cast<size_t>(index)];
  RecogResult* result = currentUtt ? currentUtt->result : nullptr;
  if (result != nullptr) result->selected = m.hypothesis;
  actOnEntry(m.contacts, m.entry);
  showSpelling(m.hypothesis);
}

void NamefindApp::showContact(int entry) {
  if (!contactsStore || entry < 0 || entry >= static_cast<int>(contactsStore->entries.size())) return;
  const Entry& e = contactsStore->entries[static_cast<size_t>(entry)];
  current = entry;
  const Row* row = e.row >= 0 && e.row < static_cast<int>(contactsStore->rows.size())
                       ? &contactsStore->rows[static_cast<size_t>(e.row)] : nullptr;
  details = detailLines(e, row);
  view->setList(kIdDetails, details, -1);
}

void NamefindApp::actOnEntry(bool contact, int entryIndex) {
  if (currentUtt != nullptr) {
    trainText = "train";
    view->setText(kIdTrain, "train");
    view->setEnabled(kIdTrain, true);
  }
  TsvStore* store = contact ? contactsStore.get() : commandsStore.get();
  if (store == nullptr || entryIndex < 0 || entryIndex >= static_cast<int>(store->entries.size())) return;
  const Entry e = store->entries[static_cast<size_t>(entryIndex)];
  const Entry* currentEntry = contactsStore && current >= 0 && current < static_cast<int>(contactsStore->entries.size())
                                  ? &contactsStore->entries[static_cast<size_t>(current)] : nullptr;
  switch (e.kind) {
    case eKindContact:
      showContact(entryIndex);
      break;
    case eKindCommand: {
      const Row* row = e.row >= 0 ? &store->rows[static_cast<size_t>(e.row)] : nullptr;
      details = detailLines(e, row);
      view->setList(kIdDetails, details, -1);
      actions->switchTo(e, row);
      break;
    }
    case eKindPhone: {
      const std::string head = e.first + ":";
      bool found = false;
      for (const std::string& line : details) found = found || line.compare(0, head.size(), head) == 0;
      if (!found) break;
      if (micOn()) toggleMic();
      actions->dial(e.first, detailValue(details, e.first));
      break;
    }
    case eKindSendMail: actions->mail(currentEntry, false); break;
    case eKindVoiceMail: actions->mail(currentEntry, true); break;
    case eKindEcho:
      st.echo = e.second == "on" ? 1 : 0;
      st.configChanged = 1;
      view->action("echo", {e.second});
      view->postMessage(kMsgPlayPron);
      break;
    case eKindAppointment: actions->appointment(currentEntry, e.second); break;
    default:
      details.clear();
      view->setList(kIdDetails, details, -1);
      break;
  }
}

int NamefindApp::deleteCurrent() {
  if (!contactsStore || current < 0) return 0;
  if (messageBox("Last chance, OK deletes it!", "Delete the Entry?", eBoxOkCancel, eIconQuestion, eAnswerCancel) !=
      eAnswerOk)
    return 0;
  contactsStore->remove(current);
  current = -1;
  st.contactsChanged = 1;
  details.clear();
  view->setList(kIdDetails, details, -1);
  return 1;
}

int NamefindApp::undeleteAsk(int entry) {
  if (!contactsStore || entry < 0 || entry >= static_cast<int>(contactsStore->entries.size())) return 0;
  if (contactsStore->entries[static_cast<size_t>(entry)].active) return 1;
  if (messageBox("The selected entry is marked\nfor deletion.\nUndelete it?", "Undelete Entry?", eBoxYesNo,
                 eIconQuestion, eAnswerNo) != eAnswerYes)
    return 0;
  contactsStore->undelete(entry);
  st.contactsChanged = 1;
  return 1;
}

int NamefindApp::acceptEntry(const Row& row, bool editing) {
  if (!contactsStore || !commands) return -1;
  if (!editing && isCommandRow(row)) {
    // A new command-list row goes to the command list: its keyword's rule (made when new) takes
    // it, and it is saved into command.tsv at exit.
    if (!commandsStore) return -1;
    Row command = row;
    if (command.text(eColStartWord).empty()) command.set(eColStartWord, "Switch To");
    const int entry = commandsStore->addRow(command);
    std::vector<std::string> bad;
    if (commands->addCommandEntry(entry, &bad, st.dataDir) >= 0) mainList = commands->mainList;
    st.contactsChanged = 1;
    return -1;   // nothing to show: the details view shows contacts only
  }
  Entry fresh;
  fresh.first = row.text(eColFirstName);
  fresh.second = row.text(eColLastName);
  int entry = -1;
  if (editing && current >= 0) {
    const Entry& old = contactsStore->entries[static_cast<size_t>(current)];
    const bool renamed = old.first != fresh.first || old.second != fresh.second;
    if (renamed && messageBox("Create a new Entry? \nYes creates, \nNo edits the existing entry",
                              "The Name fields have changed", eBoxYesNo, eIconQuestion, eAnswerYes) == eAnswerYes) {
      entry = contactsStore->addRow(row);
    } else {
      contactsStore->setRow(old.row, row);
      entry = current;
    }
  } else {
    entry = contactsStore->addRow(row);
  }
  // The entry's words (new ones by letter-to-sound) join the name rule.
  std::vector<std::string> bad;
  commands->addEntryToRule(commands->nameRule, true, entry, &bad);
  st.contactsChanged = 1;
  showContact(entry);
  return entry;
}

bool NamefindApp::isCommandRow(const Row& row) {
  for (int c : {eColFirstName, eColLastName, eColCompanyName})
    if (!row.text(c).empty()) return false;
  return !row.text(eColEndWord).empty();
}

void NamefindApp::checkBadPronunciations() {
  if (st.ignoreBadProns || !words) return;
  std::vector<std::string> names;
  for (int i = words->recordCount() - 1; i >= 1; i--) {
    const WordData* w = words->wordAt(i);
    if (w == nullptr || !(w->flag & WORD_IN_USE) || (w->flag & WORD_NOT_SAVED) || w->wordClass != kLetterToSoundClass)
      continue;
    names.push_back(w->name);
  }
  if (names.empty()) return;
  const int answer = messageBox(
      "Some names have (bad)\nrule generated pronunciations.\nInspect/Create new ones?\n\nYes --> Pron Dialog\nNo --> "
      "Namefind\nCancel --> Namefind, stop asking",
      "Bad Pronunciations", eBoxYesNoCancel, eIconQuestion, eAnswerNo);
  if (answer == eAnswerCancel) {
    st.ignoreBadProns = 1;
    st.configChanged = 1;
    return;
  }
  if (answer != eAnswerYes) return;
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return compareNoCase(a, b) < 0; });
  names.erase(std::unique(names.begin(), names.end(),
                          [](const std::string& a, const std::string& b) { return compareNoCase(a, b) == 0; }),
              names.end());
  actions->inspectPronunciations(names);
}

void NamefindApp::saveStores() {
  auto failed = [](const std::string& path) {
    messageBox(("Couldn't save " + baseName(path) + ".\nThe previous file is kept.").c_str(), "Save Error", eBoxOk,
               eIconError, eAnswerOk);
  };
  if (contactsStore && addressBook) {
    // Only deletions reach the address book; every other card stays byte for byte.
    const std::string vcf = st.inDataDir("contacts.vcf");
    if (!addressBook->save(vcf, *contactsStore)) failed(vcf);
    if (!st.loadedVocPath.empty() && !rewriteVocabulary(words.get(), *contactsStore, st.loadedVocPath))
      failed(st.loadedVocPath);
  } else if (contactsStore && !st.loadedContactsPath.empty()) {
    contactsStore->sortEntries();
    if (!contactsStore->save(st.loadedContactsPath)) failed(st.loadedContactsPath);
    if (!st.loadedVocPath.empty() && !rewriteVocabulary(words.get(), *contactsStore, st.loadedVocPath))
      failed(st.loadedVocPath);
  }
  if (commandsStore) {
    commandsStore->sortEntries();
    const std::string path = st.inDataDir("command.tsv");
    if (!commandsStore->save(path)) failed(path);
    if (!rewriteVocabulary(words.get(), *commandsStore, st.inDataDir("command.voc")))
      failed(st.inDataDir("command.voc"));
  }
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
  if (st.contactsChanged && words) {
    saveStores();
    st.contactsChanged = 0;
  }
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
