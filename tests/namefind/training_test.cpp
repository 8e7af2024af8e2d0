// Training, the pronunciation rules and the pronunciation dialog's logic, the find and entry
// logic, without the dialogs.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <map>

#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "apps/namefind/entry.h"
#include "apps/namefind/training.h"
#include "audio/utterance.h"
#include "fixture.h"
#include "recordingview.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "models/user.h"
#include "search/recognizer.h"
#include "search/result.h"

using namespace vlm;
using nftest::DataDir;
using nftest::RecordBoxes;

namespace {

using FakeView = nftest::RecordingView;
using nftest::nowMs;
using nftest::runTimerUntilMicOff;

class FakePronView : public PronunciationView, public SpellingView {
 public:
  std::map<int, std::string> texts;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, bool> enabled, visible;
  std::vector<std::string> playedSpellings;
  std::string help;
  bool timer = false;
  void setText(int id, const std::string& text) override { texts[id] = text; }
  void setList(int id, const std::vector<std::string>& items, int) override { lists[id] = items; }
  void setEnabled(int id, bool on) override { enabled[id] = on; }
  void setVisible(int id, bool on) override { visible[id] = on; }
  void startMicTimer() override { timer = true; }
  void stopMicTimer() override { timer = false; }
  void showHelp(const std::string& text) override { help = text; }
  void played(const std::string& s) override { playedSpellings.push_back(s); }
};


// A small spelling dictionary: letter groups and three spelled characters.
std::unique_ptr<WordDictionary> letterGroups() {
  auto abc = std::make_unique<WordDictionary>(256);
  const char* entries[][2] = {{"a", "a"}, {"b", "b"}, {"c", "k"}, {"h", "h"}, {"s", "s"}, {"ab", "ab"},
                              {"sc", "sk"}, {"ch", "C"}, {"sch", "S"}, {"\\a", "A"}, {"\\b", "bE"}, {"\\1", "wun"}};
  for (auto& e : entries) abc->addWordIfNew(e[0], e[1], 0);
  return abc;
}

// The samples of the null speaker are not waited for.
struct FastSpeaker {
  FastSpeaker() {
    setenv("VELMORA_SPEAKER", "null", 1);
    setenv("VELMORA_SPEAKER_FAST", "1", 1);
  }
};

}  // namespace

TEST(PronunciationRules, CutsAWordIntoLetterGroups) {
  auto abc = letterGroups();
  struct Case {
    const char* word;
    const char* rules;
  } cases[] = {
      // The longest group, and a shorter one of two or more letters as the alternative.
      {"scha", "_prnRl0: { ( < sch > &_prnRl3 ) ( < sc > &_prnRl2 ) }\n_prnRl2: ( < h > &_prnRl3 )\n"
               "_prnRl3: ( < a > )\n"},
      // No alternative of one letter; "_" between the words of a name is passed over.
      {"Ab-Ch", "_prnRl0: ( < ab > &_prnRl3 )\n_prnRl3: ( < ch > )\n"},
      // A longest group that leads nowhere gives way to a shorter one.
      {"abh", "_prnRl0: ( < ab > &_prnRl2 )\n_prnRl2: ( < h > )\n"},
      {"xyz", ""},   // no letter group
      {"", ""},
      {"%%", ""},    // cleans to nothing
  };
  for (const Case& c : cases) EXPECT_EQ(pronunciationRuleText(c.word, abc.get()), c.rules) << c.word;
}

TEST(PronunciationRules, BuildsAndRemovesRules) {
  auto abc = letterGroups();
  RuleDictionary rules(64);
  std::vector<int> made = buildPronunciationRules("scha", abc.get(), &rules);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_STREQ(rules.nameOf(made[0]), "_prnRl0");
  EXPECT_TRUE(buildPronunciationRules("xyz", abc.get(), &rules).empty());
  // The letter rule: letters required, digits optional; at least two items.
  const int letters = buildLetterRule("AB1", abc.get(), &rules);
  EXPECT_GE(letters, 0);
  EXPECT_EQ(buildLetterRule("a", abc.get(), &rules), -1);
  EXPECT_EQ(buildLetterRule("xyz", abc.get(), &rules), -1);
  for (int r : made) rules.deleteRule(r);
  rules.deleteRule(letters);
  EXPECT_EQ(rules.getRuleData("_prnRl0"), nullptr);
  EXPECT_EQ(rules.getRuleData("_spRl"), nullptr);
}

TEST(PronunciationRules, ReadableSpellingRoundTrip) {
  EXPECT_EQ(readableToPhones(""), "");
  EXPECT_EQ(readableToPhones("."), "");   // silence only is no pronunciation
  const std::string phones = "mork@s";
  EXPECT_EQ(readableToPhones(phonesToReadable(phones)), phones);
}

TEST(NamefindTraining, TrainTwiceAfterTheOneShotWarning) {
  DataDir dir("train-twice");
  if (!nftest::speak("call work", dir.file("callwork.wav"))) GTEST_SKIP() << "espeak-ng is not installed";
  setenv("VELMORA_MIC", dir.file("callwork.wav").c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  app.toggleMic();
  runTimerUntilMicOff(app, view);
  unsetenv("VELMORA_MIC");
  ASSERT_FALSE(view.lists[kIdPhrases].empty());
  ASSERT_NE(app.lastUtterance(), nullptr);
  app.state().showAdaptWarning = 1;
  const std::string before = nftest::readFile(dir.file("tester.usr"));

  app.train();   // the warning only
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Adapt Carefully");
  EXPECT_EQ(app.state().showAdaptWarning, 0);
  EXPECT_EQ(app.state().configChanged, 1);
  EXPECT_EQ(app.state().modelsAdapted, 0);
  EXPECT_EQ(app.trainCaption(), "train");

  const int nag = app.state().nagThreshold;
  app.train();
  EXPECT_EQ(app.state().modelsAdapted, 1);
  EXPECT_EQ(view.texts[kIdTrain], "trained");
  EXPECT_TRUE(view.enabled[kIdTrain]);
  app.train();
  EXPECT_FALSE(view.enabled[kIdTrain]);
  EXPECT_EQ(app.state().nagThreshold, nag + 2);
  EXPECT_EQ(nftest::boxes().size(), 1u);   // no second warning, no failure
  int adapted = 0;
  for (const std::string& a : view.actions) adapted += a == "adapted 1 incremental";
  EXPECT_EQ(adapted, 2);
  // The adapted models differ from the saved ones.
  app.saveUser();
  EXPECT_NE(nftest::readFile(dir.file("tester.usr")), before);
}

TEST(NamefindTraining, NothingToTrainWithoutAnUtterance) {
  DataDir dir("train-none");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  EXPECT_EQ(app.adaptUttFifo(1), 0);
  EXPECT_EQ(app.state().modelsAdapted, 0);
  EXPECT_TRUE(nftest::boxes().empty());
}

TEST(NamefindTraining, PlaysValidSpellingsOnly) {
  FastSpeaker fast;
  DataDir dir("train-play");
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  EXPECT_GT(app.playSpelling(phonesToReadable("mork@s")), 1000);
  EXPECT_EQ(app.playSpelling(""), 0);
  EXPECT_EQ(app.playSpelling("."), 0);
}

TEST(NamefindTraining, ForceTrainingRestoresTheBeamsWhenRecognitionFails) {
  FastSpeaker fast;
  for (int answer : {eAnswerNo, eAnswerYes}) {
    DataDir dir("train-force");
    RecordBoxes record;
    nftest::boxAnswers() = {answer};
    FakeView view;
    NamefindApp app(&view, dir.dir(), false);
    ASSERT_EQ(app.initMain(), 1);
    app.onMessage(kMsgNamefindStart);
    // An utterance with no speech in it: the recognition fails.
    auto* empty = new Utterance();
    empty->flags = Utterance::UTT_COMPLETE;
    app.keepUtterance(empty);
    std::vector<PronWord> words = {{"zorblat", {"zOrblat"}}};
    FakePronView pv;
    PronunciationLogic logic(&app, &pv, &words, true);
    logic.open();
    const int prune = pruneThresh, wordEnd = wordEndBeam;
    logic.trainWord();
    EXPECT_EQ(pruneThresh, prune);
    EXPECT_EQ(wordEndBeam, wordEnd);
    ASSERT_GE(nftest::boxes().size(), 1u);
    EXPECT_EQ(nftest::boxes()[0].caption, "in adaptUttFifo()");
    EXPECT_EQ(nftest::boxes()[0].text, "recog failed...\nForce Adaptation?");
    // Yes forces the adaptation, which cannot align an empty utterance.
    EXPECT_EQ(nftest::boxes().size(), answer == eAnswerYes ? 2u : 1u);
    if (answer == eAnswerYes) {
      EXPECT_EQ(nftest::boxes()[1].text, "adaptation failed...");
    }
    EXPECT_EQ(app.spellingRules()->getRuleData(kTrainingRule), nullptr);
    EXPECT_EQ(app.spellingWords()->getWordData(kTrainingWord), nullptr);
    EXPECT_EQ(pv.texts[kIdPronTrain], "trained");
    EXPECT_EQ(app.state().modelsAdapted, 1);
  }
}

TEST(PronunciationDialog, AcceptDeleteAndTypedPronunciations) {
  FastSpeaker fast;
  DataDir dir("pron-logic");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  // A word with a letter-to-sound pronunciation (class 4) and one without any.
  app.mainWords()->addWordIfNew("zyndrel", "zindrel", kLetterToSoundClass);
  std::vector<PronWord> words = {{"zyndrel", {"zindrel"}}, {"o\\'hara", {}}};
  FakePronView pv;
  PronunciationLogic logic(&app, &pv, &words, false);
  logic.open();
  EXPECT_FALSE(pv.visible[kIdPronTrain]);   // only from the entry editor
  EXPECT_EQ(pv.lists[kIdPronWords], (std::vector<std::string>{"zyndrel", "o\\'hara"}));
  // The first word is selected: its pronunciation shown, put into the edit box and played.
  EXPECT_EQ(pv.texts[kIdPronWordToSay], "zyndrel");
  ASSERT_EQ(logic.current().size(), 1u);
  EXPECT_EQ(logic.editText(), phonesToReadable("zindrel"));
  EXPECT_EQ(pv.playedSpellings.size(), 1u);
  EXPECT_TRUE(pv.enabled[kIdPronDel]);

  // An invalid typed pronunciation is cleared without a message.
  logic.typed(".");
  EXPECT_TRUE(pv.enabled[kIdPronAccept]);
  EXPECT_FALSE(pv.enabled[kIdPronDel]);
  logic.acceptPron();
  EXPECT_EQ(logic.editText(), "");
  EXPECT_EQ(words[0].prons.size(), 1u);
  EXPECT_TRUE(nftest::boxes().empty());

  // A typed one is accepted: the word no longer counts as made by letter-to-sound.
  logic.typed(phonesToReadable("zEndrel"));
  logic.acceptPron();
  EXPECT_EQ(words[0].prons, (std::vector<std::string>{"zindrel", "zEndrel"}));
  EXPECT_EQ(app.mainWords()->getWordData("zyndrel")->wordClass, 0);
  EXPECT_TRUE(logic.changed());
  logic.typed(phonesToReadable("zEndrel"));
  logic.acceptPron();   // already there: not added twice
  EXPECT_EQ(words[0].prons.size(), 2u);

  // Deleting the first.
  logic.chooseCurrent(0);
  logic.delPron();
  EXPECT_EQ(words[0].prons, (std::vector<std::string>{"zEndrel"}));
  EXPECT_FALSE(pv.enabled[kIdPronPlay]);

  // The second word: backslash escapes resolved, nothing to play.
  logic.tapWord(1);
  EXPECT_EQ(pv.texts[kIdPronWordToSay], "o'hara");
  EXPECT_EQ(logic.editText(), "");
  EXPECT_FALSE(pv.enabled[kIdPronPlay]);
  logic.help();
  EXPECT_EQ(pv.help.substr(0, 60), std::string(kPronHelpText).substr(0, 60));
  EXPECT_NE(pv.help.find("'Cancel' also exits"), std::string::npos);

  EXPECT_TRUE(logic.ok());
  EXPECT_EQ(app.state().contactsChanged, 1);
  // The caller adds what is left: the dropped record is not saved again.
  app.addPronunciations(words);
  const WordData* kept = app.mainWords()->getWordData("zyndrel", "zEndrel");
  const WordData* dropped = app.mainWords()->getWordData("zyndrel", "zindrel");
  ASSERT_NE(kept, nullptr);
  ASSERT_NE(dropped, nullptr);
  EXPECT_FALSE(kept->flag & WORD_NOT_SAVED);
  EXPECT_TRUE(dropped->flag & WORD_NOT_SAVED);
}

TEST(PronunciationDialog, UnknownNamesAndTheStartUpCheck) {
  DataDir dir("pron-check");
  nftest::writeFile(dir.file("demo.tsv"), "firstName\tlastName\nQuorvik\tHome\n");
  RecordBoxes record;
  nftest::boxAnswers() = {eAnswerYes};
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  // "Bad Pronunciations" answered Yes: the dialog runs on the rule-made name.
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Bad Pronunciations");
  EXPECT_EQ(view.pronDialogRuns, 1);
  ASSERT_EQ(view.pronDialogWords.size(), 1u);
  EXPECT_EQ(view.pronDialogWords[0].name, "quorvik");
  EXPECT_EQ(view.pronDialogWords[0].prons.size(), 1u);
  EXPECT_EQ(app.unknownNameWords({"Home", "Zebedee Quux", "", "zebedee quux"}),
            (std::vector<std::string>{"zebedee_quux"}));
}

TEST(SpellingInput, LettersOfSpelledWords) {
  EXPECT_EQ(SpellingInput::lettersOf({"\\a", "\\b", "\\1", "\\@", "x", "\\"}), "ab1@");
  EXPECT_EQ(SpellingInput::lettersOf({}), "");
}

TEST(FindLogic, ListsSearchesAndUndeletes) {
  DataDir dir("find-logic");
  nftest::writeFile(dir.file("demo.tsv"),
                    "firstName\tlastName\tcompanyName\nMarcus\tTarnowicz\tNorthwind\nmaria\tBell\t\nAnn\tMarsh\tAcme\n");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.state().ignoreBadProns = 1;
  app.onMessage(kMsgNamefindStart);
  FakePronView pv;
  FindLogic find(&app, &pv);
  find.open();
  EXPECT_EQ(pv.lists[kIdFindFields][0], "anyName");
  EXPECT_EQ(pv.lists[kIdFindFields].size(), 59u);
  find.typed("MAR");
  EXPECT_EQ(find.lines(), (std::vector<std::string>{"Marcus Tarnowicz", "maria Bell", "Marsh, Ann"}));
  find.typed("marc");
  EXPECT_EQ(find.lines(), (std::vector<std::string>{"Marcus Tarnowicz"}));
  find.typed("zz");
  EXPECT_TRUE(find.lines().empty());
  find.selectField(1 + eColCompanyName);
  find.typed("a");
  EXPECT_EQ(find.lines(), (std::vector<std::string>{"Acme / Ann Marsh"}));
  // A deleted entry: the undelete question; No leaves it deleted.
  app.contactStore()->remove(2);
  nftest::boxAnswers() = {eAnswerNo, eAnswerYes};
  EXPECT_EQ(find.choose(0), -1);
  EXPECT_EQ(find.choose(0), 2);
  EXPECT_EQ(app.contactStore()->entries[2].active, 1);
  ASSERT_EQ(nftest::boxes().size(), 2u);
  EXPECT_EQ(nftest::boxes()[0].caption, "Undelete Entry?");
  app.showFoundEntry(2);
  EXPECT_EQ(view.lists[kIdChoices], (std::vector<std::string>{"Ann Marsh"}));
  EXPECT_EQ(view.lists[kIdDetails][0], "Ann Marsh");
}

TEST(EntryLogic, NewContactFromTypedFields) {
  DataDir dir("entry-logic");
  RecordBoxes record;
  FakeView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.state().ignoreBadProns = 1;
  app.onMessage(kMsgNamefindStart);
  FakePronView pv;
  EntryLogic entry(&app, &pv, false);
  entry.open();
  EXPECT_EQ(pv.texts[kIdSpellLabel], "lastName:");
  EXPECT_EQ(pv.lists[kIdEntryFields].size(), static_cast<size_t>(kTsvColumnCount));
  EXPECT_EQ(entry.accept(), -1);   // nothing entered: nothing made
  entry.typed("Quorvik");
  entry.selectField(eColFirstName);
  EXPECT_EQ(pv.texts[kIdSpellLabel], "firstName:");
  entry.typed("Home");
  entry.selectField(eColCompanyName);
  entry.typed("Acme");
  entry.clearField();
  EXPECT_EQ(entry.unknownNames(), (std::vector<std::string>{"quorvik"}));
  const int shown = entry.accept();
  ASSERT_GE(shown, 0);
  EXPECT_EQ(app.contactStore()->entries[static_cast<size_t>(shown)].second, "Quorvik");
  EXPECT_EQ(app.contactStore()->entries[static_cast<size_t>(shown)].third, "");
  EXPECT_EQ(app.state().contactsChanged, 1);
}
