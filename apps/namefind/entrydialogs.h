// The pronunciation dialog ("Say..."), the find dialog ("Find It") and the entry editor
// ("EditContact"): thin Qt views over PronunciationLogic, FindLogic and EntryLogic. Each control
// is known by an identifier (the logic's) and an object name (the script's and the transcript's).
#pragma once
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "apps/namefind/entry.h"
#include "apps/namefind/training.h"

namespace vlm {

class NamefindApp;
class NamefindView;

// A dialog whose controls are set by identifier and reported on the transcript.
class ControlDialog : public QDialog, public PronunciationView, public SpellingView {
 public:
  ControlDialog(const char* name, const char* title, QWidget* parent);
  void setText(int id, const std::string& text) override;
  void setList(int id, const std::vector<std::string>& items, int selected) override;
  void setEnabled(int id, bool on) override;
  void setVisible(int id, bool on) override;
  void startMicTimer() override { timer.start(); }
  void stopMicTimer() override { timer.stop(); }
  void showHelp(const std::string& text) override;
  void played(const std::string& spelling) override;
  // Runs the dialog modally; its result (1 accepted).
  int run();
  // A second start of the program (forwarded by the main dialog): the dialog's microphone is
  // turned on when it is off.
  virtual void listen() = 0;

 protected:
  QPushButton* addButton(int id, const char* name, const char* caption);
  QListWidget* addList(int id, const char* name);
  QLineEdit* addEdit(int id, const char* name);
  QLabel* addLabel(int id, const char* name);
  // The utterance buttons "utt1" ... "utt15" in rows; tapping one calls drop(i).
  QWidget* addUttButtons(const std::function<void(int)>& drop);
  std::string dialogName;
  std::map<int, QWidget*> controls;
  QTimer timer;
  bool settingText = false;   // text set by the logic, not typed
};

class PronunciationDialog : public ControlDialog {
 public:
  PronunciationDialog(NamefindApp* app, std::vector<PronWord>* words, bool fromEntryEditor, QWidget* parent);
  PronunciationLogic& logic() { return pron; }
  void listen() override {
    if (!pron.micOn()) pron.toggleMic();
  }

 private:
  PronunciationLogic pron;
};

class FindDialog : public ControlDialog {
 public:
  FindDialog(NamefindApp* app, QWidget* parent);
  int chosen = -1;   // the entry chosen
  void listen() override {
    if (!find.spelling().micOn()) find.spelling().toggleMic();
  }

 private:
  FindLogic find;
};

class EntryDialog : public ControlDialog {
 public:
  // view: the main dialog (runs the pronunciation step).
  EntryDialog(NamefindApp* app, NamefindView* view, bool editing, QWidget* parent);
  void listen() override {
    if (!entry.spelling().micOn()) entry.spelling().toggleMic();
  }

 private:
  void ok();
  NamefindApp* app;
  NamefindView* mainView;
  EntryLogic entry;
};

}  // namespace vlm
