// The files of the enrollment program without its dialogs: "enrol.cfg", the prompt file, the
// save names of the speaker file, the file lists of the data directory, and the letter-group
// rules of the unknown-word phase. See docs/enroll.md.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace vlm {

class WordDictionary;

// "enrol.cfg": read once at start, then deleted.
struct EnrolConfig {
  std::string base = "enrol";            // "b:" the prompt file, dictionary and grammar base name
  bool newUser = true;                   // "n:0" selects the existing-user mode
  std::string exitProgram = "namefind";  // "s:" the program started at exit ("" none)
  std::string saveName;                  // "u:" the user file ("" none)
};

constexpr int kEnrolLineRoom = 257;   // lines of enrol.cfg and the prompt files: 256 characters

// Reads path into config (a missing file leaves the defaults) and returns 1 when the file was
// read. Lines longer than 256 characters are cut there and their rest skipped; lines without a
// key and ":" are ignored; a value that is not a plain file name is ignored.
int readEnrolConfig(const std::string& path, EnrolConfig* config);

// The program name "s:" gives, as this platform names programs: a ".exe" ending is dropped.
std::string exitProgramName(const std::string& value);

// The save name for text typed into the save dialog: an extension found within the last four
// characters is replaced by ".usr", else ".usr" is appended. "" for a name that can never be a
// save target: "newuser.usr", "delta.usr" (in any case), an empty name, one starting with ".", or
// one that is not a plain file name (a "/", a "\" or a control character, longer than 127 characters).
std::string usrSaveName(const std::string& text);
// True for the two speaker files never saved to.
bool isReservedUsr(const std::string& name);
// True for the dictionaries never offered for new pronunciations.
bool isReservedVoc(const std::string& name);
// True when name is a plain file name: 1..127 characters, no "/", "\" or control character.
bool isPlainFileName(const std::string& name);

// The names of the files of dir ending in suffix (without regard to case), sorted.
std::vector<std::string> filesEnding(const std::string& dir, const char* suffix);

// One line of a prompt file.
struct PromptLine {
  enum Kind { eEnd, eStartCalibrate, eEndCalibrate, ePrompt };
  Kind kind = eEnd;
  std::string text;        // the prompt
  std::string recording;   // the file name of its recording, "" when none
};

// A prompt file read line by line: at most 256 characters a line (the rest of a longer line is
// skipped, never read as a line of its own), blank lines and leading blanks skipped, other
// "cmd_" lines ignored, a prompt's text optionally followed by a tab and its recording.
class PromptFile {
 public:
  PromptFile() = default;
  ~PromptFile() { close(); }
  PromptFile(const PromptFile&) = delete;
  PromptFile& operator=(const PromptFile&) = delete;

  int open(const std::string& path);   // 1 when opened
  void close();
  bool isOpen() const { return file != nullptr; }
  void rewind();
  PromptLine next();
  // The progress: the read position * 100 / the file's size.
  int percentDone() const;
  const std::string& path() const { return filePath; }

 private:
  FILE* file = nullptr;
  long size = 0;
  std::string filePath;
};

// One rule of the letter-group grammar of an unknown word: its name (the letter position in
// decimal) and its body in rule-body text.
struct LetterRule {
  std::string name;
  std::string body;
};

// Cuts the letters of text (words joined by "_", lower case, other characters dropped) into
// letter groups that are words of abc: at each position reached, the shortest and the longest
// group that starts there; one rule per position offers them, each followed by a reference to
// the rule of the position after it ("<N>"), and the last position's groups end the word. A
// position where no group starts is bridged by its single letter when abc knows it, else the
// letter is passed over. Empty when the text has no letters. rulePrefix is put before every
// rule name (so that the temporary rules do not meet the grammar's own).
std::vector<LetterRule> letterGroupRules(const std::string& text, WordDictionary* abc,
                                         const std::string& rulePrefix = "");

}  // namespace vlm
