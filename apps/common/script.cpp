// The script language and its runner.
#include "apps/common/script.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "apps/common/transcript.h"

namespace vlm {

namespace {

std::string trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && (s[begin] == ' ' || s[begin] == '\t' || s[begin] == '\r')) begin++;
  while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r')) end--;
  return s.substr(begin, end - begin);
}

// Splits off the first blank-separated word of s; the rest is trimmed.
std::string firstWord(const std::string& s, std::string* rest) {
  size_t end = 0;
  while (end < s.size() && s[end] != ' ' && s[end] != '\t') end++;
  *rest = trim(s.substr(end));
  return s.substr(0, end);
}

// A whole number of at most 9 digits; false otherwise.
bool readNumber(const std::string& s, int* value) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

bool parseScriptLine(const std::string& rawLine, ScriptCommand* command, std::string* error) {
  *command = ScriptCommand();
  const std::string line = trim(rawLine);
  if (line.empty() || line[0] == '#') return true;
  std::string rest;
  const std::string verb = firstWord(line, &rest);
  command->verb = verb;
  if (verb == "mic" || verb == "done") {
    if (!rest.empty()) {
      *error = verb + " takes nothing after it";
      return false;
    }
    return true;
  }
  if (verb == "wait") {
    command->number = ScriptRunner::kDefaultWaitSeconds;
    if (!rest.empty() && (!readNumber(rest, &command->number) || command->number < 1)) {
      *error = "wait takes a number of seconds (at least 1)";
      return false;
    }
    return true;
  }
  if (verb == "sleep") {
    if (!readNumber(rest, &command->number)) {
      *error = "sleep takes a number of milliseconds";
      return false;
    }
    return true;
  }
  if (verb == "phrase" || verb == "choice" || verb == "detail") {
    if (!readNumber(rest, &command->number) || command->number < 1) {
      *error = verb + " takes a line number (from 1)";
      return false;
    }
    return true;
  }
  if (verb == "tap" || verb == "shot") {
    if (rest.empty() || rest.find_first_of(" \t") != std::string::npos) {
      *error = verb + (verb == "tap" ? " takes one control name" : " takes one file name");
      return false;
    }
    command->name = rest;
    return true;
  }
  if (verb == "select" || verb == "type") {
    std::string text;
    command->name = firstWord(rest, &text);
    command->text = text;
    if (command->name.empty() || (verb == "select" && text.empty())) {
      *error = verb == "select" ? "select takes a list name and an item" : "type takes an edit name and a text";
      return false;
    }
    return true;
  }
  *error = "unknown command \"" + verb + "\"";
  return false;
}

bool loadScript(const std::string& path, std::vector<ScriptCommand>* commands, std::string* error) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      *error = "cannot read the script " + path;
      return false;
    }
    in = &file;
  }
  std::string line;
  int number = 0;
  while (std::getline(*in, line)) {
    number++;
    ScriptCommand command;
    std::string reason;
    if (!parseScriptLine(line, &command, &reason)) {
      *error = "line " + std::to_string(number) + ": " + reason;
      return false;
    }
    if (command.verb.empty()) continue;
    command.line = number;
    commands->push_back(command);
  }
  return true;
}

ScriptRunner::Step ScriptRunner::step(ScriptHost& host, long nowMs) {
  if (waiting) {
    const bool over = nowMs - waitStart >= waitLimit;
    if (waitIsSleep) {
      if (!over) return eWaiting;
    } else if (host.busy()) {
      if (!over) return eWaiting;
      transcriptLine("error " + std::to_string(script[next - 1].line) + " " + quoted("wait: time limit reached"));
      failed++;
    }
    waiting = false;
    return eRan;
  }
  if (next >= script.size()) return eFinished;
  const ScriptCommand& c = script[next++];
  std::string echo = "script " + std::to_string(c.line) + " " + c.verb;
  if (!c.name.empty()) echo += " " + c.name;
  if (!c.text.empty()) echo += " " + c.text;
  if (c.verb == "wait" || c.verb == "sleep" || c.verb == "phrase" || c.verb == "choice" || c.verb == "detail")
    echo += " " + std::to_string(c.number);
  transcriptLine(echo);

  bool ok = true;
  std::string reason;
  if (c.verb == "mic") {
    ok = host.tap("mic");
    reason = "no microphone button";
  } else if (c.verb == "wait" || c.verb == "sleep") {
    waiting = true;
    waitIsSleep = c.verb == "sleep";
    waitStart = nowMs;
    waitLimit = waitIsSleep ? c.number : c.number * 1000L;
    return eWaiting;
  } else if (c.verb == "tap") {
    ok = host.tap(c.name);
    reason = "no control \"" + c.name + "\" to tap, or it is disabled";
  } else if (c.verb == "phrase" || c.verb == "choice" || c.verb == "detail") {
    const std::string list = c.verb == "phrase" ? "phrases" : c.verb == "choice" ? "choices" : "details";
    ok = host.select(list, std::to_string(c.number));
    reason = "no line " + std::to_string(c.number) + " in " + list;
  } else if (c.verb == "select") {
    ok = host.select(c.name, c.text);
    reason = "no item \"" + c.text + "\" in " + c.name;
  } else if (c.verb == "type") {
    ok = host.type(c.name, c.text);
    reason = "no edit field \"" + c.name + "\"";
  } else if (c.verb == "shot") {
    ok = host.shot(c.name);
    reason = "cannot save a picture as " + c.name;
  } else if (c.verb == "done") {
    ok = host.done();
    reason = "no Done button";
  }
  if (!ok) {
    transcriptLine("error " + std::to_string(c.line) + " " + quoted(reason));
    failed++;
  }
  return eRan;
}

}  // namespace vlm
