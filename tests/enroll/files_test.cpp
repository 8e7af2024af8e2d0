// enroll's files: enrol.cfg, the save names, prompt files and the letter-group rules.
#include <gtest/gtest.h>

#include <cstring>

#include "apps/enroll/files.h"
#include "fixture.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"

using namespace vlm;
using entest::DataDir;

TEST(EnrolConfig, MissingFileKeepsTheDefaults) {
  EnrolConfig c;
  EXPECT_EQ(readEnrolConfig("no-such-dir/enrol.cfg", &c), 0);
  EXPECT_EQ(c.base, "enrol");
  EXPECT_TRUE(c.newUser);
  EXPECT_EQ(c.exitProgram, "namefind");
  EXPECT_EQ(c.saveName, "");
}

TEST(EnrolConfig, Keys) {
  struct Case {
    const char* text;
    const char* base;
    bool newUser;
    const char* program;
    const char* save;
  };
  const Case cases[] = {
      {"b:mine\nn:0\ns:namefind.exe\nu:bob\n", "mine", false, "namefind", "bob.usr"},
      {"n:1\nu:bob.usr\ns:\n", "enrol", true, "", "bob.usr"},
      {"n:yes\nu:newuser\n", "enrol", true, "namefind", ""},
      {"u:bob\nu:delta.usr\n", "enrol", true, "namefind", ""},
      {"u:NEWUSER.USR\r\n", "enrol", true, "namefind", ""},
      // junk: lines without a key, unknown keys, paths, binary bytes
      {"hello\nx:1\nb\nb:../../etc/passwd\nu:a/b\ns:/bin/sh\n\x01\xff:zz\n", "enrol", true, "namefind", ""},
      {"b:x\0y\nn:0\n", "x", false, "namefind", ""},
  };
  DataDir dir("cfg-keys");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text(c.text, c.text + std::strlen(c.text));
    if (std::string(c.base) == "x") text = std::string("b:x\0y\nn:0\n", 10);
    entest::writeFile(dir.file("enrol.cfg"), text);
    EnrolConfig cfg;
    EXPECT_EQ(readEnrolConfig(dir.file("enrol.cfg"), &cfg), 1);
    EXPECT_EQ(cfg.base, c.base);
    EXPECT_EQ(cfg.newUser, c.newUser);
    EXPECT_EQ(cfg.exitProgram, c.program);
    EXPECT_EQ(cfg.saveName, c.save);
  }
}

TEST(EnrolConfig, OverlongLineIsCutAndItsRestNeverReadAsALine) {
  DataDir dir("cfg-long");
  // 300 characters: the "n:0" beyond character 256 must not count as a line of its own.
  std::string line = "u:" + std::string(260, 'a') + "\nn:0";
  entest::writeFile(dir.file("enrol.cfg"), "b:" + std::string(300, 'q') + "n:0\n" + line + "\n");
  EnrolConfig cfg;
  readEnrolConfig(dir.file("enrol.cfg"), &cfg);
  EXPECT_EQ(cfg.base, "enrol");   // 254 characters are no plain name of at most 127
  EXPECT_FALSE(cfg.newUser);      // the real "n:0" line after the long "u:" line
  EXPECT_EQ(cfg.saveName, "");
}

TEST(SaveName, NewuserAndDeltaAreNeverSaveNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"default.usr", "default.usr"}, {"bob", "bob.usr"},         {"bob.txt", "bob.usr"},
      {"my.name.x", "my.name.usr"},   {"bob.voice", "bob.voice.usr"}, {"newuser.usr", ""},
      {"newuser", ""},                {"NewUser.USR", ""},        {"newuser.txt", ""},
      {"delta.usr", ""},              {"delta", ""},              {"delta.u", ""},
      {"", ""},                       {".usr", ""},               {"a/b", ""},
      {"..", ""},                     {"x\ty", ""},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(usrSaveName(text), want) << text;
  EXPECT_TRUE(isReservedVoc("ABC.voc"));
  EXPECT_TRUE(isReservedVoc("fulldict.voc"));
  EXPECT_FALSE(isReservedVoc("demo.voc"));
}

TEST(PromptFile, LinesCommandsRecordingsAndProgress) {
  DataDir dir("prompts");
  const std::string text =
      "cmd_start_calibrate\n\n   tea\ttea.wav\n  cmd_whatever\nmary had\t  mary.wav \r\none two\n"
      "cmd_end_calibrate\n" + std::string(300, 'z') + "\tlong.wav\ncmd_end_calibrate\nlast\n";
  entest::writeFile(dir.file("p.txt"), text);
  PromptFile f;
  ASSERT_EQ(f.open(dir.file("p.txt")), 1);
  EXPECT_EQ(f.percentDone(), 0);
  EXPECT_EQ(f.next().kind, PromptLine::eStartCalibrate);
  PromptLine l = f.next();
  EXPECT_EQ(l.kind, PromptLine::ePrompt);
  EXPECT_EQ(l.text, "tea");
  EXPECT_EQ(l.recording, "tea.wav");
  l = f.next();
  EXPECT_EQ(l.text, "mary had");
  EXPECT_EQ(l.recording, "mary.wav");
  l = f.next();
  EXPECT_EQ(l.text, "one two");
  EXPECT_EQ(l.recording, "");
  EXPECT_EQ(f.next().kind, PromptLine::eEndCalibrate);
  // The over-long line is cut at 256 characters; its rest (the tab and name) is skipped.
  l = f.next();
  EXPECT_EQ(l.text, std::string(256, 'z'));
  EXPECT_EQ(l.recording, "");
  EXPECT_EQ(f.next().kind, PromptLine::eEndCalibrate);
  EXPECT_EQ(f.next().text, "last");
  EXPECT_EQ(f.percentDone(), 100);
  EXPECT_EQ(f.next().kind, PromptLine::eEnd);
  EXPECT_EQ(f.open(dir.file("missing.txt")), 0);
  EXPECT_EQ(f.open(dir.path), 0);   // a directory is no prompt file
}

TEST(LetterGroups, ShortestAndLongestGroupPerPositionCompile) {
  WordDictionary abc(64);
  for (const char* w : {"s", "m", "i", "th", "ith", "h", "t"}) abc.addWordIfNew(w, "s");
  abc.addWordIfNew("_", ".");
  const std::vector<LetterRule> rules = letterGroupRules("Smith", &abc);
  // Positions 0 s, 1 m, 2 i|ith, 3 t|th, 4 h.
  ASSERT_EQ(rules.size(), 5u);
  EXPECT_EQ(rules[0].name, "0");
  EXPECT_EQ(rules[0].body, "( < s > &1 )");
  EXPECT_EQ(rules[2].body, "{ ( < i > &3 ) ( < ith > ) }");
  EXPECT_EQ(rules[3].body, "{ ( < t > &4 ) ( < th > ) }");
  EXPECT_EQ(rules[4].body, "( < h > )");
  // A letter that no group covers is passed over; a text without letters gives no rules.
  const std::vector<LetterRule> gap = letterGroupRules("sqm", &abc);
  ASSERT_EQ(gap.size(), 3u);
  EXPECT_EQ(gap[1].body, "( &2 )");
  EXPECT_TRUE(letterGroupRules("123 !", &abc).empty());
  EXPECT_TRUE(letterGroupRules("qq", &abc).empty());
}

TEST(LetterGroups, ShippedSpellingFilesCompileAName) {
  WordDictionary abc(4096);
  ASSERT_EQ(abc.readFile(entest::shipped("abc.voc").c_str()), 1);
  RuleDictionary rules(64);
  const std::vector<LetterRule> made = letterGroupRules("ostrawen tell", &abc, "");
  ASSERT_FALSE(made.empty());
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    const int index = rules.newRule(it->name.c_str());
    ASSERT_GE(index, 0);
    RuleBodyParser parser(&abc, &rules);
    ASSERT_NE(parser.loadRuleBody(it->body.c_str()), nullptr) << it->body;
    EXPECT_EQ(rules.ruleAt(index)->setRuleBody(parser.items(), &abc, &rules), 1) << it->body;
  }
}
