// The engine's formatter, formatted writing and line reading on file descriptors, and the
// process's standard streams.
#define VLM_UNIT "stdiox"
#include "foundation/stdiox.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "foundation/copystr.h"
#include "foundation/log.h"

namespace vlm {

char* formatMessage(char* target, int room, const char* format, va_list args) {
  if (format == nullptr || target == nullptr) return nullptr;
  if (room == 0) return target;
  char* p = target;
  // With a negative room there is no limit; otherwise the NUL goes at last at the end.
  char* last = room > 0 ? target + room - 1 : nullptr;
  auto roomLeft = [&]() -> int { return last ? static_cast<int>(last - p) + 1 : -1; };
  while (*format != 0 && (last == nullptr || p < last)) {
    char c = *format++;
    if (c == '\\') {
      if (*format == 0) break;
      *p++ = *format++;
      continue;
    }
    if (c != '%') {
      *p++ = c;
      continue;
    }
    char conversion = *format;
    if (conversion != 0) format++;
    switch (conversion) {
      case 'c':
        *p++ = static_cast<char>(va_arg(args, int));
        break;
      case 'd':
        p = longToAscii(va_arg(args, int), p, roomLeft());
        break;
      case 'f':
        p = doubleToAscii(va_arg(args, double), p, roomLeft());
        break;
      case 's':
        p = copyString(p, va_arg(args, const char*), roomLeft());
        break;
      case 'x':
        p = longToHexAscii(va_arg(args, unsigned), p, roomLeft());
        break;
      default:
        p = copyString(p, "fPrint Err", roomLeft());
        break;
    }
  }
  *p = 0;
  return p;
}

char* sPrint(char* target, int room, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* end = formatMessage(target, room, format, args);
  va_end(args);
  return end;
}

int fPrint(int fd, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  char* end = formatMessage(buffer, sizeof buffer, format, args);
  va_end(args);
  if (end == nullptr) return 0;
  ssize_t written;
  do {
    written = write(fd, buffer, static_cast<size_t>(end - buffer));
  } while (written < 0 && errno == EINTR);
  return written < 0 ? 0 : static_cast<int>(written);
}

namespace {

ssize_t readRetrying(int fd, char* buffer, size_t count) {
  ssize_t got;
  do {
    got = read(fd, buffer, count);
  } while (got < 0 && errno == EINTR);
  return got;
}

// A pipe or terminal cannot be repositioned, so its lines are read one byte at a time. A CR that
// ended the previous line is remembered so that the LF of a CR LF pair is skipped.
int crPendingFd = -1;

char* fGetsUnseekable(int fd, char* buffer, int size) {
  int length = 0;
  bool any = false;
  while (length < size - 1) {
    char c;
    if (readRetrying(fd, &c, 1) != 1) break;
    if (crPendingFd == fd) {
      crPendingFd = -1;
      if (c == '\n') continue;
    }
    any = true;
    if (c == '\r' || c == '\n') {
      if (c == '\r') crPendingFd = fd;
      break;
    }
    buffer[length++] = c;
  }
  if (!any) return nullptr;
  buffer[length] = 0;
  return buffer;
}

}  // namespace

char* fGets(int fd, char* buffer, int size) {
  VLM_ASSERT(size > 1, "size > 1");
  if (size < 2 || buffer == nullptr) return nullptr;
  off_t start = lseek(fd, 0, SEEK_CUR);
  if (start < 0) return fGetsUnseekable(fd, buffer, size);
  ssize_t got = readRetrying(fd, buffer, static_cast<size_t>(size - 1));
  if (got <= 0) return nullptr;
  buffer[got] = 0;
  ssize_t consumed = got;
  ssize_t end = -1;
  for (ssize_t i = 0; i < got; i++) {
    if (buffer[i] == '\r' || buffer[i] == '\n') {
      end = i;
      break;
    }
  }
  char next[2];
  if (end >= 0) {
    consumed = end + 1;
    if (buffer[end] == '\r') {
      if (end + 1 < got) {
        if (buffer[end + 1] == '\n') consumed++;
      } else if (readRetrying(fd, next, 1) == 1 && next[0] == '\n') {
        consumed++;  // the LF of a CR LF pair lies beyond this read
      }
    }
    buffer[end] = 0;
  } else if (got == size - 1) {
    // The read filled the buffer exactly: when the line ends right here, take its end along, so
    // that a line of exactly size - 1 characters is not followed by a spurious empty line.
    ssize_t peeked = readRetrying(fd, next, 2);
    if (peeked >= 1 && (next[0] == '\r' || next[0] == '\n')) {
      consumed++;
      if (next[0] == '\r' && peeked == 2 && next[1] == '\n') consumed++;
    }
  }
  lseek(fd, start + consumed, SEEK_SET);
  return buffer;
}

namespace {

// After fGets filled its whole buffer: 1 when the line goes on behind what was read, 0 when it
// ended exactly there (its end already taken) or the file ended.
int lineGoesOn(int fd) {
  char c;
  off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0) {
    // A pipe: the next byte tells; a line end is taken, anything else belongs to the cut line.
    if (readRetrying(fd, &c, 1) != 1) return 0;
    if (c == '\r') crPendingFd = fd;
    return c != '\r' && c != '\n';
  }
  if (position == 0 || pread(fd, &c, 1, position - 1) != 1) return 0;
  if (c == '\r' || c == '\n') return 0;
  return pread(fd, &c, 1, position) == 1;
}

}  // namespace

char* fGetLine(int fd, char* buffer, int size, int* cut) {
  if (cut != nullptr) *cut = 0;
  char* line = fGets(fd, buffer, size);
  if (line == nullptr || static_cast<int>(std::strlen(buffer)) < size - 1 || !lineGoesOn(fd)) return line;
  if (cut != nullptr) *cut = 1;
  // Skips the rest of the line.
  char rest[256];
  while (fGets(fd, rest, sizeof rest) != nullptr) {
    if (std::strlen(rest) < sizeof rest - 1 || !lineGoesOn(fd)) break;
  }
  return line;
}

// The standard streams. A stream that is closed when the process starts is replaced by a log file
// in the current directory, put on the standard descriptor so that every writer reaches it; at
// exit the file is deleted when nothing was written to it.
namespace {

int stdOut = 1;  // constant-initialised: valid even before static construction
int stdErr = 2;

struct RedirectedStream {
  bool active = false;
  char path[1024] = {0};
};
RedirectedStream redirected[3];

void redirectWhenClosed(int fd, const char* name) {
  if (fcntl(fd, F_GETFD) != -1) return;
  int opened = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (opened < 0) return;
  if (opened != fd) {
    if (dup2(opened, fd) < 0) {
      close(opened);
      return;
    }
    close(opened);
  } else {
    fcntl(fd, F_SETFD, 0);  // keep the standard descriptor across exec
  }
  RedirectedStream& r = redirected[fd];
  r.active = true;
  if (getcwd(r.path, sizeof r.path - 64) == nullptr) {
    copyString(r.path, name, sizeof r.path);  // remembered relative to the starting directory
  } else {
    char* p = r.path + std::strlen(r.path);
    if (p == r.path || p[-1] != '/') *p++ = '/';
    copyString(p, name, static_cast<int>(sizeof r.path - (p - r.path)));
  }
}

void closeRedirected(int fd) {
  RedirectedStream& r = redirected[fd];
  if (!r.active) return;
  r.active = false;
  struct stat st;
  bool empty = fstat(fd, &st) == 0 && st.st_size == 0;
  close(fd);
  if (empty) unlink(r.path);
}

}  // namespace

struct InitStdIo {
  InitStdIo() {
    redirectWhenClosed(1, "stdOut.log");
    redirectWhenClosed(2, "stdErr.log");
  }
  ~InitStdIo() {
    std::fflush(stdout);
    std::fflush(stderr);
    closeRedirected(1);
    closeRedirected(2);
  }
};

static InitStdIo initStdIo;

int stdOutHandle() { return stdOut; }
int stdErrHandle() { return stdErr; }

// Called on the way out through the assertion box, which ends the process without running the
// static destructors.
void finishStdIoBeforeExit() {
  std::fflush(stdout);
  std::fflush(stderr);
  closeRedirected(1);
  closeRedirected(2);
}

}  // namespace vlm
