// The installer's dialog: a thin Qt view over InstallerApp. Controls carry object names (the
// script's names for them, docs/installer.md); what they show goes to the transcript when it is on.
// Calls from the worker thread are queued onto the dialog's thread in the order made.
#pragma once
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "apps/installer/install.h"

namespace vlm {

class InstallerDialog : public QDialog, public InstallerView {
 public:
  InstallerDialog(DeviceLink* link, const std::string& pcDir, const std::string& programDir);
  InstallerApp& app() { return logic; }
  void begin();
  // The install runs (a script's "wait" waits for it to stop: done, failed or asking the user).
  bool busy() const { return logic.running() > 0; }
  void postMessage(int message);

  void setText(int id, const std::string& text) override;
  void setVisible(int id, bool on) override;
  void setList(int id, const std::vector<std::string>& items, int selected) override;
  void action(const std::string& name, const std::vector<std::string>& args) override;
  void closeDialog() override;
  void viewFile(const std::string& path) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QWidget* control(int id) const;
  void quitNow();
  void onGuiThread(std::function<void()> f);

  InstallerApp logic;
  std::map<int, QWidget*> controls;
  QLabel* message;
  QLabel* status;
  QLabel* spinner;
  QComboBox* platform;
  QLineEdit* answer;
  QPushButton* start;
  QTimer tick;
  bool ending = false;
};

}  // namespace vlm
