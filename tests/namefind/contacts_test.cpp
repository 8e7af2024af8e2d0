// The .tsv stores: the shipped files, the format's edge cases, bad input, the safe save, the
// details view, the find lists and the rewritten vocabulary.
#include <gtest/gtest.h>

#include <algorithm>

#include "apps/namefind/contacts.h"
#include "fixture.h"
#include "lexicon/worddict.h"

using namespace vlm;
using nftest::DataDir;

namespace {

std::string shipped(const char* name) { return nftest::readFile(vlmtest::sourceDir() + "/data/" + name); }

const Entry* entryNamed(const TsvStore& s, const std::string& first, const std::string& last) {
  for (const Entry& e : s.entries)
    if (e.first == first && e.second == last) return &e;
  return nullptr;
}

}  // namespace

TEST(TsvStore, ShippedFilesLoadAndSaveUnchanged) {
  // The shipped files are written as the store writes them: loading, sorting and saving gives
  // the same bytes.
  for (const char* name : {"demo.tsv", "command.tsv"}) {
    TsvStore s(std::string(name) == "demo.tsv" ? eKindContact : eKindCommand);
    s.loadText(shipped(name));
    s.sortEntries();
    EXPECT_EQ(s.saveText(), shipped(name)) << name;
  }
  TsvStore demo(eKindContact);
  demo.loadText(shipped("demo.tsv"));
  ASSERT_EQ(demo.entries.size(), 20u);
  EXPECT_EQ(demo.entries[0].first, "");
  EXPECT_EQ(demo.entries[0].third, "Riverside Software");
  const Entry* henry = entryNamed(demo, "Henry", "Pemberton");
  ASSERT_NE(henry, nullptr);
  EXPECT_EQ(demo.rows[static_cast<size_t>(henry->row)].text(eColNotes),
            "Prefers calls after 10 a.m.\nAsk him about the sailing club.");
  TsvStore commands(eKindCommand);
  commands.loadText(shipped("command.tsv"));
  ASSERT_EQ(commands.entries.size(), 15u);
  EXPECT_EQ(commands.entries[0].first, "Switch To");
  EXPECT_EQ(commands.entries[0].second, "Browser");
  EXPECT_EQ(commands.entries[0].kind, eKindCommand);
  EXPECT_EQ(*commands.fieldText(commands.entries[0].row, eColPath), "/usr/bin/firefox-esr");
}

TEST(TsvStore, FormatEdgeCases) {
  struct Case {
    const char* what;
    const char* text;
    size_t entries;
    const char* saved;   // the text written back
  } cases[] = {
      {"a header with no known column", "colour\tsize\nred\tlarge\n", 0, "\n"},
      {"a row with extra values", "firstName\tlastName\nAnn\tLee\textra\tmore\n", 1, "firstName\tlastName\t\nAnn\tLee\n"},
      {"a trailing tab", "firstName\t\nAnn\t\n", 1, "firstName\t\nAnn\n"},
      {"CR, CR LF, blank lines and leading blanks", "\r\n  firstName\tlastName\r\rAnn\tLee\r\n\n   \nBo\tYu", 2,
       "firstName\tlastName\t\nAnn\tLee\nBo\tYu\n"},
      {"a row with no values left", "firstName\tcolour\n\tred\nAnn\tblue\n", 1, "firstName\t\nAnn\n"},
      {"an absent column leaves an empty field", "firstName\tlastName\tcellTel\nAnn\t\t555\n", 1,
       "firstName\tcellTel\t\nAnn\t555\n"},
      {"desktop export names", "First Name\tMiddle Name\t\"Business Phone 2\"\tBusiness Phone 2\tTitle\tSpouse\n"
       "Ann\tMay\t555-1\t555-2\tDr\tBo\n", 1, "firstName\tnickName\tworkTel2\t\nAnn\tMay\t555-1\n"},
      {"leading blanks of a value (it may come first on the written line)", "lastName\tfirstName\nLee\t  Ann\n", 1,
       "firstName\tlastName\t\nAnn\tLee\n"},
      {"the first of a repeated column counts", "firstName\tfirstName\nAnn\tBo\n", 1, "firstName\t\nAnn\n"},
  };
  for (const Case& c : cases) {
    TsvStore s;
    s.loadText(c.text);
    EXPECT_EQ(s.entries.size(), c.entries) << c.what;
    EXPECT_EQ(s.saveText(), c.saved) << c.what;
  }
}

TEST(TsvStore, UnusedPagerColumnIsLeftOut) {
  TsvStore s;
  s.loadText("firstName\tlastName\tpager\nAnn\tLee\t555-7\nBo\tYu\n");
  EXPECT_EQ(s.saveText(), "firstName\tlastName\tpager\t\nAnn\tLee\t555-7\nBo\tYu\n");
  ASSERT_TRUE(s.remove(0));
  EXPECT_EQ(s.saveText(), "firstName\tlastName\t\nBo\tYu\n");
  ASSERT_TRUE(s.undelete(0));
  EXPECT_EQ(s.saveText(), "firstName\tlastName\tpager\t\nAnn\tLee\t555-7\nBo\tYu\n");
  EXPECT_FALSE(s.remove(5));
}

TEST(TsvStore, BadInputKeepsEveryValue) {
  // Each file is loaded, saved and loaded again: every value of a known column comes back.
  std::string longValue(5000, 'x');
  std::string wide = "firstName";
  std::string wideRow = "Ann";
  for (int i = 1; i < 300; i++) {
    wide += "\tunknown" + std::to_string(i);
    wideRow += "\tv" + std::to_string(i);
  }
  wide += "\tlastName\n";
  wideRow += "\tLee\n";
  struct Case {
    const char* what;
    std::string text;
    size_t entries;
  } cases[] = {
      {"binary bytes", std::string("firstName\tnotes\nA\x01\xff\x7f\tn\0o\xfe\n", 26), 1},
      {"an over-long line", "firstName\tnotes\nAnn\t" + longValue + "\n", 1},
      {"300 columns", wide + wideRow, 1},
      {"duplicate names", "firstName\tlastName\tcellTel\nAnn\tLee\t1\nAnn\tLee\t2\n", 2},
      {"escaped breaks and tabs", "firstName\tnotes\nAnn\ta\\nb\\tc\n", 1},
  };
  DataDir dir("tsv-bad");
  for (const Case& c : cases) {
    TsvStore s;
    s.loadText(c.text);
    ASSERT_EQ(s.entries.size(), c.entries) << c.what;
    ASSERT_TRUE(s.save(dir.file("c.tsv"))) << c.what;
    TsvStore back;
    ASSERT_TRUE(back.load(dir.file("c.tsv")));
    ASSERT_EQ(back.rows.size(), s.rows.size()) << c.what;
    for (size_t i = 0; i < s.rows.size(); i++) EXPECT_EQ(back.rows[i].fields, s.rows[i].fields) << c.what;
  }
  // Tabs and line breaks typed into values are written so that the row stays one line.
  TsvStore typed;
  Row row;
  row.set(eColFirstName, "Ann");
  row.set(eColNotes, "one\ttwo\nthree\r\nfour\rfive");
  typed.addRow(row);
  EXPECT_EQ(typed.saveText(), "firstName\tnotes\t\nAnn\tone\\ttwo\\nthree\\nfour\\nfive\n");
  TsvStore back;
  back.loadText(typed.saveText());
  EXPECT_EQ(back.rows[0].text(eColNotes), "one\ttwo\nthree\nfour\nfive");
}

TEST(TsvStore, FailedSaveKeepsTheFile) {
  DataDir dir("tsv-save");
  nftest::writeFile(dir.file("mine.tsv"), "firstName\t\nOld\n");
  TsvStore s;
  s.loadText("firstName\nNew\n");
  // The temporary file cannot be made (no such folder): nothing is written.
  EXPECT_FALSE(s.save(dir.file("missing/mine.tsv")));
  EXPECT_FALSE(nftest::exists(dir.file("missing")));
  // The target cannot be replaced (a folder of that name): it stays, and no temporary is left.
  mkdir(dir.file("folder.tsv").c_str(), 0700);
  nftest::writeFile(dir.file("folder.tsv/keep"), "x");
  EXPECT_FALSE(s.save(dir.file("folder.tsv")));
  EXPECT_TRUE(nftest::exists(dir.file("folder.tsv/keep")));
  EXPECT_EQ(nftest::readFile(dir.file("mine.tsv")), "firstName\t\nOld\n");
  EXPECT_TRUE(s.save(dir.file("mine.tsv")));
  EXPECT_EQ(nftest::readFile(dir.file("mine.tsv")), "firstName\t\nNew\n");
  // A file that cannot be opened loads nothing.
  TsvStore none;
  EXPECT_FALSE(none.load(dir.file("absent.tsv")));
  EXPECT_TRUE(none.entries.empty());
}

TEST(TsvStore, DetailsLines) {
  TsvStore demo(eKindContact);
  demo.loadText(shipped("demo.tsv"));
  const Entry* marcus = entryNamed(demo, "Marcus", "Tarnowicz");
  ASSERT_NE(marcus, nullptr);
  const std::vector<std::string> lines = detailLines(*marcus, &demo.rows[static_cast<size_t>(marcus->row)]);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Marcus Tarnowicz");
  EXPECT_EQ(detailValue(lines, "w"), "555-555-0142 x12");
  EXPECT_EQ(detailValue(lines, "w2"), "555-555-0143 x305");
  EXPECT_EQ(detailValue(lines, "h"), "");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Northwind Traders"), lines.end());
  const Entry* henry = entryNamed(demo, "Henry", "Pemberton");
  const std::vector<std::string> hl = detailLines(*henry, &demo.rows[static_cast<size_t>(henry->row)]);
  EXPECT_NE(std::find(hl.begin(), hl.end(), "notes: Prefers calls after 10 a.m."), hl.end());
  EXPECT_NE(std::find(hl.begin(), hl.end(), "Ask him about the sailing club."), hl.end());
  // The nickname (a desktop export's middle name) is shown.
  const Entry* gwen = entryNamed(demo, "Gwendolyn", "Ashdown");
  const std::vector<std::string> gl = detailLines(*gwen, &demo.rows[static_cast<size_t>(gwen->row)]);
  EXPECT_NE(std::find(gl.begin(), gl.end(), "Gwen"), gl.end());
}

TEST(TsvStore, FindListsByBinarySearch) {
  TsvStore demo(eKindContact);
  demo.loadText(shipped("demo.tsv"));
  FindLists lists;
  std::vector<std::string> lines;
  std::vector<int> entries;
  lists.build(demo, -1);
  lists.find("EL", &lines, &entries);
  EXPECT_EQ(lines, (std::vector<std::string>{"Elena Castellano", "Elena Sokolova"}));
  lists.find("le", &lines, &entries);
  EXPECT_EQ(lines, (std::vector<std::string>{"Lee, Ann"}));
  lists.find("zz", &lines, &entries);
  EXPECT_TRUE(lines.empty());
  lists.build(demo, eColLastName);
  lists.find("o", &lines, &entries);
  EXPECT_EQ(lines, (std::vector<std::string>{"Okonkwo, Chidi", "Ostrawen, Nadia", "Oyelaran, Amara"}));
  lists.build(demo, eColCompanyName);
  lists.find("lumen", &lines, &entries);
  EXPECT_EQ(lines, (std::vector<std::string>{"Lumen Optics / Ingrid Halvorsen", "Lumen Optics / Chidi Okonkwo"}));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(demo.entries[static_cast<size_t>(entries[1])].second, "Okonkwo");
}

TEST(TsvStore, RewrittenVocabularyLosesTheDeletedContactsWords) {
  DataDir dir("tsv-voc");
  WordDictionary words(512);
  ASSERT_TRUE(words.readFile((vlmtest::sourceDir() + "/data/demo.voc").c_str()));
  ASSERT_GT(words.addWordIfNew("lee", "lE", 0), 0);
  WordData* hidden = words.wordAt(words.addWordIfNew("lee", "lA", 0));
  hidden->flag |= WORD_NOT_SAVED;   // a pronunciation the user dropped
  TsvStore s;
  s.loadText("firstName\tlastName\tcompanyName\nAnn\tLee\t\nMarcus\tTarnowicz\tNorthwind Traders\n");
  ASSERT_TRUE(rewriteVocabulary(&words, s, dir.file("c.voc")));
  std::string voc = nftest::readFile(dir.file("c.voc"));
  EXPECT_NE(voc.find("tarnowicz\t"), std::string::npos);
  EXPECT_NE(voc.find("northwind\t"), std::string::npos);
  EXPECT_NE(voc.find("lee\tlE\t"), std::string::npos);
  EXPECT_EQ(voc.find("lee\tlA\t"), std::string::npos);
  EXPECT_EQ(voc.find("ostrawen"), std::string::npos);   // no contact has it
  s.remove(1);
  ASSERT_TRUE(rewriteVocabulary(&words, s, dir.file("c.voc")));
  voc = nftest::readFile(dir.file("c.voc"));
  EXPECT_EQ(voc.find("tarnowicz"), std::string::npos);
  EXPECT_NE(voc.find("ann\t"), std::string::npos);
  EXPECT_FALSE(nftest::leftTemporary(dir.file("")));
}

TEST(TsvStore, EveryLabelledNumberBeginsALine) {
  TsvStore demo(eKindContact);
  demo.loadText(shipped("demo.tsv"));
  const Entry* ann = entryNamed(demo, "Ann", "Lee");
  const std::vector<std::string> lines = detailLines(*ann, &demo.rows[static_cast<size_t>(ann->row)]);
  EXPECT_EQ(lines, (std::vector<std::string>{"Ann Lee", "h: (555) 555-0101", "w: 555-555-0102", "cell: 555-555-0103",
                                             "e: ann.lee@example.com", "12 Orchard Lane", "Springfield IL 62704 USA",
                                             "birthday: 14/03/1979"}));
  // A contact with only a company is named by it, once.
  const std::vector<std::string> company = detailLines(demo.entries[0], &demo.rows[0]);
  ASSERT_FALSE(company.empty());
  EXPECT_EQ(company[0], "Riverside Software");
  EXPECT_EQ(std::count(company.begin(), company.end(), "Riverside Software"), 1);
  EXPECT_EQ(entryName(demo.entries[0]), "Riverside Software");
}
