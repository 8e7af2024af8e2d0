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
#include <cstdlib>

#include "apps/common/guiprogram.h"
#include "apps/enroll/dialogs.h"
#include "foundation/filepath.h"

using namespace vlm;

int main(int argc, char** argv) {
  GuiStart start;
  const int early = parseGuiArguments(argc, argv, "enroll", &start);
  if (early >= 0) return early;

  QApplication application(argc, argv);
  // Prompt recordings and spoken pronunciations go to the null speaker in a run without a person.
  if (setUpGuiOutput(start)) setenv("VELMORA_SPEAKER", "null", 0);

  SingleInstance guard;
  if (handOffToRunningCopy(&guard, kMsgEnrollActivate)) return 0;

  findVelmora();
  EnrollDialog dialog(catFname2VlmDir(""));
  return runGuardedDialog(dialog, guard, kMsgEnrollActivate, start, [&dialog] {
    if (!dialog.app().config().exitProgram.empty()) transcriptAction("start", {dialog.app().config().exitProgram});
  });
}
