// The namefind shell without its dialogs: start-up, recognition through the file microphone, the
// nag, activation, the exit sequence and the start of the next program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <map>

#include "apps/namefind/app.h"
#include "apps/namefind/config.h"
#include "audio/channel.h"
#include "audio/utterance.h"
#include "fixture.h"
#include "recordingview.h"
#include "models/user.h"

using namespace vlm;
using nftest::DataDir;
using nftest::RecordBoxes;

namespace {

using FakeView = nftest::RecordingView;
using nftest::nowMs;
using nftest::runTimerUntilMicOff;


std::string speechLog() { return nftest::readFile("velmora.log"); }

}  // namespace

TEST(NamefindApp, NoConfigurationRunsOptionsAndCloses) {
  for (const char* cfg : {"", "u:tester.usr\n"}) {   // missing, and without "t:"
    DataDir dir("app-nocfg");
    if (cfg[0]) nftest::writeFile(dir.file("namefind.cfg"), cfg);
    else unlink(dir.file("namefind.cfg").c_str());
    FakeView view;
    NamefindApp app(&view, dir.dir(), false);
    EXPECT_EQ(app.initMain(), 0);
    EXPECT_EQ(app.state().firstStart, 1);
    EXPECT_EQ(view.optionsRuns, 1);
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(app.user(), nullptr);
  }
}

TEST(NamefindApp, LoadFailuresDeleteTheConfiguration) {
  struct Case {
    const char* missing;
    const char* message;
  } cases[] = {{"tester.usr", "can't open .usr file"},   {"abc.voc", "can't open abc.voc file"},
               {"abc.rul", "can't read abc.rul file"},   {"base.voc", "can't open base.voc file"},
               {"demo.voc", "can't open .voc file"},     {"command.voc", "can't open command.voc file"}};
  for (const Case& c : cases) {
    DataDir dir("app-loadfail");
    unlink(dir.file(c.missing).c_str());
    RecordBoxes record;
    FakeView view;
    NamefindApp app(&view, dir.dir(), false);
    EXPECT_EQ(app.initMain(), 0) << c.missing;
    ASSERT_EQ(nftest::boxes().size(), 1u) << c.missing;
    EXPECT_EQ(nftest::boxes()[0].caption, "Load Error");
    EXPECT_EQ(nftest::boxes()[0].text, "Error loading start configuration.\nDeleting configuration.\nTry restarting.");
    EXPECT_NE(speechLog().find(c.message), std::string::npos) << c.missing;
    EXPECT_FALSE(nftest::exists(dir.file("namefind.cfg"))) << c.missing;
    EXPECT_EQ(view.closed, 1);
    EXPECT_EQ(app.channel(), nullptr);
  }
}

TEST(NamefindApp, StartsAndBuildsTheCommandGrammar) {
  DataDir dir("app-start");
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  EXPECT_EQ(view.closed, 0);
  EXPECT_FALSE(view.enabled[kIdTrain]);
  EXPECT_EQ(view.texts[kIdMic], "mic is Off");
  EXPECT_EQ(view.posted, std::vector<int>{kMsgNamefindStart});
  ASSERT_NE(app.channel(), nullptr);
  EXPECT_EQ(app.channel()->bottomTracker().window(), 61);
  EXPECT_EQ(app.channel()->bottomTracker().hitThreshold(), 57);
  EXPECT_EQ(app.state().loadedVocPath, dir.file("demo.voc"));
  app.onMessage(kMsgNamefindStart);
  EXPECT_FALSE(app.mainRules().empty());
}

TEST(NamefindApp, SayHintAfterAFreshStart) {
  DataDir dir("app-hint");
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\nmm:1\n");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Say: 'Namefind...'");
  EXPECT_EQ(app.state().showSayHint, 0);
  EXPECT_EQ(app.state().configChanged, 1);
}

TEST(NamefindApp, RecognisesAnUtteranceFromTheMicrophone) {
  DataDir dir("app-recognise");
  if (!nftest::speak("call work", dir.file("callwork.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  setenv("VELMORA_MIC", dir.file("callwork.wav").c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  app.state().uttsSinceNag = 7;   // this utterance is the eighth: the nag follows
  app.toggleMic();
  EXPECT_TRUE(app.micOn());
  EXPECT_TRUE(view.timer);
  EXPECT_EQ(view.texts[kIdMic], "mic is On");
  runTimerUntilMicOff(app, view);
  EXPECT_FALSE(app.micOn());
  EXPECT_EQ(view.texts[kIdMic], "mic is Off");
  ASSERT_FALSE(view.lists[kIdPhrases].empty());
  EXPECT_EQ(view.lists[kIdPhrases][0], "call work");
  EXPECT_EQ(app.uttFifo()->count(), 1);
  EXPECT_EQ(app.state().uttsSinceNag, 8);
  ASSERT_FALSE(view.posted.empty());
  EXPECT_EQ(view.posted.back(), kMsgNag);
  app.onMessage(kMsgNag);
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Train More!");
  EXPECT_EQ(app.state().uttsSinceNag, 0);
  EXPECT_EQ(app.state().nagThreshold, 1);
  unsetenv("VELMORA_MIC");
}

TEST(NamefindApp, MicrophoneIgnoredWhileBlocked) {
  DataDir dir("app-blocked");
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  app.toggleMic();   // no channel yet
  EXPECT_FALSE(view.timer);
  ASSERT_EQ(app.initMain(), 1);
  app.state().micBlocked = 1;
  app.toggleMic();
  EXPECT_FALSE(app.micOn());
  EXPECT_FALSE(view.timer);
}

TEST(NamefindApp, ActivationTurnsTheMicrophoneOnUnlessASubDialogTakesIt) {
  DataDir dir("app-activate");
  if (!nftest::speak("echo off", dir.file("echo.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  setenv("VELMORA_MIC", dir.file("echo.wav").c_str(), 1);
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  view.subDialogOpen = true;
  app.onMessage(kMsgNamefindActivate);
  EXPECT_FALSE(app.micOn());
  view.subDialogOpen = false;
  app.onMessage(kMsgNamefindActivate);
  EXPECT_TRUE(app.micOn());
  EXPECT_EQ(view.forwarded, 3);   // the start and both activations
  app.onMessage(kMsgNamefindActivate);   // already listening: stays on
  EXPECT_TRUE(app.micOn());
  app.toggleMic();
  unsetenv("VELMORA_MIC");
}

TEST(NamefindApp, ActivationBeforeTheStartIsAnsweredAfterIt) {
  DataDir dir("app-early");
  if (!nftest::speak("echo off", dir.file("echo.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  setenv("VELMORA_MIC", dir.file("echo.wav").c_str(), 1);
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  app.onMessage(kMsgNamefindActivate);   // nothing loaded yet
  EXPECT_FALSE(view.timer);
  ASSERT_EQ(app.initMain(), 1);
  EXPECT_FALSE(app.micOn());
  app.onMessage(kMsgNamefindStart);
  EXPECT_TRUE(app.micOn());
  app.toggleMic();
  unsetenv("VELMORA_MIC");
}

TEST(NamefindApp, ExitWritesTheConfigurationWhenChanged) {
  DataDir dir("app-exit");
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.state().prefix1 = "9";
  EXPECT_TRUE(app.exitSequence());
  EXPECT_EQ(nftest::readFile(dir.file("namefind.cfg")), "u:tester.usr\nt:demo.tsv\n");   // unchanged: not written
  app.state().configChanged = 1;
  EXPECT_TRUE(app.exitSequence());
  EXPECT_NE(nftest::readFile(dir.file("namefind.cfg")).find("\np1:9\n"), std::string::npos);
}

TEST(NamefindApp, FailedSavesKeepThePreviousFilesAndSaySo) {
  DataDir dir("app-savefail");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  const std::string config = nftest::readFile(dir.file("namefind.cfg"));
  const std::string models = nftest::readFile(dir.file("tester.usr"));
  // The user file's folder is replaced by a file, so the models cannot be written there; the
  // configuration meets a full disk.
  app.state().userFilePath = dir.file("demo.tsv/tester.usr");
  app.state().configChanged = 1;
  app.state().modelsAdapted = 1;
  nftest::boxAnswers() = {eAnswerOk, eAnswerYes, eAnswerOk};
  {
    nftest::FileSizeLimit full(10);
    EXPECT_TRUE(app.exitSequence());
  }
  ASSERT_EQ(nftest::boxes().size(), 3u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Save Error");
  EXPECT_EQ(nftest::boxes()[0].text, "Couldn't save namefind.cfg.\nThe previous file is kept.");
  EXPECT_EQ(nftest::boxes()[1].caption, "Phonetic Models are Adapted");
  EXPECT_EQ(nftest::boxes()[1].text, "Phonetic models have been adapted!\nSave the changes?");
  EXPECT_EQ(nftest::boxes()[2].caption, "Save Error");
  EXPECT_EQ(nftest::boxes()[2].text, "Couldn't save tester.usr.\nThe previous file is kept.");
  EXPECT_EQ(app.state().modelsAdapted, 1);
  EXPECT_EQ(nftest::readFile(dir.file("namefind.cfg")), config);
  EXPECT_EQ(nftest::readFile(dir.file("tester.usr")), models);
}

TEST(NamefindApp, AdaptedModelsSavedWhenTheUserSaysYes) {
  DataDir dir("app-saveuser");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  unlink(dir.file("tester.usr").c_str());
  app.state().modelsAdapted = 1;
  nftest::boxAnswers() = {eAnswerNo};
  EXPECT_TRUE(app.exitSequence());
  EXPECT_FALSE(nftest::exists(dir.file("tester.usr")));
  EXPECT_EQ(app.state().modelsAdapted, 1);
  nftest::boxAnswers() = {eAnswerYes};
  EXPECT_TRUE(app.exitSequence());
  EXPECT_TRUE(nftest::exists(dir.file("tester.usr")));
  EXPECT_EQ(app.state().modelsAdapted, 0);
  User back;
  EXPECT_EQ(back.readFile(dir.file("tester.usr").c_str()), 1);
}

TEST(NamefindApp, UnsentMailStopsTheExit) {
  DataDir dir("app-mail");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  app.mailOnHold = true;
  nftest::boxAnswers() = {eAnswerYes, eAnswerNo};
  EXPECT_FALSE(app.exitSequence());
  EXPECT_TRUE(app.exitSequence());
  ASSERT_EQ(nftest::boxes().size(), 2u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Unsent Mail");
}

TEST(NamefindApp, StartsTheNextProgramFromTheProgramFolder) {
  DataDir dir("app-finish");
  const std::string programs = dir.file("bin/");
  mkdir(programs.c_str(), 0700);
  // A stand-in enroll that leaves a mark.
  nftest::writeFile(programs + "enroll", "#!/bin/sh\ntouch '" + dir.file("enroll-ran") + "'\n");
  chmod((programs + "enroll").c_str(), 0755);
  {
    RecordBoxes record;
    FakeView view;
    NamefindApp app(&view, dir.dir(), false);
    app.state().startAfterExit = 2;
    EXPECT_EQ(app.finish(programs), 0);
    EXPECT_TRUE(nftest::boxes().empty());
    for (int i = 0; i < 500 && !nftest::exists(dir.file("enroll-ran")); i++) usleep(10000);
    EXPECT_TRUE(nftest::exists(dir.file("enroll-ran")));
  }
  for (bool phone : {false, true}) {   // no namefind in the folder: the start fails and says so
    RecordBoxes record;
    FakeView view;
    NamefindApp app(&view, dir.dir(), phone);
    app.state().startAfterExit = 1;
    EXPECT_EQ(app.finish(programs), 0);
    ASSERT_EQ(nftest::boxes().size(), 1u);
    EXPECT_EQ(nftest::boxes()[0].caption, "restart manually...");
    EXPECT_EQ(nftest::boxes()[0].text, "Create Process failed!!!");
    EXPECT_NE(speechLog().find(programs + (phone ? "namefind-phone" : "namefind")), std::string::npos);
  }
}
