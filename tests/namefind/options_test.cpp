// The Options and Dialing Defaults logic.
#include <gtest/gtest.h>

#include "apps/namefind/config.h"
#include "apps/namefind/options.h"
#include "fixture.h"
#include "search/recognizer.h"

using namespace vlm;
using nftest::DataDir;
using nftest::RecordBoxes;

namespace {

NamefindState stateFor(const DataDir& dir) {
  NamefindState s;
  s.dataDir = dir.dir();
  return s;
}

}  // namespace

TEST(NamefindOptions, OnlyTheStartingModelsMeanNoUserFile) {
  DataDir dir("opt-nousers");
  unlink(dir.file("tester.usr").c_str());
  nftest::writeFile(dir.file("NEWUSER.USR"), "x");   // the names are compared without case
  for (int answer : {eAnswerYes, eAnswerNo}) {
    RecordBoxes record;
    nftest::boxAnswers() = {answer};
    NamefindState s = stateFor(dir);
    OptionsLogic options(&s);
    EXPECT_FALSE(options.init());
    ASSERT_EQ(nftest::boxes().size(), 1u);
    EXPECT_EQ(nftest::boxes()[0].caption, "No Phonetic Models");
    EXPECT_EQ(nftest::boxes()[0].text, "No .usr files.\nYou must Enroll before\nusing Namefind.\nQuitting!  Run Enroll now?.");
    EXPECT_EQ(s.startAfterExit, answer == eAnswerYes ? 2 : 0);
  }
}

TEST(NamefindOptions, ListsAndFirstStart) {
  DataDir dir("opt-lists");
  nftest::writeFile(dir.file("b.usr"), "x");
  RecordBoxes record;
  NamefindState s = stateFor(dir);
  s.firstStart = 1;
  s.contactsFilePath = dir.file("demo.tsv");
  OptionsLogic options(&s);
  ASSERT_TRUE(options.init());
  EXPECT_EQ(options.userFiles, (std::vector<std::string>{"b.usr", "tester.usr"}));
  EXPECT_EQ(options.contactFiles, (std::vector<std::string>{"demo.tsv", "outlook.tsv"}));
  EXPECT_EQ(options.contactsSelected, 0);
  ASSERT_EQ(nftest::boxes().size(), 1u);
  EXPECT_EQ(nftest::boxes()[0].caption, "First time user?");
  // The first start goes on in a fresh process with the files as listed.
  EXPECT_TRUE(options.ok());
  EXPECT_EQ(s.userFilePath, dir.file("b.usr"));
  EXPECT_EQ(s.contactsVocPath, dir.file("demo.voc"));
  EXPECT_EQ(s.startAfterExit, 1);
  EXPECT_EQ(s.configChanged, 1);
  EXPECT_EQ(s.showAdaptWarning, 1);
  EXPECT_EQ(s.showSayHint, 1);
}

TEST(NamefindOptions, OkRestartsOnlyAfterAChangedSelection) {
  DataDir dir("opt-ok");
  RecordBoxes record;
  NamefindState s = stateFor(dir);
  s.userFilePath = dir.file("tester.usr");
  s.contactsFilePath = dir.file("demo.tsv");
  OptionsLogic options(&s);
  ASSERT_TRUE(options.init());
  EXPECT_TRUE(nftest::boxes().empty());
  EXPECT_TRUE(options.ok());
  EXPECT_EQ(s.startAfterExit, 0);
  EXPECT_EQ(s.configChanged, 1);
  options.pickUser(0);
  EXPECT_TRUE(options.ok());
  EXPECT_EQ(s.startAfterExit, 1);
}

TEST(NamefindOptions, OutlookWithoutItsVocabularyKeepsTheDialogOpen) {
  DataDir dir("opt-outlook");
  RecordBoxes record;
  NamefindState s = stateFor(dir);
  s.userFilePath = dir.file("tester.usr");
  s.contactsFilePath = dir.file("demo.tsv");
  OptionsLogic options(&s);
  ASSERT_TRUE(options.init());
  ASSERT_EQ(options.contactFiles.back(), "outlook.tsv");
  options.pickContacts(static_cast<int>(options.contactFiles.size()) - 1);
  EXPECT_FALSE(options.ok());
  EXPECT_EQ(s.contactsFilePath, dir.file("demo.tsv"));
  EXPECT_EQ(s.configChanged, 0);
  EXPECT_EQ(s.startAfterExit, 0);
  // With outlook.voc the missing outlook.tsv is fine: it is made by importing.
  nftest::writeFile(dir.file("outlook.voc"), "");
  EXPECT_TRUE(options.ok());
  EXPECT_EQ(s.contactsFilePath, dir.file("outlook.tsv"));
  EXPECT_EQ(s.contactsVocPath, dir.file("outlook.voc"));
}

TEST(NamefindOptions, FailedOkOnAFirstStartDeletesTheConfiguration) {
  DataDir dir("opt-firstfail");
  unlink(dir.file("demo.voc").c_str());
  RecordBoxes record;
  NamefindState s = stateFor(dir);
  s.firstStart = 1;
  OptionsLogic options(&s);
  ASSERT_TRUE(options.init());
  EXPECT_FALSE(options.ok());
  EXPECT_FALSE(nftest::exists(dir.file("namefind.cfg")));
}

TEST(NamefindOptions, EnrollThatCannotApplyWritesNothing) {
  DataDir dir("opt-enroll");
  unlink(dir.file("demo.voc").c_str());
  RecordBoxes record;
  NamefindState s = stateFor(dir);
  s.configChanged = 1;
  OptionsLogic options(&s);
  ASSERT_TRUE(options.init());
  EXPECT_TRUE(options.enroll());
  EXPECT_EQ(s.configChanged, 0);
  EXPECT_EQ(s.startAfterExit, 2);
}

TEST(NamefindOptions, CheckBoxesWriteAtOnce) {
  DataDir dir("opt-checks");
  NamefindState s = stateFor(dir);
  s.uttsSinceNag = 5;
  OptionsLogic options(&s);
  options.setNoNag(true);
  EXPECT_EQ(s.nagThreshold, kNagOff);
  EXPECT_EQ(s.uttsSinceNag, 0);
  EXPECT_TRUE(options.noNag());
  options.setEcho(false);
  options.setIgnoreBadProns(true);
  EXPECT_EQ(s.echo, 0);
  EXPECT_EQ(s.ignoreBadProns, 1);
  EXPECT_EQ(s.configChanged, 1);
}

TEST(NamefindDialing, AlarmTexts) {
  struct Case {
    const char* text;
    int minutes;
  } cases[] = {{"none", -1}, {"", -1}, {"15 min", 15}, {"20abc", 20}, {"0", 0}, {"600", 600},
               {"601", -1}, {"99999999999", -1}, {" 5", -1}};
  for (const Case& c : cases) {
    NamefindState s;
    DialingLogic dialing(&s, false);
    dialing.init();
    dialing.alarmText = c.text;
    dialing.ok();
    EXPECT_EQ(s.alarmMinutes, c.minutes) << '"' << c.text << '"';
  }
  // Shown: "none" for -1 and for less than one minute.
  for (auto [minutes, text] : std::vector<std::pair<int, const char*>>{{-1, "none"}, {0, "none"}, {45, "45 min"}}) {
    NamefindState s;
    s.alarmMinutes = minutes;
    DialingLogic dialing(&s, false);
    dialing.init();
    EXPECT_EQ(dialing.alarmText, text);
  }
}

TEST(NamefindDialing, SecondTapOnTheCheckedPrefixClearsIt) {
  NamefindState s;
  s.longDistanceChoice = 1;
  DialingLogic dialing(&s, false);
  dialing.init();
  EXPECT_EQ(dialing.longDistance, 1);
  dialing.tapRadio(1);
  EXPECT_EQ(dialing.longDistance, 0);
  dialing.tapRadio(2);
  EXPECT_EQ(dialing.longDistance, 2);
  dialing.tapRadio(1);
  EXPECT_EQ(dialing.longDistance, 1);
  dialing.tapRadio(1);
  dialing.ok();
  EXPECT_EQ(s.longDistanceChoice, 0);
  EXPECT_EQ(s.configChanged, 1);
}

TEST(NamefindDialing, PruneThresholdTexts) {
  const int prune = pruneThresh, wordEnd = wordEndBeam;
  for (auto [text, expected] : std::vector<std::pair<const char*, int>>{{"99", 240}, {"100", 100}, {"400", 400}, {"401", 240}, {"x", 240}}) {
    NamefindState s;
    DialingLogic dialing(&s, false);
    dialing.init();
    EXPECT_EQ(dialing.pruneText, "240");
    dialing.pruneText = text;
    dialing.ok();
    EXPECT_EQ(s.pruneThreshold, expected) << text;
  }
  setPruneThresh(prune);
  setWordEndBeam(wordEnd);
}

TEST(NamefindDialing, TextsPrefixChoiceAndService) {
  NamefindState s;
  s.mailServiceName = "Work";
  s.configuredServiceCurrent = true;
  s.localAreaChoice = 2;
  DialingLogic dialing(&s, true);
  dialing.init();
  EXPECT_EQ(dialing.services, (std::vector<std::string>{"Work", "ActiveSync", "add new service"}));
  EXPECT_EQ(dialing.serviceSelected, 0);
  EXPECT_EQ(dialing.localItem, 2);
  EXPECT_EQ(dialing.prefix1, "1");
  EXPECT_EQ(dialing.prefix2, "011");
  dialing.prefix1 = "12345678901234567";
  dialing.areaCode = "425";
  dialing.localItem = 0;
  dialing.serviceSelected = 1;
  dialing.ok();
  EXPECT_EQ(s.prefix1, "123456789012345");
  EXPECT_EQ(s.localAreaCode, "425");
  EXPECT_EQ(s.localAreaChoice, 0);
  EXPECT_FALSE(s.configuredServiceCurrent);
  EXPECT_STREQ(s.currentServiceName(), "ActiveSync");

  NamefindState plain;
  DialingLogic noService(&plain, false);
  noService.init();
  EXPECT_EQ(noService.services, (std::vector<std::string>{"ActiveSync", "add new service"}));
  EXPECT_EQ(noService.serviceSelected, 0);
}
