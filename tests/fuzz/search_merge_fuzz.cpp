// libFuzzer target for the search's path merging: the property of tests/search/grammar_property.h
// at length. The input's first eight bytes (zero-padded) seed one case: a random grammar of words,
// rule references (the same rule referred to several times, also right after itself), sequences,
// alternatives, optional parts, word trees with continuations and the out-of-vocabulary element,
// and a random utterance. The search must give the best words and score of the same language
// written out sentence by sentence, never do worse than the forced alignment of the spoken words
// by more than the state beam, and without pruning find exactly the best forced alignment. A
// difference prints the grammar and the utterance's words and aborts; so does any assertion box.
//
//   build-fuzz/bin/search_merge_fuzz -max_total_time=600 corpus/
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/msgbox.h"
#include "tests/search/grammar_property.h"

namespace {

using namespace vlm;

int abortOnBox(const char* text, const char* caption, BoxButtons, BoxIcon, int defaultAnswer) {
  if (caption && std::strcmp(caption, "Assertion Error!") == 0) {
    write(2, text, std::strlen(text));
    write(2, "\n", 1);
    std::abort();
  }
  return defaultAnswer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static searchtest::MergeProperty* property = [] {
    setMessageBoxHandler(abortOnBox);
    return new searchtest::MergeProperty;
  }();
  std::uint64_t seed = 0;
  std::memcpy(&seed, data, size < sizeof seed ? size : sizeof seed);
  const std::string failure = property->check(seed);
  if (!failure.empty()) {
    std::fprintf(stderr, "seed %llu\n%s\n", static_cast<unsigned long long>(seed), failure.c_str());
    std::abort();
  }
  return 0;
}
