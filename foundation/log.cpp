// The speech log and the assertion handler.
#define VLM_UNIT "stdiox"
#include "foundation/log.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/copystr.h"
#include "foundation/filepath.h"
#include "foundation/stdiox.h"
#include "platform/msgbox.h"

namespace vlm {

void finishStdIoBeforeExit();  // stdiox.cpp

namespace {

bool speechLogWritten = false;  // has this process written the log yet?
bool truncateNext = false;      // the next write starts the log anew (tests)
bool consoleProgram = false;
LogObserver observer = nullptr;
void* observerContext = nullptr;

// Where the log goes, resolved on the first use.
enum { kUnresolved, kResolving, kResolved, kNowhere };
int pathState = kUnresolved;
char logPath[kVlmPathRoom + 64];
char heldBack[512];  // a message logged while the place was being found (the data-directory search)

// A log that has grown past this is renamed to "<log>.1" (replacing an older one) when a process
// first writes to it, so the log keeps the last runs without growing without end.
constexpr off_t kLogRotateBytes = 1 << 20;

// Makes dir and every missing folder above it; 1 when dir is a directory afterwards.
int makeDirectories(char* dir) {
  struct stat st;
  if (stat(dir, &st) == 0) return S_ISDIR(st.st_mode) ? 1 : 0;
  for (char* p = dir + 1; *p; p++) {
    if (*p != '/') continue;
    *p = 0;
    if (stat(dir, &st) != 0 && mkdir(dir, 0755) != 0 && errno != EEXIST) {
      *p = '/';
      return 0;
    }
    *p = '/';
  }
  if (mkdir(dir, 0755) != 0 && errno != EEXIST) return 0;
  return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

void writeAll(int fd, const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = write(fd, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

// True when a debugger traces this process (TracerPid in /proc/self/status is not 0).
bool debuggerAttached() {
  int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (got <= 0) return false;
  buffer[got] = 0;
  const char* p = std::strstr(buffer, "TracerPid:");
  if (p == nullptr) return false;
  p += 10;
  while (*p == ' ' || *p == '\t') p++;
  return *p >= '1' && *p <= '9';
}

}  // namespace

const char* speechLogPath() {
  if (pathState == kResolved) return logPath;
  if (pathState != kUnresolved) return nullptr;  // none, or asked again while resolving
  pathState = kResolving;
  const char* given = std::getenv("VELMORA_LOG");
  if (given != nullptr && *given) {
    copyString(logPath, given, static_cast<int>(sizeof logPath));
    pathState = kResolved;
    return logPath;
  }
  if (findVelmora() != nullptr) {
    copyString(logPath, catFname2VlmDir("velmora.log"), static_cast<int>(sizeof logPath));
    pathState = kResolved;
    return logPath;
  }
  char dir[kVlmPathRoom];
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  if (state != nullptr && state[0] == '/') {
    sPrint(dir, static_cast<int>(sizeof dir), "%s/velmora", state);
  } else if (home != nullptr && home[0] == '/') {
    sPrint(dir, static_cast<int>(sizeof dir), "%s/.local/state/velmora", home);
  } else {
    pathState = kNowhere;
    return nullptr;
  }
  if (!makeDirectories(dir)) {
    pathState = kNowhere;
    return nullptr;
  }
  sPrint(logPath, static_cast<int>(sizeof logPath), "%s/velmora.log", dir);
  pathState = kResolved;
  return logPath;
}

namespace {

// Writes a message held back while the log's place was being found, once it is known.
void writeHeldBack() {
  if (heldBack[0] == 0 || pathState != kResolved) return;
  char text[sizeof heldBack];
  copyString(text, heldBack, static_cast<int>(sizeof text));
  heldBack[0] = 0;
  // shown when it was logged: into the log only
  const LogObserver o = observer;
  const bool console = consoleProgram;
  observer = nullptr;
  consoleProgram = false;
  logError(text);
  observer = o;
  consoleProgram = console;
}

}  // namespace

int speechLogWrittenByThisProcess() { return speechLogWritten ? 1 : 0; }

LogObserver setLogObserver(LogObserver o, void* context) {
  LogObserver old = observer;
  observer = o;
  observerContext = context;
  return old;
}

void resetSpeechLogLocationForTest() { pathState = kUnresolved; }

void startSpeechLogAsNewProcessForTest() {
  speechLogWritten = false;
  truncateNext = false;
}

void logError(const char* text, const char* second) {
  if (pathState == kResolving) {
    // the data-directory search reports while the log's place is being found: keep the message
    // for the log, and show it now
    if (text != nullptr) {
      char* end = copyString(heldBack, text, static_cast<int>(sizeof heldBack));
      if (second != nullptr) copyString(end, second, static_cast<int>(heldBack + sizeof heldBack - end));
      if (observer != nullptr) observer(text, second, observerContext);
    }
    return;
  }
  const char* path = speechLogPath();
  writeHeldBack();
  int fd = -1;
  if (path != nullptr) {
    if (!speechLogWritten && !truncateNext) {
      struct stat st;
      if (stat(path, &st) == 0 && st.st_size > kLogRotateBytes) {
        char old[sizeof logPath + 4];
        sPrint(old, static_cast<int>(sizeof old), "%s.1", path);
        rename(path, old);
      }
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncateNext ? O_TRUNC : O_APPEND);
    fd = open(path, flags, 0644);
  }
  if (fd >= 0) {
    speechLogWritten = true;
    truncateNext = false;
    if (text != nullptr) {
      writeAll(fd, "\n");
      writeAll(fd, text);
      if (second != nullptr) writeAll(fd, second);
    }
    close(fd);
  }
  if (observer != nullptr && text != nullptr) observer(text, second, observerContext);
  if (consoleProgram && text != nullptr) {
    // The console shows one message per line.
    int out = stdOutHandle();
    writeAll(out, text);
    if (second != nullptr) writeAll(out, second);
    writeAll(out, "\n");
  }
}

void setConsoleProgram(bool console) { consoleProgram = console; }

void resetSpeechLogForTest() {
  speechLogWritten = false;
  truncateNext = true;
}

void __assert(const char* expression, const char* file, int line) {
  char message[512];
  char* end = message + sizeof message;
  char* p = copyString(message, expression ? expression : "", static_cast<int>(end - message));
  p = copyString(p, "\nFile=", static_cast<int>(end - p));
  p = copyString(p, file ? file : "", static_cast<int>(end - p));
  p = copyString(p, "\nLine=", static_cast<int>(end - p));
  p = longToAscii(line, p, static_cast<int>(end - p));
  copyString(p, "\nExit?", static_cast<int>(end - p));

  int answer = messageBox(message, "Assertion Error!", eBoxAbortRetryIgnore, eIconQuestion, eAnswerAbort);
  if (answer == eAnswerAbort) {
    logError(message);
    // Ended without static destructors: the failed check may have come from inside the allocator
    // with its lock held, and a destructor that frees memory would then never return.
    finishStdIoBeforeExit();
    _exit(1);
  }
  if (answer == eAnswerRetry && debuggerAttached()) raise(SIGTRAP);
  // Ignore (and Retry without a debugger): return, and the caller handles the failure.
}

}  // namespace vlm
