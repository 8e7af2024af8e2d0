// The recognition search on constructed utterances: a speaker whose templates lie far apart and
// frames that repeat the templates of a known chain of pel states, so that exactly one word
// sequence matches.
#include <cmath>
#include <memory>

#include "tests/search/search_test_util.h"

namespace searchtest {
namespace {

class RecognizeTest : public SearchTest {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    sun = word("sun", "s@n");
    moon = word("moon", "mun");
    fish = word("fish", "fiS");
    dog = word("dog", "d0g");
    ball = word("ball", "bOl");
    red = word("red", "rEd");
    blue = word("blue", "blu");
    eye = word("eye", "Y");     // one phone of two states
    are = word("are", "A");     // one phone of three states
    lamb = word("lamb", "lAM");  // ends in a three-state phone
    read1 = word("read", "rid");
    read2 = word("read", "rEd");  // a second pronunciation of "read"
  }
  int sun, moon, fish, dog, ball, red, blue, eye, are, lamb, read1, read2;
};

TEST_F(RecognizeTest, LinearWordsInSequenceComeOutFirstWithTheirRule) {
  loadRules("RULE top ( sun moon fish ) ;\n");
  struct Case {
    std::vector<Spoken> spoken;
  } cases[] = {
      {{{"s@n"}, {"mun"}, {"fiS"}}},                          // no pauses: context-dependent joins
      {{{"s@n", true}, {"mun", true}, {"fiS"}}},              // pauses between the words
      {{{"s@n"}, {"mun", true}, {"fiS"}}},
  };
  for (const Case& c : cases) {
    Utterance* utt = utterance(chainPels(c.spoken));
    ASSERT_GE(recognize(utt, {"top"}), 1);
    EXPECT_EQ("&top sun moon fish end:top", items(utt, 0));
    EXPECT_EQ(0, lastAbort);
    EXPECT_EQ(utt->frameCount(), lastFrames);
  }
}

TEST_F(RecognizeTest, OnePhoneWordsAndThreeStateEndings) {
  loadRules("RULE top ( eye are lamb ) ;\n");
  Utterance* utt = utterance(chainPels({{"Y"}, {"A"}, {"lAM"}}));
  ASSERT_GE(recognize(utt, {"top"}), 1);
  EXPECT_EQ("eye are lamb", text(utt, 0));
}

TEST_F(RecognizeTest, AlternativesPickTheSpokenBranch) {
  loadRules("RULE top { sun moon ( red ball ) dog } ;\n");
  Utterance* a = utterance(chainPels({{"mun"}}));
  ASSERT_GE(recognize(a, {"top"}), 1);
  EXPECT_EQ("&top moon end:top", items(a, 0));
  Utterance* b = utterance(chainPels({{"rEd"}, {"bOl"}}));
  ASSERT_GE(recognize(b, {"top"}), 1);
  EXPECT_EQ("red ball", text(b, 0));
}

TEST_F(RecognizeTest, NestedRulesAreEnteredAndLeft) {
  loadRules(
      "RULE animal { dog fish } ;\n"
      "RULE colour { red blue } ;\n"
      "RULE thing ( &colour &animal ) ;\n"
      "RULE top ( sun &thing moon ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}, {"blu"}, {"fiS"}, {"mun"}}));
  ASSERT_GE(recognize(utt, {"top"}), 1);
  EXPECT_EQ("sun blue fish moon", text(utt, 0));
  EXPECT_EQ("&top sun &thing &colour blue &animal fish moon end:top", items(utt, 0));
  int ids[8];
  ASSERT_EQ(4, ruleIds(*utt->result->at(0), ids, 8));
  EXPECT_EQ(ruleIndex("colour"), ids[2]);
  EXPECT_EQ(0, ids[4]);
}

TEST_F(RecognizeTest, OptionalAndRepeatedParts) {
  loadRules("RULE top ( sun [ red ] dog+ ( blue fish )+ ) ;\n");
  struct Case {
    std::vector<Spoken> spoken;
    const char* expected;
  } cases[] = {
      {{{"s@n"}, {"d0g"}, {"blu"}, {"fiS"}}, "sun dog blue fish"},
      {{{"s@n"}, {"rEd"}, {"d0g"}, {"d0g", true}, {"d0g"}, {"blu"}, {"fiS"}, {"blu"}, {"fiS"}},
       "sun red dog dog dog blue fish blue fish"},
  };
  for (const Case& c : cases) {
    Utterance* utt = utterance(chainPels(c.spoken));
    ASSERT_GE(recognize(utt, {"top"}), 1) << c.expected;
    EXPECT_EQ(c.expected, text(utt, 0));
  }
}

TEST_F(RecognizeTest, WordTreesShareprefixesAndFollowContinuations) {
  const int bell = word("bell", "bEl");
  const int bed = word("bed", "bEd");
  const int bead = word("bead", "bid");
  (void)bell; (void)bed; (void)bead;
  loadRules(
      "RULE animal { dog fish } ;\n"
      "RULE top ( sun < bell bed bead ball &animal > moon ) ;\n");
  Utterance* a = utterance(chainPels({{"s@n"}, {"bEd"}, {"mun"}}));
  ASSERT_GE(recognize(a, {"top"}), 1);
  EXPECT_EQ("&top sun bed moon end:top", items(a, 0));
  Utterance* b = utterance(chainPels({{"s@n", true}, {"bOl"}, {"fiS", true}, {"mun"}}));
  ASSERT_GE(recognize(b, {"top"}), 1);
  EXPECT_EQ("sun ball fish moon", text(b, 0));
  // the continuation rule is listed where it is entered
  EXPECT_EQ("&top sun ball &animal fish moon end:top", items(b, 0));
}

TEST_F(RecognizeTest, WordTreeScoresEqualLinearWordScores) {
  // shared prefixes with different costs move penalties up the tree; every word's path must
  // still cost exactly what its linear word costs
  const char* rows[][2] = {{"bell", "bEl"}, {"bed", "bEd"}, {"bead", "bid"}, {"bee", "bi"},
                           {"blame", "blAM"}, {"bees", "biz"}};
  const int classes[] = {0, 7, 3, 12, 5, 1};
  std::string names;
  for (int i = 0; i < 6; i++) {
    word(rows[i][0], rows[i][1], classes[i]);
    names += std::string(rows[i][0]) + " ";
  }
  loadRules("RULE lin { " + names + "eye } ;\nRULE tree < " + names + "eye > ;\n");
  for (const char* pron : {"bEl", "bEd", "bid", "bi", "blAM", "biz", "Y"}) {
    Utterance* a = utterance(chainPels({{pron}}));
    Utterance* b = utterance(chainPels({{pron}}));
    ASSERT_GE(recognize(a, {"lin"}), 1) << pron;
    ASSERT_GE(recognize(b, {"tree"}), 1) << pron;
    EXPECT_EQ(text(a, 0), text(b, 0)) << pron;
    EXPECT_STREQ(pron, words.pronOf((*b->result->at(0))[1].value));
    EXPECT_EQ(a->result->at(0)->score, b->result->at(0)->score) << pron;
  }
}

TEST_F(RecognizeTest, WordTreeAtTheEndOfTheGrammar) {
  word("bell", "bEl");
  word("bed", "bEd");
  loadRules("RULE top < bell bed ball > ;\n");
  Utterance* utt = utterance(chainPels({{"bEl"}}));
  ASSERT_GE(recognize(utt, {"top"}), 1);
  EXPECT_EQ("&top bell end:top", items(utt, 0));
}

// The last word of the grammar can only end before silence. A long last phone that sounds like
// its copy for another right context must not lose the copy before silence to the beam: the
// other copies lead nowhere and are closed, so the utterance still gets its one possible result.
TEST_F(RecognizeTest, LastWordsEndCopyBeforeSilenceSurvivesALongMismatch) {
  loadRules("RULE top ( are ) ;\n");
  const char A = 'A';
  // The middle and end states as spoken between their copies before an "m" (another right-context
  // class) and before silence, a little nearer the first (53 to 47), and the end state for long:
  // about 30 a frame better in the copy before "m", which outruns the beam within 40 frames.
  const int nearer = 3;
  auto between = [&](int offset) {
    Frame m{}, s{}, f{};
    EXPECT_EQ(1, user.templateFrame(static_cast<short>(phoneBasePel(A) + offset + phoneRightClass('m')), &m));
    EXPECT_EQ(1, user.templateFrame(static_cast<short>(phoneBasePel(A) + offset + phoneRightClass('.')), &s));
    for (int i = 0; i < kFrameFeatures; i++)
      f.features[i] = static_cast<int16_t>((m.features[i] * (50 + nearer) + s.features[i] * (50 - nearer)) / 100);
    return f;
  };
  ASSERT_NE(phoneRightClass('m'), phoneRightClass('.'));
  Utterance* utt = utterance({0, static_cast<short>(phoneBasePel(A) + phoneLeftClass('.'))});
  const Frame middle = between(26), end = between(13);
  Frame silence{};
  ASSERT_EQ(1, user.templateFrame(0, &silence));
  for (int i = 0; i < 3; i++) utt->frames.add(middle);
  for (int i = 0; i < 40; i++) utt->frames.add(end);
  for (int i = 0; i < 8; i++) utt->frames.add(silence);
  ASSERT_GE(recognize(utt, {"top"}), 1) << recognizeEndText(lastEnd);
  EXPECT_EQ("are", text(utt, 0));
}

TEST_F(RecognizeTest, AlternativePronunciationsAreRecognisedAndMergedByNoAltProns) {
  loadRules("RULE top ( sun read ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}, {"rEd"}}));
  ASSERT_GE(recognize(utt, {"top"}), 1);
  const FSGNodeTypeItemAC& best = *utt->result->at(0);
  ASSERT_EQ(eWordNode, best[2].type);
  EXPECT_EQ(read2, best[2].value);  // the record of the spoken pronunciation
  char prons[64];
  toProns(best, &words, prons, sizeof prons);
  EXPECT_STREQ("s@n.rEd", prons);
  utt->result->noAltProns();
  EXPECT_EQ(read1, (*utt->result->at(0))[2].value);
}

TEST_F(RecognizeTest, OutOfVocabularyElementTakesUnknownSpeech) {
  loadRules("RULE top ( sun &OutOfVocabularyRule moon ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n", true}}), 3, 5, 3);
  // unknown speech: frames that are the generic models of the groups of phones no word uses
  for (char phone : {'v', 'z'}) {
    appendGeneric(utt, user, phoneBasePel(phone) / kPelsPerGroup, 4);
    appendGeneric(utt, user, phoneBasePel(phone) / kPelsPerGroup + 1, 4);
  }
  Utterance* tail = utterance(chainPels({{"mun"}}), 3, 3, 8);
  for (int i = 0; i < tail->frameCount(); i++) utt->frames.add(tail->frames[i]);
  ASSERT_GE(recognize(utt, {"top"}), 1);
  EXPECT_EQ("&top sun <oov> moon end:top", items(utt, 0));
  EXPECT_EQ("sun moon", text(utt, 0));  // the unknown word is not printed
  EXPECT_EQ(eOutOfVocabularyNode, (*utt->result->at(0))[2].type);
  EXPECT_EQ(kOutOfVocabularyWord, (*utt->result->at(0))[2].value);
}

TEST_F(RecognizeTest, NBestListIsOrderedDuplicateFreeAndCapped) {
  // twenty words with one pronunciation and rising cost classes: every one fits the speech; as
  // linear words of an alternative, and as word ends sharing the end states of a word tree
  std::string names;
  for (int i = 0; i < 20; i++) {
    const std::string name = "w" + std::to_string(i);
    word(name.c_str(), "d0g", i);
    names += name + " ";
  }
  loadRules("RULE alt { " + names + "} ;\nRULE tree < " + names + "> ;\n");
  for (const char* rule : {"alt", "tree"}) {
    Utterance* utt = utterance(chainPels({{"d0g"}}));
    EXPECT_EQ(RecogResult::kMaxResults, recognize(utt, {rule})) << rule;
    ASSERT_EQ(RecogResult::kMaxResults, utt->result->count()) << rule;
    EXPECT_EQ("w0", text(utt, 0)) << rule;
    for (int i = 1; i < utt->result->count(); i++) {
      EXPECT_LE(utt->result->at(i - 1)->score, utt->result->at(i)->score) << rule;
      for (int j = 0; j < i; j++) EXPECT_NE(0, cmpFSGNodeTypeItemACs(utt->result->at(i), utt->result->at(j))) << rule;
    }
  }
}

TEST_F(RecognizeTest, NBestStopsBeyondThePruneThresholdOfTheBest) {
  word("near", "d0g", 5);
  word("far", "d0g", 120);
  loadRules("RULE top { near far } ;\n");
  Utterance* utt = utterance(chainPels({{"d0g"}}));
  setPruneThresh(60);
  setWordEndBeam(60);
  const int n = recognize(utt, {"top"});
  ASSERT_EQ(1, n);
  EXPECT_EQ("near", text(utt, 0));
  setPruneThresh(240);
  setWordEndBeam(230);
  ASSERT_EQ(2, recognize(utt, {"top"}));
  EXPECT_EQ("far", text(utt, 1));
}

TEST_F(RecognizeTest, RulePenaltiesOrderOtherwiseEqualPaths) {
  word("hound", "d0g");
  loadRules(
      "RULE costly : LM 40 ( dog ) ;\n"
      "RULE cheap ( hound ) ;\n"
      "RULE top { &costly &cheap } ;\n");
  Utterance* utt = utterance(chainPels({{"d0g"}}));
  ASSERT_EQ(2, recognize(utt, {"top"}));
  EXPECT_EQ("&top &cheap hound end:cheap", items(utt, 0));
  EXPECT_EQ("&top &costly dog end:costly", items(utt, 1));
  EXPECT_EQ(40, utt->result->at(1)->score - utt->result->at(0)->score);
}

TEST_F(RecognizeTest, PenaltiesOfNestedRulesAddUpOnTheWayIn) {
  word("hound", "d0g");
  loadRules(
      "RULE inner : LM 5 ( dog ) ;\n"
      "RULE middle : LM 3 ( &inner ) ;\n"
      "RULE first ( { &middle hound } moon ) ;\n"
      "RULE within ( sun { &middle hound } moon ) ;\n");
  struct Case {
    const char* rule;
    std::vector<Spoken> spoken;
    const char* nested;
  } cases[] = {
      {"first", {{"d0g"}, {"mun"}}, "&first &middle &inner dog moon end:first"},
      {"within", {{"s@n"}, {"d0g"}, {"mun"}}, "&within sun &middle &inner dog moon end:within"},
  };
  for (const Case& c : cases) {
    Utterance* utt = utterance(chainPels(c.spoken));
    ASSERT_EQ(2, recognize(utt, {c.rule})) << c.rule;
    EXPECT_EQ(c.nested, items(utt, 1)) << c.rule;
    EXPECT_EQ(5 + 3, utt->result->at(1)->score - utt->result->at(0)->score) << c.rule;
  }
}

TEST_F(RecognizeTest, SeveralTopLevelRules) {
  loadRules("RULE one ( sun moon ) ;\nRULE two ( dog ball ) ;\n");
  Utterance* utt = utterance(chainPels({{"d0g"}, {"bOl"}}));
  ASSERT_GE(recognize(utt, {"one", "two"}), 1);
  EXPECT_EQ("&two dog ball end:two", items(utt, 0));
}

TEST_F(RecognizeTest, UtteranceThatDoesNotEndInSilenceGivesNothing) {
  loadRules("RULE top ( sun moon ) ;\n");
  std::vector<short> pels = chainPels({{"s@n"}, {"mun"}});
  pels.pop_back();  // no final silence
  Utterance* utt = utterance(pels);
  EXPECT_EQ(0, recognize(utt, {"top"}));
  EXPECT_EQ(0, utt->result->count());
  EXPECT_EQ(eEndNoMatch, lastEnd);
  // the words of a grammar that cannot end there do not count either
  Utterance* partial = utterance(chainPels({{"s@n"}}));
  EXPECT_EQ(0, recognize(partial, {"top"}));
}

TEST_F(RecognizeTest, GrammarThatStartsNothingReadsNoFrame) {
  loadRules("RULE empty ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}}));
  EXPECT_EQ(0, recognize(utt, {"empty"}));
  EXPECT_EQ(0, lastFrames);
  EXPECT_EQ(eEndNoStart, lastEnd);
}

TEST_F(RecognizeTest, EveryEndWithoutResultsSaysWhy) {
  loadRules("RULE top ( sun ) ;\n");
  auto* empty = new Utterance(nullptr);
  utterances.push_back(empty);
  empty->flags = Utterance::UTT_STARTED | Utterance::UTT_COMPLETE;
  EXPECT_EQ(0, recognize(empty, {"top"}));
  EXPECT_EQ(eEndNoSpeech, lastEnd);
  Utterance* spoken = utterance(chainPels({{"s@n"}}));
  ASSERT_EQ(1, recognize(spoken, {"top"}));
  EXPECT_EQ(eEndResults, lastEnd);
  EXPECT_STREQ("nothing in the grammar matched", recognizeEndText(eEndNoMatch));
  EXPECT_STREQ("search ran out of memory", recognizeEndText(eEndMemory));
}

TEST_F(RecognizeTest, FrameLimitWarnsAndStillReturnsResults) {
  loadRules("RULE top ( sun ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}}), 3, 5, 200);
  ASSERT_GT(utt->frameCount(), 150);
  EXPECT_EQ(150, WavChannel::setMaxFramesInUtt(150));
  ASSERT_EQ(1, recognize(utt, {"top"}));
  EXPECT_EQ("sun", text(utt, 0));
  EXPECT_EQ(eUttTooLong, lastAbort);
  EXPECT_EQ(eEndTooLong, lastEnd);
  EXPECT_EQ(150, lastFrames);
  EXPECT_NE(std::string::npos, readText("velmora.log").find("channel warning: Utt too long 150"));
  EXPECT_FALSE(utt->isAborted());
}

TEST_F(RecognizeTest, MemoryCapAbortsCleanlyAndTheNextSearchWorks) {
  loadRules("RULE top ( sun moon ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}, {"mun"}}));
  setMaxMemoryAlloced(1000);
  EXPECT_EQ(0, recognize(utt, {"top"}));
  EXPECT_EQ(eTooMuchMemory, lastAbort);
  EXPECT_EQ(eEndMemory, lastEnd);
  EXPECT_TRUE(utt->isAborted());
  EXPECT_EQ(0, utt->result->count());
  EXPECT_NE(std::string::npos, readText("velmora.log").find("channel warning: Too much memory 1000, aborting"));
  setMaxMemoryAlloced(kDefaultMaxMemoryAlloced);
  Utterance* again = utterance(chainPels({{"s@n"}, {"mun"}}));
  ASSERT_GE(recognize(again, {"top"}), 1);
  EXPECT_EQ("sun moon", text(again, 0));
}

TEST_F(RecognizeTest, AbortedUtteranceAbortsTheSearch) {
  loadRules("RULE top ( sun ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}}));
  utt->flags = Utterance::UTT_STARTED | Utterance::UTT_ABORTED;
  EXPECT_EQ(0, recognize(utt, {"top"}));
  EXPECT_EQ(eChannelError, lastAbort);
  EXPECT_EQ(eEndChannel, lastEnd);
}

TEST_F(RecognizeTest, RepeatedSearchesReuseNothingStale) {
  loadRules("RULE top { sun moon dog } ;\n");
  for (const char* pron : {"s@n", "mun", "d0g", "mun"}) {
    Utterance* utt = utterance(chainPels({{pron}}));
    ASSERT_GE(recognize(utt, {"top"}), 1) << pron;
    EXPECT_STREQ(pron, words.pronOf((*utt->result->at(0))[1].value));
  }
}

TEST_F(RecognizeTest, GrammarsThatLoopDoNotHangTheSearch) {
  // a repeated part that can be empty, and a rule that starts with itself
  loadRules("RULE top ( ( [ sun ] )+ moon ) ;\nRULE self ( &self sun ) ;\n");
  Utterance* utt = utterance(chainPels({{"s@n"}, {"s@n"}, {"mun"}}));
  ASSERT_GE(recognize(utt, {"top"}), 1);
  EXPECT_EQ("sun sun moon", text(utt, 0));
  Utterance* other = utterance(chainPels({{"s@n"}}));
  EXPECT_EQ(0, recognize(other, {"self"}));
  EXPECT_NE(std::string::npos, readText("velmora.log").find("rule nesting too deep, not followed: self"));
}

// ---- result lists without a search ----------------------------------------------------------

TEST(ResultListTest, DuplicatesAreRefusedAndNoAltPronsMergesKeepingTheBestScore) {
  WordDictionary words(100);
  const int a1 = words.addWordIfNew("read", "rid");
  const int a2 = words.addWordIfNew("read", "rEd");
  const int b = words.addWordIfNew("sun", "s@n");
  RecogResult list(&words);
  FSGNodeTypeItemAC x;
  x.add(eRuleNode, 5);
  x.add(eWordNode, a1);
  x.add(eWordNode, b);
  x.add(eTerminalNode, 5);
  x.score = 10;
  ASSERT_NE(nullptr, list.addResult(&x));
  EXPECT_EQ(nullptr, list.addResult(&x));
  EXPECT_EQ(1, list.count());
  FSGNodeTypeItemAC y;
  y.add(eRuleNode, 5);
  y.add(eWordNode, a2);
  y.add(eWordNode, b);
  y.add(eTerminalNode, 7);  // terminal values are not compared
  y.score = 4;
  ASSERT_NE(nullptr, list.addResult(&y));
  FSGNodeTypeItemAC z;
  z.add(eRuleNode, 5);
  z.add(eWordNode, b);
  z.add(eTerminalNode, 5);
  z.score = 6;
  ASSERT_NE(nullptr, list.addResult(&z));
  list.selected = 1;
  list.noAltProns();
  ASSERT_EQ(2, list.count());
  EXPECT_EQ(4, list.at(0)->score);
  EXPECT_EQ(a1, (*list.at(0))[1].value);
  EXPECT_EQ(6, list.at(1)->score);
  EXPECT_EQ(-1, list.selected);
  list.removeAll();
  EXPECT_EQ(0, list.count());
  EXPECT_EQ(nullptr, list.wordDictionary);
}

TEST(ResultListTest, TextFormsHashAndRuleIds) {
  WordDictionary words(100);
  const int a = words.addWordIfNew("sun", "s@n");
  const int b = words.addWordIfNew("moon", "mun");
  FSGNodeTypeItemAC x;
  x.add(eRuleNode, 3);
  x.add(eWordNode, a);
  x.add(eOutOfVocabularyNode, kOutOfVocabularyWord);
  x.add(eRuleNode, 4);
  x.add(eWordNode, b);
  x.add(eTerminalNode, 4);
  char buffer[32];
  char* end = toAscii(x, &words, buffer, sizeof buffer);
  EXPECT_STREQ("sun moon", buffer);
  EXPECT_EQ(buffer + 8, end);
  toProns(x, &words, buffer, sizeof buffer);
  EXPECT_STREQ("s@n.mun", buffer);
  end = toAscii(x, &words, buffer, 6);  // cut, still terminated
  EXPECT_STREQ("sun m", buffer);
  EXPECT_EQ(buffer + 5, end);
  int ids[4] = {9, 9, 9, 9};
  EXPECT_EQ(2, ruleIds(x, ids, 4));
  EXPECT_EQ(3, ids[0]);
  EXPECT_EQ(4, ids[1]);
  EXPECT_EQ(0, ids[2]);
  EXPECT_EQ(1, ruleIds(x, ids, 1));
  const int expected = ((((3 * 3 + a) * 3 + 4) * 3 + b)) & 0xffffff;
  EXPECT_EQ(expected, generateHash(x));
  EXPECT_EQ(expected, x.hash);
}

}  // namespace
}  // namespace searchtest

// ---- a live front end: frames arrive while the search runs ----------------------------------

namespace searchtest {
namespace {

// A source that delivers quiet then loud chunks and then has no audio ready any more.
class StalledChannel : public WavChannel {
 public:
  int listen(int on, const WaveFormat*) override {
    if (on)
      flags |= LISTENING;
    else
      flags &= ~LISTENING;
    return on;
  }

 protected:
  int getWAVCHUNKshorts(short* buffer) override {
    if (chunks >= 160) return -1;
    const int amplitude = chunks < 60 ? 10 : 8000;
    for (int i = 0; i < 100; i++) {
      const double t = (chunks * 100 + i) / 11025.0;
      buffer[i] = static_cast<short>(amplitude * std::sin(2 * 3.14159265 * 500 * t) + (i * 37) % 11);
    }
    chunks++;
    return 100;
  }
  int chunks = 0;
};

TEST_F(RecognizeTest, StalledFrontEndIsWaitedForUntilTheTimeLimit) {
  loadRules("RULE top ( sun ) ;\n");
  StalledChannel channel;
  ASSERT_EQ(1, channel.open("stalled"));
  ASSERT_EQ(1, channel.listen(1, nullptr));
  int available = 0;
  for (int i = 0; i < 1000 && available != 1; i++) {
    available = channel.isUttAvailable();
    ASSERT_TRUE(available == 1 || available == 0 || available == -1) << available;
    if (available == -1) break;
  }
  ASSERT_EQ(1, available) << "no start of speech found";
  std::unique_ptr<Utterance> owned(channel.takeUtt());  // deleted before the channel
  Utterance* utt = owned.get();
  ASSERT_NE(nullptr, utt);
  setMaxTickCount(300);
  EXPECT_EQ(0, recognize(utt, {"top"}));
  setMaxTickCount(0);
  EXPECT_EQ(eTimeTooLong, lastAbort);
  EXPECT_EQ(eEndTime, lastEnd);
  EXPECT_GT(lastFrames, 0);
  EXPECT_EQ(utt->frameCount(), lastFrames);  // every frame that came was searched, none invented
  EXPECT_TRUE(utt->isAborted());
  EXPECT_EQ(0, utt->result->count());
  EXPECT_NE(std::string::npos, readText("velmora.log").find("channel warning: Time too long 300, aborting"));
}

TEST_F(RecognizeTest, CalibrationStepCopiesTheBestHypothesis) {
  // Calibration's recognition step: the first hypothesis of the search, items and all; nothing
  // (and best untouched) when the search finds no path.
  loadRules("RULE top ( sun moon ) ;\n");
  int top = ruleIndex("top");
  FSGNodeTypeItemAC best;
  ASSERT_EQ(1, recognizeForCalibration(&user, &words, &rules, utterance(chainPels({{"s@n"}, {"mun"}})), &top, 1,
                                       &best));
  char text[128];
  toAscii(best, &words, text, sizeof text);
  EXPECT_STREQ("sun moon", text);
  const int kept = best.count();
  EXPECT_GT(kept, 2);
  Utterance* silent = utterance(chainPels({{"d0g"}}));
  EXPECT_EQ(0, recognizeForCalibration(&user, &words, &rules, silent, &top, 1, &best));
  EXPECT_EQ(kept, best.count());
}

}  // namespace
}  // namespace searchtest
