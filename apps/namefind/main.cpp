// namefind (and namefind-phone, built with VLM_PHONE_EDITION=1): the voice command application.
//
//   namefind [--script FILE]
//
// Only one copy of namefind or enroll runs: a second start asks the running one to come forward
// and listen, and exits with 0. With --script (FILE "-" for standard input) the program presses
// its own buttons from the script and writes a transcript on standard output; message boxes are
// then answered from $VLM_BOX_ANSWERS. docs/namefind.md describes both.
#include <QApplication>

#include "apps/common/guiprogram.h"
#include "apps/namefind/dialogs.h"
#include "foundation/filepath.h"

#ifdef VLM_PHONE_EDITION
constexpr bool kPhoneEdition = true;
constexpr const char* kProgram = "namefind-phone";
#else
constexpr bool kPhoneEdition = false;
constexpr const char* kProgram = "namefind";
#endif

using namespace vlm;

int main(int argc, char** argv) {
  GuiStart start;
  const int early = parseGuiArguments(argc, argv, kProgram, &start);
  if (early >= 0) return early;

  QApplication application(argc, argv);
  setUpGuiOutput(start);

  SingleInstance guard;
  if (handOffToRunningCopy(&guard, kMsgActivate)) return 0;

  findVelmora();
  MainDialog dialog(catFname2VlmDir(""), kPhoneEdition);
  return runGuardedDialog(dialog, guard, kMsgActivate, start);
}
