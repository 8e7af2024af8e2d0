// Appointments in an iCalendar file (calendar.ics in the data directory), read and written with
// libical. An appointment is added by reading the whole file, adding one VEVENT and writing the
// file again through a temporary file renamed over it (SafeFile): a failed write, or a file that
// does not parse, leaves the calendar as it was.
#pragma once
#include <string>
#include <vector>

namespace vlm {

// A local date and time (no time zone: the calendar's times are floating, as the handheld's).
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

struct CalendarEvent {
  std::string uid;
  std::string summary;
  std::string location;
  std::string description;
  LocalTime start, end;
  int reminderMinutes = -1;     // -1: no reminder; else minutes before the start
  std::string reminderSound;    // a sound file played by the reminder (empty: a displayed reminder)
};

// Adds event to the calendar file at path (made when missing). True with event's UID; false with
// the reason (the file is then unchanged).
bool addCalendarEvent(const std::string& path, const CalendarEvent& event, std::string* uid, std::string* error);

// The events of the calendar file, in file order. False with the reason.
bool readCalendarEvents(const std::string& path, std::vector<CalendarEvent>* events, std::string* error);

}  // namespace vlm
