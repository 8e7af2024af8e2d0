// A data directory for namefind made by a test: the starting models as the user's file, the
// shipped base.voc, and small stand-ins for the spelling dictionary and rules, the command list's
// vocabulary and a contacts list (the real ones are data files of their own).
#pragma once
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "testpaths.h"

namespace nftest {

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
// While it lives, files cannot grow past bytes (RLIMIT_FSIZE; a write past it fails with EFBIG as
// on a full disk, SIGXFSZ being ignored).
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
  }
  rlimit saved{};
  void (*oldHandler)(int) = nullptr;
};
// Whether a temporary file of a save (name ending in ".tmp") was left in folder.
inline bool leftTemporary(const std::string& folder) {
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().extension() == ".tmp") return true;
  return false;
}

inline void copyFile(const std::string& from, const std::string& to) { writeFile(to, readFile(from)); }

// The lines of the shipped base.voc whose word is one of words.
inline std::string vocLines(const std::vector<std::string>& words) {
  std::istringstream in(readFile(vlmtest::sourceDir() + "/data/base.voc"));
  std::string line, out;
  while (std::getline(in, line))
    for (const std::string& w : words)
      if (line.compare(0, w.size() + 1, w + "\t") == 0) out += line + "\n";
  return out;
}

// A scratch folder under the test's working folder, removed when the object goes.
class DataDir {
 public:
  explicit DataDir(const std::string& name, bool withConfig = true) {
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof cwd)) + "/" + name;
    std::system(("rm -rf '" + path + "'").c_str());
    mkdir(path.c_str(), 0700);
    const std::string data = vlmtest::sourceDir() + "/data/";
    copyFile(data + "newuser.usr", file("newuser.usr"));
    copyFile(data + "delta.usr", file("delta.usr"));
    copyFile(data + "newuser.usr", file("tester.usr"));
    copyFile(data + "base.voc", file("base.voc"));
    writeFile(file("abc.voc"), vocLines({"1", "2", "3"}));
    writeFile(file("abc.rul"), "RULE rDigitSpelling\n( < 1 2 3 > ) ;\n");
    writeFile(file("command.voc"), vocLines({"echo", "schedule"}));
    writeFile(file("command.tsv"), "");
    writeFile(file("demo.tsv"), "");
    writeFile(file("demo.voc"), vocLines({"home"}));
    if (withConfig) writeFile(file("namefind.cfg"), "u:tester.usr\nt:demo.tsv\n");
  }
  ~DataDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string dir() const { return path + "/"; }
  std::string path;
};

// A message box handler that records every box and answers from a list (then the default).
struct BoxRecord {
  std::string caption;
  std::string text;
};
inline std::vector<BoxRecord>& boxes() {
  static std::vector<BoxRecord> shown;
  return shown;
}
inline std::vector<int>& boxAnswers() {
  static std::vector<int> answers;
  return answers;
}
inline int recordingBox(const char* text, const char* caption, vlm::BoxButtons, vlm::BoxIcon, int defaultAnswer) {
  boxes().push_back({caption ? caption : "", text ? text : ""});
  if (boxAnswers().empty()) return defaultAnswer;
  const int answer = boxAnswers().front();
  boxAnswers().erase(boxAnswers().begin());
  return answer;
}
// Installs the recorder for one test.
struct RecordBoxes {
  RecordBoxes() {
    boxes().clear();
    boxAnswers().clear();
    previous = vlm::setMessageBoxHandler(recordingBox);
  }
  ~RecordBoxes() { vlm::setMessageBoxHandler(previous); }
  vlm::MessageBoxHandler previous;
};

// Speaks text with espeak-ng (en-us) into path; false when espeak-ng is not there.
inline bool speak(const std::string& text, const std::string& path) {
  const std::string command = "espeak-ng -v en-us -w '" + path + "' '" + text + "' 2>/dev/null";
  return std::system(command.c_str()) == 0 && exists(path);
}

}  // namespace nftest
