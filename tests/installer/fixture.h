// Scratch folders, files and a recording view for the installer's tests.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/installer/install.h"
#include "testpaths.h"

namespace itest {

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
inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Whether a temporary file of a copy (name ending in ".tmp") was left anywhere under folder.
inline bool leftTemporary(const std::string& folder) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    if (e.path().extension() == ".tmp") return true;
  return false;
}

// A scratch folder under the test's working folder, removed when the object goes.
class Scratch {
 public:
  explicit Scratch(const std::string& name) {
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof cwd)) + "/" + name;
    std::system(("chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'").c_str());
    std::filesystem::create_directories(path);
  }
  ~Scratch() { std::system(("chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string make(const std::string& name) const {
    std::filesystem::create_directories(file(name));
    return file(name);
  }
  std::string path;
};

// Records what the logic shows; safe to call from the worker thread.
class RecordingView : public vlm::InstallerView {
 public:
  void setText(int id, const std::string& text) override { add("text " + std::to_string(id) + " " + text, id, text); }
  void setVisible(int id, bool on) override { add("visible " + std::to_string(id) + (on ? " 1" : " 0")); }
  void setList(int id, const std::vector<std::string>& items, int selected) override {
    std::lock_guard<std::mutex> hold(lock);
    list = items;
    listSelected = selected;
    lines.push_back("list " + std::to_string(items.size()));
  }
  void action(const std::string& name, const std::vector<std::string>& args) override {
    std::string line = "action " + name;
    for (const std::string& a : args) line += " " + a;
    add(line);
  }
  void closeDialog() override { add("close"); }
  void viewFile(const std::string& path) override { add("view " + path); }

  std::string message() {
    std::lock_guard<std::mutex> hold(lock);
    return texts[vlm::kIdMessage];
  }
  std::string status() {
    std::lock_guard<std::mutex> hold(lock);
    return texts[vlm::kIdStatus];
  }
  std::string all() {
    std::lock_guard<std::mutex> hold(lock);
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
  }
  std::vector<std::string> list;
  int listSelected = -2;

 private:
  void add(const std::string& line, int id = 0, const std::string& text = "") {
    std::lock_guard<std::mutex> hold(lock);
    lines.push_back(line);
    if (id) texts[id] = text;
  }
  std::mutex lock;
  std::vector<std::string> lines;
  std::string texts[8];
};

// Waits (up to ms) until the install is no longer running.
inline bool waitStopped(vlm::InstallerApp& app, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (app.running() <= 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A PC folder holding the x86-64 platform's seven files (small stand-ins) and the two scripts.
inline void makeKit(const Scratch& pc, const std::string& platformScript, const std::string& commonScript) {
  const vlm::PlatformRow row = vlm::platformTable()[0];
  for (const std::string& f : row.files) writeFile(pc.file(f), "stand-in " + f + "\n");
  writeFile(pc.file(row.script), platformScript);
  writeFile(pc.file(vlm::kCommonScript), commonScript);
}

}  // namespace itest
