// enroll run as a program: a whole short enrollment from files through the script runner, the
// transcript, the save dialog, the exit questions and a second start handing over to the first.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "fixture.h"
#include "testpaths.h"

using entest::DataDir;

namespace {

using vlmtest::Outcome;
using vlmtest::run;

std::string environment(const DataDir& dir, const std::vector<std::string>& mic, const std::string& answers) {
  mkdir(dir.file("run").c_str(), 0700);
  std::string list;
  for (const std::string& m : mic) list += (list.empty() ? "" : ",") + entest::shipped(m);
  return "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VELMORA_DIR='" + dir.path + "' XDG_RUNTIME_DIR='" +
         dir.file("run") + "' VELMORA_MIC='" + list +
         "' VELMORA_MIC_FAST=1 VELMORA_MIC_GAP=1 VELMORA_SPEAKER_FAST=1 VLM_BOX_ANSWERS='" + answers + "'";
}

std::string program() { return "'" + vlmtest::binDir() + "/enroll'"; }
bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(EnrollProgram, ScriptedEnrollmentFromFiles) {
  DataDir dir("e2e-enroll");
  dir.copyShipped({"tea.wav", "mary.wav", "c01.wav"});
  entest::writeFile(dir.file("enrol.cfg"), "s:\n");   // no next program
  entest::writeFile(dir.file("enrol.txt"),
                    "cmd_start_calibrate\ntea\ttea.wav\nmary had a little lamb\tmary.wav\ntea\ttea.wav\n"
                    "cmd_end_calibrate\none two three four five\tc01.wav\n");
  entest::writeFile(dir.file("script.txt"),
                    "mic\nwait 60\nmic\nwait 60\nmic\nwait 60\ntap saveUser\ntype name newuser\ntap saveIt\n"
                    "type name mine\ntap saveIt\ntap exit\n");
  // Boxes: phase-1 hint, Low Volume, Phase 1 Completed, Done Enrolling, delete recordings (yes),
  // the training hint.
  Outcome r = run(environment(dir, {"tea.wav", "tea.wav", "mary.wav", "tea.wav", "c01.wav"}, "ok,ok,ok,ok,yes,ok") +
                  " " + program() + " --script '" + dir.file("script.txt") + "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "box \"Low Volume\"")) << r.out;
  EXPECT_TRUE(has(r.out, "box \"Phase 1 Completed\"")) << r.out;
  EXPECT_TRUE(has(r.out, "box \"Done Enrolling\"")) << r.out;
  // The reserved name is refused (the edit is cleared and the dialog stays), then "mine" saves.
  EXPECT_TRUE(has(r.out, "script 9 tap saveIt\ntext save.name \"\"\nscript 10 type name mine\n")) << r.out;
  EXPECT_TRUE(has(r.out, "action saved \"mine.usr\"\ndialog save closed\n")) << r.out;
  EXPECT_TRUE(has(r.out, "box \"Delete .wav files?\"")) << r.out;
  EXPECT_TRUE(has(r.out, "dialog main closed\nexit 0\n")) << r.out;
  EXPECT_FALSE(has(r.out, "action start")) << r.out;
  EXPECT_TRUE(entest::exists(dir.file("mine.usr")));
  EXPECT_FALSE(entest::exists(dir.file("c01.wav")));   // after the calibration block: deleted
  EXPECT_TRUE(entest::exists(dir.file("mary.wav")));
  EXPECT_EQ(entest::readFile(dir.file("newuser.usr")), entest::readFile(entest::shipped("newuser.usr")));
}

TEST(EnrollProgram, BadScriptsAndMissingPromptFile) {
  DataDir dir("e2e-bad");
  Outcome bad = run("printf 'mic\\njump\\n' | " + environment(dir, {}, "") + " " + program() + " --script - 2>&1");
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(has(bad.out, "line 2: unknown command \"jump\"")) << bad.out;
  // Without enrol.txt the program says so and ends.
  entest::writeFile(dir.file("enrol.cfg"), "s:\n");
  Outcome r = run("printf '' | " + environment(dir, {}, "") + " " + program() + " --script - 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "box \"In onInitDialog()\" \"Couldn't open promptFile\" -> OK\ndialog main closed\n")) << r.out;
}

TEST(EnrollProgram, SecondStartActivatesTheFirst) {
  DataDir dir("e2e-second");
  entest::writeFile(dir.file("enrol.cfg"), "s:\n");
  entest::writeFile(dir.file("enrol.txt"), "one two three four five\n");
  // The first copy waits in its script; the second hands over and exits; the first then hears
  // message 2026 and turns its microphone on.
  entest::writeFile(dir.file("script.txt"), "sleep 3000\ntap exit\n");
  const std::string env = environment(dir, {"c01.wav"}, "ok,ok");
  const std::string first = dir.file("first.txt");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c",
          (env + " " + program() + " --script '" + dir.file("script.txt") + "' > '" + first + "' 2>/dev/null").c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 300 && !has(entest::readFile(first), "dialog main shown"); i++) usleep(10000);
  usleep(300000);
  Outcome second = run("printf '' | " + env + " " + program() + " --script - 2>/dev/null");
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(has(second.out, "action activate-running\nexit 0\n")) << second.out;
  int status = 0;
  waitpid(pid, &status, 0);
  const std::string out = entest::readFile(first);
  EXPECT_TRUE(has(out, "message 2026\n")) << out;
  EXPECT_TRUE(has(out, "text main.micState \"mic is On;  to pause, turn mic off\"")) << out;
}
