// The script runner of the GUI programs: `PROGRAM --script FILE` (FILE "-" for standard input)
// presses buttons, picks list entries and types text from lines of a small language, so that a
// program runs without a person (tests, the README's main job, users who script it). The runner
// knows nothing of the toolkit: a ScriptHost carries out each command on the dialog on top.
// docs/namefind.md describes the language.
#pragma once
#include <string>
#include <vector>

namespace vlm {

struct ScriptCommand {
  int line = 0;          // line number in the script, from 1
  std::string verb;      // mic, wait, tap, phrase, choice, detail, select, type, sleep, shot, done
  std::string name;      // the control (tap, select, type) or the file (shot)
  std::string text;      // select: the item; type: the text
  int number = 0;        // wait: seconds; sleep: milliseconds; phrase, choice, detail: line from 1
};

// Parses one line. Blank lines and lines starting with "#" give an empty verb. Returns false with
// a reason for a line the language does not know.
bool parseScriptLine(const std::string& line, ScriptCommand* command, std::string* error);
// Reads a whole script (path "-" for standard input). Returns false with "line N: reason" (or the
// reason the file cannot be read) at the first bad line.
bool loadScript(const std::string& path, std::vector<ScriptCommand>* commands, std::string* error);

// What a program offers the runner. Every call acts on the dialog on top.
class ScriptHost {
 public:
  virtual ~ScriptHost() = default;
  // Presses the button (or toggles the check box or radio button) named name; false when the
  // dialog on top has no such control or it is disabled.
  virtual bool tap(const std::string& name) = 0;
  // Picks an item of a list or drop-down: by its number (from 1) when item is all digits, else
  // by its text. False when there is no such list or item.
  virtual bool select(const std::string& list, const std::string& item) = 0;
  // Replaces the text of an edit field.
  virtual bool type(const std::string& edit, const std::string& text) = 0;
  // Saves a picture of the dialog on top.
  virtual bool shot(const std::string& path) = 0;
  // The Done button of the dialog on top.
  virtual bool done() = 0;
  // True while an utterance is being listened to or handled (wait goes on while it is).
  virtual bool busy() = 0;
};

class ScriptRunner {
 public:
  explicit ScriptRunner(std::vector<ScriptCommand> commands) : script(std::move(commands)) {}

  enum Step { eRan, eWaiting, eFinished };
  // Runs the next command, or goes on waiting, at time nowMs (a monotonic clock in
  // milliseconds). Each command is written to the transcript ("script" line) before it runs; a
  // command the host cannot carry out is written as an "error" line and counted, and the script
  // goes on. eFinished once every line has run.
  Step step(ScriptHost& host, long nowMs);
  int failures() const { return failed; }
  bool finished() const { return next >= script.size() && !waiting; }

  static constexpr int kDefaultWaitSeconds = 30;

 private:
  std::vector<ScriptCommand> script;
  size_t next = 0;
  bool waiting = false;
  bool waitIsSleep = false;
  long waitStart = 0;
  long waitLimit = 0;
  int failed = 0;
};

}  // namespace vlm
