// The installer's logic, without toolkit code: install scripts (tables of one-letter steps read
// from data files), the platform table, the run state shared by the dialog and the worker thread,
// the step interpreter, and the dialog's decisions (platform rows, Start, the storage-card
// choice, Continue, the spinner, quitting). docs/installer.md describes all of it.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/devicelink.h"

namespace vlm {

// One step: the code ("c", "i!", ...), two paths and the message shown while it runs.
struct InstallStep {
  std::string code;
  std::string first;
  std::string second;
  std::string message;
};

using InstallScript = std::vector<InstallStep>;

// Reads a script file: one step a line, its fields separated by tabs (code, first path, second
// path, message; missing fields are empty); blank lines and lines starting with "#" are skipped.
// In the message "\n" stands for a line break and "\\" for a backslash. 1, or 0 with *error
// ("FILE:LINE: reason", or why the file cannot be read).
int loadInstallScript(const std::string& path, InstallScript* script, std::string* error);
// The same from text (name is used in the error).
int parseInstallScript(const std::string& text, const std::string& name, InstallScript* script, std::string* error);

// A platform the installer can set up: its combo-box label, its script file and the seven PC
// files it copies (application, enroll, contact lister, empty address book, start-menu entry,
// delta model, new-user model).
struct PlatformRow {
  std::string label;
  std::string script;
  std::vector<std::string> files;
};
// Every platform we know, in combo order (docs/installer.md says which are built).
std::vector<PlatformRow> platformTable();
constexpr const char* kCommonScript = "install-common.txt";

// Control identifiers of the dialog.
enum InstallerControl {
  kIdMessage = 1,    // the large text field
  kIdStatus = 2,     // the status line
  kIdSpinner = 3,
  kIdPlatform = 4,   // the combo box (platforms, then storage-card locations)
  kIdStart = 5,      // Start / Continue
  kIdAnswer = 6,     // the edit box of a "q" step
  kIdQuit = 7,
};

// What the logic asks of the dialog. The worker thread calls it too: an implementation must
// carry the calls over to its own thread (the Qt dialog queues them), in the order made.
class InstallerView {
 public:
  virtual ~InstallerView() = default;
  virtual void setText(int id, const std::string& text) = 0;
  virtual void setVisible(int id, bool on) = 0;
  virtual void setList(int id, const std::vector<std::string>& items, int selected) = 0;
  // An action for the transcript: "spawn-pc", "view" ...
  virtual void action(const std::string& name, const std::vector<std::string>& args) = 0;
  // Closes the dialog (a step of an unknown code asks for it).
  virtual void closeDialog() = 0;
  // Opens a PC file in the desktop's viewer (the readme at the end).
  virtual void viewFile(const std::string& path) = 0;
};

// Fixed texts.
extern const char* const kChooseText;
extern const char* const kLocationText;
extern const char* const kNoConnectText;

class InstallerApp {
 public:
  // pcDir: the PC folder holding the files to copy and the scripts ("" or "." for the current
  // folder); programDir: where PC programs are looked for first (with a trailing "/"; empty: the
  // search path only).
  InstallerApp(InstallerView* view, DeviceLink* link, const std::string& pcDir, const std::string& programDir);
  ~InstallerApp();  // quit()

  // Dialog initialisation: the platform rows whose files are present.
  void initDialog();
  // Start (and Continue): row is the combo's selection (-1 none), answer the edit box's text.
  void pressStart(int row, const std::string& answer);
  // Quit: stops the worker (after the step in progress) and disconnects.
  void quit();
  // Timer 103 (100 ms): the spinner.
  void timerTick();

  // The running flag: >0 running, 0 stopped, -1 waiting for the user.
  int running() const { return runFlag.load(); }
  int stepIndex() const { return index.load(); }
  bool inCommonScript() const { return commonActive.load(); }
  bool failed() const { return failedFlag.load(); }
  bool allDone() const { return doneFlag.load(); }
  const std::vector<std::string>& rows() const { return offeredLabels; }
  std::string prefix() const;
  std::string extraArgument() const;
  // Exit status for the program: 1 when the install failed, else 0.
  int finish(const std::string& programFolder);

  // For tests and the worker: set the scripts directly, and run one step.
  void setScripts(const InstallScript& platform, const InstallScript& common);
  void setPrefix(const std::string& prefix);
  enum StepResult { eStepDone, eStepWaiting, eStepEnd };
  StepResult runStep();
  // Starts the worker thread (running flag 1).
  void startWorker();
  // Waits until the worker thread has ended (tests).
  void joinWorker();

 private:
  std::string pcPath(const std::string& name) const;
  bool pcExists(const std::string& name) const;
  void fail(const std::string& message, const std::string& detail);
  std::string deviceRelative(const std::string& path);
  int runPcProgram(const std::string& command, const std::string& extra, std::string* why);
  void workerLoop();
  void show(int id, const std::string& text) { view->setText(id, text); }

  InstallerView* view;
  DeviceLink* link;
  std::string pcDir;
  std::string programDir;

  std::vector<PlatformRow> offered;
  std::vector<std::string> offeredLabels;
  InstallScript platformScript;
  InstallScript commonScript;
  std::atomic<bool> commonActive{false};
  std::atomic<int> index{-1};
  std::atomic<int> runFlag{0};
  std::atomic<bool> stopWorker{false};
  std::atomic<bool> failedFlag{false};
  std::atomic<bool> doneFlag{false};
  std::atomic<bool> askingUser{false};
  bool choosingLocation = false;
  bool connected = false;
  std::vector<std::string> locations;
  mutable std::mutex textLock;   // guards locationPrefix and extra
  std::string locationPrefix;
  std::string extra;
  std::thread worker;
  int spin = 0;
};

}  // namespace vlm
