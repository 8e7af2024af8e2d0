// libFuzzer target for the .voc reader: whatever a file holds is read without a crash, and what
// was read is written out, read back and written again to the same lines (the writer's promise
// that a written dictionary reads back into the same words and pronunciations). The lines are
// compared as a set: the writer puts a word's primary pronunciation after its alternatives, so a
// word read back takes one of them as its primary, and the order of the lines moves with that.
//
//   build-fuzz/bin/voc_fuzz -max_total_time=600 corpus/
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "lexicon/worddict.h"
#include "tests/fuzz/fuzzfile.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) out.push_back(text.substr(start, end - start));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

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
  if (lines(again) != lines(written)) mismatch(written, again);
  close(first);
  close(second);
  return 0;
}
