#define VLM_UNIT "namefind"
// namefind's actions without toolkit code: dialling, spoken dates, appointments, voice notes,
// mail and switching programs.
#include "apps/namefind/actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "audio/channel.h"
#include "audio/wavefile.h"
#include "audio/waveio.h"
#include "foundation/log.h"
#include "platform/audio/audiodevice.h"
#include "platform/mailbox.h"
#include "platform/msgbox.h"
#include "platform/windows.h"

namespace vlm {

namespace {

bool fileExists(const std::string& path) {
  struct stat s{};
  return ::stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

std::string trimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) i++;
  return s.substr(i);
}

// Adds days to a date (any count, across months and years).
LocalTime addDays(LocalTime t, int days) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day + days;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  std::mktime(&tm);
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  return t;
}

long long minutesOf(const LocalTime& t) {
  // Days from a fixed point (proleptic Gregorian) times 1440 plus the time of day.
  int y = t.year, m = t.month;
  if (m <= 2) {
    y--;
    m += 12;
  }
  const long long days = 365LL * y + y / 4 - y / 100 + y / 400 + (153 * (m - 3) + 2) / 5 + t.day;
  return days * 1440 + t.hour * 60 + t.minute;
}

void noReport(const std::string&, const std::vector<std::string>&) {}

// How long the test launch looks for the program's new window after "Finish Test Launch".
constexpr int kTestLaunchWaitMs = 3000;

}  // namespace

// ---- Dialling ---------------------------------------------------------------------------------

bool dtmfFrequencies(char c, int* low, int* high) {
  static const char keys[] = "123456789*0#";
  const char* at = c ? std::strchr(keys, c) : nullptr;
  if (at == nullptr) return false;
  static const int lows[] = {697, 770, 852, 941};
  static const int highs[] = {1209, 1336, 1477};
  const int index = static_cast<int>(at - keys);
  *low = lows[index / 3];
  *high = highs[index % 3];
  return true;
}

std::vector<int16_t> dtmfTone(char c) {
  int low = 0, high = 0;
  if (!dtmfFrequencies(c, &low, &high)) return {};
  std::vector<int16_t> samples(kDtmfSamples);
  const double step = 2.0 * M_PI / 11025.0;
  for (int n = 0; n < kDtmfSamples; n++) {
    const double v = (std::sin(n * step * low) + std::sin(n * step * high)) * 14000.0;
    samples[static_cast<size_t>(n)] = static_cast<int16_t>(static_cast<int>(v));   // truncated
  }
  return samples;
}

const char* digitFileName(char c) {
  static const char* const digits[] = {"zero.wav", "one.wav", "two.wav",   "three.wav", "four.wav",
                                       "five.wav", "six.wav", "seven.wav", "eight.wav", "nine.wav"};
  if (c >= '0' && c <= '9') return digits[c - '0'];
  if (c == '*') return "star.wav";
  if (c == '#') return "pound.wav";
  return nullptr;
}

void AudioDialOutput::tone(char, const std::vector<int16_t>& samples) {
  if (samples.size() < static_cast<size_t>(kDtmfPlayedSamples)) return;
  const unsigned bytes = kDtmfPlayedSamples * 2;
  char* data = new char[bytes];
  std::memcpy(data, samples.data(), bytes);
  waveIoBeep(&kDefaultWaveFormat, data, bytes, kWaveMapper);
}

void AudioDialOutput::file(char, const std::string& path) {
  if (chan != nullptr) chan->beep(path.c_str(), 0);
  else platformPlaySound(path.c_str(), eSndSync);
}

std::vector<std::string> AudioDialOutput::dialCommand(const std::string& contactName, const std::string& digits) {
  const char* command = getenv("VELMORA_DIAL_COMMAND");
  std::vector<std::string> argv;
  if (command == nullptr) return argv;
  std::string word;
  auto flush = [&] {
    if (word.empty()) return;
    std::string arg;
    for (size_t i = 0; i < word.size(); i++) {
      if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == 'n' || word[i + 1] == 'c')) {
        arg += word[i + 1] == 'n' ? digits : contactName;
        i++;
      } else {
        arg += word[i];
      }
    }
    argv.push_back(arg);
    word.clear();
  };
  for (const char* p = command; *p; p++) {
    if (*p == ' ' || *p == '\t') flush();
    else word += *p;
  }
  flush();
  return argv;
}

int AudioDialOutput::call(const std::string& contactName, const std::string& digits) {
  const std::vector<std::string> argv = dialCommand(contactName, digits);
  if (argv.empty()) {
    logError("namefind: no dial command is configured (VELMORA_DIAL_COMMAND)");
    return 1;
  }
  std::string error;
  const int status = runProcess(argv, 15000, &error);
  if (status != 0) logError("namefind: the dial command failed", error.empty() ? argv[0].c_str() : error.c_str());
  return status;
}

const char* const DialLogic::kCallFailedText = "Phone call service request\nFailed!";
const char* const DialLogic::kCallFailedCaption = "Telephone API failure";

DialLogic::DialLogic(NamefindState* state, bool phoneEdition, const std::string& lineLabel, const std::string& text,
                     const std::string& contactName, DialOutput* output, ActionReport report)
    : st(state), phone(phoneEdition), label(lineLabel), contact(contactName), out(output),
      reportAction(report ? report : noReport) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) i++;
  bool inExtension = false;
  for (; i < text.size(); i++) {
    const char c = text[i];
    if (!inExtension && (c == 'x' || c == 'X')) {
      inExtension = true;
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '#' && c != '*') continue;
    std::string& into = inExtension ? extension : number;
    if (static_cast<int>(into.size()) < kMaxDigits) into += c;
  }
  if (number.size() > 9) {
    areaCode = number.substr(0, 3);
    number.erase(0, 3);
    if (areaCode == "011") {
      includeArea = true;
      choice = eInternational;
    } else if (!st->localAreaCode.empty() && areaCode == st->localAreaCode) {
      includeArea = false;
      choice = eLocalArea;
    } else {
      includeArea = true;
    }
  } else {
    // A number without an area code is a number of the local area: its prefix choice applies
    // (the long-distance prefix before seven digits would reach no one).
    choice = eLocalArea;
  }
  if (st->dialMode < 0 || st->dialMode > 2) st->dialMode = 1;
}

int DialLogic::choiceValue() const {
  switch (choice) {
    case eLongDistance: return st->longDistanceChoice;
    case eLocalArea: return st->localAreaChoice;
    case eInternational: return internationalChoice;
  }
  return 0;
}

std::string DialLogic::prefixButton(int which) const {
  const std::string& prefix = which == 1 ? st->prefix1 : st->prefix2;
  if (prefix.empty()) return std::string();
  return (choiceValue() == which ? "+ " : "- ") + prefix;
}

std::string DialLogic::areaButton() const {
  if (areaCode.empty()) return std::string();
  return (includeArea ? "+ " : "- ") + areaCode;
}

void DialLogic::tapPrefix(int which) {
  int& value = choice == eLongDistance ? st->longDistanceChoice
               : choice == eLocalArea  ? st->localAreaChoice
                                       : internationalChoice;
  value = value == which ? 0 : which;
}

void DialLogic::tapArea() { includeArea = !includeArea; }

std::string DialLogic::composed() const {
  std::string s;
  const int which = choiceValue();
  if (which == 1) s += st->prefix1;
  if (which == 2) s += st->prefix2;
  if (includeArea) s += areaCode;
  return s + number;
}

void DialLogic::tapMode(int m) {
  if (m < 0 || m > 2 || m == st->dialMode) return;
  st->dialMode = m;
  st->configChanged = 1;
}

std::string DialLogic::title() const {
  std::string l = label;
  if (!l.empty() && l.back() != ':') l += ':';
  return "countDown " + l + " " + std::to_string(countdown < 0 ? 0 : countdown);
}

int DialLogic::pauseOrResume() {
  if (started) return kDialMs;
  if (!paused) {
    paused = true;
    return 0;
  }
  paused = false;
  countdown = 9;
  return kResumeMs;
}

void DialLogic::report(const char* what) {
  static const char* const modes[] = {"tones", "voice", "cell"};
  reportAction(what, {dial, modes[st->dialMode < 0 || st->dialMode > 2 ? 1 : st->dialMode]});
}

int DialLogic::tick() {
  if (paused) return 0;
  if (!started) {
    countdown--;
    if (countdown > 0) return kTickMs;
    countdown = 0;
    started = true;
    dial = composed();
    position = 0;
    if (st->dialMode == 2) {
      if (phone) {
        const int result = out->call(contact, dial);
        if (result != 0) {
          messageBox(kCallFailedText, kCallFailedCaption, eBoxOk, eIconError, eAnswerOk);
          report("call-failed");
        } else {
          dialled = dial;
          report("call");
        }
      } else {
        // The standard edition cannot place calls: tones from now on.
        messageBox(kCallFailedText, kCallFailedCaption, eBoxOk, eIconError, eAnswerOk);
        st->dialMode = 0;
        st->configChanged = 1;
        reportAction("call-failed", {dial, "cell"});
      }
      return 0;
    }
    return kDialMs;
  }
  if (position >= dial.size()) {
    report("dialled");
    return 0;
  }
  const char c = dial[position++];
  if (st->dialMode == 0) {
    const std::vector<int16_t> samples = dtmfTone(c);
    if (!samples.empty()) {
      out->tone(c, samples);
      dialled += c;
    }
  } else if (const char* name = digitFileName(c)) {
    out->file(c, st->inDataDir(name));
    dialled += c;
  }
  return kDialMs;
}

// ---- Spoken date and time ---------------------------------------------------------------------

int monthLength(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return lengths[month - 1];
}

int weekdayOf(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  std::mktime(&tm);
  return tm.tm_wday;
}

SpokenTimes spokenTimes(const std::vector<int>& ordinals, const LocalTime& today) {
  LocalTime start{today.year, today.month, today.day, 0, 0};
  LocalTime end = start;
  LocalTime* current = &start;
  int am = 0, pm = 0;
  const int weekday = weekdayOf(today.year, today.month, today.day);
  for (int o : ordinals) {
    if (o >= 1 && o <= 12) {
      current->hour = o;
    } else if (o >= 13 && o <= 16) {
      current->minute = o * 15 - 195;
    } else if (o == 17) {
      am++;
    } else if (o == 18) {
      pm++;
      if (current->hour < 12) current->hour += 12;
    } else if (o == 19) {
      am *= 2;
      pm *= 2;
      current = &end;
    } else if (o == 20) {
      current->day = today.day;
    } else if (o == 21) {
      current->day = today.day + 1;
    } else if (o >= 22 && o <= 28) {
      int d = o - 22 - weekday;
      if (d < 1) d += 7;   // the same weekday means next week
      current->day = today.day + d;
    } else if (o >= 29 && o <= 40) {
      current->month = o - 28;
    } else if (o >= 41 && o <= 71) {
      current->day = o - 40;
    }
  }
  // The start's day beyond its month's length moves into the next month.
  if (start.month == 2 && start.year % 4 == 0) {
    if (start.day > 29) {
      start.day -= 29;
      start.month = 3;
    }
  } else {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int length = start.month >= 1 && start.month <= 12 ? lengths[start.month - 1] : 31;
    if (start.day > length) {
      start.day -= length;
      start.month++;
    }
  }
  if (start.month == 13) start.month = 1;
  if (start.month < today.month) start.year++;
  end.year = start.year;
  end.month = start.month;
  end.day = start.day;

  const int code = am + 4 * pm;
  switch (code) {
    case 0:
      if (end.hour >= start.hour) {
        for (LocalTime* t : {&start, &end})
          if (t->hour >= 1 && t->hour <= 6) t->hour += 12;
      }
      if (end.hour < start.hour) end.hour += 12;
      break;
    case 2:
      if (start.hour > end.hour) end.hour += 12;
      break;
    case 4:
      if (start.hour + 12 <= end.hour) start.hour += 12;
      break;
    case 8:
      end.hour += 12;
      // "11 p.m. to 1": the end is in the night after, not the afternoon before.
      if (end.hour < start.hour) end.hour += 12;
      break;
    default: break;
  }
  while (end.hour > 23) {
    end.hour -= 24;
    const LocalTime next = addDays(end, 1);
    end.year = next.year;
    end.month = next.month;
    end.day = next.day;
  }
  return {start, end};
}

std::string dateText(const LocalTime& t) {
  char s[32];
  std::snprintf(s, sizeof s, "%02d/%02d/%04d", t.day, t.month, t.year);
  return s;
}

std::string timeText(const LocalTime& t) {
  char s[32];
  const int h = t.hour % 12 == 0 ? 12 : t.hour % 12;
  std::snprintf(s, sizeof s, "%d:%02d %s", h, t.minute, t.hour < 12 ? "AM" : "PM");
  return s;
}

bool parseDate(const std::string& text, LocalTime* t) {
  int d = 0, m = 0, y = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), " %d/%d/%d %c", &d, &m, &y, &tail) != 3) return false;
  if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1 || d > monthLength(y, m)) return false;
  t->year = y;
  t->month = m;
  t->day = d;
  return true;
}

bool parseTime(const std::string& text, LocalTime* t) {
  int h = 0, m = 0;
  char marker[8] = "";
  char tail = 0;
  const int n = std::sscanf(text.c_str(), " %d:%d %7s %c", &h, &m, marker, &tail);
  if (n < 2 || n > 3 || m < 0 || m > 59) return false;
  if (n == 3) {
    const std::string mk = marker;
    const bool amMark = mk == "AM" || mk == "am" || mk == "a.m.";
    const bool pmMark = mk == "PM" || mk == "pm" || mk == "p.m.";
    if ((!amMark && !pmMark) || h < 1 || h > 12) return false;
    h = h % 12 + (pmMark ? 12 : 0);
  } else if (h < 0 || h > 23) {
    return false;
  }
  t->hour = h;
  t->minute = m;
  return true;
}

std::vector<std::string> halfHourTimes() {
  std::vector<std::string> out;
  for (int i = 0; i < 48; i++) out.push_back(timeText(LocalTime{2000, 1, 1, i / 2, (i % 2) * 30}));
  return out;
}

const char* const kAppointmentTypes[9] = {"meeting", "call", "lunch", "dinner", "breakfast",
                                          "task",    "appointment", "reminder", "visit"};
const char* const kReminderItems[10] = {"none", "0 min", "1 min", "2 min", "5 min",
                                        "10 min", "15 min", "30 min", "45 min", "60 min"};

int halfHourIndex(const std::string& text) {
  LocalTime t;
  if (!parseTime(text, &t)) return -1;
  return t.hour * 2 + (t.minute >= 30 ? 1 : 0);
}

int appointmentTypeIndex(const std::string& subject) {
  for (int i = 0; i < 9; i++)
    if (subject == kAppointmentTypes[i]) return i;
  return -1;
}

int reminderIndex(const std::string& reminder) {
  const std::string r = trimLeft(reminder);
  for (int i = 0; i < 10; i++)
    if (r == kReminderItems[i]) return i;
  return -1;
}

std::string MonthCalendar::caption() const {
  static const char* const names[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};
  return std::string(names[(month - 1) % 12]) + " " + std::to_string(year);
}

void MonthCalendar::previous() {
  if (--month < 1) {
    month = 12;
    year--;
  }
  mark();
}

void MonthCalendar::next() {
  if (++month > 12) {
    month = 1;
    year++;
  }
  mark();
}

std::string appointmentSubject(const std::string& subject, const std::string& who) {
  std::string s = subject;
  if (s.size() >= 3 && s.compare(s.size() - 3, 3, "ing") == 0) s.resize(s.size() - 3);
  if (!who.empty()) s += " with " + who;
  return s;
}

AppointmentLogic::AppointmentLogic(NamefindState* state, HeldAppointment* held, const std::string& type,
                                   const std::string& contact, const LocalTime& now, ActionReport report)
    : st(state), keep(held), today(now), reportAction(report ? report : noReport) {
  reminder = st->alarmMinutes < 0 ? "none" : std::to_string(st->alarmMinutes) + " min";
  if (keep->held) {
    subject = keep->subject;
    startDate = keep->startDate;
    startTime = keep->startTime;
    endDate = keep->endDate;
    endTime = keep->endTime;
    where = keep->where;
    reminder = keep->reminder;
    who = keep->who;
    note = keep->note;
    keep->held = false;
    return;
  }
  ::unlink(recording().c_str());
  subject = type;
  who = contact;
  // Until a time is said: the next full hour, for an hour.
  LocalTime start = now;
  start.minute = 0;
  start.hour = now.hour + 1;
  if (start.hour > 23) {
    start = addDays(start, 1);
    start.hour = 0;
  }
  LocalTime end = start;
  end.hour = start.hour + 1;
  if (end.hour > 23) {
    end = addDays(end, 1);
    end.hour = 0;
  }
  startDate = dateText(start);
  startTime = timeText(start);
  endDate = dateText(end);
  endTime = timeText(end);
}

void AppointmentLogic::sayTimes(const std::vector<int>& ordinals) {
  const SpokenTimes t = spokenTimes(ordinals, today);
  startDate = dateText(t.start);
  startTime = timeText(t.start);
  endDate = dateText(t.end);
  endTime = timeText(t.end);
}

LocalTime AppointmentLogic::shownDate(bool start) const {
  LocalTime t = today;
  if (!parseDate(start ? startDate : endDate, &t)) t = today;
  return t;
}

void AppointmentLogic::moveStart(const LocalTime& to) {
  LocalTime oldStart, oldEnd;
  const bool both = parseDate(startDate, &oldStart) && parseTime(startTime, &oldStart) && parseDate(endDate, &oldEnd) &&
                    parseTime(endTime, &oldEnd);
  startDate = dateText(to);
  startTime = timeText(to);
  if (!both || minutesOf(oldEnd) < minutesOf(oldStart)) return;
  // The end keeps its distance from the start.
  const long long total = to.hour * 60LL + to.minute + (minutesOf(oldEnd) - minutesOf(oldStart));
  LocalTime end = addDays(to, static_cast<int>(total / 1440));
  end.hour = static_cast<int>(total % 1440) / 60;
  end.minute = static_cast<int>(total % 60);
  endDate = dateText(end);
  endTime = timeText(end);
}

void AppointmentLogic::pickDate(bool start, const LocalTime& date) {
  LocalTime t = date;
  if (!parseTime(start ? startTime : endTime, &t)) t.hour = t.minute = 0;
  if (start) moveStart(t);
  else endDate = dateText(t);
}

void AppointmentLogic::pickTime(bool start, int halfHour) {
  if (halfHour < 0 || halfHour > 47) return;
  LocalTime t = shownDate(start);
  t.hour = halfHour / 2;
  t.minute = halfHour % 2 * 30;
  if (start && parseDate(startDate, &t)) moveStart(t);
  else if (start) startTime = timeText(t);
  else endTime = timeText(t);
}

bool AppointmentLogic::add() {
  CalendarEvent e;
  bool ok = parseDate(startDate, &e.start) && parseTime(startTime, &e.start) && parseDate(endDate, &e.end) &&
            parseTime(endTime, &e.end) && !trimLeft(subject).empty() && minutesOf(e.end) >= minutesOf(e.start);
  std::string reason = ok ? "" : "a date or time does not parse, the subject is empty or the end lies before the start";
  if (ok) {
    e.summary = appointmentSubject(subject, who);
    e.location = where;
    e.description = note;
    const std::string r = trimLeft(reminder);
    if (!r.empty() && std::isdigit(static_cast<unsigned char>(r[0]))) {
      e.reminderMinutes = std::atoi(r.c_str());
      if (fileExists(recording())) e.reminderSound = recording();
    }
    std::string uid;
    ok = addCalendarEvent(calendarPath(), e, &uid, &reason);
  }
  if (!ok) {
    logError("namefind: the appointment was not added", reason.c_str());
    reportAction("appointment-failed", {reason});
    messageBox("Error adding appointement to calendar?", "No Appointment", eBoxOk, eIconError, eAnswerOk);
    return false;
  }
  char start[32], end[32];
  std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d", e.start.year, e.start.month, e.start.day, e.start.hour,
                e.start.minute);
  std::snprintf(end, sizeof end, "%04d-%02d-%02d %02d:%02d", e.end.year, e.end.month, e.end.day, e.end.hour, e.end.minute);
  reportAction("appointment-added", {e.summary, start, end, calendarPath()});
  return true;
}

bool AppointmentLogic::done() {
  const int answer =
      messageBox("Add to Calendar?\nYes -- sends and exits\nNo -- exits without sending\nCancel -- doesn't exit",
                 "Unsent Appointement", eBoxYesNoCancel, eIconQuestion, eAnswerYes);
  if (answer == eAnswerCancel) return false;
  if (answer == eAnswerYes) return add();
  return true;
}

void AppointmentLogic::hold() {
  keep->held = true;
  keep->subject = subject;
  keep->startDate = startDate;
  keep->startTime = startTime;
  keep->endDate = endDate;
  keep->endTime = endTime;
  keep->where = where;
  keep->reminder = reminder;
  keep->who = who;
  keep->note = note;
}

void AppointmentLogic::cancel() { keep->held = false; }

// ---- Voice notes ------------------------------------------------------------------------------

VoiceNoteLogic::~VoiceNoteLogic() {
  if (recording()) stop();
}

bool VoiceNoteLogic::toggle() {
  if (recording()) return stop();
  if (chan == nullptr) return false;
  fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    logError("namefind: cannot open the recording", file.c_str());
    return false;
  }
  // A recording continues the file; one that is not a recording of this format starts afresh.
  unsigned char header[kRiffHeaderBytes] = {0};
  const off_t size = ::lseek(fd, 0, SEEK_END);
  bool fresh = size < kRiffHeaderBytes;
  if (!fresh) {
    fresh = ::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
            std::memcmp(header, "RIFF", 4) != 0 || header[22] != 1 || header[34] != 8 ||
            (header[24] | header[25] << 8) != 8000;
  }
  failed = false;
  if (fresh) {
    unsigned char zeros[kRiffHeaderBytes] = {0};
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0 ||
        ::write(fd, zeros, sizeof zeros) != static_cast<ssize_t>(sizeof zeros))
      failed = true;
  }
  if (chan->isListening()) chan->listen(0, nullptr);
  chan->isRawWavAvailableNoSignalProcessing();   // nothing of an earlier listening goes in
  if (!chan->listen(1, &kRecorderWaveFormat)) {
    ::close(fd);
    fd = -1;
    logError("namefind: the microphone could not record", file.c_str());
    return false;
  }
  return true;
}

void VoiceNoteLogic::poll() {
  if (!recording()) return;
  if (chan->isRawWavAvailableNoSignalProcessing()) {
    // The move reports only what it wrote: a write that failed part way leaves its error number.
    errno = 0;
    if (chan->moveRawWavToFile(fd) == 0 || (errno != 0 && errno != EINTR)) failed = true;
  }
}

bool VoiceNoteLogic::stop() {
  poll();
  chan->listen(0, nullptr);
  poll();
  bool ok = !failed && patchRiffHeader(fd, kRiffRecorderFormat) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  fd = -1;
  if (!ok) {
    ::unlink(file.c_str());
    messageBox("Couldn't write .wav file.\nOut of Storage Memory?", "Write Error", eBoxOk, eIconError, eAnswerOk);
    return false;
  }
  return true;
}

bool VoiceNoteLogic::play() {
  if (recording()) stop();
  if (!fileExists(file)) return false;
  return platformPlaySound(file.c_str(), eSndSync) != 0;
}

void VoiceNoteLogic::erase() {
  if (recording()) stop();
  ::unlink(file.c_str());
}

// ---- Mail -------------------------------------------------------------------------------------

MailLogic::MailLogic(NamefindState* state, HeldMail* held, const std::string& address, ActionReport report)
    : st(state), keep(held), reportAction(report ? report : noReport) {
  if (keep->held) {
    to = keep->to;
    title = keep->title;
    cc = keep->cc;
    bcc = keep->bcc;
    body = keep->body;
    keep->held = false;
    return;
  }
  ::unlink(recording().c_str());
  to = address;
}

bool MailLogic::hasRecording() const { return fileExists(recording()); }

bool MailLogic::somethingToSend() const {
  return !splitAddresses(to).empty() || !splitAddresses(cc).empty() || !splitAddresses(bcc).empty();
}

bool MailLogic::send() {
  MailMessage m;
  m.from = st->configuredServiceCurrent ? st->mailServiceId : std::string();
  m.to = to;
  m.cc = cc;
  m.bcc = bcc;
  m.subject = title.empty() && hasRecording() ? "Voice Mail" : title;
  m.body = body;
  if (hasRecording()) {
    m.attachmentPath = recording();
    m.attachmentName = "voxMl.wav";
  }
  std::string text, error, path;
  const std::string service = st->currentServiceName();
  if (composeMessage(m, &text, &error) && putInOutbox(mailRoot(), service, text, &path, &error)) {
    lastMessage = path;
    reportAction("mail-sent", {service, path});
    return true;
  }
  logError("namefind: mail not sent", error.c_str());
  reportAction("mail-failed", {service, error});
  messageBox("Error sending mail...  Bad Service?  Out of memory?  Switching to ActiveSync...", "No Mail Sent", eBoxOk,
             eIconError, eAnswerOk);
  if (st->configuredServiceCurrent) {
    st->configuredServiceCurrent = false;
    st->configChanged = 1;
  }
  return false;
}

bool MailLogic::done() {
  if (!somethingToSend()) return true;
  const int answer =
      messageBox("Send Email?\nYes -- sends and exits\nNo -- exits without sending\nCancel -- doesn't exit",
                 "Unsent Email", eBoxYesNoCancel, eIconQuestion, eAnswerYes);
  if (answer == eAnswerCancel) return false;
  if (answer == eAnswerYes) send();
  return true;
}

void MailLogic::hold() {
  keep->held = true;
  keep->to = to;
  keep->title = title;
  keep->cc = cc;
  keep->bcc = bcc;
  keep->body = body;
}

void MailLogic::cancel() { keep->held = false; }

bool spyOnOutbox(NamefindState* st, ActionReport report) {
  if (!report) report = noReport;
  st->micBlocked = 1;
  bool found = false;
  if (messageBox("Compose a valid email in the PocketPC Inbox using the desired mail service.\nMake the subject: "
                 "Namefind\nWhen the mail is in the OutBox but is not sent, tap OK\n",
                 "Spy on Outlook", eBoxOkCancel, eIconInformation, eAnswerOk) == eAnswerOk) {
    std::string service, id;
    if (findServiceBySubject(st->inDataDir("mail"), "Namefind", &service, &id)) {
      st->mailServiceName = service;
      st->mailServiceId = id;
      st->configChanged = 1;
      found = true;
      report("mail-service", {service, id});
    } else {
      messageBox("Did not find an email (subj: Namefind) with a valid service", "Spying on Outlook", eBoxOk,
                 eIconInformation, eAnswerOk);
    }
  }
  st->micBlocked = 0;
  return found;
}

// ---- Switch to --------------------------------------------------------------------------------

namespace {

std::string rowText(const Row* row, const char* column) {
  const int index = tsvColumnIndex(column);
  return row && index >= 0 ? row->text(index) : std::string();
}

std::string hexId(unsigned long id) {
  char s[32];
  std::snprintf(s, sizeof s, "0x%lx", id);
  return s;
}

}  // namespace

std::vector<std::string> launchCommand(const std::string& pathText, const std::string& dataDir, std::string* error) {
  std::string path = pathText;
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty()) {
    *error = "no program is named";
    return {};
  }
  if (path[0] != '/' && path.find('/') != std::string::npos) path = dataDir + path;
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  std::string extension = hasExtension ? path.substr(dot + 1) : std::string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!hasExtension || extension.size() > 9) return {path};
  if (extension == "exe") {
    // The handheld's program names end in ".exe"; here the program has none.
    if (!fileExists(path) && fileExists(path.substr(0, dot))) return {path.substr(0, dot)};
    return {path};
  }
  return openDocumentCommand(path, error);
}

void switchToRow(const Entry& entry, const Row* row, const std::string& dataDir, ActionReport report) {
  if (!report) report = noReport;
  const std::string path = rowText(row, "path");
  const std::string wmClass = rowText(row, "className");
  const long message = std::atol(rowText(row, "wmMsg").c_str());
  const long wParam = std::atol(rowText(row, "wParam").c_str());
  const long lParam = std::atol(rowText(row, "lParam").c_str());
  report("switch-to", {entry.second, path});
  const bool display = displayReachable();
  if (!display) logError("namefind: no X display; the window is neither looked for nor brought forward", wmClass.c_str());
  TopWindow window;
  std::string error;
  bool found = false;
  if (display && !wmClass.empty() && wmClass != "AlwaysLaunchIt" && findWindowByClass(wmClass, &window, &error)) {
    found = activateTopWindow(window.id, &error);
    if (found) report("window-forward", {window.className, hexId(window.id)});
  }
  if (!found) {
    const std::vector<std::string> argv = launchCommand(path, dataDir, &error);
    const long pid = argv.empty() ? -1 : startProcess(argv, &error);
    if (pid < 0) {
      logError("namefind: Create Process failed", error.c_str());
      report("start-failed", {path, error});
      messageBox("Create Process failed!!!", "Start Manually...", eBoxOk, eIconError, eAnswerOk);
      return;
    }
    std::vector<std::string> started{std::to_string(pid)};
    started.insert(started.end(), argv.begin(), argv.end());
    report("started", started);
    if (!display || wmClass.empty() || wmClass == "AlwaysLaunchIt") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    if (!findWindowByClass(wmClass, &window, &error)) return;
    found = true;
  }
  if (found && message != 0) {
    if (sendWindowMessage(window.id, message, wParam, lParam, &error))
      report("window-message", {hexId(window.id), std::to_string(message), std::to_string(wParam), std::to_string(lParam)});
  }
}

bool testLaunch(Row* row, const std::string& dataDir, ActionReport report) {
  if (!report) report = noReport;
  const std::string name = rowText(row, "endWord");
  const std::string path = rowText(row, "path");
  if (row == nullptr || name.empty() || path.empty()) {
    messageBox("Set a valid switchToName and fileName pair!!! (or exit with abort)", "test Launch it?", eBoxOk,
               eIconWarning, eAnswerOk);
    return false;
  }
  if (messageBox((name + " is not running!  Voice Namefind must perform a test Launch so it can later detect the "
                         "running app.\nPress Yes to launch, No to abort.").c_str(),
                 "test Launch it?", eBoxYesNo, eIconQuestion, eAnswerYes) != eAnswerYes)
    return false;
  std::vector<TopWindow> before, after;
  std::string error;
  const bool display = listTopWindows(&before, &error);
  if (!display) logError("namefind: no X display; the test launch cannot find the program's window");
  const std::vector<std::string> argv = launchCommand(path, dataDir, &error);
  const long pid = argv.empty() ? -1 : startProcess(argv, &error);
  if (pid < 0) {
    logError("namefind: Create Process failed", error.c_str());
    report("start-failed", {path, error});
    messageBox("Create Process failed!!!", "Launch didn't work...", eBoxOk, eIconError, eAnswerOk);
    return false;
  }
  std::vector<std::string> started{std::to_string(pid)};
  started.insert(started.end(), argv.begin(), argv.end());
  report("started", started);
  messageBox("After app has started (don't kill it yet), Press the ok button to finish Launch detection.",
             "Finish Test Launch", eBoxOk, eIconInformation, eAnswerOk);
  // A program that is slow to map its window is given a few seconds after the OK.
  const TopWindow* fresh = nullptr;
  for (int waited = 0; display && fresh == nullptr && waited <= kTestLaunchWaitMs; waited += 100) {
    if (waited > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!listTopWindows(&after, &error)) break;
    for (const TopWindow& w : after) {
      bool old = false;
      for (const TopWindow& b : before) old = old || b.id == w.id;
      if (old || w.className == "FAKEIMEUI" || w.className == "Dialog" || w.className == "menu_worker") continue;
      fresh = &w;
      break;
    }
  }
  const int classColumn = tsvColumnIndex("className");
  const int titleColumn = tsvColumnIndex("titleBar");
  if (fresh == nullptr) {
    if (messageBox("Launch Test Failed...\nThe Apps parent window was not found.\nIf you tap 'Yes' we will always "
                   "launch a new copy of the app.  'No' admits failure...",
                   "Always Launch?", eBoxYesNo, eIconQuestion, eAnswerYes) == eAnswerYes) {
      row->set(classColumn, "AlwaysLaunchIt");
      report("test-launch", {"AlwaysLaunchIt", rowText(row, "titleBar")});
      return true;
    }
    report("test-launch-failed", {path});
    messageBox("Test Launch Failed", "Always Launch?", eBoxOk, eIconWarning, eAnswerOk);
    return false;
  }
  if (messageBox("Launch Succeeded!\nWould you like to always relaunch or just pull the 'found' window to the "
                 "foreground?\nYes -> relaunch\nNo -> foreground",
                 "Launch Succeeded!", eBoxYesNo, eIconQuestion, eAnswerNo) == eAnswerYes) {
    row->set(classColumn, "AlwaysLaunchIt");
  } else {
    row->set(classColumn, fresh->className);
    row->set(titleColumn, fresh->title);
  }
  report("test-launch", {rowText(row, "className"), rowText(row, "titleBar")});
  return true;
}

std::vector<std::string> contactAddresses(const Row* row) {
  std::vector<std::string> out;
  for (const char* column : {"email1", "email2"}) {
    const std::string address = rowText(row, column);
    if (!address.empty()) out.push_back(address);
  }
  return out;
}

bool MailLogic::chooseContacts(const std::vector<const Row*>& rows) {
  std::vector<std::string> found;
  for (const Row* row : rows)
    for (const std::string& a : contactAddresses(row))
      if (std::find(found.begin(), found.end(), a) == found.end()) found.push_back(a);
  if (found.empty()) return false;
  addressChoices = found;
  to = found[0];
  return true;
}

std::string firstEmail(const Row* row) {
  if (row == nullptr) return std::string();
  const std::string e1 = rowText(row, "email1");
  return e1.empty() ? rowText(row, "email2") : e1;
}

}  // namespace vlm

// ---- Listening inside dialogs -----------------------------------------------------------------

#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "audio/frontend.h"
#include "audio/utterance.h"
#include "search/recognizer.h"
#include "search/result.h"

namespace vlm {

int timeWordOrdinal(const std::string& word) {
  static const char* const fixed[] = {"00",       "15",       "30",        "45",     "a.m.",    "p.m.",
                                      "to",       "today",    "tomorrow",  "sunday", "monday",  "tuesday",
                                      "wednesday", "thursday", "friday",   "saturday", "january", "february",
                                      "march",    "april",    "may",       "june",   "july",    "august",
                                      "september", "october", "november",  "december"};
  std::string w = word;
  for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // "1" ... "12" (the hours; "00" is a minute word).
  if (!w.empty() && w.size() <= 2 && std::isdigit(static_cast<unsigned char>(w[0])) &&
      (w.size() == 1 || std::isdigit(static_cast<unsigned char>(w[1]))) && w[0] != '0') {
    const int n = std::atoi(w.c_str());
    if (n >= 1 && n <= 12) return n;
  }
  for (int i = 0; i < static_cast<int>(sizeof fixed / sizeof fixed[0]); i++)
    if (w == fixed[i]) return 13 + i;
  // "1st" ... "31st".
  if (w.size() >= 3 && std::isdigit(static_cast<unsigned char>(w[0]))) {
    const int n = std::atoi(w.c_str());
    const std::string suffix = w.substr(w.find_first_not_of("0123456789"));
    const char* expected = (n % 10 == 1 && n != 11) ? "st" : (n % 10 == 2 && n != 12) ? "nd"
                           : (n % 10 == 3 && n != 13)                                   ? "rd"
                                                                                        : "th";
    if (n >= 1 && n <= 31 && suffix == expected) return 40 + n;
  }
  return 0;
}

DialogSpeech::~DialogSpeech() { micOff(); }

bool DialogSpeech::micOn() const { return shell->channel() && shell->channel()->isListening(); }

bool DialogSpeech::toggleMic() {
  WavChannel* chan = shell->channel();
  if (chan == nullptr || shell->state().micBlocked) return false;
  if (chan->isListening()) {
    chan->listen(0, nullptr);
    return false;
  }
  if (!chan->listen(1, nullptr)) return false;
  chan->topTracker().scaleValue(90);
  chan->bottomTracker().scaleValue(90);
  return true;
}

void DialogSpeech::micOff() {
  if (micOn()) shell->channel()->listen(0, nullptr);
}

DialogSpeech::Outcome DialogSpeech::poll() {
  WavChannel* chan = shell->channel();
  if (chan == nullptr || !chan->isListening()) return eNothing;
  const int available = chan->isUttAvailable();
  if (available == -3) {
    logError("namefind: the microphone's input has ended");
    micOff();
    return eNothing;
  }
  if (available != 1) return eNothing;
  return utterance(chan->takeUtt());
}

DialogSpeech::Outcome DialogSpeech::utterance(Utterance* utt) {
  if (utt == nullptr) return eNothing;
  Recognizer* recog = shell->recognizer();
  CommandGrammar* grammar = shell->grammar();
  hearWhole(utt);
  micOff();   // one utterance per tap
  shell->state().uttsSinceNag++;   // every utterance handed to recognition counts towards the nag
  if (recog == nullptr || grammar == nullptr || list == nullptr || list->empty()) {
    delete utt;
    return eNothing;
  }
  std::vector<int> rules = *list;
  const int found = recog->recognize(utt, rules.data(), static_cast<int>(rules.size()));
  if (found <= 0 || utt->result == nullptr || utt->result->count() == 0) {
    delete utt;
    return eNothing;
  }
  // The same second pass and confidence test as the main dialog's (one threshold for the program).
  utt = grammar->secondPass(recog, utt, shell->state().echo);
  if (grammar->tmpRuleFailed) return eBroken;
  if (utt == nullptr) return eRejected;
  shell->keepUtterance(utt);
  kept = utt;
  phraseTexts.clear();
  char text[80];
  for (int i = 0; i < utt->result->count(); i++) {
    toAscii(*utt->result->at(i), shell->mainWords(), text, sizeof text);
    phraseTexts.push_back(text);
  }
  trainText = "train";
  canTrain = true;
  hear(utt->result->selected >= 0 ? utt->result->selected : 0);
  return eHeard;
}

bool DialogSpeech::accepted() const { return kept != nullptr && shell->lastUtterance() == kept; }

bool DialogSpeech::selectPhrase(int index) {
  if (!accepted() || index < 0 || index >= kept->result->count()) return false;
  kept->result->selected = index;
  hear(index);
  return true;
}

void DialogSpeech::hear(int index) {
  const FSGNodeTypeItemAC& h = *kept->result->at(index);
  chosen = index;
  heard = Heard();
  char text[256];
  toAscii(h, shell->mainWords(), text, sizeof text);
  heard.text = text;
  std::string word;
  for (const char* p = text;; p++) {
    if (*p == ' ' || *p == '\0') {
      if (!word.empty()) heard.words.push_back(word);
      word.clear();
      if (*p == '\0') break;
    } else {
      word += *p;
    }
  }
  spelling = shell->spellingOf(h);
  if (CommandGrammar* g = shell->grammar()) {
    heard.nameRule = CommandGrammar::hypothesisRule(h) == g->nameRule;
    if (heard.nameRule) {
      std::vector<CommandMatch> matches;
      g->findMatches(h, index, &matches);
      for (const CommandMatch& m : matches)
        if (m.contacts) heard.contactEntries.push_back(m.entry);
      if (!heard.contactEntries.empty()) heard.contactEntry = heard.contactEntries[0];
    }
  }
}

bool DialogSpeech::train() {
  if (!trainEnabled()) return false;
  micOff();
  return shell->trainTap("Train Carefully", &trainText, &canTrain) != 0;
}

}  // namespace vlm
