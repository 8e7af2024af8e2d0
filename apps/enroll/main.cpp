// enroll: the enrollment program.
//
//   enroll [--script FILE]
//
// Only one copy of enroll or namefind runs: a second start asks the running one to come forward
// (and turn its microphone on), and exits with 0. With --script (FILE "-" for standard input) the
// program presses its own buttons from the script and writes a transcript on standard output;
// message boxes are then answered from $VLM_BOX_ANSWERS. At exit the program named in enrol.cfg
// (namefind unless it says otherwise) is started from this program's folder. docs/enroll.md
// describes all of it.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "apps/common/qtscript.h"
#include "apps/common/transcript.h"
#include "apps/enroll/dialogs.h"
#include "foundation/filepath.h"
#include "platform/instance.h"
#include "platform/msgbox.h"
#include "platform/spawn.h"

using namespace vlm;

namespace {

void usage() { std::fprintf(stderr, "usage: enroll [--script FILE]   (FILE - reads standard input)\n"); }

}  // namespace

int main(int argc, char** argv) {
  std::string scriptPath;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      scriptPath = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      usage();
      return 0;
    } else if (std::strncmp(argv[i], "-platform", 9) != 0) {
      std::fprintf(stderr, "enroll: unknown argument %s\n", argv[i]);
      usage();
      return 2;
    } else {
      i++;  // Qt's own -platform NAME
    }
  }
  std::vector<ScriptCommand> script;
  if (!scriptPath.empty()) {
    std::string error;
    if (!loadScript(scriptPath, &script, &error)) {
      std::fprintf(stderr, "enroll: script %s: %s\n", scriptPath.c_str(), error.c_str());
      return 2;
    }
  }
  chooseHeadlessPlatform(!scriptPath.empty());

  QApplication application(argc, argv);
  const bool headless = !scriptPath.empty() || offscreenPlatform();
  setTranscriptEnabled(headless);
  if (headless) {
    installTranscriptBoxHandler();
    // Prompt recordings and spoken pronunciations go to the null speaker in a run without a person.
    setenv("VELMORA_SPEAKER", "null", 0);
  } else {
    installQtBoxHandler();
  }

  SingleInstance guard;
  if (guard.acquire() == SingleInstance::eRunning) {
    if (guard.sendToRunning(kMsgEnrollActivate)) {
      transcriptLine("action activate-running");
    } else {
      messageBox("Couldn't find Speech App!\nWe suggest you reboot", "Mutex Error", eBoxOk, eIconError, eAnswerOk);
    }
    transcriptLine("exit 0");
    return 0;
  }

  findVelmora();
  EnrollDialog dialog(catFname2VlmDir(""));

  std::unique_ptr<QSocketNotifier> notifier;
  if (guard.listenFd() >= 0) {
    notifier = std::make_unique<QSocketNotifier>(guard.listenFd(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&guard, &dialog] {
      std::vector<int> messages;
      guard.poll(&messages);
      for (int m : messages) {
        transcriptLine("message " + std::to_string(m));
        if (m == kMsgEnrollActivate) dialog.postMessage(m);
      }
    });
  }

  std::unique_ptr<QtScriptHost> host;
  if (!scriptPath.empty()) {
    host = std::make_unique<QtScriptHost>(script, &dialog, [&dialog] { return dialog.busy(); });
    host->start();
  }
  dialog.begin();
  runModalDialog(&dialog);

  notifier.reset();
  guard.release();
  if (!dialog.app().config().exitProgram.empty()) transcriptAction("start", {dialog.app().config().exitProgram});
  int status = dialog.app().finish(programFolder());
  if (host && host->failures() > 0) status = 1;
  transcriptLine("exit " + std::to_string(status));
  return status;
}
