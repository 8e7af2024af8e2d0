// The frame every GUI program shares around its main dialog: the command line ("[--script FILE]"
// and Qt's own -platform NAME), the headless set-up (transcript and scripted message boxes), the
// single-instance hand-off to a copy that already runs, and the run of the dialog with its
// activation messages and script, ending in the transcript's "exit N" line.
#pragma once
#include <QDialog>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/qtscript.h"
#include "apps/common/script.h"
#include "apps/common/transcript.h"
#include "platform/instance.h"
#include "platform/spawn.h"

namespace vlm {

struct GuiStart {
  std::string scriptPath;              // empty: no script
  std::vector<ScriptCommand> script;
};

// Reads the command line and the script; before the application object exists, picks the
// offscreen platform for a scripted run without a display. Returns -1 to go on, or the exit
// status: 0 after --help, 2 for a usage error or a script that does not load.
int parseGuiArguments(int argc, char** argv, const char* program, GuiStart* start);

// After the application object exists: a scripted or offscreen run writes the transcript and
// answers boxes from $VLM_BOX_ANSWERS; otherwise boxes are Qt dialogs. Returns whether headless.
bool setUpGuiOutput(const GuiStart& start);

// When another copy of the programs holds the guard: asks it to come forward with message (or
// shows the "Mutex Error" box when it cannot be reached), writes "exit 0" and returns true; the
// caller then exits with 0.
bool handOffToRunningCopy(SingleInstance* guard, int message);

// Runs dialog modally with the guard's activation messages (message is passed to
// dialog.postMessage) and the script; then releases the guard, calls atExit, and returns the
// exit status of dialog.app().finish(programFolder), 1 when the script had failures.
template <class Dialog>
int runGuardedDialog(Dialog& dialog, SingleInstance& guard, int message, const GuiStart& start,
                     const std::function<void()>& atExit = {}) {
  std::unique_ptr<QSocketNotifier> notifier;
  if (guard.listenFd() >= 0) {
    notifier = std::make_unique<QSocketNotifier>(guard.listenFd(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&guard, &dialog, message] {
      std::vector<int> messages;
      guard.poll(&messages);
      for (int m : messages) {
        transcriptLine("message " + std::to_string(m));
        if (m == message) dialog.postMessage(m);
      }
    });
  }
  std::unique_ptr<QtScriptHost> host;
  if (!start.scriptPath.empty()) {
    host = std::make_unique<QtScriptHost>(start.script, &dialog, [&dialog] { return dialog.busy(); });
    host->start();
  }
  dialog.begin();
  runModalDialog(&dialog);

  notifier.reset();
  guard.release();
  if (atExit) atExit();
  int status = dialog.app().finish(programFolder());
  if (host && host->failures() > 0) status = 1;
  transcriptLine("exit " + std::to_string(status));
  return status;
}

}  // namespace vlm
