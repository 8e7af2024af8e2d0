// A data directory for enroll made by a test: the shipped models, enrolment dictionary and
// grammar, spelling files and the prompt recordings a test names; a prompt file of its own.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "testpaths.h"

namespace entest {

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
inline void copyFile(const std::string& from, const std::string& to) { writeFile(to, readFile(from)); }
inline std::string shipped(const std::string& name) { return vlmtest::sourceDir() + "/data/" + name; }

// A scratch folder under the test's working folder, removed when the object goes.
class DataDir {
 public:
  explicit DataDir(const std::string& name) {
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof cwd)) + "/" + name;
    std::system(("rm -rf '" + path + "'").c_str());
    mkdir(path.c_str(), 0700);
    for (const char* f : {"newuser.usr", "delta.usr", "enrol.voc", "enrol.rul", "abc.voc", "abc.rul"})
      copyFile(shipped(f), file(f));
  }
  ~DataDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string dir() const { return path + "/"; }
  void copyShipped(const std::vector<std::string>& names) const {
    for (const std::string& n : names) copyFile(shipped(n), file(n));
  }
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
struct RecordBoxes {
  RecordBoxes() {
    boxes().clear();
    boxAnswers().clear();
    previous = vlm::setMessageBoxHandler(recordingBox);
  }
  ~RecordBoxes() { vlm::setMessageBoxHandler(previous); }
  std::vector<std::string> captions() const {
    std::vector<std::string> out;
    for (const BoxRecord& b : boxes()) out.push_back(b.caption);
    return out;
  }
  vlm::MessageBoxHandler previous;
};

}  // namespace entest
