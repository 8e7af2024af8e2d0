#include "apps/common/guiprogram.h"

#include <cstdio>
#include <cstring>

#include "platform/msgbox.h"

namespace vlm {

int parseGuiArguments(int argc, char** argv, const char* program, GuiStart* start) {
  auto usage = [program] {
    std::fprintf(stderr, "usage: %s [--script FILE]   (FILE - reads standard input)\n", program);
  };
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      start->scriptPath = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      usage();
      return 0;
    } else if (std::strncmp(argv[i], "-platform", 9) != 0) {
      std::fprintf(stderr, "%s: unknown argument %s\n", program, argv[i]);
      usage();
      return 2;
    } else {
      i++;  // Qt's own -platform NAME
    }
  }
  if (!start->scriptPath.empty()) {
    std::string error;
    if (!loadScript(start->scriptPath, &start->script, &error)) {
      std::fprintf(stderr, "%s: script %s: %s\n", program, start->scriptPath.c_str(), error.c_str());
      return 2;
    }
  }
  chooseHeadlessPlatform(!start->scriptPath.empty());
  return -1;
}

bool setUpGuiOutput(const GuiStart& start) {
  const bool headless = !start.scriptPath.empty() || offscreenPlatform();
  setTranscriptEnabled(headless);
  if (headless) installTranscriptBoxHandler();
  else installQtBoxHandler();
  return headless;
}

bool handOffToRunningCopy(SingleInstance* guard, int message) {
  if (guard->acquire() != SingleInstance::eRunning) return false;
  if (guard->sendToRunning(message)) {
    transcriptLine("action activate-running");
  } else {
    messageBox("Couldn't find Speech App!\nWe suggest you reboot", "Mutex Error", eBoxOk, eIconError, eAnswerOk);
  }
  transcriptLine("exit 0");
  return true;
}

}  // namespace vlm
