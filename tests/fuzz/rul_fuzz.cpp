// libFuzzer target for the .rul reader and the rule body parser (and the JSGF converter).
//
// The input is read three times: as a .rul file (RuleDictionary::readFd), as the text of one rule
// body (RuleBodyParser::loadRuleBody, then setRuleBody) and as a JSGF grammar (convertJsgf).
// Malformed input must be reported, never crash or assert. Whatever was read is written out, read
// back and written again: the second reading must be free of errors and the two texts equal (the
// writer's promise that a written file reads back into the same rules). A JSGF grammar that
// converted cleanly must load without errors.
//
//   build-fuzz/bin/rul_fuzz -max_total_time=600 corpus/
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "grammar/jsgf.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"
#include "tests/fuzz/fuzzfile.h"

namespace {

using namespace vlm;
using fuzzfile::contents;
using fuzzfile::memoryFile;

void addWords(WordDictionary& words) {
  const char* rows[][2] = {{"a", "A"},     {"b", "bE"},     {"b", "bi"},   {"c", "sE"},     {"bee", "bE"},
                           {"yes", "yes"}, {"no", "nOw"},   {"call", "kol"}, {"dial", "doEL"}, {"new", "nU"},
                           {"york", "yOrk"}, {"one", "wun"}, {"two", "tUw"}, {"sil", "."},    {"x", "b"}};
  for (auto& r : rows) words.addWordIfNew(r[0], r[1], 0);
}

// Writes rules, reads the text back and writes again; aborts when the text does not survive.
void checkRoundTrip(RuleDictionary& rules, WordDictionary& words) {
  int first = memoryFile("", 0);
  if (!rules.writeFd(first, &words)) std::abort();
  std::string written = contents(first);
  RuleDictionary back(64);
  resetSpeechLogForTest();  // the log then shows only what the second reading reported
  back.readFd(first, &words);
  if (back.readErrorCount() != 0) {
    write(2, written.data(), written.size());
    std::abort();
  }
  int second = memoryFile("", 0);
  if (!back.writeFd(second, &words)) std::abort();
  if (contents(second) != written) {
    std::string again = contents(second);
    write(2, written.data(), written.size());
    write(2, "\n----\n", 6);
    write(2, again.data(), again.size());
    std::abort();
  }
  close(first);
  close(second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzfile::abortOnAssertions();
  if (size > 64 * 1024) return 0;

  WordDictionary words(256);
  addWords(words);
  {
    RuleDictionary rules(64);
    int fd = memoryFile(data, size);
    rules.readFd(fd, &words);
    close(fd);
    checkRoundTrip(rules, words);
  }
  {
    RuleDictionary rules(64);
    rules.newRule("r");
    rules.newRule("s");
    std::string text(reinterpret_cast<const char*>(data), size);
    RuleBodyParser parser(&words, &rules);
    if (!text.empty() && parser.loadRuleBody(text.c_str()) != nullptr) {
      RuleData* rd = rules.ruleAt(rules.newRule("fuzz"));
      rd->setRuleBody(parser.items(), &words, &rules);
      checkRoundTrip(rules, words);
    }
  }
  {
    std::string text(reinterpret_cast<const char*>(data), size);
    JsgfConversion result;
    if (convertJsgf(text.c_str(), &words, &result, "fuzz")) {
      RuleDictionary rules(64);
      int fd = memoryFile(result.rul.data(), result.rul.size());
      rules.readFd(fd, &words);
      close(fd);
      if (rules.readErrorCount() != 0) {
        write(2, result.rul.data(), result.rul.size());
        std::abort();
      }
    }
  }
  return 0;
}
