// The namefind shell without its dialogs: the start-up sequence that loads the models,
// dictionaries and grammar, the microphone toggle and the timer's work, recognition of each
// utterance, the training nag, "saveUser", activation by a second instance, and the exit
// sequence. The dialogs (namefind's Qt code) implement NamefindView and forward every event here;
// tests drive this class through a view of their own.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "apps/namefind/contacts.h"
#include "apps/namefind/state.h"

namespace vlm {

class User;
class WordDictionary;
class RuleDictionary;
class WavChannel;
class Recognizer;
class UttFifo;
class AdaptAccumHS;
class Utterance;
class CommandGrammar;
class VCardFile;
struct CommandMatch;
struct PronWord;
class FSGNodeTypeItemAC;

// What the shell asks of the main dialog.
class NamefindView {
 public:
  virtual ~NamefindView() = default;
  virtual void setText(int id, const std::string& text) = 0;   // button caption or static text
  virtual void setList(int id, const std::vector<std::string>& items, int selected) = 0;
  virtual void setEnabled(int id, bool on) = 0;
  // The level meter: the input level against the channel's noise floor and speech peak.
  virtual void setLevel(int level, int floor, int peak) = 0;
  virtual void startMicTimer() = 0;   // timer 104, 20 ms
  virtual void stopMicTimer() = 0;
  virtual void postMessage(int message) = 0;   // handled later by NamefindApp::onMessage
  // Runs the Options dialog with the main dialog hidden, and shows the main dialog again.
  virtual void runOptions() = 0;
  virtual void closeMain() = 0;    // ends the main dialog (after the exit sequence ran)
  virtual void bringForward() = 0;
  // Hands the activation to the first visible sub-dialog; false when none is open.
  virtual bool forwardActivation() = 0;
  virtual void setSoftKeyboard(bool up) = 0;
  // An action the program takes (the transcript's "action" line).
  virtual void action(const std::string& name, const std::vector<std::string>& args) {}
  // The pronunciation dialog ("Say...") on words, with the main dialog hidden; 1 for "ok" (the
  // words' lists then hold the pronunciations to keep), 0 for "cancel" (training.h).
  virtual int runPronunciationDialog(std::vector<PronWord>* words, bool fromEntryEditor) { return 0; }
};

// The actions a recognised command starts (dialling, mail, appointments, switching programs).
// The default implementation reports each through NamefindView::action until the dialogs that
// carry them out exist.
class NamefindActions {
 public:
  virtual ~NamefindActions() = default;
  // Dial the number of a details line (label "w", "h", "cell", ...).
  virtual void dial(const std::string& label, const std::string& number) = 0;
  // Start or raise the program of a command-list row.
  virtual void switchTo(const Entry& entry, const Row* row) = 0;
  // The mail dialog for the current contact (null: none), with a voice recording when voice.
  virtual void mail(const Entry* contact, bool voice) = 0;
  // The appointment dialog for the current contact with the type ("meeting", "lunch", ...).
  virtual void appointment(const Entry* contact, const std::string& type) = 0;
  // Play the phonetic spelling shown beside "train".
  virtual void playPronunciation(const std::string& spelling) = 0;
  // The pronunciation dialog on names with rule-made pronunciations.
  virtual void inspectPronunciations(const std::vector<std::string>& names) = 0;
};

class NamefindApp {
 public:
  // dataDir: the data directory with a trailing "/". phoneEdition: the phone edition's behaviour
  // (mail and calls, Dialing Defaults' "add new service").
  NamefindApp(NamefindView* view, const std::string& dataDir, bool phoneEdition);
  ~NamefindApp();
  NamefindApp(const NamefindApp&) = delete;
  NamefindApp& operator=(const NamefindApp&) = delete;

  NamefindState& state() { return st; }
  bool phoneEdition() const { return phone; }
  std::string configPath() const { return st.inDataDir("namefind.cfg"); }

  // The main dialog's initialisation after the window shows: reads namefind.cfg, runs the Options
  // dialog on a first start, loads the engine objects. Returns 1 when the program runs on, 0 when
  // the main dialog was closed (first start, load failure).
  int initMain();
  // Post-start work (the start message): the command grammar, and the start-up hint.
  void postStart();
  // A private message posted through the view (start, nag, activation).
  void onMessage(int message);

  void toggleMic();
  bool micOn() const;
  void timerTick();
  // Recognises one utterance (taken from the channel); the shell owns it from here.
  void recognise(Utterance* utterance);
  void saveUser();
  // The second instance asked to come forward: a visible sub-dialog takes it, else the
  // microphone turns on (once the program has finished starting).
  void activate();
  // The exit sequence (Done or close). Returns true when the main dialog is to end, false when
  // the exit was stopped (unsent mail reopened).
  bool exitSequence();
  // After the dialog ended: frees the engine objects and starts the next program when asked.
  // programFolder: where the programs live, with a trailing "/". Returns the exit status.
  int finish(const std::string& programFolder);

  // Engine objects (null until loaded).
  User* user() const { return usr.get(); }
  WordDictionary* mainWords() const { return words.get(); }
  RuleDictionary* commandRuleSet() const { return rules.get(); }
  WavChannel* channel() const { return chan.get(); }
  Recognizer* recognizer() const { return recog.get(); }
  UttFifo* uttFifo() const { return fifo.get(); }
  const std::vector<int>& mainRules() const { return mainList; }
  // The phrases list: the n-best of the last accepted utterance.
  const std::vector<std::string>& phrases() const { return phraseTexts; }

  // The contacts and the command list, loaded by the post-start work, and their grammar.
  TsvStore* contactStore() const { return contactsStore.get(); }
  TsvStore* commandStore() const { return commandsStore.get(); }
  CommandGrammar* grammar() const { return commands.get(); }
  void setActions(NamefindActions* a) { actions = a ? a : defaultActions.get(); }
  NamefindActions* actionsInUse() const { return actions; }
  // The result lists: shows an accepted utterance's hypotheses and acts on the first match.
  void showResult(Utterance* utterance);
  void selectPhrase(int index);
  void selectChoice(int index);
  // Acts on a matched entry (contacts or command store).
  void actOnEntry(bool contact, int entry);
  // Shows a contact in the details list and makes it the current one.
  void showContact(int entry);
  int currentContact() const { return current; }
  const std::vector<std::string>& detailsLines() const { return details; }
  const std::vector<std::string>& choices() const { return choiceTexts; }
  const std::string& pronunciationText() const { return pronText; }
  // The readable spelling of a hypothesis of the main dictionary (the name rule's without "look up").
  std::string spellingOf(const FSGNodeTypeItemAC& hypothesis) const;
  // "delEntry": asks, then marks the current contact deleted. 1 when deleted.
  int deleteCurrent();
  // A deleted entry chosen in the find dialog: asks, then undeletes. 1 when active again.
  int undeleteAsk(int entry);
  // "newEntry"/"editEntry" accepted with row; editing: the current contact. Returns the entry
  // shown afterwards, or -1.
  int acceptEntry(const Row& row, bool editing);
  // A row without first, last and company name but with an end word is a command-list row (a
  // "switch to" entry made in the entry editor); any other row is a contact.
  static bool isCommandRow(const Row& row);
  // The check for rule-made pronunciations at start (unless switched off).
  void checkBadPronunciations();

  // ---- Training and pronunciations (training.cpp) ----
  // "train": the one-shot "Adapt Carefully" warning, else adapts the last utterance (apply 1)
  // and moves the button from "train" to "trained" to disabled.
  void train();
  // One tap on a "train" button (the main dialog's, the mail and appointment dialogs'): while
  // "show adapt warning" is set only the warning, under warningCaption; else the last utterance
  // adapted (apply 1), the nag threshold raised, and the button's caption moved from "train" to
  // "trained", or *enabled cleared when it already was "trained". 1 when adapted.
  int trainTap(const char* warningCaption, std::string* caption, bool* enabled);
  // Adapts every utterance of the queue on its selected hypothesis and applies the accumulators
  // (apply 1: the incremental update, 0: the full one). 1 when the queue held an utterance.
  int adaptUttFifo(int apply);
  // Plays a readable spelling through the synthesiser (microphone off first); the samples
  // played, 0 for an empty or invalid spelling.
  int playSpelling(const std::string& readable);
  // The pronunciations accepted in the pronunciation dialog join the main dictionary (records
  // left out of a word's list are marked not-saved) and the contacts that use the words.
  void addPronunciations(const std::vector<PronWord>& words);
  // "Bad Pronunciations" answered Yes: the pronunciation dialog on the names (with their current
  // pronunciations); its "ok" adds what was accepted. 1 for "ok".
  int inspectPronunciations(const std::vector<std::string>& names);
  // The words of names that are not dictionary words yet (cleaned), for the entry editor.
  std::vector<std::string> unknownNameWords(const std::vector<std::string>& names) const;
  // The find dialog's choice: the contact shown and put into the choice list.
  void showFoundEntry(int entry);
  WordDictionary* spellingWords() const { return abcWords.get(); }
  RuleDictionary* spellingRules() const { return abcRules.get(); }
  AdaptAccumHS* accumulators() const { return accums.get(); }
  // The queue's last utterance, and replacing it (the spelling dialogs keep theirs there; the
  // main dialog's result lists then have no utterance).
  Utterance* lastUtterance() const;
  void keepUtterance(Utterance* utt);
  // A spelled utterance the entry or find dialog accepted joins the kept ones (training adapts
  // on each through the dictionary its result was recognised with).
  void keepSpelledUtterance(Utterance* utt);
  void forgetUtterances();
  const std::string& trainCaption() const { return trainText; }

  // The mail dialog's hold (set by the actions): the exit asks before mail is lost.
  bool mailOnHold = false;

  static const char* const kNagText;
  static const char* const kSayHintText;

 private:
  int loadEngine(std::string* failure);
  void releaseEngine();
  void showLevel();

  NamefindView* view;
  NamefindState st;
  bool phone;
  std::unique_ptr<User> usr;
  std::unique_ptr<WordDictionary> abcWords;
  std::unique_ptr<RuleDictionary> abcRules;
  std::unique_ptr<WordDictionary> words;
  std::unique_ptr<RuleDictionary> rules;
  std::unique_ptr<WavChannel> chan;
  std::unique_ptr<Recognizer> recog;
  std::unique_ptr<UttFifo> fifo;
  std::unique_ptr<AdaptAccumHS> accums;
  std::unique_ptr<TsvStore> contactsStore;
  std::unique_ptr<TsvStore> commandsStore;
  std::unique_ptr<VCardFile> addressBook;   // the contacts of "outlook.tsv"
  std::unique_ptr<CommandGrammar> commands;
  std::unique_ptr<NamefindActions> defaultActions;
  NamefindActions* actions = nullptr;
  std::vector<int> mainList;
  std::vector<std::string> phraseTexts;
  std::vector<std::string> choiceTexts;
  std::vector<std::string> details;
  std::vector<CommandMatch> matches;
  std::string pronText;
  Utterance* currentUtt = nullptr;   // the last accepted utterance (held by the fifo)
  int current = -1;                  // the current contact's entry
  void findMatchesOf(int hypothesis);
  void showSpelling(int hypothesis);
  void saveStores();
  int ticks = 0;
  std::string trainText = "train";   // the caption of "train"
  bool started = false;             // the post-start work has run
  bool activationPending = false;   // an activation came before it
};

}  // namespace vlm
