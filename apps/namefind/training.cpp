#define VLM_UNIT "namefind"
// Training ("train"), playing spellings, and the pronunciation dialog's logic.
#include "apps/namefind/training.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "audio/waveio.h"
#include "foundation/log.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"
#include "models/adapt.h"
#include "models/user.h"
#include "platform/msgbox.h"
#include "search/recognizer.h"
#include "search/result.h"
#include "synth/synth.h"

namespace vlm {

const char* const kPronHelpText =
    "Pronunciation generation is the most complicated thing done in Voice Namefind.  The list of words to "
    "add/edit pronuciations, occupy the top left list box.  Tap a word you are interested in.  If the word you "
    "tapped has a pronunciation, it is played.  If there is more than one pronunciation only the first one is "
    "played.  If you \"like\" the pronciation, tapping 'acceptPron' will remove it from this list in the future.  "
    "If you want to inspect an alternate pronunciation tap it then tap the 'playPron' button.  If how you "
    "pronounce a word is not among the existing pronunciations, you need to add a pronunciation (and possibly "
    "delete the existing ones).  To add a pronunciation, tap the word of interest, turn the mic on and say it.  "
    "From among the choice list of the pronunciations, select the one you like and tap acceptPron.  If you are "
    "unsure, select a pron and tap the playPron button.  You can compare prons, selecting and playing them, then "
    "accept the one which sounds best.  If you reject them all, you can turn the mic on and resay the word to get "
    "a new list.  In the little edit window by the 'kbd' button, you can manualy type in a pronunciation.  When "
    "the pronunciation is correct, press acceptPron. Delete the \"bad\" prununciations (select them then tap "
    "'delPron'). When you are done (or tired) and want to quit, tap the 'ok' button. Tapping 'ok' saves all the "
    "pronunciations you have added.  'Cancel' also exits, but abandons the changes you have made.\nIf you entered "
    "the dialog via 'newEntry' or 'editEntry' buttons, the 'trainWord' button is enabled.  TrainWord is a "
    "bludgeon to \"fix\" a bad model.  Only uses trainWord when you can not adapt a word normally, (because it "
    "never appears on the choice list).";

namespace {

const char* const kAdaptWarningText =
    "Be sure that the phrase you said is the phrase to be adapted.\nFor example, if you said 'Namefind John', be "
    "sure you are not adapting 'Namefind Johnny'.\nThe phonetic spelling of what will be adapted is to the right "
    "of the 'train' button.\nTap the spelling to hear it played.";

// The playback format of spellings: PCM, 1 channel, 11025 samples/s, 16 bits.
const WaveFormat kSpellingFormat = {1, 1, 11025, 22050, 2, 16, 0};

std::string cleaned(const std::string& text) {
  char out[kMaxPronWordChars + 1];
  if (cleanUpName(out, text.c_str(), sizeof out, kMaxPronWordChars) == nullptr) return std::string();
  return out;
}

// A letter group of the spelling dictionary: any of its words that is not a spelled character.
bool isLetterGroup(WordDictionary* abc, const std::string& text) {
  if (text.empty() || text[0] == '\\') return false;
  const WordData* w = abc->getWordData(text.c_str());
  return w != nullptr && w->index >= 2 && w->pron != nullptr;
}

// The cut of a cleaned word into letter groups: at each position the longest group and, where a
// shorter group of more than one letter exists, the longest such as the alternative. Positions
// are those that start a group ("_" between the words of a name is passed over).
struct Cut {
  struct Step {
    std::string group[2];   // [1] empty without an alternative
    size_t next[2] = {0, 0};
  };
  std::map<size_t, Step> steps;   // only positions from which the end is reached
  size_t end = 0;
  bool ok = false;
};

size_t skipSeparators(const std::string& s, size_t p) {
  while (p < s.size() && s[p] == '_') p++;
  return p;
}

Cut cutWord(const std::string& word, WordDictionary* abc) {
  Cut cut;
  cut.end = word.size();
  std::map<size_t, int> reach;   // 1 the end is reached from here, 0 not
  std::function<bool(size_t)> visit = [&](size_t p) -> bool {
    p = skipSeparators(word, p);
    if (p >= word.size()) return true;
    auto known = reach.find(p);
    if (known != reach.end()) return known->second != 0;
    reach[p] = 0;   // no cycles: every step moves forward
    size_t wordEnd = word.find('_', p);
    if (wordEnd == std::string::npos) wordEnd = word.size();
    std::vector<size_t> lengths;
    for (size_t len = wordEnd - p; len >= 1; len--)
      if (isLetterGroup(abc, word.substr(p, len))) lengths.push_back(len);
    Cut::Step step;
    int made = 0;
    if (!lengths.empty() && visit(p + lengths[0])) {
      step.group[made] = word.substr(p, lengths[0]);
      step.next[made] = skipSeparators(word, p + lengths[0]);
      made++;
    }
    for (size_t k = 1; k < lengths.size(); k++) {
      if (lengths[k] < 2) break;
      if (!visit(p + lengths[k])) continue;
      step.group[made] = word.substr(p, lengths[k]);
      step.next[made] = skipSeparators(word, p + lengths[k]);
      made++;
      break;
    }
    if (made == 0 && lengths.size() > 1) {
      // The longest group leads nowhere: the shortest one that does.
      for (size_t k = lengths.size(); k-- > 1;)
        if (visit(p + lengths[k])) {
          step.group[0] = word.substr(p, lengths[k]);
          step.next[0] = skipSeparators(word, p + lengths[k]);
          made = 1;
          break;
        }
    }
    if (made == 0) return false;
    cut.steps[p] = step;
    reach[p] = 1;
    return true;
  };
  cut.ok = !word.empty() && visit(0);
  return cut;
}

std::string ruleName(size_t position) { return std::string(kPronRuleName) + std::to_string(position); }

std::string branch(const Cut& cut, const std::string& group, size_t next) {
  std::string body = "( < " + group + " >";
  if (next < cut.end) body += " &" + ruleName(next);
  return body + " )";
}

std::string ruleBody(const Cut& cut, const Cut::Step& step) {
  if (step.group[1].empty()) return branch(cut, step.group[0], step.next[0]);
  return "{ " + branch(cut, step.group[0], step.next[0]) + " " + branch(cut, step.group[1], step.next[1]) + " }";
}

int setBody(RuleDictionary* rules, WordDictionary* words, int index, const std::string& body) {
  RuleData* rule = rules->ruleAt(index);
  if (rule == nullptr) return 0;
  RuleBodyParser parser(words, rules);
  if (parser.loadRuleBody(body.c_str()) == nullptr || !rule->setRuleBody(parser.items(), words, rules)) return 0;
  rule->flag = RULE_NOT_WRITTEN;
  return 1;
}

// Widens both search beams for its lifetime; the previous values come back on every path.
class WidenedBeams {
 public:
  explicit WidenedBeams(int by) : prune(setPruneThresh(pruneThresh + by)), wordEnd(setWordEndBeam(wordEndBeam + by)) {}
  ~WidenedBeams() {
    setPruneThresh(prune);
    setWordEndBeam(wordEnd);
  }
  WidenedBeams(const WidenedBeams&) = delete;
  WidenedBeams& operator=(const WidenedBeams&) = delete;

 private:
  int prune;
  int wordEnd;
};

}  // namespace

std::string phonesToReadable(const std::string& phones) {
  std::vector<char> out(phones.size() * 3 + 8);
  pronToReadable(phones.c_str(), out.data(), static_cast<int>(out.size()));
  return out.data();
}

std::string readableToPhones(const std::string& readable) {
  if (readable.empty()) return std::string();
  std::vector<char> out(readable.size() + 8);
  readableToPron(readable.c_str(), out.data(), static_cast<int>(out.size()));
  if (!isValidPron(out.data())) return std::string();
  return out.data();
}

std::string pronunciationRuleText(const std::string& word, WordDictionary* abc) {
  const Cut cut = cutWord(cleaned(word), abc);
  if (!cut.ok) return std::string();
  std::string text;
  for (const auto& [position, step] : cut.steps) text += ruleName(position) + ": " + ruleBody(cut, step) + "\n";
  return text;
}

std::vector<int> buildPronunciationRules(const std::string& word, WordDictionary* abc, RuleDictionary* rules) {
  std::vector<int> made;
  const std::string text = cleaned(word);
  if (text.empty()) return made;
  const Cut cut = cutWord(text, abc);
  if (!cut.ok) return made;
  // From the end backwards: every rule a body refers to exists when the body is parsed.
  bool failed = false;
  for (auto it = cut.steps.rbegin(); it != cut.steps.rend(); ++it) {
    const std::string name = ruleName(it->first);
    const RuleData* old = rules->getRuleData(name.c_str());
    if (old != nullptr) rules->deleteRule(old->index);
    const int index = rules->newRule(name.c_str());
    if (index < 0 || !setBody(rules, abc, index, ruleBody(cut, it->second))) {
      logError("pronunciation rule does not parse: ", name.c_str());
      if (index >= 0) rules->deleteRule(index);
      failed = true;
      break;
    }
    made.push_back(index);
  }
  if (failed) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) rules->deleteRule(*it);
    made.clear();
    return made;
  }
  std::reverse(made.begin(), made.end());   // the entry point first
  return made;
}

int buildLetterRule(const std::string& word, WordDictionary* abc, RuleDictionary* rules) {
  std::string body = "(";
  int items = 0;
  for (char c : word.substr(0, kMaxPronWordChars)) {
    const unsigned char u = static_cast<unsigned char>(c);
    const char lower = static_cast<char>(u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u);
    const std::string name = std::string("\\") + lower;
    const WordData* w = abc->getWordData(name.c_str());
    if (w == nullptr || w->index < 2) continue;
    const bool letter = lower >= 'a' && lower <= 'z';
    body += letter ? " " + name : " [ " + name + " ]";
    items++;
  }
  body += " )";
  if (items < 2) return -1;
  const RuleData* old = rules->getRuleData(kLetterRuleName);
  if (old != nullptr) rules->deleteRule(old->index);
  const int index = rules->newRule(kLetterRuleName);
  if (index < 0) return -1;
  if (!setBody(rules, abc, index, body)) {
    rules->deleteRule(index);
    return -1;
  }
  return index;
}

// ---- NamefindApp: training ---------------------------------------------------------------------

void NamefindApp::train() {
  bool enabled = true;
  if (!trainTap("Adapt Carefully", &trainText, &enabled)) return;
  if (enabled) view->setText(kIdTrain, trainText);
  else view->setEnabled(kIdTrain, false);
}

int NamefindApp::trainTap(const char* warningCaption, std::string* caption, bool* enabled) {
  if (st.showAdaptWarning) {
    if (micOn()) toggleMic();
    st.showAdaptWarning = 0;
    st.configChanged = 1;
    messageBox(kAdaptWarningText, warningCaption, eBoxOk, eIconInformation, eAnswerOk);
    return 0;
  }
  adaptUttFifo(1);
  if (st.nagThreshold < kNagOff) st.nagThreshold++;
  if (caption->size() <= 5) *caption = "trained";
  else *enabled = false;
  return 1;
}

int NamefindApp::adaptUttFifo(int apply) {
  if (!fifo || !recog || !accums || !usr || fifo->count() == 0) return 0;
  for (int i = 0; i < fifo->count(); i++) {
    Utterance* u = fifo->at(i);
    RecogResult* result = u ? u->result : nullptr;
    const int chosen = result && result->selected >= 0 ? result->selected : 0;
    if (result == nullptr || chosen >= result->count()) continue;
    st.modelsAdapted = 1;
    if (!recog->adapt(u, result->at(chosen), accums.get(), nullptr))
      messageBox("adaptation failed...", "in adaptUttFifo()", eBoxOk, eIconWarning, eAnswerOk);
  }
  accums->updateUser(usr.get(), apply);
  view->action("adapted", {std::to_string(fifo->count()), apply ? "incremental" : "full"});
  return 1;
}

int NamefindApp::playSpelling(const std::string& readable) {
  const std::string phones = readableToPhones(readable);
  if (phones.empty()) return 0;
  if (micOn()) toggleMic();
  short* samples = nullptr;
  const int count = synthesize(phones.c_str(), &samples);
  if (count <= 0 || samples == nullptr) return 0;
  // The device layer owns (and frees) the block it plays.
  char* data = new char[static_cast<size_t>(count) * 2];
  std::memcpy(data, samples, static_cast<size_t>(count) * 2);
  delete[] samples;
  waveIoBeep(&kSpellingFormat, data, static_cast<unsigned>(count) * 2, kWaveMapper);
  return count;
}

Utterance* NamefindApp::lastUtterance() const {
  return fifo && fifo->count() > 0 ? fifo->at(fifo->count() - 1) : nullptr;
}

void NamefindApp::keepUtterance(Utterance* utt) {
  forgetUtterances();
  if (fifo && utt) fifo->advancePoint(utt);
}

void NamefindApp::keepSpelledUtterance(Utterance* utt) {
  if (utt == nullptr) return;
  if (!fifo) {
    delete utt;
    return;
  }
  delete fifo->advancePoint(utt);   // the oldest, when the queue was full
  if (currentUtt != nullptr && !fifo->isUttInFifo(currentUtt)) currentUtt = nullptr;
}

void NamefindApp::forgetUtterances() {
  if (fifo) fifo->removeAll();
  currentUtt = nullptr;
  view->setEnabled(kIdTrain, false);
}

void NamefindApp::addPronunciations(const std::vector<PronWord>& list) {
  if (!words) return;
  std::set<std::string> changedWords;
  for (const PronWord& w : list) {
    if (w.name.empty()) continue;
    for (const std::string& p : w.prons)
      if (isValidPron(p.c_str())) words->addWordIfNew(w.name.c_str(), p.c_str(), 0);
    // Records the dialog dropped are not written to the vocabulary again.
    if (const WordData* primary = words->getWordData(w.name.c_str())) {
      for (int i = primary->index; i >= 0;) {
        WordData* r = words->wordAt(i);
        if (r == nullptr) break;
        const bool kept = r->pron && std::find(w.prons.begin(), w.prons.end(), r->pron) != w.prons.end();
        if (!kept && !w.prons.empty()) r->flag |= WORD_NOT_SAVED;
        i = r->nextPron;
      }
    }
    changedWords.insert(w.name);
  }
  if (changedWords.empty() || !contactsStore || !commands) return;
  // The contacts whose names hold one of the words get its new pronunciations in the name rule.
  for (size_t e = 0; e < contactsStore->entries.size(); e++) {
    const Entry& entry = contactsStore->entries[e];
    bool uses = false;
    for (const std::string* text : {&entry.first, &entry.second, &entry.third}) {
      const std::string c = cleaned(*text);
      if (c.empty()) continue;
      if (changedWords.count(c)) uses = true;
      size_t pos = 0;
      while (!uses && pos <= c.size()) {
        size_t end = c.find('_', pos);
        if (end == std::string::npos) end = c.size();
        uses = changedWords.count(c.substr(pos, end - pos)) > 0;
        pos = end + 1;
      }
    }
    if (!uses) continue;
    std::vector<std::string> bad;
    if (commands->nameRule < 0) {
      logError("No tree or addressRule");
      break;
    }
    commands->addEntryToRule(commands->nameRule, true, static_cast<int>(e), &bad);
  }
  st.contactsChanged = 1;
}

int NamefindApp::inspectPronunciations(const std::vector<std::string>& names) {
  if (!words) return 0;
  std::vector<PronWord> list;
  for (const std::string& name : names) {
    PronWord w;
    w.name = name;
    if (const WordData* primary = words->getWordData(name.c_str()))
      for (int i = primary->index; i >= 0;) {
        const WordData* r = words->wordAt(i);
        if (r == nullptr) break;
        if (r->pron && !(r->flag & WORD_NOT_SAVED)) w.prons.push_back(r->pron);
        i = r->nextPron;
      }
    list.push_back(w);
  }
  const int ok = view->runPronunciationDialog(&list, false);
  if (ok) addPronunciations(list);
  return ok;
}

std::vector<std::string> NamefindApp::unknownNameWords(const std::vector<std::string>& names) const {
  std::vector<std::string> out;
  for (const std::string& name : names) {
    const std::string c = cleaned(name);
    if (c.empty() || (words && words->getWordData(c.c_str()) != nullptr)) continue;
    if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  }
  return out;
}

// ---- the pronunciation dialog ------------------------------------------------------------------

PronunciationLogic::PronunciationLogic(NamefindApp* a, PronunciationView* v, std::vector<PronWord>* w, bool fromEntryEditor)
    : app(a), view(v), words(w), entryMode(fromEntryEditor) {
  if (app->user() && app->spellingWords() && app->spellingRules())
    speller = new Recognizer(app->user(), app->spellingWords(), app->spellingRules());
}

PronunciationLogic::~PronunciationLogic() {
  if (micOn()) toggleMic();
  delete speller;
}

void PronunciationLogic::open() {
  std::vector<std::string> names;
  for (const PronWord& w : *words) names.push_back(w.name);
  view->setList(kIdPronWords, names, -1);
  changedFlag = false;
  view->setVisible(kIdPronTrain, entryMode);
  view->setEnabled(kIdPronTrain, false);
  view->setText(kIdPronSay, "say:");
  view->setText(kIdPronMic, "mic is Off");
  setButtons(false, false, false);
  if (!words->empty()) tapWord(0);
}

void PronunciationLogic::setEdit(const std::string& text) {
  edit = text;
  view->setText(kIdPronEdit, text);
}

void PronunciationLogic::setButtons(bool play, bool accept, bool del) {
  view->setEnabled(kIdPronPlay, play);
  view->setEnabled(kIdPronAccept, accept);
  view->setEnabled(kIdPronDel, del);
}

void PronunciationLogic::showCurrent(int select) {
  currentTexts.clear();
  if (selected >= 0)
    for (const std::string& p : (*words)[static_cast<size_t>(selected)].prons) currentTexts.push_back(phonesToReadable(p));
  view->setList(kIdPronList, currentTexts, select);
}

void PronunciationLogic::tapWord(int index) {
  if (index < 0 || index >= static_cast<int>(words->size())) return;
  selected = index;
  // The word as said: "\\" is one backslash, a backslash before anything else is dropped.
  std::string say;
  const std::string& name = (*words)[static_cast<size_t>(index)].name;
  for (size_t i = 0; i < name.size() && say.size() < 255; i++) {
    if (name[i] == '\\') {
      if (i + 1 < name.size() && name[i + 1] == '\\') {
        say += '\\';
        i++;
      }
      continue;
    }
    say += name[i];
  }
  view->setText(kIdPronWordToSay, say);
  showCurrent((*words)[static_cast<size_t>(index)].prons.empty() ? -1 : 0);
  if (!currentTexts.empty()) {
    setEdit(currentTexts[0]);
    play(currentTexts[0]);
    setButtons(true, true, true);
  } else {
    setEdit("");
    setButtons(false, false, false);
  }
  if (entryMode) view->setEnabled(kIdPronTrain, false);
}

bool PronunciationLogic::micOn() const { return app->channel() && app->channel()->isListening(); }

void PronunciationLogic::toggleMic() {
  WavChannel* chan = app->channel();
  if (chan == nullptr) return;
  if (chan->listen(chan->isListening() ? 0 : 1, nullptr)) {
    chan->topTracker().scaleValue(90);
    chan->bottomTracker().scaleValue(90);
    view->setText(kIdPronMic, "mic is On");
    view->startMicTimer();
  } else {
    view->stopMicTimer();
    view->setText(kIdPronMic, "mic is Off");
    view->setText(kIdPronSay, "say:");
  }
}

void PronunciationLogic::timerTick() {
  WavChannel* chan = app->channel();
  if (chan == nullptr) return;
  const int available = chan->isUttAvailable();
  if (available == 1) {
    utterance(chan->takeUtt());
  } else if (available == -3) {
    logError("namefind: the microphone's input has ended");
    if (micOn()) toggleMic();
  }
  ++ticks;
}

void PronunciationLogic::utterance(Utterance* utt) {
  if (utt == nullptr) return;
  hearWhole(utt);
  if (micOn()) toggleMic();   // one utterance per tap
  choiceTexts.clear();
  choiceHypothesis.clear();
  view->setList(kIdPronChoices, choiceTexts, -1);
  app->forgetUtterances();
  if (speller == nullptr || selected < 0) {
    delete utt;
    return;
  }
  WordDictionary* abc = app->spellingWords();
  RuleDictionary* rules = app->spellingRules();
  const std::string& word = (*words)[static_cast<size_t>(selected)].name;
  std::vector<int> made = buildPronunciationRules(word, abc, rules);
  if (made.empty()) {
    // No letter group of the spelling dictionary spells the word: nothing to offer.
    delete utt;
    return;
  }
  std::vector<int> active = {made[0]};
  const int letters = buildLetterRule(word, abc, rules);
  if (letters >= 0) active.push_back(letters);
  const int found = speller->recognize(utt, active.data(), static_cast<int>(active.size()));
  if (letters >= 0) rules->deleteRule(letters);
  for (auto it = made.rbegin(); it != made.rend(); ++it) rules->deleteRule(*it);
  if (found <= 0 || utt->result == nullptr || utt->result->count() == 0) {
    delete utt;
    return;
  }
  // The second pass and the confidence test of the command grammar, on the spelling words.
  CommandGrammar spelling(abc, rules, nullptr, nullptr);
  if (app->grammar()) spelling.threshold = app->grammar()->threshold;
  utt = spelling.secondPass(speller, utt, 1);
  if (app->grammar()) app->grammar()->threshold = spelling.threshold;
  if (utt == nullptr) return;
  fillChoices(utt);
  app->keepUtterance(utt);
  if (entryMode) {
    view->setText(kIdPronTrain, "train");
    view->setEnabled(kIdPronTrain, true);
  }
}

void PronunciationLogic::fillChoices(Utterance* utt) {
  WordDictionary* abc = app->spellingWords();
  RecogResult* result = utt->result;
  for (int i = 0; result && i < result->count(); i++) {
    const FSGNodeTypeItemAC& h = *result->at(i);
    std::string phones;
    for (int k = 0; k < h.count(); k++)
      if (h[k].type == eWordNode)
        if (const char* p = abc->pronOf(h[k].value)) phones += p;
    std::string text = phonesToReadable(phones);
    if (text.size() > 127) text.resize(127);
    if (text.empty() || std::find(choiceTexts.begin(), choiceTexts.end(), text) != choiceTexts.end()) continue;
    choiceTexts.push_back(text);
    choiceHypothesis.push_back(i);
  }
  char guess[1024];
  guess[0] = 0;
  xlateString(guess, (*words)[static_cast<size_t>(selected)].name.c_str(), sizeof guess, nullptr, 1);
  const std::string text = phonesToReadable(guess);
  if (!text.empty() && std::find(choiceTexts.begin(), choiceTexts.end(), text) == choiceTexts.end()) {
    choiceTexts.push_back(text);
    choiceHypothesis.push_back(-1);
  }
  view->setList(kIdPronChoices, choiceTexts, -1);
  setEdit("");
  setButtons(false, false, false);
}

void PronunciationLogic::chooseChoice(int index) {
  if (index < 0 || index >= static_cast<int>(choiceTexts.size())) return;
  Utterance* last = app->lastUtterance();
  const int h = choiceHypothesis[static_cast<size_t>(index)];
  if (last && last->result && h >= 0) last->result->selected = h;
  setEdit(choiceTexts[static_cast<size_t>(index)]);
  setButtons(true, true, false);
  view->setList(kIdPronList, currentTexts, -1);
}

void PronunciationLogic::chooseCurrent(int index) {
  if (index < 0 || index >= static_cast<int>(currentTexts.size())) return;
  setEdit(currentTexts[static_cast<size_t>(index)]);
  setButtons(true, true, true);
  view->setList(kIdPronChoices, choiceTexts, -1);
}

void PronunciationLogic::typed(const std::string& text) {
  edit = text;
  setButtons(true, true, false);
}

int PronunciationLogic::play(const std::string& readable) {
  if (micOn()) toggleMic();
  const int played = app->playSpelling(readable);
  if (played > 0) view->played(readable);
  return played;
}

void PronunciationLogic::playPron() {
  if (play(edit) == 0) setEdit("");
}

void PronunciationLogic::acceptPron() {
  const std::string phones = readableToPhones(edit);
  if (phones.empty() || selected < 0) {
    setEdit("");
    return;
  }
  PronWord& w = (*words)[static_cast<size_t>(selected)];
  // A word whose pronunciation was made by letter-to-sound no longer counts as a bad one.
  if (WordDictionary* main = app->mainWords())
    if (const WordData* primary = main->getWordData(w.name.c_str()))
      for (int i = primary->index; i >= 0;) {
        WordData* r = main->wordAt(i);
        if (r == nullptr) break;
        if (r->wordClass == kLetterToSoundClass) {
          r->wordClass = 0;
          app->state().contactsChanged = 1;
        }
        i = r->nextPron;
      }
  auto at = std::find(w.prons.begin(), w.prons.end(), phones);
  if (at == w.prons.end()) {
    w.prons.push_back(phones);
    at = w.prons.end() - 1;
  }
  changedFlag = true;
  showCurrent(static_cast<int>(at - w.prons.begin()));
}

void PronunciationLogic::delPron() {
  const std::string phones = readableToPhones(edit);
  if (phones.empty() || selected < 0) return;
  PronWord& w = (*words)[static_cast<size_t>(selected)];
  auto at = std::find(w.prons.begin(), w.prons.end(), phones);
  if (at == w.prons.end()) return;
  w.prons.erase(at);
  changedFlag = true;
  showCurrent(-1);
  setButtons(false, false, false);
}

void PronunciationLogic::trainWord() {
  if (micOn()) toggleMic();
  view->setEnabled(kIdPronTrain, false);
  Utterance* utt = app->lastUtterance();
  if (utt == nullptr || selected < 0 || speller == nullptr) return;
  const PronWord& w = (*words)[static_cast<size_t>(selected)];
  WordDictionary* abc = app->spellingWords();
  RuleDictionary* rules = app->spellingRules();
  int word = -1;
  for (const std::string& p : w.prons)
    if (isValidPron(p.c_str())) {
      const int index = abc->addWordIfNew(kTrainingWord, p.c_str(), 0);
      if (word < 0 && index >= 0) word = index;
    }
  if (word < 0) return;   // nothing to train on
  if (const WordData* primary = abc->getWordData(kTrainingWord)) word = primary->index;
  FSGNodeTypeItemAC items;
  items.add(eSequenceNode, 0);
  items.add(eWordNode, word);
  items.add(eSequenceEnd, 0);
  if (const RuleData* old = rules->getRuleData(kTrainingRule)) rules->deleteRule(old->index);
  int rule = rules->newRule(kTrainingRule);
  RuleData* data = rule >= 0 ? rules->ruleAt(rule) : nullptr;
  if (data == nullptr || !data->setRuleBody(items, abc, rules)) {
    if (rule >= 0) rules->deleteRule(rule);
    abc->deleteWord(word);
    logError("force training: the training rule cannot be made");
    return;
  }
  data->flag = RULE_NOT_WRITTEN;
  app->state().modelsAdapted = 1;
  int found = 0;
  {
    const WidenedBeams widened(kForceTrainingWidening);
    found = speller->recognize(utt, &rule, 1);
  }
  AdaptAccumHS* accums = app->accumulators();
  bool adapt = false;
  const FSGNodeTypeItemAC* sequence = &items;
  if (found > 0 && utt->result && utt->result->count() > 0) {
    sequence = utt->result->at(0);
    adapt = true;
  } else if (messageBox("recog failed...\nForce Adaptation?", "in adaptUttFifo()", eBoxYesNo, eIconQuestion,
                        eAnswerNo) == eAnswerYes) {
    adapt = true;
  }
  if (adapt && accums && app->user()) {
    if (!speller->adapt(utt, sequence, accums, nullptr))
      messageBox("adaptation failed...", "in adaptUttFifo()", eBoxOk, eIconWarning, eAnswerOk);
    accums->updateUser(app->user(), 0);
  }
  rules->deleteRule(rule);
  abc->deleteWord(word);
  view->setText(kIdPronTrain, "trained");
}

void PronunciationLogic::help() { view->showHelp(kPronHelpText); }

bool PronunciationLogic::ok() {
  if (micOn()) toggleMic();
  if (changedFlag) app->state().contactsChanged = 1;
  return true;
}

}  // namespace vlm
