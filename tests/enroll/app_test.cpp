// The enrollment logic without its dialogs: start and load failures, both modes, the first
// repetition's "Low Volume", phase 1 with its warp bin, phase 2, undo, saving (names, atomic
// write, failures), the exit questions, deleting the prompt recordings and the next program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <map>

#include "apps/enroll/app.h"
#include "audio/utterance.h"
#include "fixture.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"

using namespace vlm;
using entest::DataDir;
using entest::RecordBoxes;

namespace {

class FakeView : public EnrollView {
 public:
  EnrollApp* app = nullptr;
  std::map<int, std::string> texts;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, bool> visible;
  std::vector<int> posted;
  bool timer = false;
  int closed = 0;
  std::vector<std::string> saveNames;   // typed into the save dialog in turn
  int editCleared = 0;
  std::vector<std::string> saveDialogFiles;
  std::string pronsTarget;

  void setText(int id, const std::string& text) override { texts[id] = text; }
  void setList(int id, const std::vector<std::string>& items, int) override { lists[id] = items; }
  void setVisible(int id, bool on) override { visible[id] = on; }
  void setLevel(int, int, int) override {}
  void startPollTimer() override { timer = true; }
  void stopPollTimer() override { timer = false; }
  void postMessage(int message) override { posted.push_back(message); }
  void setWaitCursor(bool) override {}
  void repaint() override {}
  void bringForward() override {}
  void closeMain() override { closed++; }
  void runSaveDialog(const std::vector<std::string>& files) override {
    saveDialogFiles = files;
    for (const std::string& name : saveNames) {
      const EnrollApp::SaveItAnswer a = app->saveIt(name);
      if (a == EnrollApp::eSaveRefused) {
        editCleared++;
        continue;
      }
      return;
    }
  }
  std::string runPronsDialog(const std::vector<std::string>&) override { return pronsTarget; }
  void playSamples(const short*, int) override {}
};

long nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// Runs the dialog's event loop: posted messages, then timer 103 while it runs (60 s at most).
void pump(EnrollApp& app, FakeView& view) {
  const long start = nowMs();
  while ((view.timer || !view.posted.empty()) && nowMs() - start < 60000) {
    if (!view.posted.empty()) {
      const int message = view.posted.front();
      view.posted.erase(view.posted.begin());
      app.onMessage(message);
      continue;
    }
    app.timerTick();
    usleep(1000);
  }
}

// The file microphone hears the shipped recordings named, in turn.
void microphone(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ",") + entest::shipped(n);
  setenv("VELMORA_MIC", list.c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "1", 1);
  setenv("VELMORA_SPEAKER", "null", 1);
  setenv("VELMORA_SPEAKER_FAST", "1", 1);
}

struct Fixture {
  explicit Fixture(const std::string& name) : dir(name), app(&view, dir.dir()) { view.app = &app; }
  DataDir dir;
  FakeView view;
  EnrollApp app;
};

}  // namespace

TEST(EnrollApp, WarpBinFromEstimates) {
  const std::pair<std::vector<int>, int> cases[] = {
      {{}, 58}, {{50, 60, 70}, 59}, {{50}, 54}, {{60, 62}, 60}, {{70, 41, 79, 60}, 63},
  };
  for (const auto& [estimates, bin] : cases) EXPECT_EQ(EnrollApp::chooseBin(estimates), bin);
}

TEST(EnrollApp, MissingPromptFileCloses) {
  RecordBoxes record;
  Fixture f("app-noprompts");
  EXPECT_EQ(f.app.initDialog(), 0);
  ASSERT_EQ(entest::boxes().size(), 1u);
  EXPECT_EQ(entest::boxes()[0].caption, "In onInitDialog()");
  EXPECT_EQ(entest::boxes()[0].text, "Couldn't open promptFile");
  EXPECT_EQ(f.view.closed, 1);
}

TEST(EnrollApp, LoadFailuresClose) {
  const std::pair<const char*, const char*> cases[] = {
      {"newuser.usr", "Error loading .usr file"}, {"enrol.voc", "Error loading .voc"}, {"enrol.rul", "Error loading .rul"}};
  for (const auto& [file, message] : cases) {
    SCOPED_TRACE(file);
    RecordBoxes record;
    Fixture f("app-loadfail");
    entest::writeFile(f.dir.file("enrol.txt"), "one two\n");
    if (std::string(file) == "newuser.usr") entest::writeFile(f.dir.file(file), "junk\n");
    else unlink(f.dir.file(file).c_str());
    EXPECT_EQ(f.app.initDialog(), 0);
    ASSERT_FALSE(entest::boxes().empty());
    EXPECT_EQ(entest::boxes().back().caption, "In selectUser()");
    EXPECT_EQ(entest::boxes().back().text, message);
    EXPECT_EQ(f.view.closed, 1);
    EXPECT_FALSE(f.app.begun());
  }
}

TEST(EnrollApp, ExistingUserSkipsPhase1AndUnknownWordLines) {
  RecordBoxes record;
  microphone({"c01.wav"});
  Fixture f("app-existing");
  entest::writeFile(f.dir.file("enrol.cfg"), "n:0\n");
  entest::writeFile(f.dir.file("enrol.txt"),
                    "cmd_start_calibrate\ntea\ncmd_end_calibrate\nzzqx blorf\tc01.wav\none two three\n");
  entest::writeFile(f.dir.file("unknown.lst"), "ostrawen\n");
  entest::copyFile(f.dir.file("newuser.usr"), f.dir.file("bob.usr"));
  ASSERT_EQ(f.app.initDialog(), 1);
  EXPECT_FALSE(entest::exists(f.dir.file("enrol.cfg")));   // read once, then deleted
  EXPECT_FALSE(f.app.config().newUser);
  const std::vector<std::string> users = {"bob.usr", "newuser.usr"};   // never delta.usr
  EXPECT_EQ(f.view.lists[kIdUsers], users);
  EXPECT_EQ(f.app.begin(""), 1);   // an empty choice does nothing
  EXPECT_FALSE(f.app.begun());
  ASSERT_EQ(f.app.begin("bob.usr"), 1);
  EXPECT_TRUE(f.app.begun());
  EXPECT_TRUE(entest::boxes().empty());   // no phase-1 hint for an existing user
  EXPECT_TRUE(f.view.visible[kIdSaveUserButton]);
  EXPECT_TRUE(f.view.visible[kIdSkipEnrol]);
  EXPECT_EQ(f.view.texts[kIdWarpBin], std::to_string(f.app.user()->vtln));
  f.app.toggleMic();
  // The calibration block is skipped and so is the line with words no dictionary knows.
  EXPECT_EQ(f.app.promptText(), "one two three");
  EXPECT_TRUE(f.app.micOn());
  f.app.toggleMic();
  EXPECT_FALSE(f.app.micOn());
  EXPECT_EQ(f.view.texts[kIdPrompt], "");
  f.app.toggleMic();   // the same prompt again
  EXPECT_EQ(f.app.promptText(), "one two three");
  f.app.toggleMic();
}

TEST(EnrollApp, RecordingThatDoesNotOpenIsAbsent) {
  RecordBoxes record;
  microphone({"c01.wav"});
  Fixture f("app-norecording");
  entest::writeFile(f.dir.file("enrol.txt"),
                    "one two three four five\tmissing.wav\none two three four five\t../enrol.txt\n");
  ASSERT_EQ(f.app.initDialog(), 1);
  for (int i = 0; i < 2; i++) {
    f.app.toggleMic();
    EXPECT_TRUE(f.view.posted.empty());   // nothing to play: listening at once
    EXPECT_TRUE(f.app.micOn());
    f.app.undo();
    f.view.posted.clear();
    // The undone prompt shows again; the next tap skips it for this test's second line.
    f.app.toggleMic();
    f.app.toggleMic();
  }
}

// A whole short enrollment from the shipped recordings: the first repetition ends in "Low
// Volume" and is asked for again, the "tea" repetitions give estimates, calibration sets the warp
// bin, phase 2 adapts, undo asks for the last prompt again, and the save dialog refuses the two
// reserved names before it saves.
TEST(EnrollApp, NewUserEnrollment) {
  RecordBoxes record;
  microphone({"tea.wav", "tea.wav", "mary.wav", "tea.wav", "c01.wav", "c01.wav", "c01.wav"});
  Fixture f("app-newuser");
  f.dir.copyShipped({"tea.wav", "mary.wav", "c01.wav"});
  entest::writeFile(f.dir.file("enrol.txt"),
                    "cmd_start_calibrate\ntea\ttea.wav\nmary had a little lamb\tmary.wav\ntea\ttea.wav\n"
                    "cmd_end_calibrate\none two three four five\tc01.wav\n");
  ASSERT_EQ(f.app.initDialog(), 1);   // new-user mode begins at once
  ASSERT_TRUE(f.app.begun());
  EXPECT_EQ(record.captions(), std::vector<std::string>{"Beginning Phase 1"});
  EXPECT_TRUE(f.app.lowVolumeFlag());
  EXPECT_TRUE(f.app.newUserPending());

  f.app.toggleMic();
  EXPECT_EQ(f.app.promptText(), "tea");
  ASSERT_EQ(f.view.posted, std::vector<int>{kMsgPlayPrompt});   // the recording plays first
  EXPECT_FALSE(f.app.micOn());
  const unsigned long long playedBefore = nullOutputBytesPlayed();
  pump(f.app, f.view);
  // tea.wav went to the null speaker (16-bit samples) before the microphone listened.
  EXPECT_GE(nullOutputBytesPlayed() - playedBefore, 2000u);
  EXPECT_EQ(entest::boxes().back().caption, "Low Volume");
  EXPECT_FALSE(f.app.lowVolumeFlag());
  EXPECT_EQ(f.app.repetitionsAccepted(), 0);
  EXPECT_TRUE(f.app.estimates().empty());
  EXPECT_EQ(f.view.texts[kIdPrompt], "tea");   // asked for again
  EXPECT_FALSE(f.app.micOn());

  f.app.toggleMic();
  pump(f.app, f.view);
  EXPECT_EQ(entest::boxes().back().caption, "Phase 1 Completed");
  EXPECT_EQ(f.app.repetitionsAccepted(), 3);
  ASSERT_EQ(f.app.estimates().size(), 2u);
  EXPECT_EQ(f.app.warpBin(), EnrollApp::chooseBin(f.app.estimates()));
  EXPECT_EQ(f.view.texts[kIdWarpBin], std::to_string(f.app.warpBin()));
  EXPECT_FALSE(f.app.inPhase1());
  EXPECT_EQ(f.app.keptUtterances()->count(), 0);

  f.app.toggleMic();
  EXPECT_EQ(f.app.promptText(), "one two three four five");
  pump(f.app, f.view);
  EXPECT_EQ(entest::boxes().back().caption, "Done Enrolling");
  EXPECT_EQ(f.view.texts[kIdProgress], "done");
  EXPECT_TRUE(f.view.visible[kIdSaveUserButton]);
  EXPECT_TRUE(f.app.adaptationUnsaved());
  EXPECT_EQ(f.app.keptUtterances()->count(), 1);

  // Undo gives the last repetition back and asks for its prompt again.
  f.app.undo();
  EXPECT_EQ(f.app.repetitionsAccepted(), 3);
  EXPECT_EQ(f.view.texts[kIdPrompt], "one two three four five");
  f.app.toggleMic();
  EXPECT_EQ(f.app.promptText(), "one two three four five");
  pump(f.app, f.view);
  EXPECT_EQ(f.app.repetitionsAccepted(), 4);

  // Exit: save? yes; the dialog refuses "newuser" and "delta.usr" (edit cleared) and saves
  // "mine"; the prompt recordings are kept (the default answer); the training hint follows.
  f.view.saveNames = {"newuser", "delta.usr", "mine"};
  entest::boxAnswers() = {eAnswerYes};
  entest::boxes().clear();
  f.app.exitSequence();
  EXPECT_EQ(f.view.editCleared, 2);
  EXPECT_EQ(f.app.saveName(), "mine.usr");
  EXPECT_FALSE(f.app.adaptationUnsaved());
  EXPECT_FALSE(f.app.newUserPending());
  for (const std::string& name : f.view.saveDialogFiles) EXPECT_TRUE(name != "newuser.usr" && name != "delta.usr");
  User saved;
  ASSERT_EQ(saved.readFile(f.dir.file("mine.usr").c_str()), 1);
  EXPECT_EQ(saved.vtln, f.app.warpBin());
  EXPECT_EQ(record.captions(),
            (std::vector<std::string>{"About to exit...", "Delete .wav files?", "Training improves models!"}));
  EXPECT_EQ(entest::boxes()[0].text, "Models NOT saved!\nSave to .Usr?");
  EXPECT_TRUE(entest::exists(f.dir.file("c01.wav")));
  EXPECT_EQ(f.view.closed, 1);
  unsetenv("VELMORA_MIC");
}

TEST(EnrollApp, FailedSaveAsksToRetryAndForgetsTheName) {
  RecordBoxes record;
  microphone({"c01.wav", "c01.wav"});
  Fixture f("app-savefail");
  entest::writeFile(f.dir.file("enrol.cfg"), "n:0\nu:bob\ns:\n");
  entest::writeFile(f.dir.file("enrol.txt"), "cmd_end_calibrate\none two three four five\n");
  mkdir(f.dir.file("bob.usr").c_str(), 0700);   // a folder where the models would go
  ASSERT_EQ(f.app.initDialog(), 1);
  ASSERT_EQ(f.app.begin("newuser.usr"), 1);
  EXPECT_EQ(f.app.saveName(), "bob.usr");
  f.app.toggleMic();
  pump(f.app, f.view);   // Low Volume: taken back
  f.app.toggleMic();
  pump(f.app, f.view);
  ASSERT_TRUE(f.app.adaptationUnsaved());
  entest::boxes().clear();
  entest::boxAnswers() = {eAnswerYes, eAnswerNo};
  f.app.exitSequence();
  EXPECT_EQ(record.captions(), (std::vector<std::string>{"About to exit...", "Save Failed!"}));
  EXPECT_EQ(f.app.saveName(), "");
  EXPECT_TRUE(f.app.adaptationUnsaved());
  unsetenv("VELMORA_MIC");
}

TEST(EnrollApp, ExitDeletesRecordingsAfterCalibrationWhenAsked) {
  RecordBoxes record;
  Fixture f("app-delete");
  f.dir.copyShipped({"mary.wav", "tea.wav", "p01.wav", "p02.wav"});
  const std::string outside = f.dir.path + "-victim.wav";
  entest::writeFile(outside, "x");
  entest::writeFile(f.dir.file("enrol.cfg"), "n:0\n");
  entest::writeFile(f.dir.file("enrol.txt"),
                    "cmd_start_calibrate\ntea\ttea.wav\nmary had a little lamb\tmary.wav\ncmd_end_calibrate\n"
                    "beat bit bait bet\tp01.wav\nbat bot bought boat\tp02.wav\none two\t../" +
                        f.dir.path.substr(f.dir.path.rfind('/') + 1) + "-victim.wav\n");
  ASSERT_EQ(f.app.initDialog(), 1);
  ASSERT_EQ(f.app.begin("newuser.usr"), 1);
  entest::boxAnswers() = {eAnswerYes};
  f.app.exitSequence();
  EXPECT_EQ(record.captions(), (std::vector<std::string>{"Delete .wav files?", "Training improves models!"}));
  EXPECT_TRUE(entest::exists(f.dir.file("tea.wav")));
  EXPECT_TRUE(entest::exists(f.dir.file("mary.wav")));
  EXPECT_FALSE(entest::exists(f.dir.file("p01.wav")));
  EXPECT_FALSE(entest::exists(f.dir.file("p02.wav")));
  EXPECT_TRUE(entest::exists(outside));   // only plain names in the data directory are deleted
  unlink(outside.c_str());
}

// A process killed while it saves leaves the previous file whole: every kill point leaves either
// the old or the new models, never a part.
TEST(EnrollApp, SaveKilledMidwayKeepsAWholeFile) {
  DataDir dir("app-killsave");
  entest::writeFile(dir.file("enrol.txt"), "one two\n");
  entest::copyFile(dir.file("newuser.usr"), dir.file("kept.usr"));
  const std::string before = entest::readFile(dir.file("kept.usr"));
  for (int delayMs : {5, 20, 60, 150}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FakeView view;
      EnrollApp app(&view, dir.dir());
      view.app = &app;
      if (!app.initDialog()) _exit(3);
      app.user()->vtln = 61;   // the new file differs from the old one
      for (;;) app.saveIt("kept");
    }
    usleep(delayMs * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    User user;
    ASSERT_EQ(user.readFile(dir.file("kept.usr").c_str()), 1) << "killed after " << delayMs << " ms";
    const std::string now = entest::readFile(dir.file("kept.usr"));
    EXPECT_TRUE(now == before || user.vtln == 61);
  }
}

TEST(EnrollApp, NextProgramStartsAtExit) {
  RecordBoxes record;
  Fixture f("app-next");
  entest::writeFile(f.dir.file("enrol.txt"), "one two\n");
  entest::writeFile(f.dir.file("enrol.cfg"), "s:starter.exe\n");
  const std::string marker = f.dir.file("started");
  entest::writeFile(f.dir.file("starter"), "#!/bin/sh\ntouch '" + marker + "'\n");
  chmod(f.dir.file("starter").c_str(), 0755);
  ASSERT_EQ(f.app.initDialog(), 1);
  EXPECT_EQ(f.app.config().exitProgram, "starter");
  EXPECT_EQ(f.app.finish(f.dir.dir()), 0);
  for (int i = 0; i < 200 && !entest::exists(marker); i++) usleep(10000);
  EXPECT_TRUE(entest::exists(marker));
  EXPECT_TRUE(entest::boxes().size() == 1);   // only the phase-1 hint

  Fixture g("app-next-missing");
  entest::writeFile(g.dir.file("enrol.txt"), "one two\n");
  ASSERT_EQ(g.app.initDialog(), 1);
  EXPECT_EQ(g.app.finish(g.dir.dir()), 0);   // no namefind in that folder
  EXPECT_EQ(entest::boxes().back().caption, "restart manually...");
  EXPECT_EQ(entest::boxes().back().text, "Create Process failed!!!");
}

// The unknown-word phase: a word no dictionary knows is spoken, recognised against its letter
// groups, its pronunciations listed; the one accepted is appended to the chosen dictionary and
// unknown.lst is deleted.
TEST(EnrollApp, UnknownWordPhaseMakesAPronunciation) {
  RecordBoxes record;
  Fixture f("app-unknown");
  const std::string wav = f.dir.file("ostrawen.wav");
  if (std::system(("espeak-ng -v en-us -w '" + wav + "' 'ostrawen' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "espeak-ng is not installed";
  setenv("VELMORA_MIC", wav.c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "1", 1);
  entest::writeFile(f.dir.file("enrol.cfg"), "n:0\ns:\n");
  entest::writeFile(f.dir.file("enrol.txt"), "cmd_end_calibrate\none two\n");
  entest::writeFile(f.dir.file("unknown.lst"), "ostrawen\n");
  entest::writeFile(f.dir.file("names.voc"), "ann\t@n\n");
  ASSERT_EQ(f.app.initDialog(), 1);
  ASSERT_EQ(f.app.begin("newuser.usr"), 1);
  f.app.skipEnrol();
  EXPECT_TRUE(f.app.unknownPhase());
  EXPECT_FALSE(f.view.visible[kIdSkipEnrol]);
  EXPECT_EQ(f.view.texts[kIdPrompt], "ostrawen");
  f.app.toggleMic();
  EXPECT_EQ(f.app.promptText(), "ostrawen");
  pump(f.app, f.view);
  ASSERT_FALSE(f.app.pronChoices().empty()) << "no pronunciation for the spoken word";
  EXPECT_TRUE(f.view.visible[kIdPronList]);
  EXPECT_TRUE(f.view.visible[kIdAcceptPron]);
  EXPECT_EQ(f.view.lists[kIdPronList], f.app.pronChoices());
  for (const std::string& c : f.app.pronChoices()) std::printf("candidate pronunciation: %s\n", c.c_str());
  f.app.playPron("not a pronunciation!");
  EXPECT_EQ(f.view.texts[kIdPronEdit], "");   // invalid: cleared
  f.app.choosePron(0);
  EXPECT_EQ(f.view.texts[kIdPronEdit], f.app.pronChoices()[0]);
  f.view.pronsTarget = "names.voc";
  f.app.acceptPron(f.app.pronChoices()[0]);   // the last line: the program exits
  EXPECT_EQ(f.view.closed, 1);
  const std::string voc = entest::readFile(f.dir.file("names.voc"));
  EXPECT_EQ(voc.rfind("ann\t@n\n\nostrawen\t", 0), 0u) << voc;
  EXPECT_FALSE(entest::exists(f.dir.file("unknown.lst")));
  EXPECT_FALSE(f.app.pronsTargetOk("abc.voc"));
  EXPECT_FALSE(f.app.pronsTargetOk("missing.voc"));
  unsetenv("VELMORA_MIC");
}

// Two undos ask for the two repetitions taken back, oldest first, before the prompt that was
// showing; the recordings heard again are accepted in that order.
TEST(EnrollApp, UndoAsksForTheRepetitionsTakenBackInOrder) {
  RecordBoxes record;
  microphone({"c01.wav", "c01.wav", "c02.wav", "c01.wav", "c02.wav"});
  Fixture f("app-undo");
  entest::writeFile(f.dir.file("enrol.cfg"), "n:0\ns:\n");
  entest::writeFile(f.dir.file("enrol.txt"),
                    "cmd_end_calibrate\none two three four five\nits fleece was white as snow\n"
                    "six seven eight nine ten\n");
  ASSERT_EQ(f.app.initDialog(), 1);
  ASSERT_EQ(f.app.begin("newuser.usr"), 1);
  f.app.toggleMic();
  pump(f.app, f.view);   // Low Volume
  f.app.toggleMic();
  const long start = nowMs();
  while (f.app.repetitionsAccepted() < 2 && nowMs() - start < 60000) {
    f.app.timerTick();
    usleep(1000);
  }
  ASSERT_EQ(f.app.repetitionsAccepted(), 2);
  EXPECT_EQ(f.app.promptText(), "six seven eight nine ten");
  f.app.undo();
  EXPECT_FALSE(f.app.micOn());
  EXPECT_EQ(f.view.texts[kIdPrompt], "its fleece was white as snow");
  f.app.undo();
  EXPECT_EQ(f.view.texts[kIdPrompt], "one two three four five");
  EXPECT_EQ(f.app.repetitionsAccepted(), 0);
  EXPECT_EQ(f.app.keptUtterances()->pointIndex(), 0);
  f.app.toggleMic();
  EXPECT_EQ(f.app.promptText(), "one two three four five");
  while (f.app.repetitionsAccepted() < 2 && nowMs() - start < 60000) {
    f.app.timerTick();
    usleep(1000);
  }
  EXPECT_EQ(f.app.repetitionsAccepted(), 2);
  EXPECT_EQ(f.app.promptText(), "six seven eight nine ten");
  f.app.toggleMic();
  unsetenv("VELMORA_MIC");
}

// A microphone that cannot start (here a file microphone whose recording does not open) leaves
// the prompt to be asked for again at the next tap.
TEST(EnrollApp, MicrophoneThatFailsKeepsThePrompt) {
  RecordBoxes record;
  setenv("VELMORA_MIC", "/nonexistent/recording.wav", 1);
  Fixture f("app-badmic");
  entest::writeFile(f.dir.file("enrol.cfg"), "n:0\ns:\n");
  entest::writeFile(f.dir.file("enrol.txt"), "cmd_end_calibrate\none two three\nfour five\n");
  ASSERT_EQ(f.app.initDialog(), 1);
  ASSERT_EQ(f.app.begin("newuser.usr"), 1);
  f.app.toggleMic();
  EXPECT_FALSE(f.app.micOn());
  ASSERT_FALSE(entest::boxes().empty());
  EXPECT_EQ(entest::boxes().back().text, "Failed to open waveform input device.");
  f.app.toggleMic();
  EXPECT_EQ(f.app.promptText(), "one two three");
  unsetenv("VELMORA_MIC");
}
