// A view for tests of namefind's logic: it keeps what the logic shows and does, so a test can
// look at captions, lists, enabled controls, posted messages and the actions taken.
#pragma once
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "apps/namefind/app.h"
#include "apps/namefind/training.h"

namespace nftest {

class RecordingView : public vlm::NamefindView {
 public:
  std::map<int, std::string> texts;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, bool> enabled;
  std::vector<int> posted;
  std::vector<std::string> actions;   // each "name arg arg ..."
  bool timer = false;                 // the microphone's polling timer runs
  int optionsRuns = 0, closed = 0, forwarded = 0;
  bool subDialogOpen = false;         // what forwardActivation answers
  std::vector<vlm::PronWord> pronDialogWords;   // the words of the last pronunciation dialog
  int pronDialogRuns = 0;

  void setText(int id, const std::string& text) override { texts[id] = text; }
  void setList(int id, const std::vector<std::string>& items, int) override { lists[id] = items; }
  void setEnabled(int id, bool on) override { enabled[id] = on; }
  void setLevel(int, int, int) override {}
  void startMicTimer() override { timer = true; }
  void stopMicTimer() override { timer = false; }
  void postMessage(int message) override { posted.push_back(message); }
  void runOptions() override { optionsRuns++; }
  void closeMain() override { closed++; }
  void bringForward() override { forwarded++; }
  bool forwardActivation() override { return subDialogOpen; }
  void setSoftKeyboard(bool) override {}
  void action(const std::string& name, const std::vector<std::string>& args) override {
    std::string line = name;
    for (const std::string& a : args) line += " " + a;
    actions.push_back(line);
  }
  // The dialog is not run: the words are kept and nothing is accepted.
  int runPronunciationDialog(std::vector<vlm::PronWord>* words, bool) override {
    pronDialogRuns++;
    pronDialogWords = *words;
    return 0;
  }
};

// Milliseconds of the monotonic clock.
inline long nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// Polls as the microphone's timer does until the microphone is off again (or 30 s pass).
inline void runTimerUntilMicOff(vlm::NamefindApp& app, RecordingView& view) {
  const long start = nowMs();
  while (view.timer && nowMs() - start < 30000) {
    app.timerTick();
    usleep(2000);
  }
}

}  // namespace nftest
