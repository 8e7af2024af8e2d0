// The shipped dictionaries and grammars as the engine reads them: the spelling grammar and its
// words (abc.voc, abc.rul), the letter groups, and base.voc against the templates of the
// application's built-in rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/phoneset.h"
#include "lexicon/worddict.h"
#include "testpaths.h"

namespace {

using namespace vlm;

std::string dataFile(const char* name) { return vlmtest::sourceDir() + "/data/" + name; }

// The pronunciations of a word in chain order (empty when the word is absent).
std::vector<std::string> pronsOf(const WordDictionary& words, const std::string& name) {
  std::vector<std::string> out;
  const WordData* w = words.getWordData(name.c_str());
  for (int i = w ? w->index : -1; i >= 0; i = words.wordAt(i)->nextPron)
    out.push_back(words.pronOf(i) ? words.pronOf(i) : "");
  return out;
}

class SpellingData : public ::testing::Test {
 protected:
  SpellingData() : words(5000), rules(100) {}
  void SetUp() override {
    ASSERT_EQ(words.readFile(dataFile("abc.voc").c_str()), 1);
    ASSERT_EQ(rules.readFile(dataFile("abc.rul").c_str(), &words), 1);
  }
  WordDictionary words;
  RuleDictionary rules;
};

TEST_F(SpellingData, RulesReadCleanlyAndHaveBodies) {
  EXPECT_EQ(rules.readErrorCount(), 0);
  for (const char* name : {"rAlphaBravoSpelling", "rDigitSpelling"}) {
    const RuleData* rd = rules.getRuleData(name);
    ASSERT_NE(rd, nullptr) << name;
    EXPECT_NE(rd->root.type, eTerminalNode) << name << " has an empty body";
  }
}

// Every spelled character has valid pronunciations; a letter or symbol both its spelling-alphabet
// word and its own name (a digit's own name is its number word).
TEST_F(SpellingData, SpelledCharactersHaveBothNames) {
  std::string chars = "abcdefghijklmnopqrstuvwxyz0123456789@.-_";
  for (char c : chars) {
    const std::string name = std::string("\\") + c;
    const std::vector<std::string> prons = pronsOf(words, name);
    EXPECT_GE(prons.size(), (c >= '0' && c <= '9') ? 1u : 2u) << name;
    for (const std::string& p : prons) EXPECT_EQ(isValidPron(p.c_str()), 1) << name << " " << p;
  }
  const struct { const char* name; const char* pron; } cases[] = {
      {"\\a", "alf@"}, {"\\a", "A"}, {"\\b", "bE"}, {"\\c", "sE"}, {"\\x", "eksrA"},
      {"\\0", "Ow"}, {"\\0", "zir0w"}, {"\\@", "atsoEn"}, {"\\.", "dot"}, {"\\-", "hoEfN"},
      {"\\_", "undRskOr"}};
  for (const auto& c : cases) {
    const std::vector<std::string> prons = pronsOf(words, c.name);
    EXPECT_NE(std::find(prons.begin(), prons.end(), c.pron), prons.end()) << c.name << " " << c.pron;
  }
}

// A spelled character costs the search a class of its own on every path (a short letter name is
// then not heard inside a spelling-alphabet word, nor a run of them where one word was said); the
// letter groups cost nothing, because the pronunciation dialog and the unknown-word phase put a
// word together from them. "zed" is the letter's British name.
TEST_F(SpellingData, SpelledCharactersCarryACostAndLetterGroupsNone) {
  int spelled = 0;
  for (int i = 2; i < words.recordCount(); ++i) {
    const WordData* w = words.wordAt(i);
    if (w == nullptr || w->name == nullptr) continue;
    if (w->name[0] == '\\') {
      spelled++;
      EXPECT_GT(w->wordClass, 0) << w->name << " " << words.pronOf(i);
    } else {
      EXPECT_EQ(w->wordClass, 0) << w->name << " " << words.pronOf(i);
    }
  }
  EXPECT_GT(spelled, 80);
  const std::vector<std::string> z = pronsOf(words, "\\z");
  EXPECT_NE(std::find(z.begin(), z.end(), "zed"), z.end());
}

// The cuts into letter groups always find a group: every letter and digit is one, and every
// group is made of the characters a cleaned name holds.
TEST_F(SpellingData, LetterGroupsCoverEveryLetter) {
  for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789")) {
    const std::vector<std::string> prons = pronsOf(words, std::string(1, c));
    EXPECT_FALSE(prons.empty()) << c;
    for (const std::string& p : prons) EXPECT_EQ(isValidPron(p.c_str()), 1) << c << " " << p;
  }
  int groups = 0;
  for (int i = 2; i < words.recordCount(); ++i) {
    const char* name = words.nameOf(i);
    if (name == nullptr || name[0] == '\\') continue;
    groups++;
    EXPECT_EQ(std::string(name).find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789'"),
              std::string::npos) << name;
    EXPECT_EQ(isValidPron(words.pronOf(i)), 1) << name;
  }
  EXPECT_GT(groups, 36) << "no multi-letter groups";
}

// The pronunciation dialog builds word trees of letter groups ("( <ch> &next )"): every group's
// every pronunciation must be one the word tree can model, or the rule fails as a whole.
TEST_F(SpellingData, EveryWordMakesAWordTree) {
  int checked = 0;
  for (int i = 2; i < words.recordCount(); ++i) {
    const WordData* w = words.wordAt(i);
    if (w == nullptr || !(w->flag & IS_PRIMARY_PRON)) continue;
    std::string name;
    for (const char* s = w->name; *s; ++s) {
      if (std::string("&()+:;<>[]{} ").find(*s) != std::string::npos) name += '\\';
      name += *s;
    }
    const std::string body = "( <" + name + "> )";
    const int index = rules.newRule("tmp");
    ASSERT_GE(index, 0);
    RuleBodyParser parser(&words, &rules);
    ASSERT_NE(parser.loadRuleBody(body.c_str()), nullptr) << body;
    EXPECT_EQ(rules.ruleAt(index)->setRuleBody(parser.items(), &words, &rules), 1) << w->name;
    rules.deleteRule(index);
    checked++;
  }
  EXPECT_GT(checked, 36);
}

// base.voc holds every word the application's built-in rule templates and built-in entries
// write, under its own name (not as a compound made on the fly).
TEST(BaseVocabulary, BuiltInTemplatesParse) {
  WordDictionary words(5000);
  RuleDictionary rules(100);
  ASSERT_EQ(words.readFile(dataFile("base.voc").c_str()), 1);
  const struct { const char* rule; const char* body; } templates[] = {
      {"_NamefindRule", "( look up < tarvell > )"},
      {"_CallRule", "( call < home home2 homefax work work2 workfax cell pager car radio assistant > )"},
      {"_EchoRule", "( echo < on off > )"},
      {"_SendRule", "( { send voice } mail )"},
      {"_VoiceRule", "( voice mail )"},
      {"_ScheduleRule", "( schedule { a an } < meeting lunch dinner breakfast visit reminder task job"
                        " appointment call phonecall > )"},
      {"_rTime", "( < 1 2 3 4 5 6 7 8 9 10 11 12 > [ { 00 15 30 45 } ] [ { a.m. p.m. } ] )"},
      {"_rTimeDate",
       "( { < today tomorrow sunday monday tuesday wednesday thursday friday saturday > ( < january"
       " february march april may june july august september october november december > < 1st 2nd"
       " 3rd 4th 5th 6th 7th 8th 9th 10th 11th 12th 13th 14th 15th 16th 17th 18th 19th 20th 21st"
       " 22nd 23rd 24th 25th 26th 27th 28th 29th 30th 31st > ) } &_rTime to &_rTime )"},
      {"_Ampersand", "( \\& )"},
  };
  for (const auto& t : templates) {
    const int index = rules.newRule(t.rule);
    RuleBodyParser parser(&words, &rules);
    ASSERT_NE(parser.loadRuleBody(t.body), nullptr) << t.rule;
    EXPECT_EQ(rules.ruleAt(index)->setRuleBody(parser.items(), &words, &rules), 1) << t.rule;
    std::string token;
    for (const char* s = t.body;; ++s) {
      if (*s == ' ' || *s == '\0') {
        if (!token.empty() && std::string("(){}<>[]").find(token[0]) == std::string::npos &&
            token[0] != '&') {
          const std::vector<std::string> prons = pronsOf(words, token);
          EXPECT_FALSE(prons.empty()) << t.rule << ": " << token << " is not in base.voc";
          for (const std::string& p : prons) EXPECT_EQ(isValidPron(p.c_str()), 1) << token;
        }
        token.clear();
        if (*s == '\0') break;
      } else {
        token += *s;
      }
    }
  }
}

}  // namespace
