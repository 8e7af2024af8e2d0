// The speech log and the assertion handler.
#define VLM_UNIT "stdiox"
#include "foundation/log.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "foundation/copystr.h"
#include "foundation/stdiox.h"
#include "platform/msgbox.h"

namespace vlm {

void finishStdIoBeforeExit();  // stdiox.cpp

namespace {

bool speechLogWritten = false;  // has this process written the log yet?
bool consoleProgram = false;

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

void logError(const char* text, const char* second) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (speechLogWritten ? O_APPEND : O_TRUNC);
  int fd = open("velmora.log", flags, 0644);
  if (fd >= 0) {
    speechLogWritten = true;
    if (text != nullptr) {
      writeAll(fd, "\n");
      writeAll(fd, text);
      if (second != nullptr) writeAll(fd, second);
    }
    close(fd);
  }
  if (consoleProgram && text != nullptr) {
    // The console shows one message per line.
    int out = stdOutHandle();
    writeAll(out, text);
    if (second != nullptr) writeAll(out, second);
    writeAll(out, "\n");
  }
}

void setConsoleProgram(bool console) { consoleProgram = console; }

void resetSpeechLogForTest() { speechLogWritten = false; }

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
