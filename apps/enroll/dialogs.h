// enroll's dialogs: thin Qt views over EnrollApp. Controls carry object names (the script's names
// for them, docs/enroll.md); everything they show goes to the transcript when it is on.
#pragma once
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <map>

#include "apps/enroll/app.h"

namespace vlm {

class EnrollDialog : public QDialog, public EnrollView {
 public:
  explicit EnrollDialog(const std::string& dataDir);
  EnrollApp& app() { return logic; }
  // Shows the dialog and runs the initialisation once it is up.
  void begin();
  // A repetition is being listened to or a prompt recording is about to play.
  bool busy() const { return logic.micOn() || logic.playPending(); }

  void setText(int id, const std::string& text) override;
  void setList(int id, const std::vector<std::string>& items, int selected) override;
  void setVisible(int id, bool on) override;
  void setLevel(int level, int floor, int peak) override;
  void startPollTimer() override { pollTimer.start(); }
  void stopPollTimer() override { pollTimer.stop(); }
  void postMessage(int message) override;
  void setWaitCursor(bool on) override;
  void repaint() override { QDialog::repaint(); }
  void bringForward() override;
  void closeMain() override;
  void runSaveDialog(const std::vector<std::string>& files) override;
  std::string runPronsDialog(const std::vector<std::string>& files) override;
  void playSamples(const short* samples, int count) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QWidget* control(int id) const;
  QPushButton* button(int id, const char* caption);
  void runExit();

  EnrollApp logic;
  std::map<int, QWidget*> controls;
  QComboBox* users;
  QLineEdit* pronEdit;
  QListWidget* pronList;
  QProgressBar* level;
  QTimer pollTimer;
  bool ending = false;
};

}  // namespace vlm
