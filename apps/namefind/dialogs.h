// namefind's dialogs: thin Qt views over NamefindApp, OptionsLogic and DialingLogic. Controls
// carry object names (the script's names for them, docs/namefind.md); everything they show goes
// to the transcript when it is on.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <functional>

#include <memory>

#include "apps/namefind/actiondialogs.h"
#include "apps/namefind/app.h"
#include "apps/namefind/options.h"

namespace vlm {

class MainDialog : public QDialog, public NamefindView {
 public:
  MainDialog(const std::string& dataDir, bool phoneEdition);
  NamefindApp& app() { return logic; }
  // Shows the dialog and runs the initialisation once it is up.
  void begin();
  // An utterance is being listened to or handled.
  // (or the dial dialog is counting down or dialling).
  bool busy() const { return logic.micOn() || (actionDialogs && actionDialogs->busy()); }

  void setText(int id, const std::string& text) override;
  void setList(int id, const std::vector<std::string>& items, int selected) override;
  void setEnabled(int id, bool on) override;
  void setLevel(int level, int floor, int peak) override;
  void startMicTimer() override;
  void stopMicTimer() override;
  void postMessage(int message) override;
  void runOptions() override;
  void closeMain() override;
  void bringForward() override;
  bool forwardActivation() override;
  void setSoftKeyboard(bool up) override {}
  void action(const std::string& name, const std::vector<std::string>& args) override;
  int runPronunciationDialog(std::vector<PronWord>* words, bool fromEntryEditor) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void runExit();
  // Runs a sub-dialog (find, entry, pronunciation) with the main dialog hidden; its result.
  int runSubDialog(QDialog* dialog, const std::function<int()>& run);
  QPushButton* button(int id, const char* name, const char* caption);

  NamefindApp logic;
  QListWidget* details;
  QListWidget* phraseList;
  QListWidget* choiceList;
  QProgressBar* level;
  QPushButton* pron;   // the spelling beside "train"; a tap plays it
  QPushButton* mic = nullptr;
  QPushButton* train = nullptr;
  QTimer micTimer;
  QDialog* subDialog = nullptr;
  bool ending = false;
  std::unique_ptr<ActionDialogs> actionDialogs;   // dial, mail, appointments, switch to
};

class OptionsDialog : public QDialog {
 public:
  OptionsDialog(NamefindState* state, bool phoneEdition, QWidget* parent);
  // Runs the dialog; returns at once when its initialisation closes it (no user file).
  void run();
  QDialog* subDialog() const { return dialing; }

 private:
  void ok();
  void report();

  OptionsLogic logic;
  NamefindState* st;
  bool phone;
  QComboBox* user;
  QComboBox* contacts;
  QCheckBox* ignoreBad;
  QCheckBox* noNag;
  QCheckBox* echo;
  QDialog* dialing = nullptr;
};

class DialingDialog : public QDialog {
 public:
  DialingDialog(NamefindState* state, bool phoneEdition, QWidget* parent);
  void run();

 private:
  void showRadios();
  void ok();

  DialingLogic logic;
  QLineEdit* prefix1;
  QLineEdit* prefix2;
  QLineEdit* areaCode;
  QLineEdit* prune;
  QLineEdit* alarm;
  QRadioButton* radio1;
  QRadioButton* radio2;
  QComboBox* localPrefix;
  QComboBox* service;
};

}  // namespace vlm
