// Appointments in calendar.ics through libical.
#include "platform/calendar.h"

#include <libical/ical.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "foundation/safefile.h"

namespace vlm {

namespace {

icaltimetype toIcal(const LocalTime& t) {
  icaltimetype v = icaltime_null_time();
  v.year = t.year;
  v.month = t.month;
  v.day = t.day;
  v.hour = t.hour;
  v.minute = t.minute;
  v.second = 0;
  v.is_date = 0;
  return v;
}

LocalTime fromIcal(const icaltimetype& v) { return LocalTime{v.year, v.month, v.day, v.hour, v.minute}; }

std::string newUid() {
  static std::atomic<unsigned> counter{0};
  char host[128] = "localhost";
  gethostname(host, sizeof host - 1);
  return std::to_string(time(nullptr)) + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter) +
         "@namefind." + host;
}

// Parses a whole calendar; an empty or missing file gives a new one. Null when the text is not a
// calendar (the caller must not overwrite it).
icalcomponent* parseCalendar(const std::string& text, std::string* error) {
  bool blank = true;
  for (char c : text) blank = blank && (c == ' ' || c == '\t' || c == '\r' || c == '\n');
  if (blank) {
    icalcomponent* calendar = icalcomponent_new_vcalendar();
    icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar, icalproperty_new_prodid("-//Velmora//namefind//EN"));
    return calendar;
  }
  icalerror_clear_errno();
  icalcomponent* calendar = icalparser_parse_string(text.c_str());
  if (calendar == nullptr || icalcomponent_isa(calendar) != ICAL_VCALENDAR_COMPONENT) {
    if (calendar) icalcomponent_free(calendar);
    *error = "not an iCalendar file";
    return nullptr;
  }
  return calendar;
}

}  // namespace

bool addCalendarEvent(const std::string& path, const CalendarEvent& e, std::string* uid, std::string* error) {
  std::string text;
  bool missing = false;
  if (!readRegularFile(path, &text, error, &missing)) return false;
  icalcomponent* calendar = parseCalendar(text, error);
  if (calendar == nullptr) {
    *error = path + ": " + *error + "; the appointment was not added";
    return false;
  }
  icalcomponent* event = icalcomponent_new_vevent();
  const std::string id = e.uid.empty() ? newUid() : e.uid;
  icalcomponent_set_uid(event, id.c_str());
  icalcomponent_add_property(event, icalproperty_new_dtstamp(icaltime_current_time_with_zone(icaltimezone_get_utc_timezone())));
  icalcomponent_set_dtstart(event, toIcal(e.start));
  icalcomponent_set_dtend(event, toIcal(e.end));
  icalcomponent_set_summary(event, e.summary.c_str());
  if (!e.location.empty()) icalcomponent_set_location(event, e.location.c_str());
  if (!e.description.empty()) icalcomponent_set_description(event, e.description.c_str());
  if (e.reminderMinutes >= 0) {
    icalcomponent* alarm = icalcomponent_new_valarm();
    icaltriggertype trigger = icaltriggertype_from_int(-60 * e.reminderMinutes);
    icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
    if (!e.reminderSound.empty()) {
      icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_AUDIO));
      icalattach* attach = icalattach_new_from_url(("file://" + e.reminderSound).c_str());
      icalcomponent_add_property(alarm, icalproperty_new_attach(attach));
      icalattach_unref(attach);
    } else {
      icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
      icalcomponent_add_property(alarm, icalproperty_new_description(e.summary.c_str()));
    }
    icalcomponent_add_component(event, alarm);
  }
  icalcomponent_add_component(calendar, event);
  char* out = icalcomponent_as_ical_string_r(calendar);
  icalcomponent_free(calendar);
  if (out == nullptr) {
    *error = "the calendar could not be written";
    return false;
  }
  SafeFile file;
  const bool ok = file.open(path.c_str(), 0600) && file.write(out, std::strlen(out)) && file.commit();
  free(out);
  if (!ok) {
    *error = file.reason();
    return false;
  }
  *uid = id;
  return true;
}

bool readCalendarEvents(const std::string& path, std::vector<CalendarEvent>* events, std::string* error) {
  std::string text;
  bool missing = false;
  events->clear();
  if (!readRegularFile(path, &text, error, &missing)) return false;
  if (missing) return true;
  icalcomponent* calendar = parseCalendar(text, error);
  if (calendar == nullptr) return false;
  for (icalcomponent* c = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
    CalendarEvent e;
    const char* uid = icalcomponent_get_uid(c);
    e.uid = uid ? uid : "";
    const char* summary = icalcomponent_get_summary(c);
    e.summary = summary ? summary : "";
    const char* location = icalcomponent_get_location(c);
    e.location = location ? location : "";
    const char* description = icalcomponent_get_description(c);
    e.description = description ? description : "";
    e.start = fromIcal(icalcomponent_get_dtstart(c));
    e.end = fromIcal(icalcomponent_get_dtend(c));
    if (icalcomponent* alarm = icalcomponent_get_first_component(c, ICAL_VALARM_COMPONENT)) {
      if (icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY)) {
        const icaltriggertype t = icalproperty_get_trigger(trigger);
        e.reminderMinutes = -icaldurationtype_as_int(t.duration) / 60;
      }
      if (icalproperty* attach = icalcomponent_get_first_property(alarm, ICAL_ATTACH_PROPERTY)) {
        icalattach* a = icalproperty_get_attach(attach);
        const char* url = a && icalattach_get_is_url(a) ? icalattach_get_url(a) : nullptr;
        if (url) e.reminderSound = std::strncmp(url, "file://", 7) == 0 ? url + 7 : url;
      }
    }
    events->push_back(e);
  }
  icalcomponent_free(calendar);
  return true;
}

}  // namespace vlm
