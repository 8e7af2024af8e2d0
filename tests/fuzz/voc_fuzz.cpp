// libFuzzer target for the .voc reader: whatever a file holds is read without a crash, and what
// was read is written out, read back and written again to the same text (the writer's promise
// that a written dictionary reads back into the same words).
//
//   build-fuzz/bin/voc_fuzz -max_total_time=600 corpus/
#include <cstdint>

#include "lexicon/worddict.h"
#include "tests/fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return 0;
  using namespace fuzzfile;
  int input = memoryFile(data, size);
  vlm::WordDictionary words(64);
  words.readFile(pathOf(input).c_str());
  close(input);

  int first = memoryFile("", 0);
  if (!words.writeFd(first)) std::abort();
  const std::string written = contents(first);
  vlm::WordDictionary back(64);
  if (!back.readFile(pathOf(first).c_str())) std::abort();
  int second = memoryFile("", 0);
  if (!back.writeFd(second)) std::abort();
  const std::string again = contents(second);
  if (again != written) mismatch(written, again);
  close(first);
  close(second);
  return 0;
}
