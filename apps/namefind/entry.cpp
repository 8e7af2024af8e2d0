#define VLM_UNIT "namefind"
// The entry editor, the find dialog and spelling by voice.
#include "apps/namefind/entry.h"

#include "apps/namefind/actions.h"
#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "audio/channel.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "foundation/log.h"
#include "grammar/fsg.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "search/recognizer.h"
#include "search/result.h"

namespace vlm {

const char* const kSpellingExplanation[4] = {
    "zero123456789 atSignPeriodHyphenUnderscore",
    "AlphaBravoCharlyDeltaEchoFoxtrotGolfHotelIndia",
    "JulietKiloLimaMikeNovOscarPapaQuebecRomeo",
    "SierraTangoUniformVictorWhiskyXrayYankeeZulu",
};

// ---- spelling by voice -------------------------------------------------------------------------

SpellingInput::SpellingInput(NamefindApp* a, SpellingView* v) : app(a), view(v) {
  if (app->user() && app->spellingWords() && app->spellingRules()) {
    speller = std::make_unique<Recognizer>(app->user(), app->spellingWords(), app->spellingRules());
    for (const char* name : {"rAlphaBravoSpelling", "rDigitSpelling"})
      if (const RuleData* r = app->spellingRules()->getRuleData(name)) spellingRules.push_back(r->index);
  }
}

SpellingInput::~SpellingInput() {
  if (micOn()) toggleMic();
}

bool SpellingInput::micOn() const { return app->channel() && app->channel()->isListening(); }

void SpellingInput::toggleMic() {
  WavChannel* chan = app->channel();
  if (chan == nullptr) return;
  if (chan->listen(chan->isListening() ? 0 : 1, nullptr)) {
    chan->topTracker().scaleValue(90);
    chan->bottomTracker().scaleValue(90);
    view->setText(kIdSpellMic, "mic is On");
    view->startMicTimer();
  } else {
    view->stopMicTimer();
    view->setText(kIdSpellMic, "mic is Off");
  }
}

bool SpellingInput::timerTick() {
  WavChannel* chan = app->channel();
  if (chan == nullptr) return false;
  const int available = chan->isUttAvailable();
  if (available == 1) return utterance(chan->takeUtt());
  if (available == -3) {
    logError("namefind: the microphone's input has ended");
    if (micOn()) toggleMic();
  }
  return false;
}

std::string SpellingInput::lettersOf(const std::vector<std::string>& names) {
  std::string letters;
  for (const std::string& n : names)
    if (n.size() >= 2 && n[0] == '\\') letters += n[1];
  return letters;
}

bool SpellingInput::utterance(Utterance* utt) {
  if (utt == nullptr) return false;
  hearWhole(utt);
  if (micOn()) toggleMic();   // one utterance per tap
  if (!speller || spellingRules.empty()) {
    delete utt;
    return false;
  }
  const int found = speller->recognize(utt, spellingRules.data(), static_cast<int>(spellingRules.size()));
  std::string letters;
  if (found > 0 && utt->result && utt->result->count() > 0) {
    const FSGNodeTypeItemAC& h = *utt->result->at(0);
    std::vector<std::string> names;
    for (int k = 0; k < h.count(); k++)
      if (h[k].type == eWordNode)
        if (const char* n = app->spellingWords()->nameOf(h[k].value)) names.push_back(n);
    letters = lettersOf(names);
  }
  if (letters.empty()) {
    delete utt;
    return false;
  }
  app->keepSpelledUtterance(utt);
  if (static_cast<int>(spelled.size()) >= kSpelledUtterances) spelled.erase(spelled.begin());
  spelled.push_back(letters);
  showButtons();
  return true;
}

void SpellingInput::drop(int index) {
  if (index < 0 || index >= static_cast<int>(spelled.size())) return;
  spelled.erase(spelled.begin() + index);
  showButtons();
}

void SpellingInput::clear() {
  spelled.clear();
  showButtons();
}

std::string SpellingInput::text() const {
  std::string all;
  for (const std::string& s : spelled) all += s;
  return all;
}

void SpellingInput::showButtons() {
  for (int i = 0; i < kSpelledUtterances; i++) {
    const bool used = i < static_cast<int>(spelled.size());
    view->setText(kIdUtt1 + i, used ? spelled[static_cast<size_t>(i)] : std::string());
    view->setVisible(kIdUtt1 + i, used);
  }
}

// ---- the entry editor ---------------------------------------------------------------------------

EntryLogic::EntryLogic(NamefindApp* a, SpellingView* v, bool editing) : app(a), view(v), speller(a, v), edit(editing) {
  TsvStore* store = app->contactStore();
  const int cur = app->currentContact();
  if (edit && store && cur >= 0 && cur < static_cast<int>(store->entries.size())) {
    const Entry& e = store->entries[static_cast<size_t>(cur)];
    if (e.row >= 0 && e.row < static_cast<int>(store->rows.size())) edited = store->rows[static_cast<size_t>(e.row)];
  } else {
    edit = false;
  }
}

void EntryLogic::open() {
  std::vector<std::string> fields;
  for (int c = 0; c < kTsvColumnCount; c++) fields.push_back(kTsvColumns[c].name);
  view->setList(kIdEntryFields, fields, -1);
  showValues();
  selectField(eColLastName);
}

void EntryLogic::showValues() {
  std::vector<std::string> values;
  for (int c = 0; c < kTsvColumnCount; c++) values.push_back(edited.text(c));
  view->setList(kIdEntryValues, values, current);
}

void EntryLogic::selectField(int index) {
  if (index < 0 || index >= kTsvColumnCount) return;
  current = index;
  speller.clear();
  view->setText(kIdSpellLabel, fieldName(index) + ":");
  view->setText(kIdSpellEdit, edited.text(index));
}

void EntryLogic::typed(const std::string& text) {
  edited.set(current, text);
  showValues();
}

void EntryLogic::clearField() {
  speller.clear();
  edited.set(current, std::string());
  view->setText(kIdSpellEdit, std::string());
  showValues();
}

void EntryLogic::spellingChanged() {
  const std::string text = speller.text();
  view->setText(kIdSpellEdit, text);
  edited.set(current, text);
  showValues();
}

std::vector<std::string> EntryLogic::unknownNames() const {
  if (!edit && NamefindApp::isCommandRow(edited)) {
    const std::string start = edited.text(eColStartWord);
    return app->unknownNameWords({start.empty() ? std::string("Switch To") : start, edited.text(eColEndWord)});
  }
  return app->unknownNameWords({edited.text(eColFirstName), edited.text(eColLastName), edited.text(eColCompanyName)});
}

int EntryLogic::accept() {
  if (edited.fields.empty()) return -1;
  return app->acceptEntry(edited, edit);
}

bool EntryLogic::switchTo(const std::function<void(const std::string&, const std::vector<std::string>&)>& report) {
  const bool changed = testLaunch(&edited, app->state().dataDir, report);
  showValues();
  view->setText(kIdSpellEdit, edited.text(current));
  return changed;
}

// ---- the find dialog ---------------------------------------------------------------------------

FindLogic::FindLogic(NamefindApp* a, SpellingView* v) : app(a), view(v), speller(a, v) {}

void FindLogic::open() {
  std::vector<std::string> fields = {"anyName"};
  for (int c = 0; c < kTsvColumnCount; c++) fields.push_back(kTsvColumns[c].name);
  view->setList(kIdFindFields, fields, 0);
  selectField(0);
}

void FindLogic::selectField(int index) {
  if (index < 0 || index > kTsvColumnCount) return;
  if (app->contactStore()) lists.build(*app->contactStore(), index - 1);
  view->setText(kIdSpellLabel, index == 0 ? std::string("anyName:") : std::string(kTsvColumns[index - 1].name) + ":");
  search();
}

void FindLogic::typed(const std::string& t) {
  text = t;
  search();
}

void FindLogic::spellingChanged() {
  text = speller.text();
  view->setText(kIdSpellEdit, text);
  search();
}

void FindLogic::search() {
  found.clear();
  entries.clear();
  lists.find(text, &found, &entries);
  view->setList(kIdFindResults, found, -1);
}

int FindLogic::choose(int index) {
  if (index < 0 || index >= static_cast<int>(entries.size())) return -1;
  const int entry = entries[static_cast<size_t>(index)];
  if (!app->undeleteAsk(entry)) return -1;
  return entry;
}

void NamefindApp::showFoundEntry(int entry) {
  if (!contactsStore || entry < 0 || entry >= static_cast<int>(contactsStore->entries.size())) return;
  showContact(entry);
  matches.clear();
  matches.push_back({true, entry, 0});
  choiceTexts = {entryName(contactsStore->entries[static_cast<size_t>(entry)])};
  view->setList(kIdChoices, choiceTexts, 0);
}

}  // namespace vlm
