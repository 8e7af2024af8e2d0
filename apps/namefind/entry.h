// The entry editor ("EditContact") and the find dialog ("Find It") of namefind, without toolkit
// code, and the spelling by voice both use: the spelling rules "rAlphaBravoSpelling" and
// "rDigitSpelling" of abc.rul over abc.voc, each recognised word naming one character ("\a" is
// "a"), each utterance shown on a button of its own ("utt1" ... "utt15").
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/namefind/contacts.h"

namespace vlm {

class NamefindApp;
class Recognizer;
class Utterance;

enum EntryIds {
  kIdEntryDialog = 106,
  kIdFindDialog = 108,
  kIdEntryFields = 1018,
  kIdEntryValues = 1289,
  kIdFindFields = 1289,
  kIdFindResults = 1010,
  kIdSpellEdit = 1019,
  kIdSpellLabel = 1022,
  kIdSpellMic = 1020,
  kIdUtt1 = 1101,   // "utt1" ... "utt15": kIdUtt1 + 0 ... 14
};
constexpr int kSpelledUtterances = 15;

// The explanation lines of the entry editor.
extern const char* const kSpellingExplanation[4];

// What the spelling dialogs ask of their window.
class SpellingView {
 public:
  virtual ~SpellingView() = default;
  virtual void setText(int id, const std::string& text) = 0;
  virtual void setList(int id, const std::vector<std::string>& items, int selected) = 0;
  virtual void setVisible(int id, bool on) = 0;
  virtual void startMicTimer() = 0;
  virtual void stopMicTimer() = 0;
};

// Spelling by voice over the app's channel and spelling grammar.
class SpellingInput {
 public:
  SpellingInput(NamefindApp* app, SpellingView* view);
  ~SpellingInput();
  SpellingInput(const SpellingInput&) = delete;
  SpellingInput& operator=(const SpellingInput&) = delete;

  void toggleMic();
  bool micOn() const;
  // Polls the channel; true when a spelled utterance was added (the text changed).
  bool timerTick();
  // Recognises one utterance; true when its letters were added.
  bool utterance(Utterance* utt);
  // Drops spelled utterance i (its button tapped).
  void drop(int index);
  void clear();
  // The letters of every spelled utterance in order.
  std::string text() const;
  const std::vector<std::string>& pieces() const { return spelled; }
  // The characters a recognised word sequence spells (the second character of each word name).
  static std::string lettersOf(const std::vector<std::string>& wordNames);

 private:
  void showButtons();
  NamefindApp* app;
  SpellingView* view;
  std::unique_ptr<Recognizer> speller;
  std::vector<int> spellingRules;
  std::vector<std::string> spelled;
};

// The entry editor: the fields of the store's columns, the values of the row being edited, one
// value edited at a time (typed or spelled).
class EntryLogic {
 public:
  // editing: the current contact's row (else an empty row).
  EntryLogic(NamefindApp* app, SpellingView* view, bool editing);
  void open();
  void selectField(int index);
  void typed(const std::string& text);
  void clearField();
  // A spelled utterance (or a dropped one) changed the text.
  void spellingChanged();
  SpellingInput& spelling() { return speller; }
  const Row& row() const { return edited; }
  int field() const { return current; }
  bool editing() const { return edit; }
  // The names of the row that the dictionary lacks (for the pronunciation dialog).
  std::vector<std::string> unknownNames() const;
  // "ok" after the pronunciation step: the entry shown afterwards, or -1.
  int accept();
  // "switchTo": the test launch of the row's program (actions.h testLaunch); the row's className
  // and titleBar take what it found. True when the row changed.
  bool switchTo(const std::function<void(const std::string&, const std::vector<std::string>&)>& report);

  static std::string fieldName(int column) { return kTsvColumns[column].name; }

 private:
  void showValues();
  NamefindApp* app;
  SpellingView* view;
  SpellingInput speller;
  bool edit;
  Row edited;
  int current = 1;   // lastName
};

// The find dialog: "anyName" or a field, a text typed or spelled, the matching entries.
class FindLogic {
 public:
  FindLogic(NamefindApp* app, SpellingView* view);
  void open();
  void selectField(int index);   // 0 "anyName", else column index - 1
  void typed(const std::string& text);
  void spellingChanged();
  SpellingInput& spelling() { return speller; }
  const std::vector<std::string>& lines() const { return found; }
  // An entry chosen (index in the results): its entry after the undelete question, -1 when it
  // stays deleted.
  int choose(int index);

 private:
  void search();
  NamefindApp* app;
  SpellingView* view;
  SpellingInput speller;
  FindLists lists;
  std::string text;
  std::vector<std::string> found;
  std::vector<int> entries;
};

}  // namespace vlm
