// The enrollment prompt file (data/enrol.txt) as the console tools read it: `record-prompts`
// records a speaker's repetition of every prompt into a folder, and `adapt --enrol` reads the
// same file and finds each repetition in that folder by the same name (docs/adaptation.md,
// "Enrolling from the console").
//
// The file: lines of at most 256 characters (a longer line is skipped and reported); blank lines
// and leading blanks are skipped; "cmd_start_calibrate" and "cmd_end_calibrate" enclose the
// calibration prompts, other lines beginning with "cmd_" are passed over; any other line is a
// prompt: its text, optionally followed by a tab and the file name of its recording (the prompt
// spoken to the user, in the prompt file's folder).
//
// The repetition of a prompt is named after its recording: "tea.wav" for the first prompt that
// names tea.wav, "tea-2.wav", "tea-3.wav", ... for the later ones (the calibration prompt is said
// several times); a prompt without a recording is "prompt-<line number>.wav". Only the last
// part of a recording's name is used, so a repetition is always written inside the folder.
#pragma once
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/safefile.h"

namespace vlmcli {

struct EnrolPrompt {
  std::string text;        // the words to say
  std::string recording;   // the prompt's own recording, as the file names it ("" when none)
  std::string take;        // the file name of the speaker's repetition
  int line = 0;            // line number in the prompt file
  bool calibration = false;
};

constexpr std::size_t kEnrolLineRoom = 256;

// Reads the prompt file. Returns false (reason in error) when it cannot be read; problems with
// single lines go to problems ("<line>: <text>") and the line is skipped.
inline bool readEnrolPrompts(const char* path, std::vector<EnrolPrompt>* prompts, std::string* error,
                             std::vector<std::string>* problems) {
  // only a regular file (a FIFO would block the reader)
  const int fd = vlm::openRegularFile(path);
  FILE* f = fd >= 0 ? fdopen(fd, "rb") : nullptr;
  if (f == nullptr) {
    *error = vlm::openFailureText(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  std::map<std::string, int> uses;
  std::set<std::string> taken;   // repetition names given so far
  bool calibrating = false;
  int number = 0;
  std::string s;
  int c = 0;
  while (c != EOF) {
    s.clear();
    while ((c = std::fgetc(f)) != EOF && c != '\n') s.push_back(static_cast<char>(c));
    if (c == EOF && s.empty()) break;
    number++;
    if (!s.empty() && s.back() == '\r') s.pop_back();
    if (s.size() > kEnrolLineRoom) {
      problems->push_back(std::to_string(number) + ": line longer than 256 characters, skipped");
      continue;
    }
    const std::size_t start = s.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    s = s.substr(start);
    if (s.rfind("cmd_", 0) == 0) {
      if (s.rfind("cmd_start_calibrate", 0) == 0) calibrating = true;
      else if (s.rfind("cmd_end_calibrate", 0) == 0) calibrating = false;
      continue;
    }
    EnrolPrompt p;
    const std::size_t tab = s.find('\t');
    p.text = s.substr(0, tab);
    while (!p.text.empty() && (p.text.back() == ' ' || p.text.back() == '\t')) p.text.pop_back();
    if (tab != std::string::npos) {
      p.recording = s.substr(tab + 1);
      const std::size_t r = p.recording.find_first_not_of(" \t");
      p.recording = r == std::string::npos ? "" : p.recording.substr(r);
      while (!p.recording.empty() && (p.recording.back() == ' ' || p.recording.back() == '\t')) p.recording.pop_back();
    }
    if (p.text.empty()) {
      problems->push_back(std::to_string(number) + ": a recording name without prompt text, skipped");
      continue;
    }
    std::string base = p.recording.substr(p.recording.find_last_of("/\\") == std::string::npos
                                              ? 0
                                              : p.recording.find_last_of("/\\") + 1);
    if (base.empty() || base == "." || base == "..") base = "prompt-" + std::to_string(number) + ".wav";
    const std::size_t dot = base.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    // the first use of a name is the name itself; later ones are numbered (never a name given before)
    for (int n = ++uses[base];; n = ++uses[base]) {
      p.take = n == 1 ? base : stem + "-" + std::to_string(n) + ext;
      if (taken.insert(p.take).second) break;
    }
    p.line = number;
    p.calibration = calibrating;
    prompts->push_back(p);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) *error = "read error";
  return !failed;
}

}  // namespace vlmcli
