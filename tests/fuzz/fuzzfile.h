// Helpers shared by the libFuzzer targets: the input as an in-memory file, and a file's text.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/msgbox.h"

namespace fuzzfile {

// Any assertion box is a finding: abort so that libFuzzer keeps the input.
inline int abortOnBox(const char* text, const char* caption, vlm::BoxButtons, vlm::BoxIcon, int defaultAnswer) {
  if (caption && std::strcmp(caption, "Assertion Error!") == 0) {
    write(2, text, std::strlen(text));
    write(2, "\n", 1);
    std::abort();
  }
  return defaultAnswer;
}

// Installs abortOnBox once per process.
inline void abortOnAssertions() {
  static bool installed = [] {
    vlm::setMessageBoxHandler(abortOnBox);
    return true;
  }();
  (void)installed;
}

// An in-memory regular file holding the bytes, positioned at its start.
inline int memoryFile(const void* data, size_t size) {
  int fd = memfd_create("fuzz", 0);
  if (fd < 0) std::abort();
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) std::abort();
    p += n;
    size -= static_cast<size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

inline std::string contents(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  lseek(fd, 0, SEEK_SET);
  return text;
}

// The file's name, for readers that take a path.
inline std::string pathOf(int fd) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return path;
}

// Shows both texts and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void mismatch(const std::string& first, const std::string& second) {
  write(2, first.data(), first.size());
  write(2, "\n----\n", 6);
  write(2, second.data(), second.size());
  std::abort();
}

}  // namespace fuzzfile
