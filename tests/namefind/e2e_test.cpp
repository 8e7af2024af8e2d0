// namefind run as a program: the script drives the dialogs, the transcript shows what they show.
// Without a display (QT_QPA_PLATFORM=offscreen), and once under Xvfb with real windows.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

#include "fixture.h"
#include "testpaths.h"

using nftest::DataDir;

namespace {

using vlmtest::Outcome;
using vlmtest::run;

// The environment of one run: the data directory, a private runtime folder for the guard, the
// file microphone.
std::string environment(const DataDir& dir, const std::string& mic, const char* platform = "offscreen") {
  mkdir(dir.file("run").c_str(), 0700);
  std::string env = "env VELMORA_DIR='" + dir.path + "' XDG_RUNTIME_DIR='" + dir.file("run") +
                    "' QT_QPA_PLATFORM=" + platform + " VELMORA_SPEAKER=null VELMORA_SPEAKER_FAST=1";
  if (!mic.empty()) env += " VELMORA_MIC='" + mic + "' VELMORA_MIC_GAP=1";
  return env;
}

std::string program(const char* name) { return "'" + vlmtest::binDir() + "/" + name + "'"; }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(NamefindProgram, ScriptRecognisesASpokenCommand) {
  for (const char* edition : {"namefind", "namefind-phone"}) {
    DataDir dir("e2e-recognise");
    if (!nftest::speak("call work", dir.file("callwork.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
    nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\ndone\n");
    Outcome r = run(environment(dir, dir.file("callwork.wav")) + " " + program(edition) + " --script '" +
                dir.file("script.txt") + "' 2>/dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "script 1 mic\ntext main.mic \"mic is On\"\n")) << r.out;
    EXPECT_TRUE(has(r.out, "text main.mic \"mic is Off\"\nlist main.phrases ")) << r.out;
    const size_t list = r.out.find("list main.phrases ");
    ASSERT_NE(list, std::string::npos) << r.out;
    const std::string line = r.out.substr(list, r.out.find('\n', list) - list);
    EXPECT_TRUE(has(line, " \"call work\"")) << line;
    EXPECT_TRUE(has(r.out, "select main.phrases 1\n")) << r.out;
    EXPECT_TRUE(has(r.out, "dialog main closed\nexit 0\n")) << r.out;
  }
}

TEST(NamefindProgram, LooksUpDemoContactsByVoice) {
  DataDir dir("e2e-contacts");
  const std::string data = vlmtest::sourceDir() + "/data/";
  for (const char* f : {"demo.tsv", "demo.voc", "command.tsv", "command.voc", "abc.voc", "abc.rul"})
    nftest::copyFile(data + f, dir.file(f));
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\ni:1\n");
  // First name, last name, both (joined and with a pause), a company, a call and echo off.
  const char* said[] = {"look up corwin", "look up tarnowicz", "look up marcus tarnowicz", "look up marcus, tarnowicz",
                        "look up riverside software", "call work", "echo off"};
  std::string mic, script;
  int n = 0;
  for (const char* text : said) {
    const std::string wav = dir.file("u" + std::to_string(++n) + ".wav");
    if (!nftest::speak(text, wav)) GTEST_SKIP() << "espeak-ng is not installed";
    mic += (mic.empty() ? "" : ",") + wav;
    script += "mic\nwait 30\n";
  }
  nftest::writeFile(dir.file("script.txt"), script + "done\n");
  // The microphone hears the recordings as fast as they are read: the same frames, without their
  // seven seconds of real time (the real-time path is ScriptRecognisesASpokenCommand's).
  Outcome r = run(environment(dir, mic) + " VELMORA_MIC_FAST=1 " + program("namefind") + " --script '" +
                  dir.file("script.txt") + "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  // Each contact shown: the details list begins with the name.
  const char* shown[] = {"list main.details 4 \"Corwin Zyndrel\"", "list main.details 6 \"Marcus Tarnowicz\"",
                         "list main.details 7 \"Riverside Software\""};
  for (const char* s : shown) EXPECT_TRUE(has(r.out, s)) << s << "\n" << r.out;
  size_t at = 0;
  int marcus = 0;
  while ((at = r.out.find("list main.details 6 \"Marcus Tarnowicz\"", at)) != std::string::npos) {
    marcus++;
    at++;
  }
  EXPECT_EQ(marcus, 3) << r.out;
  EXPECT_TRUE(has(r.out, "list main.phrases 1 \"look up marcus tarnowicz\"") ||
              has(r.out, "list main.phrases 2 \"look up marcus tarnowicz\""))
      << r.out;
  // "call work" dials the work number of the contact shown (the company).
  EXPECT_TRUE(has(r.out, "action dial \"w\" \"555-555-0120\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "action echo \"off\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "exit 0\n")) << r.out;
  // Echo off is a setting: it is written at exit.
  EXPECT_TRUE(has(nftest::readFile(dir.file("namefind.cfg")), "e:0\n"));
}

TEST(NamefindProgram, LooksUpAnAddressBookContactByVoice) {
  DataDir dir("e2e-vcf");
  const std::string data = vlmtest::sourceDir() + "/data/";
  for (const char* f : {"command.tsv", "command.voc", "abc.voc", "abc.rul"}) nftest::copyFile(data + f, dir.file(f));
  nftest::copyFile(data + "demo.voc", dir.file("outlook.voc"));
  nftest::writeFile(dir.file("contacts.vcf"),
                    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Tarnowicz;Marcus;;;\r\nFN:Marcus Tarnowicz\r\n"
                    "TEL;TYPE=WORK,VOICE:555-555-0142\r\nEND:VCARD\r\n"
                    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nTEL;HOME:555-555-0101\r\nEND:VCARD\r\n");
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:outlook.tsv\ni:1\n");
  std::string mic;
  int n = 0;
  for (const char* text : {"look up marcus tarnowicz", "call work"}) {
    const std::string wav = dir.file("u" + std::to_string(++n) + ".wav");
    if (!nftest::speak(text, wav)) GTEST_SKIP() << "espeak-ng is not installed";
    mic += (mic.empty() ? "" : ",") + wav;
  }
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nwait 30\ndone\n");
  Outcome r = run(environment(dir, mic) + " " + program("namefind") + " --script '" + dir.file("script.txt") +
                  "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "list main.details 2 \"Marcus Tarnowicz\" \"w: 555-555-0142\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "action dial \"w\" \"555-555-0142\"\n")) << r.out;
}

TEST(NamefindProgram, ScriptFromStandardInputAndBadScripts) {
  DataDir dir("e2e-stdin");
  Outcome r = run("printf 'done\\n' | " + environment(dir, "") + " " + program("namefind") + " --script - 2>/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "script 1 done\n")) << r.out;
  Outcome bad = run("printf 'mic\\njump\\n' | " + environment(dir, "") + " " + program("namefind") + " --script - 2>&1");
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(has(bad.out, "line 2: unknown command \"jump\"")) << bad.out;
  Outcome missing = run(environment(dir, "") + " " + program("namefind") + " --script /nonexistent 2>&1");
  EXPECT_EQ(missing.status, 2);
  // A command the dialog cannot carry out is reported and fails the run.
  Outcome failing = run("printf 'tap nothing\\ndone\\n' | " + environment(dir, "") + " " + program("namefind") +
                    " --script - 2>/dev/null");
  EXPECT_EQ(failing.status, 1);
  EXPECT_TRUE(has(failing.out, "error 1 \"no control \\\"nothing\\\" to tap, or it is disabled\"")) << failing.out;
}

TEST(NamefindProgram, DialogThatWillNotCloseAfterTheScriptFailsTheRun) {
  DataDir dir("e2e-stuck");
  // "outlook.tsv" without "outlook.voc": Options' ok (and Done) keep the dialog open.
  nftest::writeFile(dir.file("script.txt"), "tap options\nselect contacts outlook.tsv\n");
  Outcome r = run(environment(dir, "") + " " + program("namefind") + " --script '" + dir.file("script.txt") +
                  "' 2>/dev/null");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(has(r.out, "error 0 \"the script ended and the program did not close\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "exit 1\n")) << r.out;
}

// Runs a first copy on script, starts a second copy once the first is up (and its transcript
// holds waitFor), and returns the first copy's transcript (the second copy's checked on the way).
std::string withSecondStart(const DataDir& dir, const std::string& mic, const std::string& script,
                            const std::string& waitFor = "") {
  nftest::writeFile(dir.file("script.txt"), script);
  const std::string env = environment(dir, mic);
  const std::string first = env + " " + program("namefind") + " --script '" + dir.file("script.txt") + "' > '" +
                            dir.file("first.txt") + "' 2>/dev/null; echo $? > '" + dir.file("first.status") + "'";
  EXPECT_EQ(std::system(("(" + first + ") &").c_str()), 0);
  for (int i = 0; i < 1000 && !nftest::exists(dir.file("run/vlmHwnd")); i++) usleep(10000);
  EXPECT_TRUE(nftest::exists(dir.file("run/vlmHwnd")));
  for (int i = 0; i < 1000 && !has(nftest::readFile(dir.file("first.txt")), waitFor); i++) usleep(10000);
  Outcome second = run(env + " " + program("namefind-phone") + " 2>/dev/null");
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(has(second.out, "action activate-running\nexit 0\n")) << second.out;
  for (int i = 0; i < 6000 && !nftest::exists(dir.file("first.status")); i++) usleep(10000);
  const std::string out = nftest::readFile(dir.file("first.txt"));
  EXPECT_EQ(nftest::readFile(dir.file("first.status")), "0\n") << out;
  EXPECT_FALSE(nftest::exists(dir.file("run/vlmHwnd")));   // removed at exit
  return out;
}

TEST(NamefindProgram, SecondStartBringsTheFirstForwardListening) {
  DataDir dir("e2e-second");
  if (!nftest::speak("echo off", dir.file("echo.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  // The first copy waits for the activation, then for the utterance it starts.
  const std::string out = withSecondStart(dir, dir.file("echo.wav"), "sleep 4000\nwait 30\ndone\n");
  // The activation turns the microphone on (at once, or after the start when it came earlier).
  const size_t message = out.find("message 2026\n");
  ASSERT_NE(message, std::string::npos) << out;
  EXPECT_NE(out.find("text main.mic \"mic is On\"\n", message), std::string::npos) << out;
  EXPECT_TRUE(has(out, "list main.phrases ")) << out;
  EXPECT_TRUE(has(out, "\"echo off\"")) << out;
}

// With the find dialog open, the activation goes to it: its microphone comes on, not the main
// dialog's.
TEST(NamefindProgram, SecondStartTurnsAnOpenDialogsMicrophoneOn) {
  DataDir dir("e2e-second-find");
  if (!nftest::speak("alpha", dir.file("alpha.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  const std::string out = withSecondStart(dir, dir.file("alpha.wav"), "tap find\nsleep 6000\nwait 30\ntap done\nsleep 200\ndone\n",
                                          "dialog find shown\n");
  const size_t message = out.find("message 2026\n");
  ASSERT_NE(message, std::string::npos) << out;
  EXPECT_NE(out.find("text find.mic \"mic is On\"\n", message), std::string::npos) << out;
  EXPECT_EQ(out.find("text main.mic \"mic is On\"\n", message), std::string::npos) << out;
}

TEST(NamefindProgram, FirstStartOpensOptions) {
  DataDir dir("e2e-first", false);
  nftest::writeFile(dir.file("script.txt"), "tap cancel\n");
  Outcome r = run(environment(dir, "") + " VLM_BOX_ANSWERS=ok " + program("namefind") + " --script '" +
              dir.file("script.txt") + "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "dialog main hidden\n")) << r.out;
  EXPECT_TRUE(has(r.out,
                  "box \"First time user?\" \"Select your user file.\\nAnd a contacts file.\\nThen tap OK\\nIf you're new to "
                  "Namefind,\\nplay with demo.tsv first.\\n(see namefind.pdf on PC)\" -> OK\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "list options.user 1 \"tester.usr\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "list options.contacts 2 \"demo.tsv\" \"outlook.tsv\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "dialog options closed\n")) << r.out;
  EXPECT_FALSE(nftest::exists(dir.file("namefind.cfg")));   // cancelled: nothing written
}

TEST(NamefindProgram, DialingDefaultsThroughTheDialogs) {
  DataDir dir("e2e-dialing");
  nftest::writeFile(dir.file("script.txt"),
                    "tap options\ntap noNag\ntap moreOptions\ntap radio1\ntap radio1\ntype pruneThresh 300\n"
                    "type alarm 20 min\nselect localPrefix 2\ntap ok\ntap cancel\ndone\n");
  Outcome r = run(environment(dir, "") + " " + program("namefind") + " --script '" + dir.file("script.txt") +
              "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "dialog dialing shown\ntext dialing.prefix1 \"1\"\ntext dialing.prefix2 \"011\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "check dialing.radio1 1\ncheck dialing.radio2 0\n")) << r.out;
  EXPECT_TRUE(has(r.out, "script 5 tap radio1\ncheck dialing.radio1 0\n")) << r.out;
  EXPECT_TRUE(has(r.out, "check options.noNag 1\n")) << r.out;
  // Cancel leaves Options, but the check box and Dialing Defaults wrote their fields at once.
  const std::string cfg = nftest::readFile(dir.file("namefind.cfg"));
  EXPECT_EQ(cfg, "u:tester.usr\nt:demo.tsv\nn:1\nl:20\np1:1\np2:011\npd:0\nac:\nacp:1\npt:300\n");
}

TEST(NamefindProgram, EnrollIsStartedFromTheProgramFolder) {
  DataDir dir("e2e-enroll");
  // A copy of namefind in a folder of its own, first without enroll beside it, then with a
  // stand-in that leaves a mark.
  const std::string bin = dir.file("bin");
  mkdir(bin.c_str(), 0700);
  nftest::copyFile(vlmtest::binDir() + "/namefind", bin + "/namefind");
  chmod((bin + "/namefind").c_str(), 0755);
  nftest::writeFile(dir.file("script.txt"), "tap options\ntap enroll\n");
  const std::string command = environment(dir, "") + " VLM_BOX_ANSWERS=ok '" + bin + "/namefind' --script '" +
                              dir.file("script.txt") + "' 2>/dev/null";
  Outcome missing = run(command);
  EXPECT_EQ(missing.status, 0) << missing.out;
  EXPECT_TRUE(has(missing.out, "dialog options closed\ndialog main closed\n")) << missing.out;
  EXPECT_TRUE(has(missing.out, "box \"restart manually...\" \"Create Process failed!!!\" -> OK\nexit 0\n")) << missing.out;

  nftest::writeFile(bin + "/enroll", "#!/bin/sh\ntouch '" + dir.file("enroll-ran") + "'\n");
  chmod((bin + "/enroll").c_str(), 0755);
  Outcome started = run(command);
  EXPECT_EQ(started.status, 0) << started.out;
  EXPECT_FALSE(has(started.out, "box ")) << started.out;
  for (int i = 0; i < 500 && !nftest::exists(dir.file("enroll-ran")); i++) usleep(10000);
  EXPECT_TRUE(nftest::exists(dir.file("enroll-ran")));
}

TEST(NamefindProgram, ChangedFilesRestartTheProgram) {
  DataDir dir("e2e-restart");
  nftest::copyFile(dir.file("tester.usr"), dir.file("b.usr"));
  const std::string bin = dir.file("bin");
  mkdir(bin.c_str(), 0700);
  nftest::copyFile(vlmtest::binDir() + "/namefind", bin + "/namefind");
  chmod((bin + "/namefind").c_str(), 0755);
  nftest::writeFile(dir.file("script.txt"), "tap options\nselect user b.usr\ntap ok\n");
  // The output goes to a file: the restarted copy inherits it and outlives this run.
  const int status = std::system((environment(dir, "") + " '" + bin + "/namefind' --script '" + dir.file("script.txt") +
                                  "' > '" + dir.file("first.txt") + "' 2>/dev/null")
                                     .c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string out = nftest::readFile(dir.file("first.txt"));
  EXPECT_TRUE(has(out, "select options.user 1\nscript 3 tap ok\ndialog options closed\ndialog main closed\nexit 0\n")) << out;
  EXPECT_EQ(nftest::readFile(dir.file("namefind.cfg")),
            "u:b.usr\nt:demo.tsv\np1:1\np2:011\npd:0\nac:\nacp:0\nma:1\nmm:1\n");

  // The fresh copy takes the guard; its socket's name carries its process id.
  std::string address;
  for (int i = 0; i < 1000 && address.empty(); i++) {
    const std::string text = nftest::readFile(dir.file("run/vlmHwnd"));
    if (!text.empty() && text.back() == '\n') address = text.substr(0, text.size() - 1);
    else usleep(10000);
  }
  ASSERT_FALSE(address.empty()) << "no restarted namefind";
  const size_t dash = address.rfind("vlm-");
  ASSERT_NE(dash, std::string::npos);
  const pid_t pid = std::atoi(address.c_str() + dash + 4);
  ASSERT_GT(pid, 1);
  char exe[4096] = {0};
  const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
  EXPECT_EQ(std::string(exe, n > 0 ? n : 0), bin + "/namefind");
  // It runs offscreen, so its transcript follows the first one's: it loaded the new files and
  // showed the start-up hint.
  const std::string hint = "box \"Say: 'Namefind...'\"";
  for (int i = 0; i < 1000 && !has(nftest::readFile(dir.file("first.txt")), hint); i++) usleep(10000);
  const std::string both = nftest::readFile(dir.file("first.txt"));
  EXPECT_TRUE(has(both, "exit 0\ndialog main shown\n")) << both;
  EXPECT_TRUE(has(both, hint)) << both;
  EXPECT_FALSE(has(both, "Load Error")) << both;
  kill(pid, SIGTERM);
  for (int i = 0; i < 500 && kill(pid, 0) == 0; i++) usleep(10000);
}

TEST(NamefindProgram, ScriptWithoutADisplayRunsOffscreen) {
  DataDir dir("e2e-nodisplay");
  mkdir(dir.file("run").c_str(), 0700);
  Outcome r = run("printf 'done\\n' | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VELMORA_DIR='" + dir.path +
                  "' XDG_RUNTIME_DIR='" + dir.file("run") + "' " + program("namefind") + " --script - 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "dialog main closed\nexit 0\n")) << r.out;
}

TEST(NamefindProgram, RunsUnderXvfbWithRealWindows) {
  if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
  DataDir dir("e2e-xvfb");
  if (!nftest::speak("call home", dir.file("callhome.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nshot " + dir.file("main.png") + "\ndone\n");
  // A sanitizer build reports a leak of the toolkit's D-Bus connection under X11: not ours.
  const std::string suppressions = " LSAN_OPTIONS=suppressions='" + vlmtest::sourceDir() + "/tests/namefind/lsan.supp'";
  Outcome r = run("xvfb-run -a -s '-screen 0 640x800x24' " + environment(dir, dir.file("callhome.wav"), "xcb") +
                  suppressions + " " +
              program("namefind") + " --script '" + dir.file("script.txt") + "' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "\"call home\"")) << r.out;
  EXPECT_TRUE(nftest::exists(dir.file("main.png")));
}
