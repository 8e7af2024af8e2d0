// namefind's actions without the dialogs: dial strings, the countdown and the tones, spoken dates
// and times, appointments in calendar.ics, mail in the Outbox, the mail service search, and the
// commands that start programs and documents.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cmath>

#include "apps/namefind/actions.h"
#include "apps/namefind/options.h"
#include "fixture.h"
#include "platform/calendar.h"
#include "platform/mailbox.h"
#include "platform/windows.h"

using namespace vlm;
using nftest::DataDir;

namespace {

struct Reported {
  std::vector<std::pair<std::string, std::vector<std::string>>> lines;
  ActionReport fn() {
    return [this](const std::string& n, const std::vector<std::string>& a) { lines.push_back({n, a}); };
  }
  bool has(const std::string& name) const {
    for (auto& l : lines)
      if (l.first == name) return true;
    return false;
  }
  std::vector<std::string> args(const std::string& name) const {
    for (auto& l : lines)
      if (l.first == name) return l.second;
    return {};
  }
};

// Records what the dial dialog plays and calls.
struct FakeOutput : DialOutput {
  std::string tones, files;
  std::vector<std::string> paths;
  int callResult = 0;
  std::string called, calledName;
  void tone(char c, const std::vector<int16_t>& samples) override {
    EXPECT_EQ(samples.size(), static_cast<size_t>(kDtmfSamples));
    tones += c;
  }
  void file(char c, const std::string& path) override {
    files += c;
    paths.push_back(path);
  }
  int call(const std::string& name, const std::string& digits) override {
    calledName = name;
    called = digits;
    return callResult;
  }
};

NamefindState dialState() {
  NamefindState st;
  st.dataDir = "/data/";
  st.prefix1 = "1";
  st.prefix2 = "011";
  st.localAreaCode = "";
  st.longDistanceChoice = 1;
  st.localAreaChoice = 0;
  return st;
}

// Runs the countdown and the dialling to the end; the number of ticks.
int runDial(DialLogic* d) {
  int ticks = 0;
  while (d->tick() > 0 && ++ticks < 1000) {
  }
  return ticks;
}

std::vector<std::string> listFiles(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  return out;
}

std::vector<int> ordinalsOf(const std::string& said) {
  std::vector<int> out;
  std::string w;
  for (size_t i = 0; i <= said.size(); i++) {
    if (i == said.size() || said[i] == ' ') {
      if (!w.empty()) out.push_back(timeWordOrdinal(w));
      w.clear();
    } else {
      w += said[i];
    }
  }
  return out;
}

std::string stamp(const LocalTime& t) {
  char s[32];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
  return s;
}

}  // namespace

// ---- dialling ---------------------------------------------------------------------------------

TEST(NamefindDial, NumbersComposeWithPrefixesAndAreaCodes) {
  struct Case {
    const char* text;
    const char* localArea;
    int localChoice;
    const char* dialled;
    const char* extension;
    const char* areaButton;
  } cases[] = {
      // Area code 555 outside the local area: long-distance prefix 1, the area code, the number.
      {"555-555-0142 x12", "", 0, "15555550142", "12", "+ 555"},
      // 555 as the local area: only the local-area choice (none) and the seven digits.
      {"555-555-0142 x12", "555", 0, "5550142", "12", "- 555"},
      {"555-555-0142 x12", "555", 2, "0115550142", "12", "- 555"},
      // Blanks, brackets and letters are dropped; "#" and "*" are kept.
      {" \t\r\n(212) 555-0199 ext", "", 0, "12125550199", "t", "+ 212"},
      {"*67 212 555 0199", "", 0, "1*672125550199", "", "+ *67"},
      // Seven digits: never an area code, the local number's prefix choice.
      {"555-0199", "", 0, "5550199", "", ""},
      // 011: international, the area code dialled, the international choice (none at start).
      {"011 44 20 7946 0958", "555", 1, "011442079460958", "", "+ 011"},
  };
  for (const Case& c : cases) {
    NamefindState st = dialState();
    st.localAreaCode = c.localArea;
    st.localAreaChoice = c.localChoice;
    FakeOutput out;
    DialLogic d(&st, false, "w", c.text, "Ann Lee", &out, nullptr);
    EXPECT_EQ(d.composed(), c.dialled) << c.text;
    EXPECT_EQ(d.areaButton(), c.areaButton) << c.text;
    if (std::string(c.extension) != "t") {
      EXPECT_EQ(d.extension, c.extension) << c.text;
    }
    runDial(&d);
    EXPECT_EQ(out.tones, c.dialled) << c.text;   // the extension is never dialled
  }
}

TEST(NamefindDial, ButtonsSwitchTheChoiceTheyApplyTo) {
  NamefindState st = dialState();
  FakeOutput out;
  DialLogic d(&st, false, "w", "555-555-0142", "", &out, nullptr);
  EXPECT_EQ(d.prefixButton(1), "+ 1");
  EXPECT_EQ(d.prefixButton(2), "- 011");
  d.tapPrefix(2);   // the configured long-distance choice itself changes, unsaved
  EXPECT_EQ(st.longDistanceChoice, 2);
  EXPECT_EQ(st.configChanged, 0);
  EXPECT_EQ(d.composed(), "0115555550142");
  d.tapPrefix(2);
  EXPECT_EQ(d.composed(), "5555550142");
  d.tapArea();
  EXPECT_EQ(d.composed(), "5550142");
  EXPECT_EQ(d.areaButton(), "- 555");

  // The international choice is its own and starts at none in every dialog.
  DialLogic i(&st, false, "w", "011 44 20 7946 0958", "", &out, nullptr);
  i.tapPrefix(1);
  EXPECT_EQ(i.internationalChoice, 1);
  EXPECT_EQ(i.composed(), "1011442079460958");
  EXPECT_EQ(st.longDistanceChoice, 0);
  DialLogic again(&st, false, "w", "011 44 20 7946 0958", "", &out, nullptr);
  EXPECT_EQ(again.internationalChoice, 0);

  // Radio buttons change the mode and mark the configuration; a bad mode becomes voice.
  d.tapMode(1);
  EXPECT_EQ(st.dialMode, 1);
  EXPECT_EQ(st.configChanged, 1);
  st.dialMode = 7;
  DialLogic bad(&st, false, "w", "5550199", "", &out, nullptr);
  EXPECT_EQ(bad.mode(), 1);
}

TEST(NamefindDial, PauseAtThreeAndResumeRestartsAtNine) {
  NamefindState st = dialState();
  FakeOutput out;
  DialLogic d(&st, false, "w", "555-0199", "", &out, nullptr);
  EXPECT_EQ(d.title(), "countDown w: 9");
  for (int i = 0; i < 6; i++) EXPECT_EQ(d.tick(), DialLogic::kTickMs);
  EXPECT_EQ(d.title(), "countDown w: 3");
  EXPECT_EQ(d.pauseOrResume(), 0);   // the timer stops
  EXPECT_EQ(d.pauseCaption(), "resume");
  EXPECT_EQ(d.tick(), 0);
  EXPECT_EQ(d.countdown, 3);
  EXPECT_EQ(d.pauseOrResume(), DialLogic::kResumeMs);
  EXPECT_EQ(d.pauseCaption(), "pause");
  EXPECT_EQ(d.title(), "countDown w: 9");
  for (int i = 0; i < 8; i++) d.tick();
  EXPECT_FALSE(d.dialling());
  EXPECT_EQ(out.tones, "");
  EXPECT_EQ(d.tick(), DialLogic::kDialMs);   // 0: dialling starts
  EXPECT_TRUE(d.dialling());
  runDial(&d);
  EXPECT_EQ(out.tones, "5550199");
}

TEST(NamefindDial, TonesAreTheDtmfPairs) {
  const char* keys = "123456789*0#";
  const int lows[] = {697, 697, 697, 770, 770, 770, 852, 852, 852, 941, 941, 941};
  const int highs[] = {1209, 1336, 1477, 1209, 1336, 1477, 1209, 1336, 1477, 1209, 1336, 1477};
  for (int i = 0; i < 12; i++) {
    int low = 0, high = 0;
    ASSERT_TRUE(dtmfFrequencies(keys[i], &low, &high));
    EXPECT_EQ(low, lows[i]);
    EXPECT_EQ(high, highs[i]);
  }
  int low, high;
  EXPECT_FALSE(dtmfFrequencies('A', &low, &high));
  EXPECT_TRUE(dtmfTone('-').empty());
  const std::vector<int16_t> five = dtmfTone('5');
  ASSERT_EQ(five.size(), 1100u);
  EXPECT_EQ(five[0], 0);
  for (int n : {1, 17, 500, 1099}) {
    const double v = (std::sin(n * 2 * M_PI * 770 / 11025) + std::sin(n * 2 * M_PI * 1336 / 11025)) * 14000;
    EXPECT_EQ(five[static_cast<size_t>(n)], static_cast<int16_t>(static_cast<int>(v))) << n;
  }
}

TEST(NamefindDial, VoiceModePlaysTheRecordedDigits) {
  NamefindState st = dialState();
  st.dialMode = 1;
  st.longDistanceChoice = 0;
  FakeOutput out;
  DialLogic d(&st, false, "h", "1*0#", "", &out, nullptr);
  runDial(&d);
  EXPECT_EQ(out.files, "1*0#");
  ASSERT_EQ(out.paths.size(), 4u);
  EXPECT_EQ(out.paths[0], "/data/one.wav");
  EXPECT_EQ(out.paths[1], "/data/star.wav");
  EXPECT_EQ(out.paths[2], "/data/zero.wav");
  EXPECT_EQ(out.paths[3], "/data/pound.wav");
}

TEST(NamefindDial, CellCallsInThePhoneEditionOnly) {
  nftest::RecordBoxes boxes;
  {
    NamefindState st = dialState();
    st.dialMode = 2;
    FakeOutput out;
    Reported r;
    DialLogic d(&st, true, "cell", "555-555-0142", "Ann Lee", &out, r.fn());
    runDial(&d);
    EXPECT_EQ(out.called, "15555550142");
    EXPECT_EQ(out.calledName, "Ann Lee");
    EXPECT_TRUE(r.has("call"));
    EXPECT_TRUE(nftest::boxes().empty());
    out.callResult = 1;
    DialLogic refused(&st, true, "cell", "555-555-0142", "Ann Lee", &out, r.fn());
    runDial(&refused);
    ASSERT_EQ(nftest::boxes().size(), 1u);
    EXPECT_EQ(nftest::boxes()[0].text, "Phone call service request\nFailed!");
    EXPECT_EQ(nftest::boxes()[0].caption, "Telephone API failure");
  }
  nftest::boxes().clear();
  NamefindState st = dialState();
  st.dialMode = 2;
  FakeOutput out;
  DialLogic d(&st, false, "cell", "555-555-0142", "Ann Lee", &out, nullptr);
  runDial(&d);
  EXPECT_TRUE(out.called.empty());
  EXPECT_TRUE(out.tones.empty());
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Telephone API failure");
  EXPECT_EQ(st.dialMode, 0);
}

TEST(NamefindDial, DialCommandKeepsEachValueInOneArgument) {
  setenv("VELMORA_DIAL_COMMAND", "mmcli -m any --voice-create-call=number=%n --name=%c", 1);
  const std::vector<std::string> argv = AudioDialOutput::dialCommand("O'Brien; rm -rf x", "15550142");
  unsetenv("VELMORA_DIAL_COMMAND");
  ASSERT_EQ(argv.size(), 5u);
  EXPECT_EQ(argv[3], "--voice-create-call=number=15550142");
  EXPECT_EQ(argv[4], "--name=O'Brien; rm -rf x");
  EXPECT_TRUE(AudioDialOutput::dialCommand("a", "1").empty());
}

// ---- spoken date and time ---------------------------------------------------------------------

TEST(NamefindTimes, SpokenDatesAndTimes) {
  const LocalTime friday{2026, 12, 11, 10, 20};
  ASSERT_EQ(weekdayOf(2026, 12, 11), 5);
  struct Case {
    LocalTime today;
    const char* said;
    const char* start;
    const char* end;
  } cases[] = {
      {friday, "tomorrow 3 to 4", "2026-12-12 15:00", "2026-12-12 16:00"},
      {friday, "monday 9 a.m. to 5", "2026-12-14 09:00", "2026-12-14 17:00"},
      {friday, "11 to 1", "2026-12-11 11:00", "2026-12-11 13:00"},
      {friday, "today 5 to 7", "2026-12-11 17:00", "2026-12-11 19:00"},
      // The same weekday means next week.
      {friday, "friday 2 to 3", "2026-12-18 14:00", "2026-12-18 15:00"},
      // The 31st of April is the 1st of May (and April lies before December: next year).
      {friday, "april 31st 10 to 11", "2027-05-01 10:00", "2027-05-01 11:00"},
      {friday, "2 p.m. to 4 p.m.", "2026-12-11 14:00", "2026-12-11 16:00"},
      {friday, "3 to 4 p.m.", "2026-12-11 15:00", "2026-12-11 16:00"},
      {friday, "9 30 to 10 45", "2026-12-11 09:30", "2026-12-11 10:45"},
      {friday, "1 p.m. to 2", "2026-12-11 13:00", "2026-12-11 14:00"},
      // Past midnight the end moves into the next day (and year).
      {friday, "december 31st 11 p.m. to 1", "2026-12-31 23:00", "2027-01-01 01:00"},
      {LocalTime{2026, 12, 31, 9, 0}, "tomorrow 3 to 4", "2027-01-01 15:00", "2027-01-01 16:00"},
      // February: in a year divisible by 4 the 29th stays, the 30th is March 1st.
      {LocalTime{2028, 2, 10, 9, 0}, "february 29th 10 to 11", "2028-02-29 10:00", "2028-02-29 11:00"},
      {LocalTime{2028, 2, 10, 9, 0}, "february 30th 10 to 11", "2028-03-01 10:00", "2028-03-01 11:00"},
      {LocalTime{2027, 2, 10, 9, 0}, "february 29th 10 to 11", "2027-03-01 10:00", "2027-03-01 11:00"},
      {LocalTime{2027, 2, 26, 9, 0}, "thursday 10 to 11", "2027-03-04 10:00", "2027-03-04 11:00"},
  };
  for (const Case& c : cases) {
    const SpokenTimes t = spokenTimes(ordinalsOf(c.said), c.today);
    EXPECT_EQ(stamp(t.start), c.start) << c.said;
    EXPECT_EQ(stamp(t.end), c.end) << c.said;
  }
}

TEST(NamefindTimes, WordsTextsAndLists) {
  EXPECT_EQ(timeWordOrdinal("1"), 1);
  EXPECT_EQ(timeWordOrdinal("12"), 12);
  EXPECT_EQ(timeWordOrdinal("00"), 13);
  EXPECT_EQ(timeWordOrdinal("45"), 16);
  EXPECT_EQ(timeWordOrdinal("a.m."), 17);
  EXPECT_EQ(timeWordOrdinal("to"), 19);
  EXPECT_EQ(timeWordOrdinal("sunday"), 22);
  EXPECT_EQ(timeWordOrdinal("saturday"), 28);
  EXPECT_EQ(timeWordOrdinal("december"), 40);
  EXPECT_EQ(timeWordOrdinal("1st"), 41);
  EXPECT_EQ(timeWordOrdinal("22nd"), 62);
  EXPECT_EQ(timeWordOrdinal("31st"), 71);
  for (const char* other : {"13", "0", "32nd", "2st", "meeting", ""}) EXPECT_EQ(timeWordOrdinal(other), 0) << other;

  const std::vector<std::string> times = halfHourTimes();
  ASSERT_EQ(times.size(), 48u);
  EXPECT_EQ(times[0], "12:00 AM");
  EXPECT_EQ(times[3], "1:30 AM");
  EXPECT_EQ(times[24], "12:00 PM");
  EXPECT_EQ(times[47], "11:30 PM");
  LocalTime t;
  for (const std::string& s : times) {
    ASSERT_TRUE(parseTime(s, &t)) << s;
    EXPECT_EQ(timeText(t), s);
  }
  EXPECT_TRUE(parseTime("15:30", &t));
  EXPECT_EQ(t.hour, 15);
  for (const char* bad : {"13:00 PM", "9:60", "x", "9", "24:00", "0:00 AM"}) EXPECT_FALSE(parseTime(bad, &t)) << bad;
  EXPECT_TRUE(parseDate("01/05/2027", &t));
  EXPECT_EQ(dateText(t), "01/05/2027");
  for (const char* bad : {"31/04/2027", "29/02/2027", "1/13/2027", "01/05", "01/05/2027x"})
    EXPECT_FALSE(parseDate(bad, &t)) << bad;

  EXPECT_EQ(appointmentSubject("meeting", ""), "meet");
  EXPECT_EQ(appointmentSubject("meeting", "Ann Lee"), "meet with Ann Lee");
  EXPECT_EQ(appointmentSubject("lunch", "Ann Lee"), "lunch with Ann Lee");
}

// ---- appointments -----------------------------------------------------------------------------

TEST(NamefindAppointment, AddsTheEventToCalendarIcs) {
  DataDir dir("actions-appointment");
  NamefindState st;
  st.dataDir = dir.dir();
  st.alarmMinutes = 15;
  HeldAppointment held;
  Reported r;
  const LocalTime friday{2026, 12, 11, 10, 20};
  nftest::writeFile(dir.file("voxRm.wav"), "left over");
  AppointmentLogic a(&st, &held, "meeting", "", friday, r.fn());
  EXPECT_FALSE(nftest::exists(dir.file("voxRm.wav")));   // a new appointment starts without a recording
  EXPECT_EQ(a.reminder, "15 min");
  EXPECT_EQ(a.subject, "meeting");
  a.sayTimes(ordinalsOf("tomorrow 3 to 4"));
  EXPECT_EQ(a.startDate, "12/12/2026");
  EXPECT_EQ(a.startTime, "3:00 PM");
  EXPECT_EQ(a.endTime, "4:00 PM");
  a.where = "Room 4";
  a.note = "bring the plans";
  nftest::writeFile(a.recording(), "RIFF....");
  ASSERT_TRUE(a.add());
  EXPECT_TRUE(r.has("appointment-added"));

  AppointmentLogic b(&st, &held, "lunch", "Ann Lee", friday, nullptr);
  b.reminder = "none";
  ASSERT_TRUE(b.add());

  std::vector<CalendarEvent> events;
  std::string error;
  ASSERT_TRUE(readCalendarEvents(dir.file("calendar.ics"), &events, &error)) << error;
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].summary, "meet");
  EXPECT_EQ(stamp(events[0].start), "2026-12-12 15:00");
  EXPECT_EQ(stamp(events[0].end), "2026-12-12 16:00");
  EXPECT_EQ(events[0].location, "Room 4");
  EXPECT_EQ(events[0].description, "bring the plans");
  EXPECT_EQ(events[0].reminderMinutes, 15);
  EXPECT_EQ(events[0].reminderSound, dir.file("voxRm.wav"));
  EXPECT_EQ(events[1].summary, "lunch with Ann Lee");
  EXPECT_EQ(events[1].reminderMinutes, -1);
  EXPECT_FALSE(events[0].uid.empty());
  EXPECT_NE(events[0].uid, events[1].uid);
}

TEST(NamefindAppointment, RefusedAppointmentsLeaveTheCalendarAsItWas) {
  DataDir dir("actions-appointment-bad");
  NamefindState st;
  st.dataDir = dir.dir();
  HeldAppointment held;
  const LocalTime friday{2026, 12, 11, 10, 20};
  AppointmentLogic good(&st, &held, "call", "", friday, nullptr);
  ASSERT_TRUE(good.add());
  const std::string before = nftest::readFile(dir.file("calendar.ics"));
  ASSERT_FALSE(before.empty());
  nftest::RecordBoxes boxes;
  struct Bad {
    const char* subject;
    const char* startDate;
    const char* startTime;
    const char* endTime;
  } bad[] = {{"meeting", "12/12/2026", "4:00 PM", "3:00 PM"},   // the end before the start
             {"  ", "12/12/2026", "3:00 PM", "4:00 PM"},        // no subject
             {"meeting", "31/04/2027", "3:00 PM", "4:00 PM"},   // no such date
             {"meeting", "12/12/2026", "3 PM", "4:00 PM"}};
  for (const Bad& b : bad) {
    AppointmentLogic a(&st, &held, b.subject, "", friday, nullptr);
    a.startDate = a.endDate = b.startDate;
    a.startTime = b.startTime;
    a.endTime = b.endTime;
    EXPECT_FALSE(a.add()) << b.startTime;
  }
  ASSERT_EQ(nftest::boxes().size(), 4u);
  EXPECT_EQ(nftest::boxes()[0].text, "Error adding appointement to calendar?");
  EXPECT_EQ(nftest::boxes()[0].caption, "No Appointment");
  EXPECT_EQ(nftest::readFile(dir.file("calendar.ics")), before);

  // A write that fails (the disk full) keeps the previous file whole and leaves no temporary.
  {
    nftest::FileSizeLimit limit(before.size() + 16);
    AppointmentLogic a(&st, &held, "dinner", "Someone With A Long Name", friday, nullptr);
    EXPECT_FALSE(a.add());
  }
  EXPECT_EQ(nftest::readFile(dir.file("calendar.ics")), before);
  EXPECT_FALSE(nftest::leftTemporary(dir.path));

  // A calendar that is not iCalendar is never overwritten.
  nftest::writeFile(dir.file("calendar.ics"), "my notes, not a calendar\n");
  AppointmentLogic c(&st, &held, "visit", "", friday, nullptr);
  EXPECT_FALSE(c.add());
  EXPECT_EQ(nftest::readFile(dir.file("calendar.ics")), "my notes, not a calendar\n");
}

TEST(NamefindAppointment, HoldDoneAndCancel) {
  DataDir dir("actions-appointment-hold");
  NamefindState st;
  st.dataDir = dir.dir();
  HeldAppointment held;
  const LocalTime now{2026, 12, 11, 23, 40};
  AppointmentLogic a(&st, &held, "dinner", "Ann Lee", now, nullptr);
  // Without a spoken time: the next full hour (here past midnight), for an hour.
  EXPECT_EQ(a.startDate, "12/12/2026");
  EXPECT_EQ(a.startTime, "12:00 AM");
  EXPECT_EQ(a.endTime, "1:00 AM");
  EXPECT_EQ(a.who, "Ann Lee");
  EXPECT_EQ(a.reminder, "none");
  a.note = "table for two";
  a.hold();
  EXPECT_TRUE(held.held);
  AppointmentLogic back(&st, &held, "meeting", "", now, nullptr);
  EXPECT_EQ(back.subject, "dinner");
  EXPECT_EQ(back.note, "table for two");
  nftest::RecordBoxes boxes;
  nftest::boxAnswers() = {eAnswerCancel, eAnswerNo, eAnswerYes};
  EXPECT_FALSE(back.done());   // Cancel stays
  EXPECT_TRUE(back.done());    // No closes without adding
  EXPECT_FALSE(nftest::exists(dir.file("calendar.ics")));
  EXPECT_TRUE(back.done());    // Yes adds
  EXPECT_EQ(nftest::boxes()[0].caption, "Unsent Appointement");
  std::vector<CalendarEvent> events;
  std::string error;
  ASSERT_TRUE(readCalendarEvents(dir.file("calendar.ics"), &events, &error));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].summary, "dinner with Ann Lee");
}

// ---- mail -------------------------------------------------------------------------------------

TEST(NamefindMail, MessageWithTheVoiceNoteParsesBack) {
  DataDir dir("actions-mail");
  NamefindState st;
  st.dataDir = dir.dir();
  HeldMail held;
  Reported r;
  MailLogic m(&st, &held, "m.tarnowicz@example.com", r.fn());
  std::string wave = "RIFF\x24\x00\x00\x00WAVEfmt ";
  for (int i = 0; i < 3000; i++) wave += static_cast<char>(i * 7);   // binary bytes, NUL included
  nftest::writeFile(m.recording(), wave);
  m.cc = "ann@example.com; bob@example.com";
  m.body = "Call me back, caf\xe9.";   // 8-bit text
  ASSERT_TRUE(m.send());
  const std::string box = dir.file("mail/ActiveSync/Outbox");
  ASSERT_EQ(listFiles(box + "/new").size(), 1u);
  EXPECT_TRUE(listFiles(box + "/tmp").empty());
  EXPECT_EQ(r.args("mail-sent").at(1), m.lastMessage);

  ReadMessage back;
  std::string error;
  ASSERT_TRUE(readMessageFile(m.lastMessage, &back, &error)) << error;
  EXPECT_EQ(back.to, "m.tarnowicz@example.com");
  EXPECT_EQ(back.cc, "ann@example.com, bob@example.com");
  EXPECT_EQ(back.subject, "Voice Mail");   // no title, a recording
  EXPECT_EQ(back.body, "Call me back, caf\xc3\xa9.");
  ASSERT_TRUE(back.hasAttachment);
  EXPECT_EQ(back.attachmentName, "voxMl.wav");
  EXPECT_EQ(back.attachmentData, wave);

  // Python's email package reads the same message and the same attachment.
  if (std::system("command -v python3 >/dev/null 2>&1") == 0) {
    const std::string script =
        "import email,sys\n"
        "m=email.message_from_binary_file(open(sys.argv[1],'rb'))\n"
        "a=[p for p in m.walk() if p.get_filename()][0]\n"
        "sys.exit(0 if m['Subject']=='Voice Mail' and a.get_filename()=='voxMl.wav' and "
        "a.get_payload(decode=True)==open(sys.argv[2],'rb').read() else 1)\n";
    nftest::writeFile(dir.file("check.py"), script);
    EXPECT_EQ(std::system(("python3 '" + dir.file("check.py") + "' '" + m.lastMessage + "' '" + m.recording() + "'").c_str()), 0);
  }
}

TEST(NamefindMail, ConfiguredServiceAndTitle) {
  DataDir dir("actions-mail-service");
  NamefindState st;
  st.dataDir = dir.dir();
  st.mailServiceName = "Work";
  st.mailServiceId = "me@work.example.com";
  st.configuredServiceCurrent = true;
  HeldMail held;
  MailLogic m(&st, &held, "", nullptr);
  EXPECT_FALSE(m.somethingToSend());
  m.to = " , ";
  EXPECT_FALSE(m.somethingToSend());
  m.bcc = "boss@example.com";
  m.title = "Minutes";
  ASSERT_TRUE(m.send());
  EXPECT_EQ(m.lastMessage.find(dir.file("mail/Work/Outbox/new/")), 0u);
  ReadMessage back;
  std::string error;
  ASSERT_TRUE(readMessageFile(m.lastMessage, &back, &error));
  EXPECT_EQ(back.from, "me@work.example.com");
  EXPECT_EQ(back.subject, "Minutes");
  EXPECT_FALSE(back.hasAttachment);
}

TEST(NamefindMail, AFailedSendLeavesTheOutboxAsItWasAndFallsBack) {
  DataDir dir("actions-mail-fail");
  NamefindState st;
  st.dataDir = dir.dir();
  st.mailServiceName = "Work";
  st.mailServiceId = "me@work.example.com";
  st.configuredServiceCurrent = true;
  HeldMail held;
  MailLogic first(&st, &held, "a@example.com", nullptr);
  ASSERT_TRUE(first.send());
  const std::string box = dir.file("mail/Work/Outbox");
  nftest::RecordBoxes boxes;
  {
    MailLogic m(&st, &held, "a@example.com", nullptr);
    m.body = std::string(20000, 'x');
    nftest::FileSizeLimit limit(4096);
    EXPECT_FALSE(m.send());
  }
  EXPECT_EQ(listFiles(box + "/new").size(), 1u);
  EXPECT_TRUE(listFiles(box + "/tmp").empty());
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].text, "Error sending mail...  Bad Service?  Out of memory?  Switching to ActiveSync...");
  EXPECT_EQ(nftest::boxes()[0].caption, "No Mail Sent");
  EXPECT_FALSE(st.configuredServiceCurrent);
  EXPECT_STREQ(st.currentServiceName(), "ActiveSync");
  EXPECT_EQ(st.configChanged, 1);
}

TEST(NamefindMail, HoldRestoresAndDoneAsks) {
  DataDir dir("actions-mail-hold");
  NamefindState st;
  st.dataDir = dir.dir();
  HeldMail held;
  MailLogic m(&st, &held, "a@example.com", nullptr);
  m.title = "Draft";
  nftest::writeFile(m.recording(), "RIFF");
  m.hold();
  MailLogic back(&st, &held, "other@example.com", nullptr);
  EXPECT_EQ(back.to, "a@example.com");
  EXPECT_EQ(back.title, "Draft");
  EXPECT_TRUE(back.hasRecording());   // the held mail keeps its recording
  EXPECT_FALSE(held.held);
  MailLogic fresh(&st, &held, "", nullptr);
  EXPECT_FALSE(fresh.hasRecording());   // a new mail deletes a leftover recording
  nftest::RecordBoxes boxes;
  EXPECT_TRUE(fresh.done());   // nothing to send: no question
  EXPECT_TRUE(nftest::boxes().empty());
  nftest::boxAnswers() = {eAnswerCancel, eAnswerYes};
  EXPECT_FALSE(back.done());
  EXPECT_TRUE(back.done());
  EXPECT_EQ(nftest::boxes()[0].caption, "Unsent Email");
  EXPECT_EQ(listFiles(dir.file("mail/ActiveSync/Outbox/new")).size(), 1u);
}

TEST(NamefindMail, SpyFindsTheServiceOfANamefindMessage) {
  DataDir dir("actions-spy");
  NamefindState st;
  st.dataDir = dir.dir();
  nftest::RecordBoxes boxes;
  EXPECT_FALSE(spyOnOutbox(&st, nullptr));
  ASSERT_EQ(nftest::boxes().size(), 2u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Spy on Outlook");
  EXPECT_EQ(nftest::boxes()[1].text, "Did not find an email (subj: Namefind) with a valid service");
  EXPECT_EQ(nftest::boxes()[1].caption, "Spying on Outlook");
  EXPECT_EQ(st.micBlocked, 0);

  std::string text, error, path;
  MailMessage other;
  other.from = "me@home.example.com";
  other.to = "x@example.com";
  other.subject = "lunch";
  ASSERT_TRUE(composeMessage(other, &text, &error));
  ASSERT_TRUE(putInOutbox(dir.file("mail"), "Home", text, &path, &error));
  MailMessage spied = other;
  spied.from = "me@work.example.com";
  spied.subject = "NAMEFIND";
  ASSERT_TRUE(composeMessage(spied, &text, &error));
  ASSERT_TRUE(putInOutbox(dir.file("mail"), "ActiveSync", text, &path, &error));   // not a service to find
  ASSERT_TRUE(putInOutbox(dir.file("mail"), "Work", text, &path, &error));
  nftest::boxes().clear();
  EXPECT_TRUE(spyOnOutbox(&st, nullptr));
  EXPECT_EQ(st.mailServiceName, "Work");
  EXPECT_EQ(st.mailServiceId, "me@work.example.com");
  EXPECT_EQ(nftest::boxes().size(), 1u);
  DialingLogic dialing(&st, false);   // the Dialing Defaults' list is refilled with it
  dialing.fillServices();
  EXPECT_EQ(dialing.services, (std::vector<std::string>{"Work", "ActiveSync", "add new service"}));
  nftest::boxAnswers() = {eAnswerCancel};
  st.mailServiceName.clear();
  EXPECT_FALSE(spyOnOutbox(&st, nullptr));
  EXPECT_TRUE(st.mailServiceName.empty());
}

TEST(NamefindMail, BadServiceNamesAndRecipients) {
  DataDir dir("actions-mail-bad");
  std::string path, error, text;
  for (const char* bad : {"", "..", "a/b"}) EXPECT_FALSE(putInOutbox(dir.file("mail"), bad, "x", &path, &error)) << bad;
  MailMessage m;
  EXPECT_FALSE(composeMessage(m, &text, &error));
  m.to = "a@example.com";
  m.attachmentPath = dir.file("missing.wav");
  EXPECT_FALSE(composeMessage(m, &text, &error));
  EXPECT_EQ(splitAddresses(" a@x.com,b@y.com;;c@z.com "), (std::vector<std::string>{"a@x.com", "b@y.com", "c@z.com"}));
}

// ---- switch to --------------------------------------------------------------------------------

TEST(NamefindSwitch, ProgramsAndDocumentsGiveTheirCommands) {
  DataDir dir("actions-switch");
  std::string error;
  EXPECT_EQ(launchCommand("/usr/bin/xterm", dir.dir(), &error), std::vector<std::string>{"/usr/bin/xterm"});
  EXPECT_EQ(launchCommand("\\bin\\true.exe", dir.dir(), &error), std::vector<std::string>{"/bin/true"});
  EXPECT_EQ(launchCommand("tools/run", dir.dir(), &error), std::vector<std::string>{dir.dir() + "tools/run"});
  EXPECT_TRUE(launchCommand("", dir.dir(), &error).empty());

  // A document opens with the program the desktop associates with its MIME type.
  mkdir(dir.file("share").c_str(), 0700);
  mkdir(dir.file("share/mime").c_str(), 0700);
  mkdir(dir.file("share/applications").c_str(), 0700);
  nftest::writeFile(dir.file("share/mime/globs2"), "50:application/x-vlm-note:*.vlmnote\n10:text/x-low:*.vlmnote\n");
  nftest::writeFile(dir.file("share/applications/notes.desktop"),
                    "[Desktop Entry]\nName=Notes\nExec=\"note viewer\" --open %f --title=%c\nType=Application\n");
  nftest::writeFile(dir.file("share/applications/mimeapps.list"),
                    "[Default Applications]\napplication/x-vlm-note=missing.desktop;notes.desktop;\n");
  const char* saved = getenv("XDG_DATA_HOME");
  const std::string keep = saved ? saved : "";
  setenv("XDG_DATA_HOME", dir.file("share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  EXPECT_EQ(mimeTypeOfName("/home/x/Plan.VLMNOTE"), "application/x-vlm-note");
  EXPECT_EQ(defaultApplicationFor("application/x-vlm-note"), "notes.desktop");
  EXPECT_EQ(launchCommand("/home/x/plan.vlmnote", dir.dir(), &error),
            (std::vector<std::string>{"note viewer", "--open", "/home/x/plan.vlmnote", "--title=Notes"}));
  EXPECT_TRUE(launchCommand("/home/x/plan.zzq", dir.dir(), &error).empty());
  if (saved) setenv("XDG_DATA_HOME", keep.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
}

TEST(NamefindSwitch, WithoutADisplayTheProgramStartsAndTheWindowStepIsSkipped) {
  DataDir dir("actions-switch-nodisplay");
  const char* display = getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  EXPECT_EQ(displayReachable(), 0);
  std::vector<TopWindow> windows;
  std::string error;
  EXPECT_FALSE(listTopWindows(&windows, &error));
  const std::string marker = dir.file("started");
  nftest::writeFile(dir.file("prog"), "#!/bin/sh\ntouch '" + marker + "'\n");
  chmod(dir.file("prog").c_str(), 0755);
  Row row;
  row.set(tsvColumnIndex("path"), dir.file("prog"));
  row.set(tsvColumnIndex("className"), "VlmTerm");
  Entry e;
  e.first = "Switch To";
  e.second = "Terminal";
  Reported r;
  switchToRow(e, &row, dir.dir(), r.fn());
  EXPECT_TRUE(r.has("switch-to"));
  EXPECT_TRUE(r.has("started"));
  EXPECT_FALSE(r.has("window-forward"));
  for (int i = 0; i < 200 && !nftest::exists(marker); i++) usleep(10000);
  EXPECT_TRUE(nftest::exists(marker));

  nftest::RecordBoxes boxes;
  row.set(tsvColumnIndex("path"), dir.file("missing-program"));
  switchToRow(e, &row, dir.dir(), r.fn());
  EXPECT_TRUE(r.has("start-failed"));
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].text, "Create Process failed!!!");
  EXPECT_EQ(nftest::boxes()[0].caption, "Start Manually...");
  if (display) setenv("DISPLAY", saved.c_str(), 1);
}

TEST(NamefindSwitch, TestLaunchAsksStartsAndStoresTheWindowClass) {
  DataDir dir("actions-testlaunch");
  const char* display = getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");   // no window can be found: the "Always Launch?" question decides
  const std::string marker = dir.file("started");
  nftest::writeFile(dir.file("prog"), "#!/bin/sh\ntouch '" + marker + "'\n");
  chmod(dir.file("prog").c_str(), 0755);
  struct Case {
    const char* name;
    const char* path;               // "" none; "prog" the script above
    std::vector<int> answers;
    bool result;
    bool starts;
    std::vector<std::string> captions;
    const char* className;          // afterwards
  } cases[] = {
      {"Terminal", "", {}, false, false, {"test Launch it?"}, "Old"},
      {"", "prog", {}, false, false, {"test Launch it?"}, "Old"},
      {"Terminal", "prog", {eAnswerNo}, false, false, {"test Launch it?"}, "Old"},
      {"Terminal", "prog", {eAnswerYes, eAnswerOk, eAnswerYes}, true, true,
       {"test Launch it?", "Finish Test Launch", "Always Launch?"}, "AlwaysLaunchIt"},
      {"Terminal", "prog", {eAnswerYes, eAnswerOk, eAnswerNo, eAnswerOk}, false, true,
       {"test Launch it?", "Finish Test Launch", "Always Launch?", "Always Launch?"}, "Old"},
      {"Terminal", "missing-program", {eAnswerYes, eAnswerOk}, false, false, {"test Launch it?", "Launch didn't work..."},
       "Old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.path + " " + std::to_string(c.answers.size()));
    unlink(marker.c_str());
    nftest::RecordBoxes boxes;
    nftest::boxAnswers() = c.answers;
    Row row;
    row.set(tsvColumnIndex("startWord"), "Switch To");
    if (*c.name) row.set(tsvColumnIndex("endWord"), c.name);
    if (*c.path) row.set(tsvColumnIndex("path"), std::string(c.path) == "prog" ? dir.file("prog") : dir.file(c.path));
    row.set(tsvColumnIndex("className"), "Old");
    Reported r;
    EXPECT_EQ(testLaunch(&row, dir.dir(), r.fn()), c.result);
    std::vector<std::string> captions;
    for (const auto& b : nftest::boxes()) captions.push_back(b.caption);
    EXPECT_EQ(captions, c.captions);
    if (!c.captions.empty() && c.captions[0] == "test Launch it?" && c.captions.size() > 1) {
      EXPECT_EQ(nftest::boxes()[0].text, "Terminal is not running!  Voice Namefind must perform a test Launch so it "
                                         "can later detect the running app.\nPress Yes to launch, No to abort.");
    }
    EXPECT_EQ(row.text(tsvColumnIndex("className")), c.className);
    EXPECT_EQ(r.has("started"), c.starts);
    for (int i = 0; i < 200 && c.starts && !nftest::exists(marker); i++) usleep(10000);
    EXPECT_EQ(nftest::exists(marker), c.starts);
    if (c.result) {
      ASSERT_FALSE(r.args("test-launch").empty());
      EXPECT_EQ(r.args("test-launch")[0], "AlwaysLaunchIt");
    }
  }
  if (display) setenv("DISPLAY", saved.c_str(), 1);
}

// ---- voice notes ------------------------------------------------------------------------------

#include "audio/channel.h"

namespace {

uint32_t le32At(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
  return v;
}

// Records for about ms milliseconds (the file microphone delivers as fast as it is read).
bool recordFor(VoiceNoteLogic* note, int ms) {
  if (!note->toggle()) return false;
  for (int t = 0; t < ms; t += 10) {
    note->poll();
    usleep(10000);
  }
  return note->toggle();
}

}  // namespace

TEST(NamefindVoiceNote, RecordingAppendsAndTheHeaderCoversTheWholeFile) {
  DataDir dir("actions-voicenote");
  if (!nftest::speak("this is a voice note", dir.file("note.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  setenv("VELMORA_MIC", dir.file("note.wav").c_str(), 1);
  setenv("VELMORA_SPEAKER", "null", 1);
  {
    LiveWavChannel chan;
    ASSERT_TRUE(chan.open(nullptr));
    VoiceNoteLogic note(&chan, dir.file("voxMl.wav"));
    ASSERT_TRUE(recordFor(&note, 400));
    const std::string first = nftest::readFile(dir.file("voxMl.wav"));
    ASSERT_GT(first.size(), 44u + 800u);
    EXPECT_EQ(first.substr(0, 4), "RIFF");
    EXPECT_EQ(le32At(first, 4), first.size() - 8);
    EXPECT_EQ(le32At(first, 24), 8000u);   // 8000 samples/s
    EXPECT_EQ(le32At(first, 28), 8000u);   // 8000 bytes/s
    EXPECT_EQ(first[32], 1);               // block alignment 1
    EXPECT_EQ(first[34], 8);               // 8 bits
    EXPECT_EQ(le32At(first, 40), first.size() - 44);
    // A second recording continues the file.
    ASSERT_TRUE(recordFor(&note, 400));
    const std::string both = nftest::readFile(dir.file("voxMl.wav"));
    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(both.substr(44, first.size() - 44), first.substr(44));
    EXPECT_EQ(le32At(both, 4), both.size() - 8);
    EXPECT_EQ(le32At(both, 40), both.size() - 44);
    EXPECT_TRUE(note.play());

    // A recording that cannot be written is deleted after the message.
    nftest::RecordBoxes boxes;
    {
      nftest::FileSizeLimit limit(both.size() + 100);
      EXPECT_FALSE(recordFor(&note, 400));
    }
    EXPECT_FALSE(nftest::exists(dir.file("voxMl.wav")));
    ASSERT_EQ(nftest::boxes().size(), 1u);
    EXPECT_EQ(nftest::boxes()[0].text, "Couldn't write .wav file.\nOut of Storage Memory?");
    EXPECT_EQ(nftest::boxes()[0].caption, "Write Error");

    // erase stops and deletes.
    ASSERT_TRUE(note.toggle());
    note.erase();
    EXPECT_FALSE(note.recording());
    EXPECT_FALSE(nftest::exists(dir.file("voxMl.wav")));
    chan.close();
  }
  unsetenv("VELMORA_MIC");
}
