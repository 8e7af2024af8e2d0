// The word dictionary: records, chains of pronunciations, the free list, a full table, compounds,
// free text to words, and the .voc reader and writer.
#include <dirent.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/oneshot.h"
#include "lexicon/worddict.h"
#include "platform/msgbox.h"

namespace {

using namespace vlm;

// Each test runs in a scratch folder of its own, so files and velmora.log can be read back.
class WordDictTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlm_worddict_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    ASSERT_NE(getcwd(oldDir, sizeof oldDir), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    resetSpeechLogForTest();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(oldDir), 0);
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  // The pronunciations of name in chain order, primary first.
  static std::vector<std::string> chain(const WordDictionary& d, const char* name) {
    std::vector<std::string> prons;
    const WordData* w = d.getWordData(name);
    for (int i = w ? w->index : -1; i >= 0; i = d.wordAt(i)->nextPron)
      prons.push_back(d.pronOf(i) ? d.pronOf(i) : "(null)");
    return prons;
  }
  std::string log() { return slurp("velmora.log"); }

  std::string dir;
  char oldDir[1024];
};

using Prons = std::vector<std::string>;

TEST_F(WordDictTest, FreshDictionaryHoldsOnlyTheReservedWords) {
  WordDictionary d(100);
  EXPECT_EQ(d.recordCount(), 2);
  ASSERT_NE(d.getWordData("ReservedSilenceWord"), nullptr);
  EXPECT_EQ(d.getWordData("ReservedSilenceWord")->index, 0);
  ASSERT_NE(d.getWordData("OutOfVocabularyWord"), nullptr);
  EXPECT_EQ(d.getWordData("OutOfVocabularyWord")->index, 1);
  EXPECT_EQ(d.getWordData("ReservedSilenceWord")->flag, 0);
  EXPECT_EQ(d.getWordData("nothing"), nullptr);
  d.deleteWord(0);  // a record with flag 0 is left alone
  EXPECT_NE(d.getWordData("ReservedSilenceWord"), nullptr);
  ASSERT_EQ(d.writeFile("empty.voc"), 1);
  EXPECT_TRUE(exists("empty.voc"));
  EXPECT_EQ(slurp("empty.voc"), "");
}

TEST_F(WordDictTest, AddWordIfNewBuildsTheChainNewestAfterThePrimary) {
  WordDictionary d(100);
  int a1 = d.addWordIfNew("a", "p1");
  EXPECT_EQ(d.addWordIfNew("a", "p1"), a1);
  int a2 = d.addWordIfNew("a", "p2", 3);
  int a3 = d.addWordIfNew("a", "p3");
  EXPECT_NE(a2, a1);
  EXPECT_NE(a3, a2);
  EXPECT_EQ(d.addWordIfNew("a", "p2", 7), a2);
  EXPECT_EQ(d.wordAt(a2)->wordClass, 3) << "a repeated pronunciation keeps its class";
  EXPECT_EQ(d.getWordData("a")->index, a1);
  EXPECT_EQ(d.addWordIfNew("a", nullptr), a1);
  EXPECT_EQ(chain(d, "a"), (Prons{"p1", "p3", "p2"}));
  EXPECT_EQ(d.getWordData("a", "p2")->index, a2);
  EXPECT_EQ(d.getWordData("a", "p4"), nullptr);
  EXPECT_TRUE(d.wordAt(a1)->isPrimary());
  EXPECT_FALSE(d.wordAt(a2)->isPrimary());
  EXPECT_EQ(d.wordCount(), 3);  // alternatives are not hashed
}

TEST_F(WordDictTest, NameWithoutPronunciationIsFilledLater) {
  WordDictionary d(100);
  int i = d.addWordIfNew("b", nullptr, 0);
  EXPECT_EQ(d.pronOf(i), nullptr);
  d.wordAt(i)->flag |= WORD_NOT_SAVED;
  EXPECT_EQ(d.addWordIfNew("b", "bE", 4), i);
  EXPECT_STREQ(d.pronOf(i), "bE");
  EXPECT_EQ(d.wordAt(i)->wordClass, 4);
  EXPECT_EQ(d.wordAt(i)->flag & WORD_NOT_SAVED, 0);
  EXPECT_EQ(chain(d, "b"), (Prons{"bE"}));
}

TEST_F(WordDictTest, DeleteRemovesTheWholeWordAndReusesRecordsLastFreedFirst) {
  WordDictionary d(100);
  int a = d.addWordIfNew("a", "p1");
  int a2 = d.addWordIfNew("a", "p2");
  int b = d.addWordIfNew("b", "q");
  d.deleteWord(a2);  // an alternative takes its whole word with it
  EXPECT_EQ(d.getWordData("a"), nullptr);
  EXPECT_EQ(d.wordAt(a), nullptr);
  EXPECT_EQ(d.wordAt(a2), nullptr);
  EXPECT_EQ(d.getWordData("b")->index, b);
  d.deleteWord(a);  // already free: nothing happens
  const int records = d.recordCount();
  // The chain was freed primary first, so the alternative's record was freed last.
  EXPECT_EQ(d.addWordIfNew("c", "r"), a2);
  EXPECT_EQ(d.addWordIfNew("d", "s"), a);
  EXPECT_EQ(d.recordCount(), records) << "freed records are reused before the table grows";
  EXPECT_EQ(chain(d, "c"), (Prons{"r"}));
  EXPECT_EQ(d.wordAt(a)->nextPron, -1);
}

TEST_F(WordDictTest, FullTableLogsAndLeavesExistingRecordsIntact) {
  WordDictionary d(5);  // the two reserved words and three more
  int x = d.addWordIfNew("x", "p");
  d.addWordIfNew("y", "q");
  d.addWordIfNew("x", "p2");
  EXPECT_EQ(d.addWordIfNew("z", "r"), -1);
  EXPECT_EQ(d.addWordIfNew("x", "p3"), -1);
  EXPECT_EQ(d.getWordData("z"), nullptr);
  EXPECT_EQ(chain(d, "x"), (Prons{"p", "p2"}));
  EXPECT_EQ(chain(d, "y"), (Prons{"q"}));
  EXPECT_EQ(d.recordCount(), 5);
  // One message, naming the limit; the second refusal is only counted.
  EXPECT_NE(log().find("hit Max Words adding: z (the word table holds 5 records"), std::string::npos) << log();
  EXPECT_EQ(log().find("hit Max Words", log().find("hit Max Words") + 1), std::string::npos) << log();
  EXPECT_EQ(d.droppedWordCount(), 2);
  d.deleteWord(x);
  EXPECT_GE(d.addWordIfNew("z", "r"), 2) << "room freed by a deletion is usable again";
}

TEST_F(WordDictTest, ReadsTheVocFieldRules) {
  put("in.voc",
      "a\\ b\tx\n"                // a backslash keeps the space in the name
      "lonely\n"                  // one field: ignored
      "  four\tf1\t9\textra\n"    // leading blanks skipped, a fourth field ignored
      "tabbed \t  t1   \r\n"      // runs of blanks separate, trailing blanks add no field
      "cr\tc1\t-2\rcr\tc2\r"      // CR alone ends lines too
      "big\tb1\t70000\n"          // the class is kept in 16 bits
      "four\tf2\n"
      "four\tf1\t5\n"
      "\n\n"
      "slash\\\tp\\\t3\n"          // a backslash never escapes the tab behind it
      "last\tl1");                // no line end at the end of the file
  WordDictionary d(100);
  ASSERT_EQ(d.readFile("in.voc"), 1);
  ASSERT_NE(d.getWordData("a\\ b"), nullptr);
  EXPECT_STREQ(d.getWordData("a\\ b")->pron, "x");
  EXPECT_EQ(d.getWordData("lonely"), nullptr);
  EXPECT_EQ(chain(d, "four"), (Prons{"f1", "f2"}));
  EXPECT_EQ(d.getWordData("four")->wordClass, 9);
  EXPECT_EQ(d.getWordData("extra"), nullptr);
  EXPECT_EQ(chain(d, "tabbed"), (Prons{"t1"}));
  EXPECT_EQ(chain(d, "cr"), (Prons{"c1", "c2"}));
  EXPECT_EQ(d.getWordData("cr")->wordClass, -2);
  EXPECT_EQ(d.getWordData("big")->wordClass, static_cast<short>(70000));
  EXPECT_EQ(chain(d, "last"), (Prons{"l1"}));
  EXPECT_EQ(chain(d, "slash\\"), (Prons{"p\\"}));
  EXPECT_EQ(d.getWordData("slash\\")->wordClass, 3);
  EXPECT_EQ(d.wordCount(), 2 + 7);
  EXPECT_EQ(d.readFile("missing.voc"), 0);
  ASSERT_EQ(mkdir("dir.voc", 0777), 0);
  EXPECT_EQ(d.readFile("dir.voc"), 0);
  EXPECT_EQ(log(), "") << "a missing file is not logged";
}

TEST_F(WordDictTest, ALineLongerThanTheReadBlockIsSkippedAndLogged) {
  put("long.voc", "before\tb\n" + std::string(300000, 'x') + "\tp\nafter\ta\n");
  WordDictionary d(100);
  ASSERT_EQ(d.readFile("long.voc"), 1);
  EXPECT_EQ(chain(d, "before"), (Prons{"b"}));
  EXPECT_EQ(chain(d, "after"), (Prons{"a"}));
  EXPECT_EQ(d.wordCount(), 2 + 2);  // no piece of the long line became a word
  EXPECT_NE(log().find(".voc file long.voc: a line longer than 262144 bytes is skipped"), std::string::npos) << log();
}

TEST_F(WordDictTest, ReadsLargeFilesAcrossBlockBoundaries) {
  // Lines of many lengths, with CR LF line ends, well past the reader's block size; every one
  // must arrive whole, including a line longer than the fixed-size line pieces of a line reader.
  std::string text;
  const int kWords = 40000;
  for (int i = 0; i < kWords; ++i) {
    std::string name = "w" + std::to_string(i) + std::string(i % 17, 'x');
    text += name + "\tp" + std::to_string(i % 1000) + "\t" + std::to_string(i % 5) + "\r\n";
  }
  const std::string longName(700, 'n');
  text += longName + "\tlongpron\n";
  put("big.voc", text);
  WordDictionary d(50000);
  ASSERT_EQ(d.readFile("big.voc"), 1);
  EXPECT_EQ(d.wordCount(), 2 + kWords + 1);
  for (int i = 0; i < kWords; i += 997) {
    std::string name = "w" + std::to_string(i) + std::string(i % 17, 'x');
    const WordData* w = d.getWordData(name.c_str());
    ASSERT_NE(w, nullptr) << name;
    EXPECT_EQ(std::string(w->pron), "p" + std::to_string(i % 1000));
    EXPECT_EQ(w->wordClass, i % 5);
  }
  ASSERT_NE(d.getWordData(longName.c_str()), nullptr);
  EXPECT_STREQ(d.getWordData(longName.c_str())->pron, "longpron");
}

TEST_F(WordDictTest, WritesSortedWithPrimaryAfterItsAlternatives) {
  WordDictionary d(100);
  d.addWordIfNew("beta", "b1", 0);
  d.addWordIfNew("Zulu", "z1", 0);
  d.addWordIfNew("alpha", "a1", 4);
  d.addWordIfNew("beta", "b2", 2);
  d.addWordIfNew("beta", "b3", 0);
  int hidden = d.addWordIfNew("hidden", "h", 0);
  d.wordAt(hidden)->flag |= WORD_NOT_SAVED;
  ASSERT_EQ(d.writeFile("out.voc"), 1);
  std::string text = slurp("out.voc");
  // Upper case sorts before lower case; the primary b1 comes after the alternatives of beta.
  EXPECT_TRUE(text == "Zulu\tz1\t0\nalpha\ta1\t4\nbeta\tb3\t0\nbeta\tb2\t2\nbeta\tb1\t0\n" ||
              text == "Zulu\tz1\t0\nalpha\ta1\t4\nbeta\tb2\t2\nbeta\tb3\t0\nbeta\tb1\t0\n")
      << text;
  EXPECT_FALSE(exists("out.voc.tmp"));
  // Read back, the first line of a name becomes its primary; the set of pronunciations is kept.
  WordDictionary back(100);
  ASSERT_EQ(back.readFile("out.voc"), 1);
  Prons beta = chain(back, "beta");
  EXPECT_EQ(beta.size(), 3u);
  EXPECT_NE(beta.front(), "b1");
  EXPECT_EQ(back.getWordData("beta", "b2")->wordClass, 2);
  EXPECT_EQ(back.getWordData("hidden"), nullptr);
}

TEST_F(WordDictTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  WordDictionary d(100);
  d.addWordIfNew("a", "p");
  put("keep.voc", "old\tcontent\t0\n");
  // A directory is not replaced; nothing is left beside it.
  ASSERT_EQ(mkdir("adir", 0777), 0);
  put("adir/inside", "x");
  EXPECT_EQ(d.writeFile("adir"), 0);
  EXPECT_EQ(slurp("adir/inside"), "x");
  // A folder that does not exist: nothing is created.
  EXPECT_EQ(d.writeFile("no/such/dir/out.voc"), 0);
  // A write that succeeds replaces the file and leaves no temporary file.
  EXPECT_EQ(d.writeFile("keep.voc"), 1);
  EXPECT_EQ(slurp("keep.voc"), "a\tp\t0\n");
  DIR* folder = opendir(".");
  ASSERT_NE(folder, nullptr);
  int entries = 0;
  while (dirent* e = readdir(folder))
    if (std::string(e->d_name).find(".tmp") != std::string::npos) entries++;
  closedir(folder);
  EXPECT_EQ(entries, 0);
}

TEST_F(WordDictTest, ParseSimpleCompoundPrefersPartsThenWholeThenReportsUnknown) {
  WordDictionary d(100);
  int nw = d.addWordIfNew("new", "nU");
  int york = d.addWordIfNew("york", "yOrk");
  int newYork = d.addWordIfNew("new_york", "nUyOrk");
  IC<int> parts(8, 8);
  char text[64];

  std::strcpy(text, "new_york");
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, nullptr), 2);
  ASSERT_EQ(parts.count(), 2);
  EXPECT_EQ(parts[0], nw);
  EXPECT_EQ(parts[1], york);
  EXPECT_STREQ(text, "new_york") << "the text is restored";

  d.deleteWord(nw);
  parts.removeAll();
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, nullptr), 1);
  ASSERT_EQ(parts.count(), 1);
  EXPECT_EQ(parts[0], newYork);

  // The greedy pass fails on "city"; the second pass takes the whole rest at the first "_".
  int whole = d.addWordIfNew("york_city", "yOrksitY");
  d.addWordIfNew("city", nullptr);  // present without a pronunciation: not usable
  parts.removeAll();
  parts.add(99);  // the list is appended to; its entries before the call stay
  std::strcpy(text, "york_city");
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, nullptr), 2);
  ASSERT_EQ(parts.count(), 2);
  EXPECT_EQ(parts[1], whole);

  // A part that ends in "." is taken with its "."; a "_" after it is skipped.
  int st = d.addWordIfNew("st.", "sAnt");
  int louis = d.addWordIfNew("louis", "lUis");
  parts.removeAll();
  std::strcpy(text, "st._louis");
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, nullptr), 2);
  ASSERT_EQ(parts.count(), 2);
  EXPECT_EQ(parts[0], st);
  EXPECT_EQ(parts[1], louis);

  // Not coverable: 0, the list cut back, the pieces that are not words in the unknown list.
  OneShotHeap arena(2020);
  OC<char> unknown(64, 64, &arena);
  parts.removeAll();
  parts.add(7);
  std::strcpy(text, "york_qqq_city_zz");
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, &unknown), 0);
  ASSERT_EQ(unknown.count(), 3);
  EXPECT_STREQ(unknown[0], "qqq");
  EXPECT_STREQ(unknown[1], "city");
  EXPECT_STREQ(unknown[2], "zz");
  EXPECT_STREQ(text, "york_qqq_city_zz");
  // Without an unknown list the caller only learns that the text is not covered.
  parts.removeAll();
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, nullptr), 0);
  EXPECT_EQ(parts.count(), 0);
  // A list without an arena of its own works too.
  OC<char> plain(4, 4);
  EXPECT_EQ(d.parseSimpleCompound(text, &parts, &plain), 0);
  ASSERT_EQ(plain.count(), 3);
  EXPECT_STREQ(plain[2], "zz");
  // The reserved words are never parts.
  char reserved[] = "ReservedSilenceWord";
  parts.removeAll();
  EXPECT_EQ(d.parseSimpleCompound(reserved, &parts, nullptr), 0);
}

TEST_F(WordDictTest, CompoundWordsGetEveryCombination) {
  WordDictionary d(100);
  d.addWordIfNew("a", "a1");
  d.addWordIfNew("a", "a2");
  d.addWordIfNew("b", "b1");
  d.addWordIfNew("b", "b2");
  int ab = d.makeCompoundWord("a_b", 0);
  ASSERT_GE(ab, 2);
  EXPECT_EQ(d.getWordData("a_b")->index, ab);
  // Parts in chain order (a1, a2 / b1, b2): a1b1 first, then the others linked after it.
  EXPECT_EQ(chain(d, "a_b"), (Prons{"a1b1", "a2b2", "a2b1", "a1b2"}));
  EXPECT_EQ(d.makeCompoundWord("a_missing", 0), 0);
  EXPECT_EQ(d.getWordData("a_missing"), nullptr);
}

TEST_F(WordDictTest, CompoundWithSilenceAddsEveryPlacementOfTheDot) {
  WordDictionary d(100);
  d.addWordIfNew("a", "a");
  d.addWordIfNew("b", "b");
  int ab = d.makeCompoundWord("a_b", 1);
  ASSERT_GE(ab, 2);
  EXPECT_EQ(chain(d, "a_b"), (Prons{"ab", ".a.b", ".ab", "a.b"}));
  // Making it again adds nothing.
  EXPECT_EQ(d.makeCompoundWord("a_b", 1), ab);
  EXPECT_EQ(chain(d, "a_b").size(), 4u);
}

TEST_F(WordDictTest, CompoundTooLongIsLoggedAndNeverCut) {
  WordDictionary d(100);
  const std::string big(600, 'a');
  d.addWordIfNew("x", big.c_str());
  d.addWordIfNew("y", big.c_str());
  EXPECT_EQ(d.makeCompoundWord("x_y", 0), -1);
  EXPECT_EQ(d.getWordData("x_y"), nullptr) << "a cut pronunciation would be wrong";
  EXPECT_NE(log().find("compound too long: x_y"), std::string::npos) << log();
  EXPECT_EQ(d.makeCompoundWord("x_y", 1), -1);
  EXPECT_EQ(d.getWordData("x_y"), nullptr);
}

class LookUpWordsTest : public WordDictTest {
 protected:
  void SetUp() override {
    WordDictTest::SetUp();
    for (const char* w : {"hello", "world", "\\,comma", "o'brien", "st. louis", "Smith", "mr.", "'s", "(555)"})
      d.addWordIfNew(w, "p");
  }
  // The output, or "NULL:" and the words found so far.
  std::string look(const char* text, int room = 256) {
    char out[256 + 8];
    std::memset(out, '#', sizeof out);
    char* end = d.lookUpWords(out, text, room);
    EXPECT_EQ(out[room], '#') << "wrote past the room";
    if (!end) return "NULL:" + std::string(out);
    EXPECT_EQ(end, out + std::strlen(out));
    return out;
  }
  WordDictionary d{100};
};

TEST_F(LookUpWordsTest, WordsAndPunctuation) {
  EXPECT_EQ(look("Hello, World"), "hello \\,comma world");
  EXPECT_EQ(look("  hello\tworld\r\n"), "hello world");
  EXPECT_EQ(look("Smith"), "Smith");
  EXPECT_EQ(look("SMITH"), "NULL:") << "only A to Z are lowered, and only as a second try";
  EXPECT_EQ(look("O'Brien"), "o'brien");          // the whole token, lower-cased
  EXPECT_EQ(look("hello St. Louis"), "hello st. louis");  // extended through the next word
  EXPECT_EQ(look("Mr. Smith"), "mr. Smith");
  EXPECT_EQ(look("hello--world"), "hello \\--dash world");
  EXPECT_EQ(look("hello... world!"), "hello \\...dotdotdot world \\!exclamation-point");
  EXPECT_EQ(look("(555) 'hello'"), "(555) \\'single-quote hello \\'single-quote");
  EXPECT_EQ(look("world's"), "world 's") << "a word that begins with punctuation is taken whole";
  EXPECT_EQ(look("world'x"), "NULL:world \\'single-quote");
}

TEST_F(LookUpWordsTest, MissingWordReturnsNullWithTheWordsSoFar) {
  EXPECT_EQ(look("hello there world"), "NULL:hello");
  EXPECT_EQ(look("nowhere"), "NULL:");
  EXPECT_EQ(look("hello, nowhere."), "NULL:hello \\,comma");
}

TEST_F(LookUpWordsTest, OutputKeepsToTheRoom) {
  EXPECT_EQ(look("hello world", 8), "hello w");
  EXPECT_EQ(look("hello world", 7), "hello") << "words are never run together";
  EXPECT_EQ(look("hello world", 6), "hello");
  EXPECT_EQ(look("hello", 1), "");
}

std::vector<std::string> boxes;
int answerIgnore(const char* text, const char* caption, BoxButtons, BoxIcon, int) {
  boxes.push_back(std::string(caption) + ": " + text);
  return eAnswerIgnore;
}

TEST_F(LookUpWordsTest, CandidateLongerThan255IsAnAssertionAndNotFound) {
  MessageBoxHandler previous = setMessageBoxHandler(answerIgnore);
  boxes.clear();
  const std::string longWord(300, 'q');
  EXPECT_EQ(look(longWord.c_str()), "NULL:");
  ASSERT_FALSE(boxes.empty());
  EXPECT_NE(boxes[0].find("Assertion Error!: sizeof(scratch) > s-src+1"), std::string::npos) << boxes[0];
  // The longest candidate that fits is still looked up.
  const std::string fits(255, 'w');
  d.addWordIfNew(fits.c_str(), "p");
  boxes.clear();
  EXPECT_EQ(look(fits.c_str()), fits);
  EXPECT_TRUE(boxes.empty());
  // An extension that grows past the limit stops being tried; the part before the "," is taken.
  boxes.clear();
  EXPECT_EQ(look(("hello, " + longWord).c_str()), "NULL:hello \\,comma");
  EXPECT_FALSE(boxes.empty());
  setMessageBoxHandler(previous);
}

int convertedCalls = 0;
std::string convertedText;
int recordConversion(WordDictionary*, const char* text, FSGNodeTypeItemAC*) {
  ++convertedCalls;
  convertedText = text;
  return 1;
}

TEST_F(LookUpWordsTest, ItemListGoesThroughTheInstalledConverter) {
  auto* items = reinterpret_cast<FSGNodeTypeItemAC*>(&convertedCalls);  // only passed through
  char out[64];
  WordsToItemsFn previous = setWordsToItemsConverter(nullptr);
  EXPECT_NE(d.lookUpWords(out, "hello world", sizeof out, items), nullptr);
  EXPECT_NE(log().find("no grammar item converter"), std::string::npos);
  setWordsToItemsConverter(recordConversion);
  convertedCalls = 0;
  EXPECT_NE(d.lookUpWords(out, "Hello, world", sizeof out, items), nullptr);
  EXPECT_EQ(convertedCalls, 1);
  EXPECT_EQ(convertedText, "hello \\,comma world");
  EXPECT_NE(d.lookUpWords(out, "hello", sizeof out, nullptr), nullptr);
  EXPECT_EQ(convertedCalls, 1) << "no item list, no conversion";
  setWordsToItemsConverter(previous);
}

}  // namespace
