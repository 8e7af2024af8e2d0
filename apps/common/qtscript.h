// The Qt side of the script runner and the message boxes, shared by the GUI programs.
//
// QtScriptHost carries out script commands on the dialog on top (the active modal dialog, else
// the program's main widget), finding controls by their object names; buttons are clicked through
// the event loop, so a tap that opens a modal dialog does not stop the script. It steps the
// runner every 50 ms; when the script has run out it presses Done on whatever dialog is still
// open until the program ends.
#pragma once
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "apps/common/script.h"

namespace vlm {

class QtScriptHost : public ScriptHost {
 public:
  // busy: whether an utterance is being listened to or handled.
  QtScriptHost(std::vector<ScriptCommand> commands, QWidget* mainWidget, std::function<bool()> busy);
  void start();
  // Commands that could not be carried out, and 1 more when the program did not close after the
  // script ended.
  int failures() const { return runner.failures() + (gaveUp ? 1 : 0); }

  bool tap(const std::string& name) override;
  bool select(const std::string& list, const std::string& item) override;
  bool type(const std::string& edit, const std::string& text) override;
  bool shot(const std::string& path) override;
  bool done() override;
  bool busy() override { return isBusy ? isBusy() : false; }

  void setMainWidget(QWidget* widget) { mainWidget = widget; }

 private:
  QWidget* top() const;
  void tick();

  ScriptRunner runner;
  QPointer<QWidget> mainWidget;
  std::function<bool()> isBusy;
  QTimer timer;
  int closeAttempts = 0;
  bool gaveUp = false;
};

// Runs a dialog modally until it is finished (accepted, rejected or done). Unlike QDialog::exec,
// hiding the dialog meanwhile (while a full-screen sub-dialog stands in front of it) does not end
// it. Returns the dialog's result.
int runModalDialog(QDialog* dialog);

// Before the application object exists: a scripted run on a machine without a display (no
// DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM) runs offscreen rather than failing.
void chooseHeadlessPlatform(bool scripted);

// Shows message boxes as Qt dialogs (programs with a display and no script).
void installQtBoxHandler();
// The toolkit's platform is "offscreen" (no display): such runs write the transcript and answer
// boxes from $VLM_BOX_ANSWERS.
bool offscreenPlatform();

}  // namespace vlm
