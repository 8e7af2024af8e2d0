// installer: sets up the handheld file set on a device.
//
//   installer [--device DIR] [--script FILE]
//
// The current folder is the PC side: it holds the files to copy, the install scripts and the
// readme. --device names the device: a folder that stands for the device's root (a mounted device,
// a device image, or a test folder). With --script (FILE "-" for standard input) the program
// presses its own buttons from the script and writes a transcript on standard output; message
// boxes are then answered from $VLM_BOX_ANSWERS. Only one installer runs at a time: a second start
// brings the first forward and exits with 0. docs/installer.md describes all of it.
#include <QApplication>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/common/guiprogram.h"
#include "apps/installer/dialogs.h"

using namespace vlm;

int main(int argc, char** argv) {
  // --device DIR is ours; the rest is the frame's.
  std::string device;
  std::vector<char*> rest;
  for (int i = 0; i < argc; i++) {
    if (i > 0 && std::strcmp(argv[i], "--device") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "installer: --device needs a folder\n");
        return 2;
      }
      device = argv[++i];
      continue;
    }
    if (i > 0 && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
      std::printf(
          "usage: installer [--device DIR] [--script FILE]   (FILE - reads standard input)\n"
          "Copies the handheld file set from the current folder into the device's \\velmora folder.\n"
          "DIR stands for the device's root (a mounted device, a device image or a test folder).\n");
      return 0;
    }
    rest.push_back(argv[i]);
  }
  rest.push_back(nullptr);
  int restCount = static_cast<int>(rest.size()) - 1;

  GuiStart start;
  const int early = parseGuiArguments(restCount, rest.data(), "installer", &start);
  if (early >= 0) return early;

  QApplication application(restCount, rest.data());
  setUpGuiOutput(start);

  // The installer's own guard, apart from the device programs' one.
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  const std::string guardFolder = std::string(xdg && *xdg ? xdg : "/tmp") + "/velmora-installer-" +
                                  std::to_string(static_cast<unsigned long>(getuid()));
  SingleInstance guard(guardFolder.c_str());
  if (handOffToRunningCopy(&guard, kMsgActivate)) return 0;

  DirectoryDeviceLink link(device);
  InstallerDialog dialog(&link, ".", programFolder());
  return runGuardedDialog(dialog, guard, kMsgActivate, start);
}
