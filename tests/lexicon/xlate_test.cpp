// Letter-to-sound: name cleaning, the rule table and its context patterns, the number reader,
// the speller and the text driver.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "foundation/log.h"
#include "lexicon/phoneset.h"
#include "lexicon/xlate.h"
#include "platform/msgbox.h"

namespace {

using vlm::PhoneBuf;

std::string xlate(const char* text, int join, int room = 4096) {
  std::string out(room + 16, '\x7f');
  char* end = vlm::xlateString(out.data(), text, room, nullptr, join);
  EXPECT_EQ(end, out.data() + std::strlen(out.data()));
  if (room > 0) {
    EXPECT_EQ(out[room], '\x7f') << "wrote past the room";
  }
  return std::string(out.c_str());
}

// Every character is a phone or a word-separating space.
bool phonesOrSpaces(const char* s) {
  for (; *s; ++s)
    if (*s != ' ' && !vlm::isPhone(*s)) return false;
  return true;
}

// Runs a test in a scratch directory of its own so that velmora.log can be read back.
class XlateLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/xlate_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldDir = cwd;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    vlm::resetSpeechLogForTest();
  }
  void TearDown() override {
    (void)!chdir(oldDir.c_str());
    std::system(("rm -rf " + dir).c_str());
  }
  std::string log() {
    std::ifstream in("velmora.log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir, oldDir;
};

// ---------------------------------------------------------------------------------------------
// The rule table

// Each test runs in a process of its own, so this is the first use of the table: the in-place
// split must happen once even when several threads translate at the same time.
TEST(XlateRules, FirstUseFromSeveralThreadsAtOnce) {
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (auto& r : results)
    threads.emplace_back([&r] {
      char out[256];
      vlm::xlateString(out, "thinking about photos 1500", sizeof out, nullptr, 0);
      r = out;
    });
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, "Ti~ki~ ab?t fotos fiftYn hundr@d");
  int count = 0;
  vlm::xlateRules(0, &count);
  EXPECT_EQ(count, 22);
}

TEST(XlateRules, BlocksHoldTheListedNumberOfRules) {
  const int expected[vlm::kXlateRuleBlocks] = {22, 34, 6, 11, 10, 52, 2, 10, 6, 31, 1, 2, 5, 3,
                                               9,  48, 5, 4,  2,  23, 26, 35, 2, 13, 1, 11, 1};
  int total = 0;
  for (int b = 0; b < vlm::kXlateRuleBlocks; ++b) {
    int count = -1;
    ASSERT_NE(vlm::xlateRules(b, &count), nullptr);
    EXPECT_EQ(count, expected[b]) << "block " << b;
    total += count;
  }
  EXPECT_EQ(total, 375);
  int count = -1;
  EXPECT_EQ(vlm::xlateRules(27, &count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(XlateRules, FieldsAreSplitAndEveryLetterBlockEndsWithItsLetterAlone) {
  int count = 0;
  for (int b = 1; b < vlm::kXlateRuleBlocks; ++b) {
    const vlm::XlateRule* rules = vlm::xlateRules(b, &count);
    const vlm::XlateRule& last = rules[count - 1];
    const char letter[2] = {static_cast<char>('a' + b - 1), 0};
    EXPECT_STREQ(last.match, letter);
    EXPECT_STREQ(last.left, "");
    EXPECT_STREQ(last.right, "");
    EXPECT_EQ(vlm::xlateRuleBlock(letter[0]), b);
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(rules[i].match[0], letter[0]) << "block " << letter << " rule " << i;
      EXPECT_TRUE(phonesOrSpaces(rules[i].phones)) << rules[i].phones;
    }
  }
  // Spot checks of the stored texts, empty fields and the one-space word break included.
  const vlm::XlateRule* other = vlm::xlateRules(0, &count);
  EXPECT_STREQ(other[0].match, "_");
  EXPECT_STREQ(other[0].phones, " ");
  EXPECT_STREQ(other[3].left, "#:.e");
  EXPECT_STREQ(other[3].match, "'s");
  EXPECT_STREQ(other[3].phones, "z");
  EXPECT_STREQ(other[10].match, "\\");
  EXPECT_STREQ(other[10].phones, "");
  EXPECT_STREQ(other[21].phones, "noEn");
  const vlm::XlateRule* e = vlm::xlateRules(5, &count);
  EXPECT_STREQ(e[1].left, "':^");
  EXPECT_STREQ(e[1].right, "_");
  EXPECT_STREQ(e[23].left, "ch");
  EXPECT_STREQ(e[23].match, "ew");
  const vlm::XlateRule* o = vlm::xlateRules(15, &count);
  EXPECT_STREQ(o[1].match, "orough");
  EXPECT_STREQ(o[1].phones, "R0w");
  EXPECT_STREQ(o[35].match, "on't");
  EXPECT_EQ(vlm::xlateRuleBlock('_'), 0);
  EXPECT_EQ(vlm::xlateRuleBlock('A'), 0);
}

// ---------------------------------------------------------------------------------------------
// Context patterns

struct ContextCase {
  const char* pattern;
  const char* text;  // "|" marks the position
  int expected;
};

// The text with a NUL in front and the "|" removed; returns the position.
const char* place(const char* text, std::string& storage) {
  storage.assign(1, '\0');
  std::string t = text;
  size_t bar = t.find('|');
  storage += t.substr(0, bar) + t.substr(bar + 1);
  return storage.c_str() + 1 + bar;
}

TEST(XlateContext, LeftPatternsReadBackwardsFromTheCharacterBefore) {
  const ContextCase cases[] = {
      {"", "|x", 1},
      {"_", "_|a", 1},
      {"_", "_b|a", 0},
      {"#", "_bea|t", 1},      // one or more vowels
      {"#", "_b|t", 0},
      {"#:", "_eat|s", 1},     // consonants skipped, then vowels
      {"#:", "_t|s", 0},
      {"_:", "_str|a", 1},     // zero or more consonants, then the boundary
      {"_:", "_|a", 1},
      {"^", "_y|a", 1},        // y counts as a consonant
      {"^", "_a|b", 0},
      {"^", "_|b", 0},         // the boundary is not a consonant
      {"+", "_y|x", 1},
      {"+", "_a|x", 0},
      {".", "_b|x", 1},        // voiced
      {".", "_p|x", 0},
      {"th", "_th|ew", 1},
      {"th", "_sh|ew", 0},
      {"_b#", "_bou|g", 1},
      {"':^", "_o'n|e", 1},
      {"#:^##", "_oaseea|s", 0},  // the first "#" takes the whole vowel run
  };
  for (const ContextCase& c : cases) {
    std::string storage;
    const char* pos = place(c.text, storage);
    EXPECT_EQ(vlm::leftMatch(c.pattern, pos), c.expected) << c.pattern << " on " << c.text;
  }
}

TEST(XlateContext, LeftReadingStopsAtTheFrame) {
  std::string storage;
  const char* pos = place("a_|b", storage);
  // Without a start bound nothing is read past a matched boundary mark...
  EXPECT_EQ(vlm::leftMatch("a_", pos), 0);
  // ...with one, the text down to the bound is read.
  EXPECT_EQ(vlm::leftMatch("a_", pos, storage.c_str() + 1), 1);
  EXPECT_EQ(vlm::leftMatch("#", pos - 2, pos - 2), 0);
}

TEST(XlateContext, RightPatternsAndTheSuffixClass) {
  const ContextCase cases[] = {
      {"", "|", 1},
      {"#", "|ea_", 1},
      {"#_", "|ea_", 1},       // the whole vowel run is taken
      {"#", "|b", 0},
      {":", "|a", 1},
      {":a", "|bsta", 1},
      {"^", "|y", 1},
      {"^", "|_", 0},
      {"^+#", "|tia", 1},
      {"+", "|e", 1},
      {"+", "|o", 0},
      {".", "|z", 1},
      {".", "|s", 0},
      {"%", "|er", 1},
      {"%_", "|es_", 1},
      {"%_", "|ed_", 1},
      {"%_", "|ing_", 1},
      {"%_", "|ely_", 1},
      {"%_", "|e_", 1},
      {"%_", "|en_", 0},       // a lone "e" takes one character; "n" is no boundary
      {"%_", "|el_", 0},       // "el" without "y" is a lone "e"
      {"%", "|a", 0},
      {"%", "|in", 0},
      {"wa", "|wa", 1},
      {"wa", "|w", 0},
  };
  for (const ContextCase& c : cases) {
    std::string storage;
    const char* pos = place(c.text, storage);
    EXPECT_EQ(vlm::rightMatch(c.pattern, pos), c.expected) << c.pattern << " on " << c.text;
  }
}

TEST_F(XlateLogTest, BadContextSymbolsFailAndAreLogged) {
  std::string storage;
  const char* pos = place("ab|cd", storage);
  EXPECT_EQ(vlm::leftMatch("%", pos), 0);
  EXPECT_EQ(vlm::rightMatch("c*", pos), 0);
  const std::string text = log();
  EXPECT_NE(text.find("\nBad char in left rule: %"), std::string::npos) << text;
  EXPECT_NE(text.find("\nBad char in right rule: *"), std::string::npos) << text;
}

TEST_F(XlateLogTest, ACharacterNoRuleCoversIsLoggedAndSkipped) {
  PhoneBuf buf;
  std::string storage;
  const char* pos = place("_|*x_", storage);
  EXPECT_EQ(vlm::xlateLettersByRule(buf, pos, 0), pos + 1);
  EXPECT_EQ(buf.length, 0);
  EXPECT_NE(log().find("\nCan't find rule for: *x_"), std::string::npos);
}

TEST(XlateRules, FirstApplicableRuleWinsAndTheScanResumesAfterTheMatch) {
  PhoneBuf buf;
  std::string storage;
  const char* pos = place("_|the_", storage);
  EXPECT_EQ(vlm::xlateLettersByRule(buf, pos, vlm::xlateRuleBlock('t')), pos + 3);
  EXPECT_STREQ(buf.text, "D@");
  // Inside a word the whole-word rule does not apply; "th" does.
  buf.clear();
  pos = place("_ba|ther_", storage);
  EXPECT_EQ(vlm::xlateLettersByRule(buf, pos, vlm::xlateRuleBlock('t')), pos + 4);
  EXPECT_STREQ(buf.text, "DR");
}

// ---------------------------------------------------------------------------------------------
// cleanUpName

struct CleanCase {
  const char* source;
  int room;
  int limit;
  const char* expected;  // null: nothing written
};

TEST(XlateClean, Table) {
  const CleanCase cases[] = {
      {" Mary  Ann-", 64, 0, "mary_ann"},
      {"---  ,;", 64, 0, nullptr},
      {"", 64, 0, nullptr},
      {"AT&T", 64, 0, "at\\&t"},
      {"A+B", 64, 0, "a\\&b"},
      {"x\\_y", 64, 0, "x\\_y"},           // the escaped byte is kept, even a separator
      {"ab\\", 64, 0, "ab"},               // a dangling backslash is dropped
      {"J. R. O'Neil", 64, 0, "j._r._o'neil"},
      {"M\xf6ller", 64, 0, "moeller"},
      {"M\xfcller", 64, 0, "mueller"},
      {"a\xe9z", 64, 0, "a_z"},            // other high bytes separate
      {"007 Bond", 64, 0, "007_bond"},
      {"abcdef", 64, 3, "abc"},            // input limit
      {"abcdef", 4, 0, "abc"},             // room, NUL included; limit 0 means twice the room
      {"abcdef", 3, 0, "ab"},
      {"a&b", 4, 0, "a\\&"},               // "\&" needs 3 characters of room left
      {"a&b", 3, 0, "a"},
      {"a\\bc", 3, 0, "a"},
      {"a b", 3, 0, "a"},                  // the separator is cut as trailing
      {"ab", 1, 0, nullptr},
  };
  for (const CleanCase& c : cases) {
    char out[80];
    std::memset(out, 0x7f, sizeof out);
    char* end = vlm::cleanUpName(out, c.source, c.room, c.limit);
    if (c.expected == nullptr) {
      EXPECT_EQ(end, nullptr) << c.source;
      if (c.room > 0) {
        EXPECT_STREQ(out, "") << c.source;
      }
    } else {
      ASSERT_NE(end, nullptr) << c.source;
      EXPECT_STREQ(out, c.expected) << c.source;
      EXPECT_EQ(end, out + std::strlen(out));
    }
    EXPECT_EQ(out[c.room], '\x7f') << "wrote past the room: " << c.source;
  }
}

TEST(XlateClean, NullTargetIsAnAssertionFailure) {
  static std::string shown;
  auto previous = vlm::setMessageBoxHandler(
      [](const char* text, const char*, vlm::BoxButtons, vlm::BoxIcon, int) -> int {
        shown = text;
        return vlm::eAnswerIgnore;
      });
  EXPECT_EQ(vlm::cleanUpName(nullptr, "abc", 8, 0), nullptr);
  vlm::setMessageBoxHandler(previous);
  EXPECT_EQ(shown.rfind("targ\nFile=xlate\nLine=", 0), 0u) << shown;
}

TEST(XlateClean, LimitBelowOneIsTwiceTheRoom) {
  // A source without a NUL inside the first 2 * room bytes is read no further.
  char source[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};  // no terminator
  char out[64];
  // room 3 reads at most 6 source bytes; the room stops it after 2 anyway.
  EXPECT_NE(vlm::cleanUpName(out, source, 3, 0), nullptr);
  EXPECT_STREQ(out, "ab");
  // Separators still count against the limit: "----ab" with room 3 reads 6 bytes.
  const char dashes[] = "-----ab";
  EXPECT_EQ(vlm::cleanUpName(out, dashes, 3, 0), out + 1);
  EXPECT_STREQ(out, "a");
}

// ---------------------------------------------------------------------------------------------
// Numbers

TEST(XlateNumbers, CardinalsAsJoinedAndSeparatedText) {
  struct Case {
    const char* text;
    int join;
    const char* expected;
  } cases[] = {
      {"1500", 1, "fiftYnhundr@d"},
      {"2005", 1, "tUwT?zNdNfoEv"},
      {"-3", 1, "moEn@sTrE"},
      {"0", 0, "zir0w"},
      {"19", 0, "noEntYn"},
      {"20", 0, "twenY"},
      {"99", 0, "noEndY noEn"},
      {"100", 0, "wun hundr@d"},
      {"120", 0, "wun hundr@d twenY"},             // no "and" after hundreds
      {"1000", 0, "wun T?zNd"},
      {"1050", 0, "wun T?zNd N fifdY"},
      {"1100", 0, ":levN hundr@d"},
      {"1999", 0, "noEntYn hundr@d noEndY noEn"},
      {"2000", 0, "tUw T?zNd"},
      {"2100", 0, "tUw T?zNd wun hundr@d"},
      {"1000001", 0, "wun milyN N wun"},
      {"1001500", 0, "wun milyN fiftYn hundr@d"},
      {"2000000000", 0, "tUw bilyN"},
      {"2147483647", 0,
       "tUw bilyN wun hundr@d fOrdy sevN milyN fOr hundr@d AdY TrE T?zNd siks hundr@d fOrdy sevN"},
      {"3.14", 0, "TrE pOYnt wun fOr"},
      {"3.", 0, "TrE"},                            // no digit after the point
      {"3rd", 0, "TrE or dE"},                     // the letters are a token of their own
      {"12345678901", 0, "wun tUw TrE fOr foEv siks sevN At noEn zir0w wun"},  // beyond 32 bits
      {"-12345678901", 0, "moEn@s wun tUw TrE fOr foEv siks sevN At noEn zir0w wun"},
      {"- 3", 0, "TrE"},                           // a lone hyphen is a word break
  };
  for (const Case& c : cases) EXPECT_EQ(xlate(c.text, c.join), c.expected) << c.text;
}

TEST(XlateNumbers, MostNegativeValueHasNoPositiveCounterpart) {
  PhoneBuf buf;
  vlm::xlateCardinal(INT32_MIN, buf);
  EXPECT_STREQ(buf.text, "moEn@s ulot");
  buf.clear();
  vlm::xlateCardinal(-1, buf);
  EXPECT_STREQ(buf.text, "moEn@s wun");
}

// ---------------------------------------------------------------------------------------------
// Spelling and the choice between rules and spelling

TEST(XlateSpell, EveryCharacterNameIsMadeOfPhones) {
  PhoneBuf buf;
  for (int c = 1; c < 128; ++c) {
    buf.clear();
    const char ch = static_cast<char>(c);
    vlm::spellOut(&ch, 1, buf);
    EXPECT_TRUE(phonesOrSpaces(buf.text)) << c << ": " << buf.text;
    const bool unnamed = c < 32 || c == '.' || c == '_';
    EXPECT_EQ(buf.length == 0, unnamed) << c;
    if (c >= 'a' && c <= 'z') {
      PhoneBuf upper;
      const char u = static_cast<char>(c - 'a' + 'A');
      vlm::spellOut(&u, 1, upper);
      EXPECT_STREQ(upper.text, buf.text);
    }
  }
  buf.clear();
  vlm::spellOut("\xf6\x80", 2, buf);  // no names above 127
  EXPECT_EQ(buf.length, 0);
}

TEST(XlateSpell, NamesEscapesAndLength) {
  PhoneBuf buf;
  vlm::spellOut("a\\b?<w9", 7, buf);  // the backslash is not named; the "b" after it is
  EXPECT_STREQ(buf.text, "A bE kwesCN mork les Dan dubLyU noEn");
  buf.clear();
  vlm::spellOut("x.y_z", 3, buf);
  EXPECT_STREQ(buf.text, "eks woE");
  buf.clear();
  vlm::spellOut("a\\", 2, buf);  // a final backslash has no character after it: it is named
  EXPECT_STREQ(buf.text, "A bak slaS");
}

TEST(XlateWord, SpelledOrReadByRule) {
  struct Case {
    const char* text;
    const char* expected;  // join 0
  } cases[] = {
      {"IBM", "oE bE em"},            // capitals only: spelled
      {"psst", "pE es es tE"},        // no vowel
      {"McDonald", "em sE dE Ow en A el dE"},  // a capital inside the word
      {"J.", "jA"},                   // an initial
      {"a\\b", "A bE"},               // an escape
      {"Mary", "mArY"},
      {"rhythm", "riTm"},             // y counts as a vowel here
      {"O'Brien", "obrYN"},           // a capital after an apostrophe starts a part of the name
      {"go", "gOw"},                  // a final "O" gets a "w"
      {"letter", "letR"},             // doubled consonant letters give one phone
      {"cat's", "kats"},
      {"x-ray", "ks rA"},             // separators inside a word break it
      {"\xf6l", "Oel"},                // read as "oel": the o with diaeresis is a vowel
      {"\xe9t\xe9", "tE"},             // other high bytes begin a word and separate
  };
  for (const Case& c : cases) EXPECT_EQ(xlate(c.text, 0), c.expected) << c.text;
}

// ---------------------------------------------------------------------------------------------
// xlateString: tokens, join, limits

TEST(XlateString, JoinFlagAndPunctuation) {
  EXPECT_EQ(xlate("bus stop", 0), "bus stop");
  EXPECT_EQ(xlate("bus stop", 1), "bustop");       // equal phones meet at the join
  EXPECT_EQ(xlate("  hello,\tworld\r\n", 0), "helOw wRld");
  EXPECT_EQ(xlate("(hi) [a]", 0), "hi @");
  EXPECT_EQ(xlate("* & /", 0), "astR:sk N slaS");   // other punctuation is named
  EXPECT_EQ(xlate("*go", 1), "astR:skgOw");
  EXPECT_EQ(xlate("", 1), "");
  EXPECT_EQ(xlate(" ,.;", 0), "");
  // A word whose phones end in "O" gains a "w" at the boundary after it.
  EXPECT_EQ(xlate("go now", 0), "gOw n?");
}

TEST(XlateString, TargetRoomIsRespected) {
  EXPECT_EQ(xlate("hello world", 0, 6), "helO");  // room - 2 characters
  EXPECT_EQ(xlate("hello world", 0, 8), "helOw");  // a trailing space is removed
  EXPECT_EQ(xlate("hello", 0, 2), "");
  EXPECT_EQ(xlate("hello", 0, 1), "");
  char untouched = 'q';
  EXPECT_EQ(vlm::xlateString(&untouched, "hello", 0, nullptr, 0), &untouched);
  EXPECT_EQ(untouched, 'q');
}

TEST(XlateString, PhoneBufferDropsTextBeyondItsSize) {
  PhoneBuf buf;
  std::string big(PhoneBuf::kText + 100, 'a');
  buf.addFrag(big.c_str());
  EXPECT_EQ(buf.length, PhoneBuf::kText);
  EXPECT_EQ(buf.text[PhoneBuf::kText], 0);
  buf.addWord("b");
  EXPECT_EQ(buf.length, PhoneBuf::kText);

  // 700 numbers of 3 phones and a space each exceed the buffer: the output is cut at its size.
  std::string text;
  for (int i = 0; i < 700; ++i) text += "1 ";
  const std::string out = xlate(text.c_str(), 0, 8192);
  EXPECT_LE(out.size(), static_cast<size_t>(PhoneBuf::kText));
  EXPECT_GT(out.size(), static_cast<size_t>(PhoneBuf::kText - 4));
  EXPECT_EQ(out.substr(0, 12), "wun wun wun ");
}

}  // namespace
