// namefind.cfg: reader, text and safe writer.
#include "apps/namefind/config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/log.h"
#include "foundation/safefile.h"
#include "search/recognizer.h"

namespace vlm {

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool endsWithNoCase(const std::string& name, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return name.size() >= n && sameName(name.substr(name.size() - n), suffix);
}

int leadingNumber(const std::string& text, bool* digits) {
  long value = 0;
  size_t i = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value < 999999999) value = value * 10 + (text[i] - '0');
    if (value > 999999999) value = 999999999;
    i++;
  }
  if (digits) *digits = i > 0;
  return static_cast<int>(value);
}

int applyPruneThreshold(NamefindState* state, int value) {
  if (value < 100 || value > 400) return 0;
  setWordEndBeam(value - 10);
  setPruneThresh(value);
  state->pruneThreshold = value;
  return 1;
}

namespace {

// A file name as the file stores it: a plain name in the data directory. Anything with a folder
// in it, a control character or no room for ".voc" is not one namefind wrote, and is not used.
bool usableName(const std::string& name) {
  if (name.empty() || name.size() > static_cast<size_t>(kMaxNameChars)) return false;
  if (name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == '/' || c == '\\' || c == 0x7f) return false;
  return true;
}

std::string upTo(const std::string& value, int chars) {
  return value.size() > static_cast<size_t>(chars) ? value.substr(0, chars) : value;
}

int digit0to2(const std::string& value) {
  return !value.empty() && value[0] >= '0' && value[0] <= '2' ? value[0] - '0' : 0;
}

struct Reading {
  NamefindState* state;
  bool serviceCurrent = false;
};

void takeLine(Reading* reading, const std::string& line) {
  NamefindState& s = *reading->state;
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  const std::string key = line.substr(0, colon);
  const std::string value = line.substr(colon + 1);
  if (key == "u") {
    s.userFilePath = usableName(value) ? s.inDataDir(value) : std::string();
  } else if (key == "t") {
    // The vocabulary goes with the contacts file: its last four characters become ".voc".
    if (usableName(value) && value.size() >= 4) {
      s.contactsFilePath = s.inDataDir(value);
      s.contactsVocPath = s.contactsFilePath.substr(0, s.contactsFilePath.size() - 4) + ".voc";
    } else {
      s.contactsFilePath.clear();
      s.contactsVocPath.clear();
    }
  } else if (key == "n") {
    s.nagThreshold = value == "1" ? kNagOff : 1;
  } else if (key == "i") {
    s.ignoreBadProns = value == "1";
  } else if (key == "l") {
    bool digits = false;
    const int minutes = leadingNumber(value, &digits);
    if (digits && minutes <= 600) s.alarmMinutes = minutes;
  } else if (key == "p1") {
    s.prefix1 = upTo(value, kMaxPrefixChars);
  } else if (key == "p2") {
    s.prefix2 = upTo(value, kMaxPrefixChars);
  } else if (key == "pd") {
    s.longDistanceChoice = digit0to2(value);
  } else if (key == "ac") {
    s.localAreaCode = upTo(value, kMaxPrefixChars);
  } else if (key == "acp") {
    s.localAreaChoice = digit0to2(value);
  } else if (key == "d") {
    // The dial dialog turns a value outside 0..2 into 1 when it opens.
    s.dialMode = !value.empty() && value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : 0;
  } else if (key == "e") {
    s.echo = !value.empty() && value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : 0;
  } else if (key == "pt") {
    bool digits = false;
    const int threshold = leadingNumber(value, &digits);
    if (digits) applyPruneThreshold(&s, threshold);
  } else if (key == "ms") {
    s.mailServiceName = upTo(value, kMaxNameChars);
    if (sameName(s.mailServiceName, "ActiveSync")) s.mailServiceName.clear();
  } else if (key == "mi") {
    s.mailServiceId = upTo(value, kMaxNameChars);
  } else if (key == "m1") {
    reading->serviceCurrent = true;
  } else if (key == "ma") {
    s.showAdaptWarning = value == "1";
  } else if (key == "mm") {
    s.showSayHint = value == "1";
  }
}

}  // namespace

int readConfig(const std::string& path, NamefindState* state) {
  const int fd = openRegularFile(path.c_str());   // a FIFO or device is refused, never waited on
  if (fd < 0) return 0;
  Reading reading{state};
  // Lines end in LF, CR or CR LF. Only the first 255 bytes of a line count; the rest of an
  // over-long line is skipped, never read as a line of its own. A NUL byte ends the line's text.
  std::string line;
  bool cut = false;       // the line's text has ended (length or NUL); skip to its end
  bool lastWasCr = false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; i++) {
      const char c = buffer[i];
      if (c == '\n' && lastWasCr) {
        lastWasCr = false;
        continue;
      }
      lastWasCr = c == '\r';
      if (c == '\n' || c == '\r') {
        takeLine(&reading, line);
        line.clear();
        cut = false;
        continue;
      }
      if (cut) continue;
      if (c == 0 || line.size() >= static_cast<size_t>(kConfigLineBytes)) {
        cut = true;
        continue;
      }
      line += c;
    }
  }
  close(fd);
  if (!line.empty()) takeLine(&reading, line);
  state->configuredServiceCurrent = reading.serviceCurrent && !state->mailServiceName.empty();
  return !state->userFilePath.empty() && !state->contactsFilePath.empty() && !state->contactsVocPath.empty();
}

std::string configText(const NamefindState& s) {
  std::string t;
  auto line = [&t](const char* key, const std::string& value) {
    t += key;
    t += value;
    t += "\n";
  };
  line("u:", upTo(baseName(s.userFilePath), kMaxNameChars));
  line("t:", upTo(baseName(s.contactsFilePath), kMaxNameChars));
  if (s.nagThreshold >= kNagOff) line("n:", "1");
  if (s.ignoreBadProns) line("i:", "1");
  if (s.alarmMinutes >= 0 && s.alarmMinutes <= 600) line("l:", std::to_string(s.alarmMinutes));
  line("p1:", upTo(s.prefix1, kMaxPrefixChars));
  line("p2:", upTo(s.prefix2, kMaxPrefixChars));
  line("pd:", std::to_string(s.longDistanceChoice >= 0 && s.longDistanceChoice <= 2 ? s.longDistanceChoice : 0));
  line("ac:", upTo(s.localAreaCode, kMaxPrefixChars));
  line("acp:", std::to_string(s.localAreaChoice >= 0 && s.localAreaChoice <= 2 ? s.localAreaChoice : 0));
  if (s.dialMode != 0) line("d:", std::to_string(s.dialMode >= 0 && s.dialMode <= 9 ? s.dialMode : 1));
  if (!s.echo) line("e:", "0");
  // The threshold is always three digits: only 100..400 is ever accepted.
  if (s.pruneThreshold != kDefaultPruneThreshold) line("pt:", std::to_string(s.pruneThreshold));
  const bool configured = !s.mailServiceName.empty() && !sameName(s.mailServiceName, "ActiveSync");
  if (configured) {
    line("ms:", upTo(s.mailServiceName, kMaxNameChars));
    line("mi:", upTo(s.mailServiceId, kMaxNameChars));
    if (s.configuredServiceCurrent) line("m1:", "");
  }
  if (s.showAdaptWarning) line("ma:", "1");
  if (s.showSayHint) line("mm:", "1");
  return t;
}

int writeConfig(const std::string& path, const NamefindState& state) {
  const std::string text = configText(state);
  // Written through an exclusively created temporary file beside it, synced and renamed over it:
  // a failed or interrupted write leaves the previous configuration whole.
  SafeFile out;
  if (!out.open(path.c_str(), 0644) || !out.write(text.data(), text.size()) || !out.commit()) {
    logError("can't write ", out.reason());
    return 0;
  }
  return 1;
}

}  // namespace vlm
