// Process creation with posix_spawn: no arguments, the caller's environment, no waiting.
#include "platform/spawn.h"

#include <errno.h>
#include <limits.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>

#include "foundation/log.h"

extern char** environ;

namespace vlm {

std::string programFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  path[n] = 0;
  char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return std::string();
  slash[1] = 0;
  return path;
}

int startProgram(const std::string& path) {
  if (access(path.c_str(), X_OK) != 0) {
    logError("cannot start a program that is missing or not executable: ", path.c_str());
    return 0;
  }
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t child = 0;
  const int rc = posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ);
  if (rc != 0) {
    logError("cannot start the program ", path.c_str());
    logError("  reason: ", std::strerror(rc));
    return 0;
  }
  return 1;
}

}  // namespace vlm
