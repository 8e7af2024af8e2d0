// Where tests find the built programs and the source tree: $VLM_BIN_DIR when set (ctest sets it),
// else the build/bin and source paths compiled into every test program.
#pragma once
#include <cstdlib>
#include <string>

namespace vlmtest {

inline std::string binDir() {
  if (const char* bin = std::getenv("VLM_BIN_DIR")) return bin;
  return VLM_TEST_BIN_DIR;
}

inline std::string sourceDir() { return VLM_TEST_SOURCE_DIR; }

}  // namespace vlmtest
