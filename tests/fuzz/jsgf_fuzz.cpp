// libFuzzer target for the JSGF converter: any grammar text is converted or refused without a
// crash or an assertion, and the .rul text of a grammar that converted without errors reads back
// without errors (what jsgf2rul checks before it exits 0).
//
//   build-fuzz/bin/jsgf_fuzz -max_total_time=600 corpus/
#include <cstdint>

#include "foundation/log.h"
#include "grammar/jsgf.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "tests/fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzfile::abortOnAssertions();
  if (size > 64 * 1024) return 0;
  using namespace fuzzfile;
  vlm::WordDictionary words(256);
  const char* rows[][2] = {{"a", "A"}, {"b", "bE"}, {"yes", "yes"}, {"no", "nOw"}, {"call", "kol"},
                           {"new", "nU"}, {"york", "yOrk"}, {"one", "wun"}, {"two", "tUw"}};
  for (auto& r : rows) words.addWordIfNew(r[0], r[1], 0);
  std::string text(reinterpret_cast<const char*>(data), size);
  vlm::JsgfConversion result;
  if (vlm::convertJsgf(text.c_str(), &words, &result, "fuzz") && result.errors == 0) {
    vlm::RuleDictionary rules(64);
    int fd = memoryFile(result.rul.data(), result.rul.size());
    rules.readFd(fd, &words);
    close(fd);
    if (rules.readErrorCount() != 0) mismatch(text, result.rul);
  }
  return 0;
}
