// namefind's actions run as a program by voice (espeak-ng en-us through the file microphone):
// "call work" dials, "schedule a meeting" then "tomorrow 3 to 4" adds to calendar.ics, "send mail"
// with a voice note puts a message in the Outbox, and "switch to terminal" under Xvfb starts the
// program and then brings its window forward. Also by script: the entry editor's test launch, and
// "find It", "train" and the pop-ups of the mail and appointment dialogs.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <ctime>

#include "apps/namefind/actions.h"
#include "fixture.h"
#include "testpaths.h"
#include "platform/calendar.h"
#include "platform/mailbox.h"

using nftest::DataDir;

namespace {

using vlmtest::Outcome;
using vlmtest::run;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A data directory with the shipped contacts and command list; false when espeak-ng is missing.
// Each text is spoken into its own file; mic holds the file list for VELMORA_MIC.
bool prepare(const DataDir& dir, const std::vector<const char*>& said, std::string* mic) {
  const std::string data = vlmtest::sourceDir() + "/data/";
  for (const char* f : {"demo.tsv", "demo.voc", "command.tsv", "command.voc", "abc.voc", "abc.rul"})
    nftest::copyFile(data + f, dir.file(f));
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\ni:1\n");
  int n = 0;
  for (const char* text : said) {
    const std::string wav = dir.file("u" + std::to_string(++n) + ".wav");
    if (!nftest::speak(text, wav)) return false;
    *mic += (mic->empty() ? "" : ",") + wav;
  }
  mkdir(dir.file("run").c_str(), 0700);
  return true;
}

std::string environment(const DataDir& dir, const std::string& mic, const char* platform = "offscreen") {
  return "env VELMORA_DIR='" + dir.path + "' XDG_RUNTIME_DIR='" + dir.file("run") + "' QT_QPA_PLATFORM=" + platform +
         " VELMORA_SPEAKER=null VELMORA_SPEAKER_FAST=1 VELMORA_MIC='" + mic + "' VELMORA_MIC_GAP=1";
}

std::string namefind(const DataDir& dir) {
  return "'" + vlmtest::binDir() + "/namefind' --script '" + dir.file("script.txt") + "' 2>/dev/null";
}

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> out;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(folder + "/" + e->d_name);
    closedir(d);
  }
  return out;
}

uint32_t le32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

}  // namespace

TEST(NamefindActionsProgram, CallWorkDialsTheDigitsWithPauseAndResume) {
  DataDir dir("e2e-act-dial");
  std::string mic;
  if (!prepare(dir, {"look up marcus tarnowicz", "call work"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
  // Pause during the countdown (the dial dialog opens about a second after the microphone, and
  // counts down for 2.5 s), resume (the countdown starts again at 9), wait for the dialling.
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nsleep 3100\ntap pause\nsleep 300\ntap pause\n"
                                            "wait 30\ndone\n");
  Outcome r = run(environment(dir, mic) + " " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  // The main dialog steps aside while the dial dialog is open.
  EXPECT_TRUE(has(r.out, "action dial \"w\" \"555-555-0142 x12\"\ndialog main hidden\ndialog dial shown\n")) << r.out;
  EXPECT_TRUE(has(r.out, "dialog dial closed\ndialog main shown\n")) << r.out;
  EXPECT_TRUE(has(r.out, "text dial.areaCode \"+ 555\"\n")) << r.out;
  const size_t paused = r.out.find("text dial.pause \"resume\"\n");
  ASSERT_NE(paused, std::string::npos) << r.out;
  // Paused part way (the last count shown before it is below 9).
  const size_t last = r.out.rfind("text dial.title \"countDown w: ", paused);
  ASSERT_NE(last, std::string::npos) << r.out;
  EXPECT_NE(r.out.substr(last, 31), "text dial.title \"countDown w: 9") << r.out;
  const size_t resumed = r.out.find("text dial.pause \"pause\"\ntext dial.title \"countDown w: 9\"\n", paused);
  EXPECT_NE(resumed, std::string::npos) << r.out;
  // No long-distance prefix is configured: the area code and the number, not the extension.
  EXPECT_TRUE(has(r.out, "action dialled \"5555550142\" \"tones\"\ndialog dial closed\n")) << r.out;
}

TEST(NamefindActionsProgram, ScheduleAMeetingTomorrowThreeToFour) {
  DataDir dir("e2e-act-schedule");
  std::string mic;
  if (!prepare(dir, {"schedule a meeting", "tomorrow 3 to 4"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nwait 30\ntap send\ndone\n");
  const time_t now = time(nullptr);
  Outcome r = run(environment(dir, mic) + " " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "action appointment \"\" \"meeting\"\ndialog main hidden\ndialog appointment shown\n"))
      << r.out;
  // The second pass's hypotheses, the first selected, its spelling beside "train".
  EXPECT_TRUE(has(r.out, "list appointment.phrases ")) << r.out;
  // "to" may be heard in its reduced or its full form; both are the dictionary's.
  auto shown = [&](const char* to) {
    return has(r.out, std::string("select appointment.phrases 1\ntext appointment.pron \"t@mor0w.THrE.") + to +
                          ".fOr\"\nenabled appointment.train 1\n");
  };
  EXPECT_TRUE(shown("t@") || shown("tu")) << r.out;
  std::vector<vlm::CalendarEvent> events;
  std::string error;
  ASSERT_TRUE(vlm::readCalendarEvents(dir.file("calendar.ics"), &events, &error)) << error << r.out;
  ASSERT_EQ(events.size(), 1u) << r.out;
  std::tm tomorrow{};
  const time_t next = now + 86400;
  localtime_r(&next, &tomorrow);
  const vlm::CalendarEvent& e = events[0];
  EXPECT_EQ(e.summary, "meet");
  EXPECT_EQ(e.start.year, tomorrow.tm_year + 1900);
  EXPECT_EQ(e.start.month, tomorrow.tm_mon + 1);
  EXPECT_EQ(e.start.day, tomorrow.tm_mday);
  EXPECT_EQ(e.start.hour, 15);
  EXPECT_EQ(e.start.minute, 0);
  EXPECT_EQ(e.end.day, tomorrow.tm_mday);
  EXPECT_EQ(e.end.hour, 16);
  EXPECT_TRUE(has(r.out, "action appointment-added \"meet\"")) << r.out;
}

TEST(NamefindActionsProgram, SendMailWithAVoiceNote) {
  DataDir dir("e2e-act-mail");
  std::string mic;
  if (!prepare(dir, {"look up marcus tarnowicz", "send mail", "this is the voice note for the plans"}, &mic))
    GTEST_SKIP() << "espeak-ng is not installed";
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nwait 30\ntap voiceMail\ntap mic\nsleep 2500\ntap mic\n"
                                            "tap ok\ntype title plans\ntap send\ndone\n");
  Outcome r = run(environment(dir, mic) + " " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "text mail.to \"m.tarnowicz@example.com\"")) << r.out;
  EXPECT_TRUE(has(r.out, "action voice-note-recorded ")) << r.out;
  const std::vector<std::string> messages = filesIn(dir.file("mail/ActiveSync/Outbox/new"));
  ASSERT_EQ(messages.size(), 1u) << r.out;
  EXPECT_TRUE(has(r.out, "action mail-sent \"ActiveSync\" \"" + messages[0] + "\"")) << r.out;
  vlm::ReadMessage m;
  std::string error;
  ASSERT_TRUE(vlm::readMessageFile(messages[0], &m, &error)) << error;
  EXPECT_EQ(m.to, "m.tarnowicz@example.com");
  EXPECT_EQ(m.subject, "plans");
  ASSERT_TRUE(m.hasAttachment);
  EXPECT_EQ(m.attachmentName, "voxMl.wav");
  // The attachment is the recording as written: 8 kHz 8-bit mono, its header for the whole file.
  EXPECT_EQ(m.attachmentData, nftest::readFile(dir.file("voxMl.wav")));
  const std::string& w = m.attachmentData;
  ASSERT_GT(w.size(), 44u + 4000u);   // at least half a second
  EXPECT_EQ(w.substr(0, 4), "RIFF");
  EXPECT_EQ(le32(w, 4), w.size() - 8);
  EXPECT_EQ(le32(w, 24), 8000u);
  EXPECT_EQ(static_cast<int>(w[34]), 8);
  EXPECT_EQ(le32(w, 40), w.size() - 44);
}

TEST(NamefindActionsProgram, SwitchToTerminalStartsItThenBringsItForward) {
  if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
  DataDir dir("e2e-act-switch");
  std::string mic;
  if (!prepare(dir, {"switch to terminal", "switch to terminal"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
  const std::string window = vlmtest::binDir() + "/namefind_test_window";
  nftest::writeFile(dir.file("command.tsv"), "startWord\tendWord\tpath\tclassName\nSwitch To\tTerminal\t" + window +
                                                 "\tVlmTerm\n");
  // The first command starts the program; the second finds its window and brings it forward.
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nsleep 1500\nmic\nwait 30\nsleep 500\ndone\n");
  const std::string suppressions = " LSAN_OPTIONS=suppressions='" + vlmtest::sourceDir() + "/tests/namefind/lsan.supp'";
  Outcome r = run("xvfb-run -a -s '-screen 0 640x800x24' " + environment(dir, mic, "xcb") + suppressions +
                  " VLM_FOCUS_FILE='" + dir.file("focus.txt") + "' VLM_WINDOW_SECONDS=15 " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  const size_t started = r.out.find("action started ");
  ASSERT_NE(started, std::string::npos) << r.out;
  EXPECT_TRUE(has(r.out.substr(started, r.out.find('\n', started) - started), window)) << r.out;
  EXPECT_TRUE(has(r.out.substr(started), "action window-forward \"VlmTerm\" \"0x")) << r.out;
  EXPECT_TRUE(has(nftest::readFile(dir.file("focus.txt")), "focused\n")) << r.out;
}

TEST(NamefindActionsProgram, CellRunsTheDialCommandInThePhoneEditionOnly) {
  for (const char* edition : {"namefind-phone", "namefind"}) {
    DataDir dir("e2e-act-cell");
    std::string mic;
    if (!prepare(dir, {"look up marcus tarnowicz", "call work"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
    nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\ni:1\nd:2\n");
    nftest::writeFile(dir.file("dial.sh"), "#!/bin/sh\nprintf '%s|%s\\n' \"$1\" \"$2\" > \"$(dirname \"$0\")/called.txt\"\n");
    chmod(dir.file("dial.sh").c_str(), 0755);
    nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nwait 30\ndone\n");
    Outcome r = run(environment(dir, mic) + " VELMORA_DIAL_COMMAND='" + dir.file("dial.sh") + " %n %c' '" +
                    vlmtest::binDir() + "/" + edition + "' --script '" + dir.file("script.txt") + "' 2>/dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "check dial.cell 1\n")) << r.out;
    if (std::string(edition) == "namefind-phone") {
      EXPECT_TRUE(has(r.out, "action call \"5555550142\" \"cell\"\n")) << r.out;
      EXPECT_EQ(nftest::readFile(dir.file("called.txt")), "5555550142|Marcus Tarnowicz\n");
    } else {
      EXPECT_TRUE(has(r.out, "box \"Telephone API failure\" \"Phone call service request\\nFailed!\" -> OK\n")) << r.out;
      EXPECT_TRUE(has(r.out, "action call-failed \"5555550142\" \"cell\"\n")) << r.out;
      EXPECT_FALSE(nftest::exists(dir.file("called.txt")));
      // The mode went back to tones, which is the default and is not written.
      EXPECT_FALSE(has(nftest::readFile(dir.file("namefind.cfg")), "\nd:")) << nftest::readFile(dir.file("namefind.cfg"));
    }
  }
}

// The entry editor's "switchTo": the test launch of the row's program. Without a display no window
// can be found, and "Always Launch?" Yes stores "AlwaysLaunchIt"; under Xvfb the new window of the
// program is found and "No" (bring it forward) stores its class and title.
TEST(NamefindActionsProgram, EntryEditorSwitchToTestLaunchesTheProgram) {
  DataDir dir("e2e-act-testlaunch");
  std::string mic;
  ASSERT_TRUE(prepare(dir, {}, &mic));
  const std::string marker = dir.file("started");
  nftest::writeFile(dir.file("prog"), "#!/bin/sh\ntouch '" + marker + "'\n");
  chmod(dir.file("prog").c_str(), 0755);
  nftest::writeFile(dir.file("script.txt"), "tap newEntry\nselect fields endWord\ntype edit Terminal\nselect fields path\n"
                                            "type edit " + dir.file("prog") + "\ntap switchTo\nselect fields className\n"
                                            "tap cancel\ndone\n");
  Outcome r = run("env -u DISPLAY " + environment(dir, mic) + " VLM_BOX_ANSWERS=yes,ok,yes " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "box \"test Launch it?\" \"Terminal is not running!  Voice Namefind must perform a test "
                         "Launch so it can later detect the running app.\\nPress Yes to launch, No to abort.\" -> Yes\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "\" \"" + dir.file("prog") + "\"\n")) << r.out;   // action started "PID" "PROGRAM"
  EXPECT_TRUE(has(r.out, "box \"Always Launch?\" \"Launch Test Failed...")) << r.out;
  EXPECT_TRUE(has(r.out, "action test-launch \"AlwaysLaunchIt\" \"\"\n")) << r.out;
  const size_t shown = r.out.find("script 7 select fields className\n");
  ASSERT_NE(shown, std::string::npos) << r.out;
  EXPECT_TRUE(has(r.out.substr(shown), "text entry.label \"className:\"\ntext entry.edit \"AlwaysLaunchIt\"\n")) << r.out;
  for (int i = 0; i < 200 && !nftest::exists(marker); i++) usleep(10000);
  EXPECT_TRUE(nftest::exists(marker));

  if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
  const std::string window = vlmtest::binDir() + "/namefind_test_window";
  nftest::writeFile(dir.file("script.txt"), "tap newEntry\nselect fields endWord\ntype edit Terminal\nselect fields path\n"
                                            "type edit " + window + "\ntap switchTo\nselect fields titleBar\n"
                                            "tap cancel\ndone\n");
  // -noreset: namefind (offscreen) holds no X connection between its look-ups, and the server
  // must not reset while the program it started is still connecting.
  Outcome x = run("xvfb-run -a -s '-screen 0 640x800x24 -noreset' " + environment(dir, mic) +
                  " VLM_WINDOW_SECONDS=5 VLM_BOX_ANSWERS=yes,ok,no " + namefind(dir));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_TRUE(has(x.out, "box \"Launch Succeeded!\" \"Launch Succeeded!\\nWould you like")) << x.out;
  EXPECT_TRUE(has(x.out, "action test-launch \"VlmTerm\" \"test terminal\"\n")) << x.out;
  EXPECT_TRUE(has(x.out, "text entry.edit \"test terminal\"\n")) << x.out;
}

// The mail dialog hears "look up NAME" through the second pass, trains after the one-shot "Train
// Carefully" warning, and "find It" lists the chosen contact's addresses for "to:".
TEST(NamefindActionsProgram, MailFindItAndTrain) {
  DataDir dir("e2e-act-mailfind");
  std::string mic;
  if (!prepare(dir, {"send mail", "look up marcus tarnowicz"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\ni:1\nma:1\n");
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nwait 30\ntap train\ntap train\ntap find\n"
                                            "type edit castellano\nselect results 1\nselect choices 2\n"
                                            "type title hello\ntap send\ndone\n");
  Outcome r = run(environment(dir, mic) + " VELMORA_MIC_FAST=1 " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "action mail \"\"\ndialog main hidden\ndialog mail shown\n")) << r.out;
  EXPECT_TRUE(has(r.out, "select mail.phrases 1\ntext mail.pron \"mork@s.torn")) << r.out;
  EXPECT_TRUE(has(r.out, "list mail.choices 1 \"m.tarnowicz@example.com\"\ntext mail.to \"m.tarnowicz@example.com\"\n"))
      << r.out;
  // The first tap only warns; the second adapts the mail dialog's utterance.
  const size_t warned = r.out.find("script 5 tap train\nbox \"Train Carefully\" \"Be sure that the phrase you said");
  ASSERT_NE(warned, std::string::npos) << r.out;
  EXPECT_TRUE(has(r.out.substr(warned), "script 6 tap train\naction adapted \"1\" \"incremental\"\n"
                                         "text mail.train \"trained\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "script 7 tap find\ndialog mail hidden\ndialog find shown\n")) << r.out;
  EXPECT_TRUE(has(r.out, "dialog find closed\ndialog mail shown\nlist mail.choices 2 \"elena.castellano@example.com\" "
                         "\"elena@castellano.example.net\"\ntext mail.to \"elena.castellano@example.com\"\n")) << r.out;
  const std::vector<std::string> messages = filesIn(dir.file("mail/ActiveSync/Outbox/new"));
  ASSERT_EQ(messages.size(), 1u) << r.out;
  vlm::ReadMessage m;
  std::string error;
  ASSERT_TRUE(vlm::readMessageFile(messages[0], &m, &error)) << error;
  EXPECT_EQ(m.to, "elena@castellano.example.net");
  EXPECT_EQ(m.subject, "hello");
}

// The appointment dialog's pop-ups: the half-hour list opens on the time said, the month
// calendar on the date said; "find It" fills "who:".
TEST(NamefindActionsProgram, AppointmentPopUpsAndFindIt) {
  DataDir dir("e2e-act-popups");
  std::string mic;
  if (!prepare(dir, {"schedule a lunch", "tomorrow 3 to 4"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nmic\nwait 30\ntap pickStartTime\nselect items 21\n"
                                            "tap pickStartDate\ntap next\ntap day5\ntap pickReminder\nselect items 7\n"
                                            "tap find\ntype edit tarnowicz\nselect results 1\ntap send\ndone\n");
  const time_t now = time(nullptr);
  Outcome r = run(environment(dir, mic) + " VELMORA_MIC_FAST=1 " + namefind(dir));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r.out, "text appointment.startTime \"3:00 PM\"\n")) << r.out;
  // The list stands on the time filled in by voice, not on "12:00 AM".
  EXPECT_TRUE(has(r.out, "script 5 tap pickStartTime\ndialog list shown\nlist list.items 48 \"12:00 AM\"")) << r.out;
  EXPECT_TRUE(has(r.out, "\"11:30 PM\"\nselect list.items 31\n")) << r.out;
  EXPECT_TRUE(has(r.out, "select list.items 21\ndialog list closed\ntext appointment.startTime \"10:00 AM\"\n"
                         "text appointment.endTime \"11:00 AM\"\n")) << r.out;
  std::tm tomorrow{};
  const time_t next = now + 86400;
  localtime_r(&next, &tomorrow);
  static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
  EXPECT_TRUE(has(r.out, "dialog calendar shown\ntext calendar.month \"" + std::string(months[tomorrow.tm_mon]) + " " +
                             std::to_string(tomorrow.tm_year + 1900) + "\"\nselect calendar.day " +
                             std::to_string(tomorrow.tm_mday) + "\n")) << r.out;
  EXPECT_TRUE(has(r.out, "text appointment.reminder \"15 min\"\n")) << r.out;
  EXPECT_TRUE(has(r.out, "text appointment.who \"Marcus Tarnowicz\"\n")) << r.out;
  std::vector<vlm::CalendarEvent> events;
  std::string error;
  ASSERT_TRUE(vlm::readCalendarEvents(dir.file("calendar.ics"), &events, &error)) << error << r.out;
  ASSERT_EQ(events.size(), 1u) << r.out;
  const vlm::CalendarEvent& e = events[0];
  EXPECT_EQ(e.summary, "lunch with Marcus Tarnowicz");
  const int month = tomorrow.tm_mon + 2 > 12 ? 1 : tomorrow.tm_mon + 2;
  EXPECT_EQ(e.start.month, month);
  EXPECT_EQ(e.start.year, tomorrow.tm_year + 1900 + (month == 1 ? 1 : 0));
  EXPECT_EQ(e.start.day, 5);
  EXPECT_EQ(e.start.hour, 10);
  EXPECT_EQ(e.end.day, 5);
  EXPECT_EQ(e.end.hour, 11);
  EXPECT_EQ(e.reminderMinutes, 15);
}

// A second start while the mail dialog is open: the mail dialog takes the activation and listens
// (the main dialog behind it is hidden and does not).
TEST(NamefindActionsProgram, SecondStartTurnsTheMailDialogsMicrophoneOn) {
  DataDir dir("e2e-act-activate");
  std::string mic;
  if (!prepare(dir, {"send mail", "look up marcus tarnowicz"}, &mic)) GTEST_SKIP() << "espeak-ng is not installed";
  nftest::writeFile(dir.file("script.txt"), "mic\nwait 30\nsleep 4000\nwait 30\ntap cancel\ndone\n");
  const std::string env = environment(dir, mic) + " VELMORA_MIC_FAST=1";
  const std::string first = env + " " + namefind(dir) + " > '" + dir.file("first.txt") + "'; echo $? > '" +
                            dir.file("first.status") + "'";
  ASSERT_EQ(std::system(("(" + first + ") &").c_str()), 0);
  for (int i = 0; i < 2000 && !has(nftest::readFile(dir.file("first.txt")), "dialog mail shown\n"); i++) usleep(10000);
  Outcome second = run(env + " '" + vlmtest::binDir() + "/namefind' 2>/dev/null");
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(has(second.out, "action activate-running\nexit 0\n")) << second.out;
  for (int i = 0; i < 6000 && !nftest::exists(dir.file("first.status")); i++) usleep(10000);
  const std::string out = nftest::readFile(dir.file("first.txt"));
  EXPECT_EQ(nftest::readFile(dir.file("first.status")), "0\n") << out;
  const size_t message = out.find("message 2026\n");
  ASSERT_NE(message, std::string::npos) << out;
  EXPECT_TRUE(has(out.substr(message), "text mail.mic \"mic is On\"\n")) << out;
  EXPECT_FALSE(has(out.substr(message), "text main.mic \"mic is On\"\n")) << out;
  EXPECT_TRUE(has(out.substr(message), "text mail.to \"m.tarnowicz@example.com\"\n")) << out;
}
