// Training and pronunciation editing in namefind, without toolkit code.
//
// "train" (NamefindApp::train, training.cpp) adapts the speaker's models on the last accepted
// utterance. The pronunciation dialog ("Say...", PronunciationLogic) gives words pronunciations
// by voice: a word's spelling becomes a small grammar of letter groups of the spelling dictionary
// (abc.voc), the utterance is recognised against it, and the phone strings of the paths found are
// offered in a choice list beside the letter-to-sound guess. Pronunciations are shown in the
// readable spelling and played through the formant synthesiser.
#pragma once
#include <string>
#include <vector>

namespace vlm {

class NamefindApp;
class WordDictionary;
class RuleDictionary;
class Recognizer;
class Utterance;

// A word of the pronunciation dialog: its name (a cleaned name text) and its pronunciations as
// phone strings. The dialog changes the list; the caller adds what is left in it.
struct PronWord {
  std::string name;
  std::vector<std::string> prons;
};

// Control identifiers of the pronunciation dialog.
enum PronunciationIds {
  kIdPronDialog = 107,
  kIdPronWordToSay = 1011,
  kIdPronWords = 1012,
  kIdPronList = 1017,
  kIdPronChoices = 1018,
  kIdPronEdit = 1019,
  kIdPronMic = 1020,
  kIdPronSay = 1023,
  kIdPronTrain = 1014,
  kIdPronDel = 1055,
  kIdPronPlay = 1056,
  kIdPronAccept = 1057,
};

// The names of the pronunciation rules and the force-training word and rule.
constexpr const char* kPronRuleName = "_prnRl";
constexpr const char* kLetterRuleName = "_spRl";
constexpr const char* kTrainingWord = "TmpTrainingWord";
constexpr const char* kTrainingRule = "TmpTrainingRule";
// Force training widens both search beams by this much while it recognises.
constexpr int kForceTrainingWidening = 80;
// The longest word text the pronunciation rules are built from.
constexpr int kMaxPronWordChars = 127;

extern const char* const kPronHelpText;

// Builds the pronunciation rules "_prnRl<position>" for word in rules over the letter groups of
// abc (every word of abc whose name does not begin with a backslash). Returns the indices of the
// rules made, the entry point ("_prnRl0") first; empty when the word cleans to nothing or cannot
// be cut into letter groups (nothing is left behind then).
std::vector<int> buildPronunciationRules(const std::string& word, WordDictionary* abc, RuleDictionary* rules);
// The cut the rules above make, as text: one line per rule, "_prnRlN: ( < g > &_prnRlM )" (tests
// and the log).
std::string pronunciationRuleText(const std::string& word, WordDictionary* abc);
// Builds "_spRl", the word spelled letter by letter (letters required, digits and other characters
// optional). Its index, or -1 when fewer than two characters are spelling words or the body does
// not parse.
int buildLetterRule(const std::string& word, WordDictionary* abc, RuleDictionary* rules);

// Readable spelling <-> phone string. readableToPhones gives "" for a text that is not a valid
// pronunciation.
std::string phonesToReadable(const std::string& phones);
std::string readableToPhones(const std::string& readable);

// What the pronunciation dialog asks of its window.
class PronunciationView {
 public:
  virtual ~PronunciationView() = default;
  virtual void setText(int id, const std::string& text) = 0;
  virtual void setList(int id, const std::vector<std::string>& items, int selected) = 0;
  virtual void setEnabled(int id, bool on) = 0;
  virtual void setVisible(int id, bool on) = 0;
  virtual void startMicTimer() = 0;
  virtual void stopMicTimer() = 0;
  virtual void showHelp(const std::string& text) = 0;
  // A spelling played (the transcript's action line).
  virtual void played(const std::string& spelling) {}
};

// The pronunciation dialog's logic. The app's engine (the spelling dictionary and rule set, the
// speaker, the channel, the utterance queue, the adaptation accumulators) does the work.
class PronunciationLogic {
 public:
  // words: the list to work on (changed by accept and delete); fromEntryEditor: "train" shown.
  PronunciationLogic(NamefindApp* app, PronunciationView* view, std::vector<PronWord>* words, bool fromEntryEditor);
  ~PronunciationLogic();
  PronunciationLogic(const PronunciationLogic&) = delete;
  PronunciationLogic& operator=(const PronunciationLogic&) = delete;

  void open();
  void tapWord(int index);
  void toggleMic();
  bool micOn() const;
  void timerTick();
  // One utterance of the selected word (the logic owns it from here).
  void utterance(Utterance* utt);
  void chooseChoice(int index);
  void chooseCurrent(int index);
  void typed(const std::string& text);
  void playPron();
  void acceptPron();
  void delPron();
  void trainWord();
  void help();
  // "ok": true (the caller adds the list's pronunciations); "cancel" needs no logic.
  bool ok();

  const std::vector<std::string>& choices() const { return choiceTexts; }
  const std::vector<std::string>& current() const { return currentTexts; }
  const std::string& editText() const { return edit; }
  int selectedWord() const { return selected; }
  bool changed() const { return changedFlag; }

 private:
  void setEdit(const std::string& text);
  void showCurrent(int select);
  void setButtons(bool play, bool accept, bool del);
  void fillChoices(Utterance* utt);
  int play(const std::string& readable);

  NamefindApp* app;
  PronunciationView* view;
  std::vector<PronWord>* words;
  bool entryMode;
  Recognizer* speller = nullptr;   // bound to the spelling dictionary and rule set
  int selected = -1;
  std::vector<std::string> currentTexts;   // 1017
  std::vector<std::string> choiceTexts;    // 1018
  std::vector<int> choiceHypothesis;       // the hypothesis of each choice (-1: the letter-to-sound guess)
  std::string edit;
  bool changedFlag = false;
  int ticks = 0;
};

}  // namespace vlm
