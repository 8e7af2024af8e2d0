#define VLM_UNIT "install"
// The installer's logic: scripts, the platform table, the step interpreter and the dialog's
// decisions.
#include "apps/installer/install.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "foundation/log.h"

extern char** environ;

namespace vlm {

const char* const kChooseText =
    "Select your handheld platform from the combo box.\nPlug your handheld device into your computer. \n"
    "When ActiveSync is happily connected and synchronized, \nHit the Start button.";
const char* const kLocationText = "Select where the '\\velmora' directory\nwill be installed\n\nHit Start when selected.";
const char* const kNoConnectText = "HIT QUIT!  Something is wrong.\nThe CE unit didn't connect...\n";

namespace {

constexpr size_t kMaxExtra = 256;
constexpr int kPollMs = 100;

std::string unescapeMessage(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == '\\')) {
      out += s[i + 1] == 'n' ? '\n' : '\\';
      i++;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool startsWithVelmora(const std::string& path) {
  return path.size() >= 8 && strncasecmp(path.c_str(), "\\velmora", 8) == 0 &&
         (path.size() == 8 || path[8] == '\\');
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int parseInstallScript(const std::string& text, const std::string& name, InstallScript* script, std::string* error) {
  script->clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = 0;
    while (start < line.size() && line[start] == ' ') start++;
    if (start == line.size() || line[start] == '#') continue;
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
      const size_t tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    if (fields.size() > 4 || fields[0].empty() || fields[0].find(' ') != std::string::npos) {
      *error = name + ":" + std::to_string(number) +
               (fields.size() > 4 ? ": more than four fields" : ": a step needs a code (without blanks) first");
      return 0;
    }
    fields.resize(4);
    script->push_back({fields[0], fields[1], fields[2], unescapeMessage(fields[3])});
  }
  return 1;
}

int loadInstallScript(const std::string& path, InstallScript* script, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path;
    return 0;
  }
  std::stringstream text;
  text << file.rdbuf();
  return parseInstallScript(text.str(), path, script, error);
}

std::vector<PlatformRow> platformTable() {
  struct Arch {
    const char* label;
    const char* name;
  };
  static const Arch arches[] = {
      {"x86-64 Linux handhelds and tablets", "x86_64"},
      {"64-bit ARM Linux handhelds (arm64)", "aarch64"},
      {"32-bit ARM Linux handhelds (armhf)", "armhf"},
  };
  std::vector<PlatformRow> rows;
  for (const Arch& a : arches) {
    const std::string n = a.name;
    rows.push_back({a.label, "install-" + n + ".txt",
                    {"namefind-" + n, "enroll-" + n, "strider-" + n, "contacts.vcf", "namefind.desktop", "delta.usr",
                     "newuser.usr"}});
  }
  return rows;
}

InstallerApp::InstallerApp(InstallerView* v, DeviceLink* l, const std::string& pc, const std::string& programs)
    : view(v), link(l), pcDir(pc.empty() ? "." : pc), programDir(programs) {}

InstallerApp::~InstallerApp() { quit(); }

std::string InstallerApp::pcPath(const std::string& name) const {
  if (!name.empty() && name[0] == '/') return name;
  return pcDir + "/" + name;
}

bool InstallerApp::pcExists(const std::string& name) const {
  struct stat info;
  return stat(pcPath(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string InstallerApp::prefix() const {
  std::lock_guard<std::mutex> hold(textLock);
  return locationPrefix;
}

std::string InstallerApp::extraArgument() const {
  std::lock_guard<std::mutex> hold(textLock);
  return extra;
}

void InstallerApp::setPrefix(const std::string& p) {
  std::lock_guard<std::mutex> hold(textLock);
  locationPrefix = p;
}

void InstallerApp::setScripts(const InstallScript& platform, const InstallScript& common) {
  platformScript = platform;
  commonScript = common;
  commonActive = false;
  index = 0;
}

void InstallerApp::initDialog() {
  view->setVisible(kIdStatus, false);
  view->setVisible(kIdAnswer, false);
  view->setVisible(kIdPlatform, true);
  offered.clear();
  offeredLabels.clear();
  for (const PlatformRow& row : platformTable()) {
    bool present = pcExists(row.script);
    for (const std::string& f : row.files) present = present && pcExists(f);
    if (!present) continue;
    offered.push_back(row);
    offeredLabels.push_back(row.label);
  }
  view->setList(kIdPlatform, offeredLabels, offeredLabels.empty() ? -1 : 0);
  show(kIdMessage, kChooseText);
}

void InstallerApp::pressStart(int row, const std::string& answer) {
  if (askingUser && runFlag == -1) {
    // Continue: the typed text becomes the extra argument, and the script goes on.
    {
      std::lock_guard<std::mutex> hold(textLock);
      extra = answer.substr(0, kMaxExtra);
    }
    askingUser = false;
    view->setVisible(kIdAnswer, false);
    view->setVisible(kIdStart, false);
    show(kIdStart, "Start");
    view->setVisible(kIdStatus, true);
    index = index + 1;
    runFlag = 1;
    return;
  }
  if (choosingLocation) {
    // The second press: the chosen location (the root "\" means main memory).
    choosingLocation = false;
    const std::string chosen = row >= 0 && row < static_cast<int>(locations.size()) ? locations[row] : "\\";
    setPrefix(chosen == "\\" ? "" : chosen);
    view->setVisible(kIdPlatform, false);
    view->setVisible(kIdStart, false);
    startWorker();
    return;
  }
  if (index != -1 || connected) return;
  if (row < 0 || row >= static_cast<int>(offered.size())) return;  // nothing chosen: Start does nothing

  view->setVisible(kIdPlatform, false);
  view->setVisible(kIdStart, false);
  show(kIdMessage, "connecting...");
  std::string error;
  InstallScript platform, common;
  if (!loadInstallScript(pcPath(offered[row].script), &platform, &error) ||
      !loadInstallScript(pcPath(kCommonScript), &common, &error)) {
    failedFlag = true;
    logError("installer: ", error.c_str());
    show(kIdMessage, "couldn't read an install script, HIT QUIT!!!\n" + error);
    return;
  }
  if (!link->connect()) {
    failedFlag = true;
    logError("installer: ", link->reason().c_str());
    show(kIdMessage, kNoConnectText);
    view->setVisible(kIdStatus, true);
    show(kIdStatus, link->reason());
    return;
  }
  connected = true;
  setScripts(platform, common);

  locations.clear();
  for (const std::string& card : link->storageCards()) locations.push_back("\\" + card);
  if (!locations.empty()) {
    locations.push_back("\\");
    choosingLocation = true;
    view->setList(kIdPlatform, locations, 0);
    view->setVisible(kIdPlatform, true);
    view->setVisible(kIdStart, true);
    show(kIdMessage, kLocationText);
    return;
  }
  startWorker();
}

void InstallerApp::startWorker() {
  view->setVisible(kIdStatus, true);
  runFlag = 1;
  if (!worker.joinable()) worker = std::thread([this] { workerLoop(); });
}

void InstallerApp::joinWorker() {
  if (worker.joinable()) worker.join();
}

void InstallerApp::quit() {
  stopWorker = true;
  joinWorker();
  if (connected) link->disconnect();
  connected = false;
}

void InstallerApp::timerTick() {
  static const char* const frames[] = {"|", "/", "-", "\\"};
  if (runFlag > 0) {
    show(kIdSpinner, frames[spin]);
    spin = (spin + 1) % 4;
  } else {
    show(kIdSpinner, "");
  }
}

int InstallerApp::finish(const std::string&) {
  quit();
  return failedFlag ? 1 : 0;
}

void InstallerApp::workerLoop() {
  while (!stopWorker) {
    if (runFlag <= 0) {
      sleepMs(kPollMs);
      continue;
    }
    const StepResult r = runStep();
    if (r == eStepEnd) return;
    if (r == eStepWaiting) sleepMs(kPollMs);
  }
}

void InstallerApp::fail(const std::string& message, const std::string& detail) {
  failedFlag = true;
  if (!detail.empty()) {
    logError("installer: ", detail.c_str());
    show(kIdStatus, detail);
  }
  show(kIdMessage, message);
  view->setVisible(kIdStart, false);
  runFlag = -1;
}

std::string InstallerApp::deviceRelative(const std::string& path) {
  if (!path.empty() && path[0] == '\\') return path;
  return link->programsFolder() + "\\" + path;
}

int InstallerApp::runPcProgram(const std::string& command, const std::string& extraArg, std::string* why) {
  std::vector<std::string> words = splitWords(command);
  if (words.empty()) {
    *why = "no program named";
    return -1;
  }
  if (!extraArg.empty()) words.push_back(extraArg);   // one argument, blanks and all
  std::string program = words[0];
  bool searchPath = false;
  if (program.find('/') == std::string::npos) {
    if (!programDir.empty() && access((programDir + program).c_str(), X_OK) == 0) program = programDir + program;
    else searchPath = true;
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (pcDir != ".") posix_spawn_file_actions_addchdir_np(&actions, pcDir.c_str());
  posix_spawn_file_actions_adddup2(&actions, 2, 1);   // its messages stay off the transcript
  pid_t pid = -1;
  const int rc = searchPath ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                            : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    *why = "cannot start " + program + ": " + std::strerror(rc);
    return -1;
  }
  // The installer learns that the program has finished from its exit.
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return 0;
    if (stopWorker) return 0;   // quitting: the program is left to finish on its own
    sleepMs(20);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && searchPath) {
    *why = "cannot start " + program + ": not found";
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

InstallerApp::StepResult InstallerApp::runStep() {
  const InstallScript& script = commonActive ? commonScript : platformScript;
  const int at = index;
  if (at < 0) return eStepWaiting;
  // A script that ends without "A" ends as if it had one.
  InstallStep step = at < static_cast<int>(script.size()) ? script[at] : InstallStep{"A", "", "", ""};
  const std::string where = prefix();
  if (!where.empty()) {
    if (startsWithVelmora(step.first)) step.first = where + step.first;
    else if (startsWithVelmora(step.second)) step.second = where + step.second;
  }
  if (!step.message.empty() && step.code[0] != 'q') show(kIdMessage, step.message);
  const bool negate = step.code.size() > 1 && step.code[1] == '!';

  switch (step.code[0]) {
    case 'c': {
      const std::string device = deviceRelative(step.second);
      show(kIdStatus, "writing CE file: " + device);
      if (!link->copyToDevice(pcPath(step.first), device)) {
        fail("couldn't copy a file, HIT QUIT!!!\nfrom PC file: " + step.first + "\nto PDA file: " + device,
             link->reason());
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    }
    case 'C': {
      show(kIdStatus, "writing PC file: " + step.second);
      if (!link->copyFromDevice(step.first, pcPath(step.second))) {
        fail("couldn't copy a file, HIT QUIT!!!", link->reason());
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    }
    case 'd':
      show(kIdStatus, "making directory: " + step.first);
      if (!link->makeDirectory(step.first)) {
        fail("couldn't make a dir, HIT QUIT!!!", link->reason());
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    case 'u': {
      const std::string device = deviceRelative(step.first);
      show(kIdStatus, "deleting CE file: " + device);
      if (!link->deleteFile(device)) {
        fail("couldn't delete a file, HIT QUIT!!!\n" + device, link->reason());
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    }
    case 'U': {
      show(kIdStatus, "deleting PC file: " + step.first);
      const std::string path = pcPath(step.first);
      if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        fail("couldn't delete a file, HIT QUIT!!!\n" + step.first, "cannot delete " + path + ": " + std::strerror(errno));
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    }
    case 's':
      show(kIdStatus, "spawning CE exe: " + step.first);
      view->action("spawn-ce", {step.first, step.second});
      if (!link->startProgram(step.first, step.second)) {
        fail("couldn't spawn CE file, HIT QUIT!!!", link->reason());
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    case 'S': {
      const std::string extraArg = extraArgument();
      const std::string command = step.first + (extraArg.empty() ? "" : " " + extraArg);
      show(kIdStatus, "spawning PC exe: " + command);
      view->action("spawn-pc", {command});
      std::string why;
      const int status = runPcProgram(step.first, extraArg, &why);
      if (stopWorker) return eStepEnd;
      if (status < 0) {
        fail("couldn't spawn PC file, HIT QUIT!!!", why);
        return eStepEnd;
      }
      if (status != 0) {
        fail("the PC program failed, HIT QUIT!!!\n" + command,
             command + " ended with status " + std::to_string(status) + " (its messages are in the speech log)");
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    }
    case 'w': {
      show(kIdStatus, "waiting for CE file: " + step.first);
      if (link->pathKind(step.first) != 0) {
        index = at + 1;
        return eStepDone;
      }
      // No time limit while the device program runs; once it has ended without making the
      // file, nothing will.
      const int ended = link->lastProgramStatus();
      if (ended >= 0 && link->pathKind(step.first) == 0) {
        fail("the CE program ended without writing " + step.first + ", HIT QUIT!!!",
             "the device program ended with status " + std::to_string(ended));
        return eStepEnd;
      }
      return eStepWaiting;
    }
    case 'W':
      show(kIdStatus, "waiting for PC file: " + step.first);
      if (pcExists(step.first)) {
        index = at + 1;
        return eStepDone;
      }
      return eStepWaiting;
    case 'i':
    case 'I': {
      const bool exists = step.code[0] == 'i' ? link->pathKind(deviceRelative(step.first)) != 0 : pcExists(step.first);
      // Advance by one, and by one more (skipping the next step) when the test says no.
      const bool asked = negate ? !exists : exists;
      index = at + (asked ? 1 : 2);
      return eStepDone;
    }
    case 'l':
      show(kIdStatus, "makeing CE shortcut: " + step.first);
      if (!link->makeShortcut(step.first, step.second)) {
        fail("couldn't create the CE link file, HIT QUIT!!!", link->reason());
        return eStepEnd;
      }
      index = at + 1;
      return eStepDone;
    case 'q': {
      {
        std::lock_guard<std::mutex> hold(textLock);
        extra.clear();
      }
      view->setVisible(kIdStatus, false);
      show(kIdAnswer, "");
      view->setVisible(kIdAnswer, true);
      show(kIdStart, "Continue");
      view->setVisible(kIdStart, true);
      show(kIdMessage, step.message);
      askingUser = true;
      runFlag = -1;
      return eStepDone;
    }
    case 'A':
      if (!commonActive) {
        commonActive = true;
        index = 0;
        return eStepDone;
      }
      show(kIdMessage, "All Done, Hit the quit button");
      show(kIdStatus, "Launching the text viewer on the readme.txt\n");
      view->viewFile(pcPath("readme.txt"));
      doneFlag = true;
      runFlag = -1;
      return eStepEnd;
    default:
      runFlag = 0;
      view->closeDialog();
      return eStepEnd;
  }
}

}  // namespace vlm
