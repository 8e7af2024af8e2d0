// The mail and appointment dialogs' logic below their widgets: listening with the dialog's rule
// list through the second pass (DialogSpeech), "train" there with its one-shot warning, contacts
// chosen for "to:", and the appointment's pop-ups (the month calendar, the half-hour list).
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <map>

#include "apps/namefind/actions.h"
#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "audio/utterance.h"
#include "fixture.h"
#include "recordingview.h"
#include "search/result.h"

using namespace vlm;
using nftest::DataDir;

namespace {

using QuietView = nftest::RecordingView;
using nftest::nowMs;


// Listens until an utterance is handled or the microphone stops.
DialogSpeech::Outcome listen(DialogSpeech* speech) {
  if (!speech->toggleMic()) return DialogSpeech::eNothing;
  const long start = nowMs();
  while (speech->micOn() && nowMs() - start < 30000) {
    const DialogSpeech::Outcome o = speech->poll();
    if (o != DialogSpeech::eNothing) return o;
    usleep(2000);
  }
  return DialogSpeech::eNothing;
}

// The file microphone's settings of prepare(), cleared again when the test ends (however it ends),
// so that later tests in the same process hear in real time.
struct MicEnvironment {
  ~MicEnvironment() {
    for (const char* name : {"VELMORA_MIC", "VELMORA_MIC_FAST", "VELMORA_MIC_GAP"}) unsetenv(name);
  }
};

// The shipped contacts, command list and spelling files, and the spoken texts as the microphone.
bool prepare(const DataDir& dir, const std::vector<const char*>& said) {
  const std::string data = vlmtest::sourceDir() + "/data/";
  for (const char* f : {"demo.tsv", "demo.voc", "command.tsv", "command.voc", "abc.voc", "abc.rul"})
    nftest::copyFile(data + f, dir.file(f));
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\ni:1\n");
  std::string mic;
  int n = 0;
  for (const char* text : said) {
    const std::string wav = dir.file("u" + std::to_string(++n) + ".wav");
    if (!nftest::speak(text, wav)) return false;
    mic += (mic.empty() ? "" : ",") + wav;
  }
  setenv("VELMORA_MIC", mic.c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  setenv("VELMORA_MIC_GAP", "1", 1);
  return true;
}

}  // namespace

TEST(NamefindDialogSpeech, HeardThroughTheSecondPassAndTrainedWithTheOneShotWarning) {
  DataDir dir("speech-appointment");
  MicEnvironment micEnvironment;
  if (!prepare(dir, {"tomorrow 3 to 4", "look up marcus tarnowicz"})) GTEST_SKIP() << "espeak-ng is not installed";
  nftest::RecordBoxes record;
  QuietView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  ASSERT_NE(app.grammar(), nullptr);

  DialogSpeech speech(&app, &app.grammar()->appointmentList);
  EXPECT_FALSE(speech.trainEnabled());   // nothing heard yet
  EXPECT_FALSE(speech.train());
  const int utterances = app.state().uttsSinceNag;
  ASSERT_EQ(listen(&speech), DialogSpeech::eHeard);
  EXPECT_EQ(app.state().uttsSinceNag, utterances + 1);
  EXPECT_FALSE(speech.micOn());   // one utterance per tap
  ASSERT_FALSE(speech.phrases().empty());
  EXPECT_EQ(speech.phrases()[0], "tomorrow 3 to 4");
  EXPECT_EQ(speech.selected(), 0);
  EXPECT_EQ(speech.heard.words, (std::vector<std::string>{"tomorrow", "3", "to", "4"}));
  EXPECT_FALSE(speech.heard.nameRule);
  // "to" in its reduced or its full form, both the dictionary's.
  EXPECT_TRUE(speech.spelling == "t@mor0w.THrE.t@.fOr" || speech.spelling == "t@mor0w.THrE.tu.fOr") << speech.spelling;
  // The accepted utterance is the one "train" adapts; the main dialog's result lost it.
  ASSERT_NE(app.lastUtterance(), nullptr);
  EXPECT_FALSE(view.enabled[kIdTrain]);
  EXPECT_FALSE(speech.selectPhrase(static_cast<int>(speech.phrases().size())));
  // A phrase tapped becomes the hypothesis heard (and the one trained).
  const int last = static_cast<int>(speech.phrases().size()) - 1;
  EXPECT_TRUE(speech.selectPhrase(last));
  EXPECT_EQ(speech.selected(), last);
  EXPECT_EQ(speech.heard.text, speech.phrases()[static_cast<size_t>(last)]);
  EXPECT_EQ(app.lastUtterance()->result->selected, last);
  EXPECT_TRUE(speech.selectPhrase(0));

  // "train": the one-shot warning under its own caption, then twice adapted, then disabled.
  app.state().showAdaptWarning = 1;
  EXPECT_TRUE(speech.trainEnabled());
  EXPECT_FALSE(speech.train());
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Train Carefully");
  EXPECT_EQ(nftest::boxes()[0].text.substr(0, 51), "Be sure that the phrase you said is the phrase to b");
  EXPECT_EQ(app.state().showAdaptWarning, 0);
  EXPECT_EQ(app.state().modelsAdapted, 0);
  EXPECT_EQ(speech.trainCaption(), "train");
  const int nag = app.state().nagThreshold;
  EXPECT_TRUE(speech.train());
  EXPECT_EQ(app.state().modelsAdapted, 1);
  EXPECT_EQ(speech.trainCaption(), "trained");
  EXPECT_TRUE(speech.trainEnabled());
  EXPECT_TRUE(speech.train());
  EXPECT_FALSE(speech.trainEnabled());
  EXPECT_FALSE(speech.train());
  EXPECT_EQ(app.state().nagThreshold, nag + 2);
  int adapted = 0;
  for (const std::string& a : view.actions) adapted += a == "adapted 1 incremental";
  EXPECT_EQ(adapted, 2);

  // The mail list: "look up NAME" names the contact; a new utterance is trainable again.
  DialogSpeech mail(&app, &app.grammar()->mailList);
  ASSERT_EQ(listen(&mail), DialogSpeech::eHeard);
  EXPECT_EQ(mail.phrases()[0], "look up marcus tarnowicz");
  EXPECT_TRUE(mail.heard.nameRule);
  ASSERT_GE(mail.heard.contactEntry, 0);
  EXPECT_EQ(entryName(app.contactStore()->entries[static_cast<size_t>(mail.heard.contactEntry)]), "Marcus Tarnowicz");
  EXPECT_EQ(mail.spelling.substr(0, 11), "mork@s.torn");   // the name's spelling, without "look up"
  EXPECT_TRUE(mail.trainEnabled());
  // The appointment's utterance is no longer the last one: it can neither be trained nor chosen.
  EXPECT_FALSE(speech.trainEnabled());
  EXPECT_FALSE(speech.selectPhrase(0));
  // Choosing the mail's contacts puts their addresses into "to:".
  HeldMail held;
  MailLogic logic(&app.state(), &held, "old@example.com", nullptr);
  const Entry& e = app.contactStore()->entries[static_cast<size_t>(mail.heard.contactEntry)];
  const Row* row = &app.contactStore()->rows[static_cast<size_t>(e.row)];
  EXPECT_TRUE(logic.chooseContacts({row, nullptr, row}));
  EXPECT_EQ(logic.to, "m.tarnowicz@example.com");
  EXPECT_EQ(logic.addressChoices, (std::vector<std::string>{"m.tarnowicz@example.com"}));
}

TEST(NamefindMail, ContactsWithoutAddressesLeaveToAsItWas) {
  NamefindState st;
  st.dataDir = "/nonexistent/";
  HeldMail held;
  MailLogic logic(&st, &held, "kept@example.com", nullptr);
  Row none, two;
  none.set(tsvColumnIndex("firstName"), "Ann");
  two.set(tsvColumnIndex("email2"), "b@example.com");
  two.set(tsvColumnIndex("email1"), "a@example.com");
  EXPECT_FALSE(logic.chooseContacts({&none}));
  EXPECT_FALSE(logic.chooseContacts({}));
  EXPECT_EQ(logic.to, "kept@example.com");
  EXPECT_TRUE(logic.addressChoices.empty());
  EXPECT_TRUE(logic.chooseContacts({&none, &two}));
  EXPECT_EQ(logic.addressChoices, (std::vector<std::string>{"a@example.com", "b@example.com"}));
  EXPECT_EQ(logic.to, "a@example.com");
}

// The pop-up lists open on the field's line: the half-hour list on the time filled in (spoken or
// typed), not on its first line.
TEST(NamefindTimes, PopUpListsStandOnTheFieldsLine) {
  const std::vector<std::string> times = halfHourTimes();
  for (int h = 0; h < 24; h++)
    for (int m : {0, 30}) {
      const std::string text = timeText(LocalTime{2026, 12, 10, h, m});
      ASSERT_GE(halfHourIndex(text), 0) << text;
      EXPECT_EQ(times[static_cast<size_t>(halfHourIndex(text))], text);
    }
  struct Case {
    const char* text;
    int index;
  } cases[] = {{"12:00 AM", 0}, {"3:00 PM", 30}, {"3:10 PM", 30}, {"3:45 PM", 31}, {"15:45", 31}, {"0:29", 0},
               {"11:59 PM", 47}, {"12:30 PM", 25}, {"", -1}, {"soon", -1}, {"25:00", -1}, {"13:00 PM", -1}};
  for (const Case& c : cases) EXPECT_EQ(halfHourIndex(c.text), c.index) << c.text;
  EXPECT_EQ(appointmentTypeIndex("lunch"), 2);
  EXPECT_EQ(appointmentTypeIndex("visit"), 8);
  EXPECT_EQ(appointmentTypeIndex("meet"), -1);
  EXPECT_EQ(reminderIndex(" 15 min"), 6);
  EXPECT_EQ(reminderIndex("none"), 0);
  EXPECT_EQ(reminderIndex("20 min"), -1);
}

TEST(NamefindAppointment, PickedDatesAndTimesKeepTheLength) {
  NamefindState st;
  st.dataDir = "/nonexistent/";
  HeldAppointment held;
  const LocalTime today{2026, 12, 10, 9, 20};
  AppointmentLogic a(&st, &held, "meeting", "", today, nullptr);
  // Said "tomorrow 3 to 4": the time list stands on 3:00 PM.
  a.sayTimes({21, 3, 19, 4});
  EXPECT_EQ(halfHourIndex(a.startTime), 30);
  a.pickTime(true, 20);   // 10:00 AM: the hour's length comes along
  EXPECT_EQ(a.startDate + " " + a.startTime + " - " + a.endDate + " " + a.endTime, "11/12/2026 10:00 AM - 11/12/2026 11:00 AM");
  a.pickTime(false, 25);   // the end alone
  EXPECT_EQ(a.startTime + " - " + a.endTime, "10:00 AM - 12:30 PM");
  a.pickDate(true, LocalTime{2026, 12, 31, 0, 0});
  EXPECT_EQ(a.startDate + " " + a.startTime + " - " + a.endDate + " " + a.endTime, "31/12/2026 10:00 AM - 31/12/2026 12:30 PM");
  a.pickTime(true, 46);   // 11:00 PM: the end moves into the new year
  EXPECT_EQ(a.startDate + " " + a.startTime + " - " + a.endDate + " " + a.endTime, "31/12/2026 11:00 PM - 01/01/2027 1:30 AM");
  a.pickDate(false, LocalTime{2027, 1, 2, 0, 0});
  EXPECT_EQ(a.endDate + " " + a.endTime, "02/01/2027 1:30 AM");
  EXPECT_EQ(a.startDate, "31/12/2026");
  // An end that does not parse (or lies before the start) stays as it is.
  a.endTime = "later";
  a.pickTime(true, 18);
  EXPECT_EQ(a.startTime, "9:00 AM");
  EXPECT_EQ(a.endTime, "later");
  a.startDate = "soon";
  EXPECT_EQ(dateText(a.shownDate(true)), "10/12/2026");   // today
  EXPECT_EQ(dateText(a.shownDate(false)), "02/01/2027");
}

TEST(NamefindAppointment, MonthCalendarPagesThroughMonths) {
  MonthCalendar m(LocalTime{2026, 12, 24, 0, 0});
  EXPECT_EQ(m.caption(), "December 2026");
  EXPECT_EQ(m.days(), 31);
  EXPECT_EQ(m.firstWeekday(), 2);   // 1 December 2026 is a Tuesday
  EXPECT_EQ(m.day, 24);
  m.next();
  EXPECT_EQ(m.caption(), "January 2027");
  EXPECT_EQ(m.day, 0);   // the field's day is in another month
  m.previous();
  m.previous();
  EXPECT_EQ(m.caption(), "November 2026");
  EXPECT_EQ(m.days(), 30);
  m.next();
  EXPECT_EQ(m.day, 24);
  const LocalTime chosen = m.choose(5);
  EXPECT_EQ(dateText(chosen), "05/12/2026");
  MonthCalendar leap(LocalTime{2028, 2, 1, 0, 0});
  EXPECT_EQ(leap.days(), 29);
  EXPECT_EQ(leap.firstWeekday(), 2);   // 1 February 2028 is a Tuesday
}
