/* Preloaded into a program under test: counts the calls that change files (write and writev to
 * descriptors other than the standard streams, fsync, rename, link, unlink) and, when
 * $VLM_KILL_AT is N > 0, kills the process with SIGKILL just before the N-th. At exit the count
 * goes to the file named by $VLM_COUNT_FILE. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/uio.h>
#include <unistd.h>

static long killAt = -2;
static long calls = 0;

static void step(void) {
  if (killAt == -2) {
    const char* at = getenv("VLM_KILL_AT");
    killAt = at ? atol(at) : -1;
  }
  calls++;
  if (killAt > 0 && calls >= killAt) kill(getpid(), SIGKILL);
}

__attribute__((destructor)) static void report(void) {
  const char* path = getenv("VLM_COUNT_FILE");
  if (path == NULL) return;
  FILE* f = fopen(path, "w");
  if (f == NULL) return;
  fprintf(f, "%ld\n", calls);
  fclose(f);
}

typedef ssize_t (*WriteFn)(int, const void*, size_t);
typedef ssize_t (*WritevFn)(int, const struct iovec*, int);
typedef int (*FsyncFn)(int);
typedef int (*TwoPathFn)(const char*, const char*);
typedef int (*PathFn)(const char*);
#define REAL(name, type) static type real = NULL; if (real == NULL) real = (type)dlsym(RTLD_NEXT, name)

ssize_t write(int fd, const void* data, size_t bytes) {
  REAL("write", WriteFn);
  if (fd > 2) step();
  return real(fd, data, bytes);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  REAL("writev", WritevFn);
  if (fd > 2) step();
  return real(fd, parts, count);
}

int fsync(int fd) {
  REAL("fsync", FsyncFn);
  step();
  return real(fd);
}

int rename(const char* from, const char* to) {
  REAL("rename", TwoPathFn);
  step();
  return real(from, to);
}

int link(const char* from, const char* to) {
  REAL("link", TwoPathFn);
  step();
  return real(from, to);
}

int unlink(const char* path) {
  REAL("unlink", PathFn);
  step();
  return real(path);
}
