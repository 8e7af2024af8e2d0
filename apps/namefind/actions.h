// The actions a recognised command starts, without toolkit code: dialling a number (prefixes,
// area codes, the countdown, DTMF tones or recorded digits, a call through the configured dial
// command), mail into the Outbox of the current mail service, voice notes, appointments from a
// spoken date and time into calendar.ics, and switching to a program or its window. The dialogs
// in actiondialogs.cpp copy these fields to widgets and forward taps; tests drive them directly.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apps/namefind/contacts.h"
#include "apps/namefind/state.h"
#include "platform/calendar.h"

namespace vlm {

class WavChannel;
class NamefindApp;
class Utterance;

// An action's report for the transcript ("action NAME ARGS...").
using ActionReport = std::function<void(const std::string& name, const std::vector<std::string>& args)>;

// ---- Dialling ---------------------------------------------------------------------------------

constexpr int kDtmfSamples = 1100;       // computed per tone
constexpr int kDtmfPlayedSamples = 1000; // played (2000 bytes at 11025 Hz, 16 bits)
// The two frequencies of a DTMF character; false for characters without a tone.
bool dtmfFrequencies(char c, int* low, int* high);
// The 1100 samples of a character's tone (empty for characters without one).
std::vector<int16_t> dtmfTone(char c);
// The recorded file of a dial character ("one.wav", "star.wav", "pound.wav"), or null.
const char* digitFileName(char c);

// What the dial dialog does with each character once the countdown has run out.
class DialOutput {
 public:
  virtual ~DialOutput() = default;
  virtual void tone(char c, const std::vector<int16_t>& samples) = 0;   // plays the first 1000
  virtual void file(char c, const std::string& path) = 0;
  // Places a call (the phone edition's dial command). 0 when the call was requested.
  virtual int call(const std::string& contactName, const std::string& digits) = 0;
};

// The audio layer's tones and files; the dial command of $VELMORA_DIAL_COMMAND for calls.
class AudioDialOutput : public DialOutput {
 public:
  explicit AudioDialOutput(WavChannel* channel) : chan(channel) {}
  void tone(char c, const std::vector<int16_t>& samples) override;
  void file(char c, const std::string& path) override;
  int call(const std::string& contactName, const std::string& digits) override;
  // The dial command's arguments: the variable split at blanks, "%n" replaced by the digits and
  // "%c" by the contact's name (each inside one argument: no shell sees them). Empty when unset.
  static std::vector<std::string> dialCommand(const std::string& contactName, const std::string& digits);

 private:
  WavChannel* chan;
};

class DialLogic {
 public:
  static constexpr int kMaxDigits = 15;
  // label: the details line's label ("w"); number: the text after it; contact: the name.
  DialLogic(NamefindState* state, bool phoneEdition, const std::string& label, const std::string& number,
            const std::string& contact, DialOutput* output, ActionReport report);

  // Parsing and composition.
  std::string number, extension, areaCode;   // digits kept
  bool includeArea = false;
  enum Choice { eLongDistance, eLocalArea, eInternational };
  Choice choice = eLongDistance;
  int choiceValue() const;   // 0 none, 1 prefix 1, 2 prefix 2
  // The prefix and area code buttons: "+ 1" (dialled), "- 011" (not); empty when the part is.
  std::string prefixButton(int which) const;
  std::string areaButton() const;
  void tapPrefix(int which);
  void tapArea();
  std::string composed() const;   // what would be dialled now
  void tapMode(int mode);         // 0 tones, 1 voice, 2 cell
  int mode() const { return st->dialMode; }

  // The countdown. title(): "countDown w: 9".
  std::string title() const;
  int countdown = 9;
  bool paused = false;
  static constexpr int kFirstTickMs = 500, kTickMs = 250, kResumeMs = 400, kDialMs = 10;
  // pause/resume ("pause" and "resume" are the button's captions).
  int pauseOrResume();   // returns the next timer interval (0: the timer stops)
  std::string pauseCaption() const { return paused ? "resume" : "pause"; }
  // One timer tick. Returns the next interval in ms, or 0 when the dialog is to close.
  int tick();
  bool dialling() const { return started; }
  const std::string& dialString() const { return dial; }
  // Characters dialled so far (those that made a sound or went to the call).
  std::string dialled;

  static const char* const kCallFailedText;
  static const char* const kCallFailedCaption;
  int internationalChoice = 0;   // the international prefix choice: none at every start

 private:
  void report(const char* what);
  NamefindState* st;
  bool phone;
  std::string label, contact;
  DialOutput* out;
  ActionReport reportAction;
  bool started = false;
  std::string dial;
  size_t position = 0;
};

// ---- Spoken date and time ---------------------------------------------------------------------

// Days in a month (month 1..12) of a year.
int monthLength(int year, int month);
// The weekday of a date (Sunday 0).
int weekdayOf(int year, int month, int day);
// The start and end a spoken date and time give (the words as their time ordinals 1..71; other
// words are 0 and ignored), said on today (its date; the time is not used).
struct SpokenTimes {
  LocalTime start, end;
};
SpokenTimes spokenTimes(const std::vector<int>& ordinals, const LocalTime& today);

// Date and time texts of the appointment fields: "dd/MM/yyyy" and "h:mm AM".
std::string dateText(const LocalTime& t);
std::string timeText(const LocalTime& t);
// Parses them back (a time may also be "15:30"); false when they do not parse.
bool parseDate(const std::string& text, LocalTime* t);
bool parseTime(const std::string& text, LocalTime* t);
// The half-hour list ("12:00 AM" ... "11:30 PM"), the type and the reminder lists.
std::vector<std::string> halfHourTimes();
extern const char* const kAppointmentTypes[9];
extern const char* const kReminderItems[10];
// The line of a pop-up list that a field's text stands on, or -1: the half-hour at or before a
// time ("3:10 PM" stands on "3:00 PM"), a type word, a reminder text.
int halfHourIndex(const std::string& timeText);
int appointmentTypeIndex(const std::string& subject);
int reminderIndex(const std::string& reminder);
// The month calendar that pops up for a date: the month shown, moved by "prev" and "next"; a day
// tapped gives the date.
class MonthCalendar {
 public:
  explicit MonthCalendar(const LocalTime& shown) : year(shown.year), month(shown.month), day(shown.day) {}
  int year, month;
  int day;   // the day marked (the field's date) when the month shown is its month; else 0
  std::string caption() const;   // "December 2026"
  int days() const { return monthLength(year, month); }
  int firstWeekday() const { return weekdayOf(year, month, 1); }   // the column of day 1 (Sunday 0)
  void previous();
  void next();
  LocalTime choose(int d) const { return LocalTime{year, month, d, 0, 0}; }

 private:
  int markedYear = year, markedMonth = month, markedDay = day;
  void mark() { day = year == markedYear && month == markedMonth ? markedDay : 0; }
};
// The saved subject: "ing" removed at the end, " with " and who added when who is not empty.
std::string appointmentSubject(const std::string& subject, const std::string& who);

struct HeldAppointment {
  bool held = false;
  std::string subject, startDate, startTime, endDate, endTime, where, reminder, who, note;
};

class AppointmentLogic {
 public:
  // type: the spoken type word; contact: the current contact's name ("" none); now: the clock.
  AppointmentLogic(NamefindState* state, HeldAppointment* held, const std::string& type, const std::string& contact,
                   const LocalTime& now, ActionReport report);
  std::string subject, startDate, startTime, endDate, endTime, where, reminder, who, note;
  std::string recording() const { return st->inDataDir("voxRm.wav"); }
  // A spoken date and time (time ordinals of the hypothesis's words).
  void sayTimes(const std::vector<int>& ordinals);
  // A date chosen in the month calendar or a half-hour in the time list (index 0..47). A new start
  // takes the end along (the appointment keeps its length) when both parse and the end is not
  // before the start; a new end changes only the end.
  void pickDate(bool start, const LocalTime& date);
  void pickTime(bool start, int halfHour);
  // The date a field shows (today when it does not parse), for the month calendar.
  LocalTime shownDate(bool start) const;
  // Adds the appointment; false after "Error adding appointement to calendar?" ("No Appointment").
  bool add();
  // Done: asks "Add to Calendar?..."; true when the dialog is to close.
  bool done();
  void hold();
  void cancel();
  std::string calendarPath() const { return st->inDataDir("calendar.ics"); }

 private:
  void moveStart(const LocalTime& start);
  NamefindState* st;
  HeldAppointment* keep;
  LocalTime today;
  ActionReport reportAction;
};

// ---- Voice notes ------------------------------------------------------------------------------

// Records into a wave file through the channel: 8 kHz 8-bit mono, appended to what the file holds,
// its header written for the whole file when recording stops.
class VoiceNoteLogic {
 public:
  VoiceNoteLogic(WavChannel* channel, const std::string& path) : chan(channel), file(path) {}
  ~VoiceNoteLogic();
  bool recording() const { return fd >= 0; }
  // The microphone button: starts or stops. False when it could not start, or when the write
  // failed ("Couldn't write .wav file.\nOut of Storage Memory?" shown, the file deleted).
  bool toggle();
  void poll();   // timer 104: moves what was recorded into the file
  bool play();   // stops a recording first; plays synchronously
  void erase();  // stops and deletes the file
  const std::string& path() const { return file; }

 private:
  bool stop();
  WavChannel* chan;
  std::string file;
  int fd = -1;
  bool failed = false;
};

// ---- Mail -------------------------------------------------------------------------------------

struct HeldMail {
  bool held = false;
  std::string to, title, cc, bcc, body;
};

class MailLogic {
 public:
  MailLogic(NamefindState* state, HeldMail* held, const std::string& address, ActionReport report);
  std::string to, title, cc, bcc, body;
  std::string recording() const { return st->inDataDir("voxMl.wav"); }
  bool hasRecording() const;
  bool somethingToSend() const;
  // Builds the message and puts it in the current service's Outbox. On failure shows "Error
  // sending mail..." ("No Mail Sent") and makes "ActiveSync" the current service.
  bool send();
  // Done: asks "Send Email?..."; true when the dialog is to close.
  bool done();
  void hold();
  void cancel();
  std::string mailRoot() const { return st->inDataDir("mail"); }
  std::string lastMessage;   // the file written by the last send
  // Contacts named by "look up NAME" or chosen in "find It": their e-mail addresses become the
  // choices and the first fills "to:". False when they have none ("to:" stays as it was).
  bool chooseContacts(const std::vector<const Row*>& rows);
  std::vector<std::string> addressChoices;

 private:
  NamefindState* st;
  HeldMail* keep;
  ActionReport reportAction;
};

// "Spy on Outlook": finds the mail service of a message with the subject "Namefind" in an Outbox.
// Asks first (OK/Cancel); true when a service was found and configured.
bool spyOnOutbox(NamefindState* state, ActionReport report);

// ---- Switch to --------------------------------------------------------------------------------

// The program and arguments a command-list path starts: a program (no extension, or ".exe"
// mapped to the name without it) runs directly; a document opens with its associated program.
std::vector<std::string> launchCommand(const std::string& path, const std::string& dataDir, std::string* error);
// Switches to a command-list row's program: brings a window of its class forward, else starts it
// and looks for the window; posts wmMsg when set. Reports what it did.
void switchToRow(const Entry& entry, const Row* row, const std::string& dataDir, ActionReport report);

// The test launch of the entry editor: starts the program and finds its new top-level window.
// On success the row's className (or "AlwaysLaunchIt") and titleBar are set. false when the user
// aborted or the launch failed.
bool testLaunch(Row* row, const std::string& dataDir, ActionReport report);

// ---- Listening inside the mail and appointment dialogs ----------------------------------------

// The time-word ordinal (1..71) of a word's text ("1" ... "12", "00", "15", "30", "45", "a.m.",
// "p.m.", "to", "today", "tomorrow", "sunday" ... "saturday", "january" ... "december", "1st" ...
// "31st"); 0 for any other word.
int timeWordOrdinal(const std::string& word);

// The microphone of a dialog that listens with its own rule list (the mail list, the appointment
// list). Each utterance is recognised against that list, then re-scored by the command grammar's
// second pass and confidence test, as in the main dialog. An accepted utterance becomes the last
// utterance (the one "train" adapts); its hypotheses are the dialog's phrases, and the selected
// one (the first, until another is chosen) is what the dialog acts on and trains.
class DialogSpeech {
 public:
  // rules: the rule list (the shell's grammar keeps it).
  DialogSpeech(NamefindApp* app, const std::vector<int>* rules) : shell(app), list(rules) {}
  ~DialogSpeech();
  DialogSpeech(const DialogSpeech&) = delete;
  DialogSpeech& operator=(const DialogSpeech&) = delete;
  bool micOn() const;
  bool toggleMic();   // true when the microphone is on afterwards
  void micOff();
  enum Outcome {
    eNothing,    // no utterance, or the first pass found nothing
    eHeard,      // accepted: phrases, heard and spelling are set
    eRejected,   // the second pass or the confidence test turned it down
    eBroken,     // a second-pass rule could not be made: the program must end
  };
  // Timer 104: recognises a finished utterance of the channel.
  Outcome poll();
  // Recognises one utterance (owned from here on).
  Outcome utterance(Utterance* utt);
  // The accepted utterance's hypotheses as text, and the selected one (-1: none heard).
  const std::vector<std::string>& phrases() const { return phraseTexts; }
  int selected() const { return chosen; }
  // A phrase tapped: it becomes the hypothesis heard and trained. False for an index out of range
  // or when the utterance is no longer the last one.
  bool selectPhrase(int index);
  struct Heard {
    std::string text;                  // the words as text
    std::vector<std::string> words;
    int contactEntry = -1;             // a "look up" hypothesis: the first contact it names
    std::vector<int> contactEntries;   // every contact it names
    bool nameRule = false;
  };
  Heard heard;
  std::string spelling;   // the readable spelling of the selected hypothesis (beside "train")
  // "train": the one-shot "Train Carefully" warning, else the selected hypothesis adapted; the
  // caption moves from "train" to "trained", a further tap disables the button. True when adapted.
  bool train();
  const std::string& trainCaption() const { return trainText; }
  bool trainEnabled() const { return canTrain && accepted(); }

 private:
  bool accepted() const;   // the accepted utterance is still the app's last one
  void hear(int index);
  NamefindApp* shell;
  const std::vector<int>* list;
  Utterance* kept = nullptr;   // the accepted utterance (held by the app's utterance queue)
  std::vector<std::string> phraseTexts;
  int chosen = -1;
  std::string trainText = "train";
  bool canTrain = false;
};

// The e-mail addresses of a contact row ("email1", "email2").
std::vector<std::string> contactAddresses(const Row* row);

// The name and first e-mail address of a contact row.
std::string firstEmail(const Row* row);

}  // namespace vlm
