// Where tests find the built programs and the source tree: $VLM_BIN_DIR when set (ctest sets it),
// else the build/bin and source paths compiled into every test program; and running a program
// through the shell with its standard output captured.
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vlmtest {

inline std::string binDir() {
  if (const char* bin = std::getenv("VLM_BIN_DIR")) return bin;
  return VLM_TEST_BIN_DIR;
}

inline std::string sourceDir() { return VLM_TEST_SOURCE_DIR; }

// What a shell command wrote on standard output, and its exit status (-1 when it did not exit).
struct Outcome {
  std::string out;
  int status = -1;
};

inline Outcome run(const std::string& command) {
  Outcome r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace vlmtest
