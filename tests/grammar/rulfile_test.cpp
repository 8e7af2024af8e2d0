// The rule dictionary and the .rul file: reserved rules, the free list, reading (comments,
// declarations, LM values, bodies over several lines, every error with its line number) and
// writing (forward part, sorted bodies), and the round trip of a set of rule files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "grammar_test_util.h"

namespace {

using namespace vlm;
using namespace gramtest;

class RulFileTest : public ::testing::Test {
 protected:
  RulFileTest() : words(1000) {
    addTestWords(words);
    resetLog();
  }

  // Reads text as a .rul file into rules; returns readFile's result.
  int readRul(RuleDictionary& rules, const std::string& text, const char* name = "in.rul") {
    std::string path = scratch(name);
    writeText(path, text);
    return rules.readFile(path.c_str(), &words);
  }

  std::string writeRul(RuleDictionary& rules, const char* name = "out.rul") {
    std::string path = scratch(name);
    EXPECT_EQ(rules.writeFile(path.c_str(), &words), 1);
    return readText(path);
  }

  WordDictionary words;
};

TEST_F(RulFileTest, ReservedRulesAndTheFreeList) {
  RuleDictionary rules(5);
  ASSERT_NE(rules.getRuleData("ReservedSilenceRule"), nullptr);
  EXPECT_EQ(rules.getRuleData("ReservedSilenceRule")->index, kReservedSilenceRule);
  EXPECT_EQ(rules.getRuleData("OutOfVocabularyRule")->index, kOutOfVocabularyRule);
  EXPECT_EQ(rules.getRuleData("OutOfVocabularyRule")->flag, IS_UNUSED);
  EXPECT_EQ(writeRul(rules), "");  // the reserved rules are never written

  int a = rules.newRule("a");
  int b = rules.newRule("b");
  EXPECT_EQ(a, 2);
  EXPECT_EQ(rules.ruleAt(a)->root.type, eTerminalNode);
  EXPECT_EQ(rules.ruleAt(a)->root.value, a);
  EXPECT_EQ(rules.newRule("a"), a);  // an existing name is reported, not doubled
  EXPECT_NE(logText().find("existing rule: a"), std::string::npos);
  EXPECT_EQ(rules.newRule("c"), 4);
  EXPECT_EQ(rules.newRule("d"), -1);
  EXPECT_NE(logText().find("hit Max Rules, adding: d (the rule table holds 5 rules)"), std::string::npos) << logText();
  EXPECT_STREQ(rules.ruleAt(b)->name, "b");  // a full table leaves the rules intact

  rules.deleteRule(a);
  EXPECT_EQ(rules.getRuleData("a"), nullptr);
  EXPECT_EQ(rules.ruleAt(a), nullptr);
  rules.deleteRule(b);
  EXPECT_EQ(rules.newRule("e"), b);  // the most recently freed record first
  EXPECT_EQ(rules.newRule("f"), a);
  EXPECT_EQ(rules.getRuleData("f")->index, a);
}

TEST_F(RulFileTest, ReadingDeclarationsLMAndComments) {
  RuleDictionary rules(50);
  EXPECT_EQ(readRul(rules, "; only a comment\n\n   \t; another\r\n"), 1);
  EXPECT_EQ(rules.ruleCount(), 2);
  EXPECT_EQ(rules.readErrorCount(), 0);

  std::string path = scratch("missing.rul");
  std::remove(path.c_str());
  EXPECT_EQ(rules.readFile(path.c_str(), &words), 0);

  EXPECT_EQ(readRul(rules, "RULE a : LM 5 ;\nRULE b ( &a yes ) ;\r\nRULE a { yes no }\n"), 1);
  EXPECT_EQ(rules.readErrorCount(), 0) << logText();
  RuleData* a = rules.getRuleData("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->LM, 5);
  EXPECT_EQ(a->root.type, eAlternativeNode);
  EXPECT_EQ(rules.getRuleData("b")->root.next->index(), a->index);
}

TEST_F(RulFileTest, WriterFormat) {
  RuleDictionary rules(50);
  ASSERT_EQ(readRul(rules, "RULE b ( a ) ;\nRULE a : LM 5 { yes no } ;\nRULE e ;\n"), 1);
  ASSERT_EQ(rules.readErrorCount(), 0) << logText();
  const std::string expected =
      "; setup all RULE forward references\n\n"
      "RULE a : LM 5 ;\nRULE b ;\nRULE e ;\n"
      "\n\n; now all rule bodies\n\n"
      "RULE a {\n\tyes\n\tno\n\t} ;\n\n"
      "RULE b\n\t (\n\ta\n\t) ;\n\n"
      "RULE e ;\n\n ;\n\n";
  EXPECT_EQ(writeRul(rules), expected);

  // The rule marked as not written is skipped; the empty rule reads back empty.
  rules.getRuleData("b")->flag = RULE_NOT_WRITTEN;
  std::string text = writeRul(rules);
  EXPECT_EQ(text.find("RULE b"), std::string::npos);
  RuleDictionary back(50);
  ASSERT_EQ(readRul(back, text, "back.rul"), 1);
  EXPECT_EQ(back.readErrorCount(), 0) << logText();
  EXPECT_EQ(back.getRuleData("e")->root.type, eTerminalNode);
  EXPECT_EQ(back.getRuleData("a")->LM, 5);
}

// A malformed file: every error is logged with its line and text, counted, and the offending
// rule is left with an empty body; the lines after an error are still read.
// Faults of a file as a whole: each is an error with its line, the rest of the file still read.
TEST_F(RulFileTest, LongLinesDuplicatesAndNonRegularFilesAreReported) {
  struct Case {
    const char* what;
    std::string text;
    int errors;
    const char* logged;
    const char* readAfter;  // a rule the reader still found after the fault
  };
  std::string longBody = "RULE long ( a";
  while (longBody.size() < 1500) longBody += " b";
  const Case cases[] = {
      {"a line over 1023 bytes", longBody + " )\nRULE after ( a )\n", 1, "line: 1\tline longer than 1023 bytes, skipped", "after"},
      {"a line of exactly 1023 bytes", "RULE exact ( a" + std::string(1023 - 16, ' ') + " )\nRULE after ( a )\n", 0, "", "exact"},
      {"a rule defined twice", "RULE twice ( a )\nRULE twice ( b )\nRULE after ( a )\n", 1,
       "line: 2\tRule defined twice, the later body replaces the earlier: twice", "after"},
      {"a declaration before the body", "RULE declared ;\nRULE declared ( a )\n", 0, "", "declared"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RuleDictionary rules(50);
    resetSpeechLogForTest();
    ASSERT_EQ(readRul(rules, c.text), 1);
    EXPECT_EQ(rules.readErrorCount(), c.errors) << logText();
    if (*c.logged) {
      EXPECT_NE(logText().find(c.logged), std::string::npos) << logText();
    }
    ASSERT_NE(rules.getRuleData(c.readAfter), nullptr);
    EXPECT_NE(rules.getRuleData(c.readAfter)->root.type, eTerminalNode);
  }
  // A FIFO or a folder is refused at once, with the reason in the log.
  const std::string fifo = scratch("fifo.rul");
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  RuleDictionary rules(50);
  resetSpeechLogForTest();
  EXPECT_EQ(rules.readFile(fifo.c_str(), &words), 0);
  EXPECT_NE(logText().find("fifo.rul not read: is not a regular file"), std::string::npos) << logText();
}

TEST_F(RulFileTest, MalformedFileIsReportedLineByLine) {
  const std::string text =
      "; errors\n"                       // 1
      "rule lower ( a )\n"               // 2
      "RULE good ( a\n"                  // 3
      "   b ; a comment inside\n"        // 4
      "   c )\n"                         // 5
      "RULE bad ( a zzz )\n"             // 6
      "RULE syntax junk\n"               // 7
      "RULE lm : LX 5\n"                 // 8
      "RULE ml ( a\n"                    // 9
      "  b\n"                            // 10
      "  &nosuch )\n"                    // 11
      "RULE good2 { yes no }\n"          // 12
      "RULE OutOfVocabularyRule ( a )\n" // 13
      "RULE\n"                           // 14
      "RULE unterminated ( a b\n";       // 15
  RuleDictionary rules(50);
  ASSERT_EQ(readRul(rules, text), 1);
  EXPECT_EQ(rules.readErrorCount(), 8);
  const std::string log = logText();
  for (const char* message : {"line: 2\tUnknown .rul file keyword rule lower ( a )",
                              "line: 6\tNo word named: zzz", "line: 6\tRule Strings didn't parse: ( a zzz )",
                              "line: 7\tBad rule syntax: junk", "line: 8\tUnknown .rul file keyword : LX 5",
                              "line: 11\tNo rule named: nosuch", "line: 11\tRule Strings didn't parse: ( a",
                              "line: 13\tReserved rule name: OutOfVocabularyRule",
                              "line: 14\tRule name missing after RULE",
                              "line: 15\tRule Strings didn't parse: ( a b"})
    EXPECT_NE(log.find(message), std::string::npos) << message << "\n--- log:\n" << log;
  GraphDump dumper(words, rules);
  EXPECT_EQ(dumper.dump(rules.getRuleData("good")), "0:S>1 1:W a>2 2:W b>3 3:W c>4 4:E");
  EXPECT_EQ(dumper.dump(rules.getRuleData("good2")), "0:A{yes no||}>1 1:E");
  for (const char* empty : {"bad", "ml", "unterminated"}) {
    ASSERT_NE(rules.getRuleData(empty), nullptr) << empty;
    EXPECT_EQ(rules.getRuleData(empty)->root.type, eTerminalNode) << empty;
  }
  EXPECT_EQ(rules.getRuleData("lower"), nullptr);

  // A body that fails on a later line of the file empties a rule that had one; its name stays.
  ASSERT_EQ(readRul(rules, "RULE good ( a zzz )\n", "again.rul"), 1);
  EXPECT_EQ(rules.readErrorCount(), 1);
  RuleData* good = rules.getRuleData("good");
  ASSERT_NE(good, nullptr);
  EXPECT_EQ(good->root.type, eTerminalNode);
  EXPECT_STREQ(good->name, "good");
  ASSERT_EQ(readRul(rules, "RULE good ( c )\n", "again2.rul"), 1);
  EXPECT_EQ(dumper.dump(good), "0:S>1 1:W c>2 2:E");
}

// A backslash keeps the next character in a name (and stays in it); one at the end of a line
// escapes nothing and is dropped, so that every name read can be written and read back.
TEST_F(RulFileTest, NamesWithBackslashesSurviveWriting) {
  RuleDictionary rules(50);
  ASSERT_EQ(readRul(rules, "RULE tail\\\nRULE two\\\\\\\nRULE esc\\ aped\\(x ( a )\n"), 1);
  EXPECT_EQ(rules.readErrorCount(), 0) << logText();
  ASSERT_NE(rules.getRuleData("tail"), nullptr);
  ASSERT_NE(rules.getRuleData("two\\\\"), nullptr);
  ASSERT_NE(rules.getRuleData("esc\\ aped\\(x"), nullptr);
  EXPECT_EQ(rules.getRuleData("esc\\ aped\\(x")->root.type, eSequenceNode);
  std::string written = writeRul(rules);
  RuleDictionary back(50);
  ASSERT_EQ(readRul(back, written, "back.rul"), 1);
  EXPECT_EQ(back.readErrorCount(), 0) << written << logText();
  EXPECT_EQ(back.ruleCount(), rules.ruleCount());
  EXPECT_EQ(writeRul(back, "again.rul"), written);
}

// A body of many words in a nested construct is written on lines short enough for the reader,
// which takes lines in pieces of 1023 characters.
TEST_F(RulFileTest, LongBodiesAreWrittenOnReadableLines) {
  std::string text = "RULE big ( call { \n";
  for (int i = 0; i < 400; i++) text += "yes no dial\n";
  text += "} [ ";
  for (int i = 0; i < 300; i++) text += "call\n";
  text += "] )\n";
  RuleDictionary rules(50);
  ASSERT_EQ(readRul(rules, text), 1);
  ASSERT_EQ(rules.readErrorCount(), 0) << logText();
  std::string written = writeRul(rules);
  size_t longest = 0;
  for (size_t start = 0, end; start < written.size(); start = end + 1) {
    end = written.find('\n', start);
    if (end == std::string::npos) end = written.size();
    longest = std::max(longest, end - start);
  }
  EXPECT_LT(longest, 300u);
  RuleDictionary back(50);
  ASSERT_EQ(readRul(back, written, "back.rul"), 1);
  EXPECT_EQ(back.readErrorCount(), 0) << logText();
  GraphDump one(words, rules), two(words, back);
  EXPECT_EQ(two.dump(back.getRuleData("big")), one.dump(rules.getRuleData("big")));
  EXPECT_EQ(writeRul(back, "again.rul"), written);
}

// A set of rule files written and read back gives the same graphs, and writing those gives the
// same text again.
TEST_F(RulFileTest, RoundTrip) {
  const char* files[] = {
      "RULE top ;\nRULE name ;\nRULE number : LM 3 ;\n"
      "RULE top ( call { &name dial &number } [ please_me ] ) ;\n"
      "RULE name { a b &OutOfVocabularyRule ( c d ) + }\n"
      "RULE number < one &name two three_two >\n",

      "RULE opt [ a b ]\n"
      "RULE rep ( ( a [ b ] ) + c { yes no } + ( d ) )\n"
      "RULE nest ( a ( b ( c ( d ) + ) ) [ [ a ] b ] { { a b } ( c d ) + [ yes ] < no > } )\n"
      "RULE empty ;\n"
      "RULE long ( a b c d a b c d a b c d [ a b c d a b c d a b c d ] )\n"
      "RULE trees { < a b > < c &opt c c &name a &opt > }\n"
      "RULE seqrep ( ( ( a ) + b ) + &opt + )\n",
  };
  words.addWordIfNew("please", "plEz");
  words.addWordIfNew("me", "mE");
  words.addWordIfNew("three", "TrE");
  RuleDictionary first(100);
  for (int i = 0; i < 2; i++) {
    ASSERT_EQ(readRul(first, files[i], i ? "set2.rul" : "set1.rul"), 1);
    ASSERT_EQ(first.readErrorCount(), 0) << files[i] << "\n" << logText();
  }
  const std::string written = writeRul(first, "written.rul");
  RuleDictionary second(100);
  ASSERT_EQ(readRul(second, written, "reread.rul"), 1);
  ASSERT_EQ(second.readErrorCount(), 0) << written << "\n" << logText();

  GraphDump one(words, first), two(words, second);
  int compared = 0;
  for (int i = 2; i < first.recordCount(); i++) {
    RuleData* rd = first.ruleAt(i);
    if (rd == nullptr) continue;
    RuleData* back = second.getRuleData(rd->name);
    ASSERT_NE(back, nullptr) << rd->name;
    EXPECT_EQ(two.dump(back), one.dump(rd)) << rd->name << "\n" << written;
    EXPECT_EQ(back->LM, rd->LM);
    compared++;
  }
  EXPECT_EQ(compared, 10);
  EXPECT_EQ(writeRul(second, "rewritten.rul"), written);
}

}  // namespace
