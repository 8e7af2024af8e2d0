// The contacts inside the running application: acting on matches (show, call), deleting and
// undeleting, a new and an edited entry, the bad-pronunciation check, and the save at exit.
#include <gtest/gtest.h>

#include <map>

#include "apps/namefind/app.h"
#include "apps/namefind/commands.h"
#include "fixture.h"
#include "recordingview.h"
#include "grammar/fsg.h"
#include "lexicon/worddict.h"

using namespace vlm;
using nftest::DataDir;
using nftest::RecordBoxes;

namespace {

using ActionView = nftest::RecordingView;

// A data directory with the shipped demo contacts and command list.
struct DemoDir : DataDir {
  explicit DemoDir(const char* name) : DataDir(name) {
    const std::string data = vlmtest::sourceDir() + "/data/";
    for (const char* f : {"demo.tsv", "demo.voc", "command.tsv", "command.voc", "abc.voc", "abc.rul"})
      nftest::copyFile(data + f, file(f));
  }
};

int entryOf(const TsvStore& s, const std::string& last) {
  for (size_t i = 0; i < s.entries.size(); i++)
    if (s.entries[i].second == last) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(NamefindEntries, ShowAndCallWork) {
  DemoDir dir("entries-call");
  RecordBoxes record;
  nftest::boxAnswers() = {eAnswerNo};   // the bad-pronunciation question
  ActionView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_EQ(app.initMain(), 1);
  app.onMessage(kMsgNamefindStart);
  ASSERT_NE(app.contactStore(), nullptr);
  EXPECT_EQ(app.contactStore()->entries.size(), 20u);
  ASSERT_FALSE(nftest::boxes().empty());
  EXPECT_EQ(nftest::boxes()[0].caption, "Bad Pronunciations");
  // "call work" with no contact shown does nothing.
  CommandGrammar* g = app.grammar();
  const int callWork = [&] {
    for (size_t i = 0; i < app.commandStore()->entries.size(); i++)
      if (app.commandStore()->entries[i].first == "w") return static_cast<int>(i);
    return -1;
  }();
  ASSERT_GE(callWork, 0);
  app.actOnEntry(false, callWork);
  EXPECT_TRUE(view.actions.empty());
  const int marcus = entryOf(*app.contactStore(), "Tarnowicz");
  app.actOnEntry(true, marcus);
  EXPECT_EQ(app.currentContact(), marcus);
  ASSERT_FALSE(view.lists[kIdDetails].empty());
  EXPECT_EQ(view.lists[kIdDetails][0], "Marcus Tarnowicz");
  app.actOnEntry(false, callWork);
  EXPECT_EQ(view.actions, std::vector<std::string>{"dial w 555-555-0142 x12"});
  // A contact without a home number: "call home" does nothing.
  for (size_t i = 0; i < app.commandStore()->entries.size(); i++)
    if (app.commandStore()->entries[i].first == "h") app.actOnEntry(false, static_cast<int>(i));
  EXPECT_EQ(view.actions.size(), 1u);
  EXPECT_GE(g->callRule, 0);
  // Echo off by its built-in entry.
  for (size_t i = 0; i < app.commandStore()->entries.size(); i++)
    if (app.commandStore()->entries[i].second == "off") app.actOnEntry(false, static_cast<int>(i));
  EXPECT_EQ(app.state().echo, 0);
  EXPECT_EQ(app.state().configChanged, 1);
  app.exitSequence();
}

TEST(NamefindEntries, DeleteAndExitRemovesTheLineAndItsWords) {
  DemoDir dir("entries-delete");
  {
    RecordBoxes record;
    nftest::boxAnswers() = {eAnswerCancel, eAnswerOk};   // stop asking; then OK deletes
    ActionView view;
    NamefindApp app(&view, dir.dir(), false);
    ASSERT_EQ(app.initMain(), 1);
    app.onMessage(kMsgNamefindStart);
    EXPECT_EQ(app.state().ignoreBadProns, 1);
    const int marcus = entryOf(*app.contactStore(), "Tarnowicz");
    app.showContact(marcus);
    ASSERT_EQ(app.deleteCurrent(), 1);
    EXPECT_EQ(app.currentContact(), -1);
    EXPECT_TRUE(view.lists[kIdDetails].empty());
    EXPECT_EQ(app.state().contactsChanged, 1);
    EXPECT_TRUE(app.exitSequence());
  }
  const std::string tsv = nftest::readFile(dir.file("demo.tsv"));
  EXPECT_EQ(tsv.find("Tarnowicz"), std::string::npos);
  EXPECT_NE(tsv.find("Pemberton"), std::string::npos);
  const std::string voc = nftest::readFile(dir.file("demo.voc"));
  EXPECT_EQ(voc.find("tarnowicz"), std::string::npos);
  EXPECT_EQ(voc.find("marcus"), std::string::npos);
  EXPECT_NE(voc.find("ostrawen\t"), std::string::npos);
  EXPECT_FALSE(nftest::leftTemporary(dir.file("")));
  // Every other contact is still there with every value (the columns only Marcus used are gone).
  TsvStore before, after;
  before.loadText(nftest::readFile(vlmtest::sourceDir() + "/data/demo.tsv"));
  after.loadText(tsv);
  ASSERT_EQ(after.rows.size(), before.rows.size() - 1);
  size_t j = 0;
  for (size_t i = 0; i < before.rows.size(); i++) {
    if (before.rows[i].text(eColLastName) == "Tarnowicz") continue;
    EXPECT_EQ(after.rows[j++].fields, before.rows[i].fields) << i;
  }
  EXPECT_EQ(tsv.find("workTel2"), std::string::npos);
  // The command list was saved as it was.
  EXPECT_EQ(nftest::readFile(dir.file("command.tsv")), nftest::readFile(vlmtest::sourceDir() + "/data/command.tsv"));
}

// Starts the program's logic as the post-start message does, without the start-up check of
// rule-made pronunciations (its question would take the test's box answers).
bool startWithoutPronunciationCheck(NamefindApp& app) {
  app.state().ignoreBadProns = 1;
  if (app.initMain() != 1) return false;
  app.state().ignoreBadProns = 1;   // the configuration just read may have set it again
  app.onMessage(kMsgNamefindStart);
  return true;
}

TEST(NamefindEntries, UndeleteNewAndEditedEntries) {
  DemoDir dir("entries-edit");
  RecordBoxes record;
  ActionView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_TRUE(startWithoutPronunciationCheck(app));
  const int ann = entryOf(*app.contactStore(), "Lee");
  app.showContact(ann);
  nftest::boxAnswers() = {eAnswerOk, eAnswerNo, eAnswerYes};
  ASSERT_EQ(app.deleteCurrent(), 1);
  EXPECT_EQ(app.undeleteAsk(ann), 0);   // No
  EXPECT_EQ(app.contactStore()->entries[static_cast<size_t>(ann)].active, 0);
  EXPECT_EQ(app.undeleteAsk(ann), 1);   // Yes
  EXPECT_EQ(app.contactStore()->entries[static_cast<size_t>(ann)].active, 1);
  EXPECT_EQ(nftest::boxes().back().caption, "Undelete Entry?");
  // A new contact with a name no dictionary holds can be found by voice.
  Row row;
  row.set(eColFirstName, "Vashti");
  row.set(eColLastName, "Quorrin");
  row.set(eColNotes, "typed\twith a tab");
  const int added = app.acceptEntry(row, false);
  ASSERT_GE(added, 0);
  EXPECT_EQ(app.currentContact(), added);
  std::vector<CommandMatch> matches;
  FSGNodeTypeItemAC h;
  h.add(eRuleNode, app.grammar()->nameRule);
  for (const char* w : {"look", "up", "quorrin"}) h.add(eWordNode, app.mainWords()->getWordData(w)->index);
  EXPECT_EQ(app.grammar()->findMatches(h, 0, &matches), 1);
  EXPECT_EQ(matches[0].entry, added);
  // Editing the name asks whether to make a new entry; No changes the existing one.
  nftest::boxAnswers() = {eAnswerNo};
  row.set(eColLastName, "Quorrin-Hale");
  EXPECT_EQ(app.acceptEntry(row, true), added);
  EXPECT_EQ(nftest::boxes().back().caption, "The Name fields have changed");
  EXPECT_EQ(app.contactStore()->entries[static_cast<size_t>(added)].second, "Quorrin-Hale");
  EXPECT_TRUE(app.exitSequence());
  const std::string tsv = nftest::readFile(dir.file("demo.tsv"));
  EXPECT_NE(tsv.find("Vashti\tQuorrin-Hale"), std::string::npos);
  EXPECT_NE(tsv.find("typed\\twith a tab"), std::string::npos);
  EXPECT_NE(nftest::readFile(dir.file("demo.voc")).find("quorrin\t"), std::string::npos);
}

// A row with no contact name but an end word is a new command-list entry: it takes the start
// word "Switch To", joins the keyword's rule (a new keyword gets a rule of its own) and is saved
// into command.tsv, its words into command.voc.
TEST(NamefindEntries, ACommandRowFromTheEntryEditorJoinsTheCommandList) {
  DemoDir dir("entries-command");
  RecordBoxes record;
  ActionView view;
  NamefindApp app(&view, dir.dir(), false);
  ASSERT_TRUE(startWithoutPronunciationCheck(app));
  struct Case {
    const char* start;
    const char* end;
    const char* keyword;   // the word whose rule takes the entry (a start word of two is one compound)
  } cases[] = {{"", "shell", "switch_to"}, {"Open", "sheet", "open"}};
  for (const Case& c : cases) {
    Row row;
    row.set(eColStartWord, c.start);
    row.set(eColEndWord, c.end);
    row.set(eColPath, "/bin/sh");
    ASSERT_TRUE(NamefindApp::isCommandRow(row));
    const size_t before = app.commandStore()->entries.size();
    EXPECT_EQ(app.acceptEntry(row, false), -1);   // nothing shown: not a contact
    ASSERT_EQ(app.commandStore()->entries.size(), before + 1);
    const int entry = static_cast<int>(before);
    const CommandGroup* g = app.grammar()->groupOfWord(app.mainWords()->getWordData(c.keyword)->index);
    ASSERT_NE(g, nullptr) << c.keyword;
    EXPECT_NE(std::find(app.mainRules().begin(), app.mainRules().end(), g->rule), app.mainRules().end());
    std::vector<CommandMatch> matches;
    FSGNodeTypeItemAC h;
    h.add(eRuleNode, g->rule);
    for (const char* w : {c.keyword, c.end}) h.add(eWordNode, app.mainWords()->getWordData(w)->index);
    ASSERT_EQ(app.grammar()->findMatches(h, 0, &matches), 1) << c.end;
    EXPECT_EQ(matches[0].entry, entry);
  }
  EXPECT_EQ(app.contactStore()->entries.size(), app.contactStore()->rows.size());   // no contact added
  EXPECT_TRUE(app.exitSequence());
  const std::string tsv = nftest::readFile(dir.file("command.tsv"));
  EXPECT_NE(tsv.find("Switch To\tshell\t/bin/sh"), std::string::npos) << tsv;
  EXPECT_NE(tsv.find("Open\tsheet\t/bin/sh"), std::string::npos) << tsv;
  const std::string voc = nftest::readFile(dir.file("command.voc"));
  EXPECT_NE(voc.find("shell\t"), std::string::npos);
  EXPECT_NE(voc.find("sheet\t"), std::string::npos);
}

TEST(NamefindEntries, AddressBookContactsAndDeletion) {
  DemoDir dir("entries-vcf");
  const std::string kept = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Tarnowicz;Marcus\r\nTEL;TYPE=WORK:555-0142\r\n"
                           "X-ODD;x=y:kept byte for byte\r\nEND:VCARD\r\n";
  const std::string gone = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann\r\nEND:VCARD\r\n";
  nftest::writeFile(dir.file("contacts.vcf"), gone + kept);
  nftest::copyFile(dir.file("demo.voc"), dir.file("outlook.voc"));
  nftest::writeFile(dir.file("namefind.cfg"), "u:tester.usr\nt:outlook.tsv\ni:1\n");
  {
    RecordBoxes record;
    nftest::boxAnswers() = {eAnswerOk};
    ActionView view;
    NamefindApp app(&view, dir.dir(), false);
    ASSERT_EQ(app.initMain(), 1);
    app.onMessage(kMsgNamefindStart);
    ASSERT_EQ(app.contactStore()->entries.size(), 2u);
    // Found by voice through the name rule like any contact.
    std::vector<CommandMatch> matches;
    FSGNodeTypeItemAC h;
    h.add(eRuleNode, app.grammar()->nameRule);
    for (const char* w : {"look", "up", "tarnowicz"}) h.add(eWordNode, app.mainWords()->getWordData(w)->index);
    ASSERT_EQ(app.grammar()->findMatches(h, 0, &matches), 1);
    app.actOnEntry(true, matches[0].entry);
    EXPECT_EQ(view.lists[kIdDetails], (std::vector<std::string>{"Marcus Tarnowicz", "w: 555-0142"}));
    app.showContact(entryOf(*app.contactStore(), "Lee"));
    ASSERT_EQ(app.deleteCurrent(), 1);
    EXPECT_TRUE(app.exitSequence());
  }
  EXPECT_EQ(nftest::readFile(dir.file("contacts.vcf")), kept);
  EXPECT_FALSE(nftest::leftTemporary(dir.file("")));
  EXPECT_FALSE(nftest::exists(dir.file("outlook.tsv")));
  const std::string voc = nftest::readFile(dir.file("outlook.voc"));
  EXPECT_NE(voc.find("tarnowicz\t"), std::string::npos);
  EXPECT_EQ(voc.find("ann\t"), std::string::npos);
}
