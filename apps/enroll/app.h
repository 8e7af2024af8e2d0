// The enrollment program without its dialogs: start settings, the two modes, the user list,
// phase 1 (calibration prompts, level peaks, warp bin), phase 2 (each prompt recognised against
// its own rule and adapted through the utterance queue), undo, the unknown-word phase, saving,
// the exit questions and the hand-off to the next program. The dialogs (enroll's Qt code)
// implement EnrollView and forward every event here; tests drive this class through a view of
// their own. See docs/enroll.md.
#pragma once
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "apps/enroll/files.h"
#include "models/warpbin.h"

namespace vlm {

class User;
class WordDictionary;
class RuleDictionary;
class WavChannel;
class Recognizer;
class UttFifo;
class AdaptAccumHS;
class Utterance;

// Control and message numbers (the handheld's resource numbers).
enum EnrollIds {
  kIdBegin = 1001,
  kIdUsers = 1002,
  kIdUndo = 1003,
  kIdEnrollMic = 1004,
  kIdWarpBin = 1006,
  kIdPrompt = 1007,
  kIdSay = 1008,
  kIdEnrollLevel = 1009,
  kIdMicState = 1010,
  kIdSaveUserButton = 1011,
  kIdAcceptPron = 1012,
  kIdExit = 1013,
  kIdPlayPron = 1014,
  kIdSkipEnrol = 1016,
  kIdProgress = 1017,
  kIdPronEdit = 1018,
  kIdPronList = 1019,
  kTimerPoll = 103,
  kMsgEnrollActivate = 2026,
  kMsgPlayPrompt = 2027,
};

// What the enrollment logic asks of its main dialog.
class EnrollView {
 public:
  virtual ~EnrollView() = default;
  virtual void setText(int id, const std::string& text) = 0;
  virtual void setList(int id, const std::vector<std::string>& items, int selected) = 0;
  virtual void setVisible(int id, bool on) = 0;
  virtual void setLevel(int level, int floor, int peak) = 0;
  virtual void startPollTimer() = 0;   // timer 103, 20 ms
  virtual void stopPollTimer() = 0;
  virtual void postMessage(int message) = 0;   // handled later by EnrollApp::onMessage
  virtual void setWaitCursor(bool on) = 0;
  virtual void repaint() = 0;
  virtual void bringForward() = 0;
  virtual void closeMain() = 0;
  // Dialog 104 "Save .Usr File": shows files, starts the edit as "default.usr"; its "Save It!"
  // calls EnrollApp::saveIt with the edit text. Returns when the dialog closed.
  virtual void runSaveDialog(const std::vector<std::string>& files) = 0;
  // Dialog 105 "Save Unknown Prons": returns the dictionary chosen with "AddProns" ("" when
  // cancelled); EnrollApp::pronsTargetOk checks a name before the dialog accepts it.
  virtual std::string runPronsDialog(const std::vector<std::string>& files) = 0;
  // Speaks samples (the formant synthesiser's output at 11025 Hz).
  virtual void playSamples(const short* samples, int count) = 0;
};

class EnrollApp {
 public:
  // dataDir: the data directory with a trailing "/".
  EnrollApp(EnrollView* view, const std::string& dataDir);
  ~EnrollApp();
  EnrollApp(const EnrollApp&) = delete;
  EnrollApp& operator=(const EnrollApp&) = delete;

  // Dialog initialisation. Returns 0 when the dialog was closed (no prompt file, load failure).
  int initDialog();
  // Begin (1001) with the combo's text (existing-user mode). 0 when the dialog was closed.
  int begin(const std::string& comboText);
  void toggleMic();
  void onMessage(int message);
  void timerTick();
  // One repetition (an utterance taken from the channel); the program owns it from here.
  void handleRepetition(Utterance* utt);
  void undo();
  void skipEnrol();   // 1016: the unknown-word phase
  void choosePron(int index);
  void playPron(const std::string& editText);
  void acceptPron(const std::string& editText);
  // SaveUser (1011). Returns 1 when the models were written.
  int saveUser();
  // "Save It!" of the save dialog: 1 saved (the dialog closes); 0 refused (the edit is cleared,
  // the dialog stays) or not written (the dialog closes, nothing marked saved).
  enum SaveItAnswer { eSaveRefused, eSaved, eSaveFailed };
  SaveItAnswer saveIt(const std::string& editText);
  bool pronsTargetOk(const std::string& name) const;
  // Exit (1013, id 1, close): the questions; then the dialog ends.
  void exitSequence();
  // After the dialog ended: frees the engine objects, starts the program of enrol.cfg from
  // programFolder (with a trailing "/"). Returns the exit status.
  int finish(const std::string& programFolder);

  // ---- state the dialogs and tests read ---------------------------------------------------
  const EnrolConfig& config() const { return cfg; }
  bool micOn() const;
  bool playPending() const { return playQueued; }
  bool begun() const { return chan != nullptr; }
  bool unknownPhase() const { return unknownWordPhase; }
  bool adaptationUnsaved() const { return unsaved; }
  bool savedOnce() const { return saved; }
  bool newUserPending() const { return newUser; }
  bool lowVolumeFlag() const { return lowVolume; }
  bool inPhase1() const { return phase1; }
  const std::string& saveName() const { return cfg.saveName; }
  const std::string& promptText() const { return current.text; }
  const std::vector<int>& estimates() const { return warpEstimates; }
  const std::vector<std::pair<std::string, std::string>>& keptProns() const { return prons; }
  const std::vector<std::string>& pronChoices() const { return choices; }
  User* user() const { return usr.get(); }
  UttFifo* keptUtterances() const { return fifo.get(); }
  int warpBin() const;
  int repetitionsAccepted() const { return accepted; }
  int rejectionThreshold() const { return threshold; }
  bool promptsDone() const { return done; }

  // The warp bin of calibration from the estimates (models/warpbin.h).
  static int chooseBin(const std::vector<int>& estimates);

  static const char* const kBeginText;
  static const char* const kLowVolumeText;
  static const char* const kPhase1DoneText;
  static const char* const kDeletePromptsText;
  static const char* const kTrainText;
  static constexpr const char* kMicOffText = "mic is Off;  turn mic on then repeat the prompt";
  static constexpr const char* kMicOnText = "mic is On;  to pause, turn mic off";

 private:
  struct Prompt {
    std::string text;
    std::string recording;   // the file name, "" when none or it cannot be opened
    bool valid() const { return !text.empty(); }
  };

  std::string inData(const std::string& name) const { return dataDir + name; }
  void fail(const char* text, const char* caption);
  void listen(bool on);
  int nextPrompt();
  void showPrompt(const Prompt& p);
  void showPronControls(bool on);
  void adaptKept(const char* caption);
  void keep(Utterance* utt);
  void finishCalibration();
  void handleLetters(Utterance* utt);
  int writeUser(const std::string& name);
  void applyPending();
  void deletePromptRecordings();
  void appendProns(const std::string& vocName);
  void release();

  EnrollView* view;
  std::string dataDir;
  EnrolConfig cfg;
  PromptFile prompts;
  PromptFile unknownList;
  std::unique_ptr<User> usr;
  std::unique_ptr<WordDictionary> words;
  std::unique_ptr<RuleDictionary> rules;
  std::unique_ptr<WordDictionary> abcWords;
  std::unique_ptr<RuleDictionary> abcRules;
  std::unique_ptr<Recognizer> recog;
  std::unique_ptr<AdaptAccumHS> accums;
  std::unique_ptr<WavChannel> chan;
  std::unique_ptr<UttFifo> fifo;
  Prompt current;
  std::deque<Prompt> remembered;   // prompts to show again before the file is read on
  std::vector<int> warpEstimates;
  WarpBinHistogram histogram;
  std::vector<std::pair<std::string, std::string>> prons;   // (prompt text, pronunciation)
  std::vector<std::string> choices;
  int ticks = 0;
  int accepted = 0;
  int threshold = 300;
  bool newUser = false;
  bool unsaved = false;
  bool saved = false;
  bool unknownWordPhase = false;
  bool lowVolume = true;
  bool phase1 = false;
  bool playQueued = false;
  bool done = false;
  bool skipVisible = false;
  bool saveVisible = false;
  bool existingMode = false;
};

}  // namespace vlm
