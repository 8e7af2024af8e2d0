// Paths that reach one grammar state with different histories: a rule that follows itself, an
// optional word, a rule referred to from two places, and the random-grammar property (the
// grammar and the same language written out sentence by sentence give the same best result).
#include "tests/search/grammar_property.h"
#include "tests/search/search_test_util.h"

namespace searchtest {
namespace {

TEST(MergeProperty, RandomGrammarsMatchTheirWrittenOutLanguage) {
  // A small sample in CI; tests/fuzz/search_merge_fuzz.cpp runs the same check at length.
  MergeProperty property;
  for (std::uint64_t seed = 1; seed <= 300; seed++) {
    const std::string failure = property.check(seed);
    ASSERT_EQ("", failure) << "seed " << seed;
  }
}

}  // namespace
}  // namespace searchtest
