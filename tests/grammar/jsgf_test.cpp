// JSGF to .rul conversion: every supported construct, the converted text loading into the same
// graphs as hand-written rules, missing words, dropped weights and tags, errors, and the tool.
#include <gtest/gtest.h>

#include "testpaths.h"

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "grammar/jsgf.h"
#include "grammar_test_util.h"

namespace {

using namespace vlm;
using namespace gramtest;

class JsgfTest : public ::testing::Test {
 protected:
  JsgfTest() : words(1000) {
    addTestWords(words);
    words.addWordIfNew("please", "plEz");
    resetLog();
  }

  // Loads .rul text into rules; returns the number of rejected lines.
  int load(RuleDictionary& rules, const std::string& text, const char* name) {
    std::string path = scratch(name);
    writeText(path, text);
    EXPECT_EQ(rules.readFile(path.c_str(), &words), 1);
    return rules.readErrorCount();
  }

  WordDictionary words;
};

TEST_F(JsgfTest, ConvertedGrammarLoadsIntoTheExpectedGraphs) {
  const char* grammar =
      "#JSGF V1.0 UTF-8 en;\n"
      "grammar test.phone;\n"
      "import <other.*>;\n"
      "/* block\n comment */\n"
      "public <command> = (call | dial) <who> [please] ; // trailing comment\n"
      "<who> = Yes No | a | <test.phone.digit>+;\n"
      "public <digits> = <digit>* two;\n"
      "<digit> = one | two | <NULL>;\n"
      "<quoted> = \"new york\" \"Yes no\";\n"
      "<group> = (a b)+ [c | d]*;\n";
  JsgfConversion result;
  EXPECT_EQ(convertJsgf(grammar, &words, &result, "t.gram"), 1);
  EXPECT_EQ(result.errors, 0);
  EXPECT_EQ(result.warnings, 1);  // the import
  EXPECT_EQ(result.publicRules, (std::vector<std::string>{"command", "digits"}));
  EXPECT_EQ(result.rules.size(), 6u);
  EXPECT_TRUE(result.missingWords.empty());

  // The same grammar written by hand gives the same graphs.
  const char* byHand =
      "RULE command ;\nRULE who ;\nRULE digits ;\nRULE digit ;\nRULE quoted ;\nRULE group ;\n"
      "RULE command ( { call dial } &who [ please ] )\n"
      "RULE who { ( yes no ) a &digit + }\n"
      "RULE digits ( [ &digit + ] two )\n"
      "RULE digit [ { one two } ]\n"
      "RULE quoted ( new_york yes_no )\n"
      "RULE group ( ( a b ) + [ { c d } + ] )\n";
  RuleDictionary converted(100), expected(100);
  ASSERT_EQ(load(converted, result.rul, "converted.rul"), 0) << result.rul << logText();
  ASSERT_EQ(load(expected, byHand, "byhand.rul"), 0) << logText();
  GraphDump one(words, converted), two(words, expected);
  for (const std::string& name : result.rules) {
    ASSERT_NE(converted.getRuleData(name.c_str()), nullptr) << name;
    EXPECT_EQ(one.dump(converted.getRuleData(name.c_str())), two.dump(expected.getRuleData(name.c_str())))
        << name << "\n" << result.rul;
  }
}

TEST_F(JsgfTest, MissingWordsAreListedAndKept) {
  JsgfConversion result;
  EXPECT_EQ(convertJsgf("#JSGF V1.0;\ngrammar g;\npublic <r> = yes zebra | Zebra | aardvark zebra;\n", &words,
                        &result, "g.gram"),
            0);
  EXPECT_EQ(result.missingWords, (std::vector<std::string>{"Zebra", "aardvark", "zebra"}));
  EXPECT_NE(result.rul.find("( yes zebra )"), std::string::npos) << result.rul;
  EXPECT_NE(result.rul.find("( aardvark zebra )"), std::string::npos) << result.rul;
  EXPECT_NE(result.messages[0].find("g.gram:3: error: word not in the dictionary: zebra"), std::string::npos)
      << result.messages[0];
}

TEST_F(JsgfTest, WeightsAndTagsAreDroppedWithAWarning) {
  JsgfConversion result;
  EXPECT_EQ(convertJsgf("#JSGF V1.0;\ngrammar g;\n<r> = /10/ yes {affirm} | /0.5/ no {deny} {again};\n", &words,
                        &result, "g"),
            1);
  EXPECT_EQ(result.warnings, 5);
  EXPECT_NE(result.messages[0].find("g:3: warning: weight /10/ dropped"), std::string::npos) << result.messages[0];
  EXPECT_NE(result.messages[1].find("g:3: warning: tag {affirm} dropped"), std::string::npos) << result.messages[1];
  EXPECT_NE(result.rul.find("RULE r { yes no } ;"), std::string::npos) << result.rul;
}

TEST_F(JsgfTest, ErrorsCarryTheirLine) {
  const std::string deep = "#JSGF V1.0;\n<r> = " + std::string(5000, '(') + " yes;\n";
  struct Case { const char* grammar; const char* message; };
  const Case cases[] = {
      {"#JSGF V1.0;\n<r> = yes <nosuch>;\n", ":2: error: undefined rule <nosuch>"},
      {"#JSGF V1.0;\n<r> = yes;\n<r> = no;\n", ":3: error: rule <r> defined twice"},
      {"#JSGF V1.0;\n<r> = (yes | no;\n", ":2: error: ')' expected"},
      {"#JSGF V1.0;\n<r> = yes\n", "error: ';' expected at the end of <r>"},
      {"#JSGF V1.0;\n<r> = ;\n", ":2: error: empty expansion"},
      {"#JSGF V1.0;\n<r> = <VOID>;\n", ":2: error: <r> can never match"},
      {"#JSGF V1.0;\n<a(b> = yes;\n", ":2: error: rule name cannot be used: <a(b>"},
      {"#JSGF V1.0;\nyes no;\n", ":2: error: rule definition expected"},
      {"#JSGF V1.0;\n/* open\n", ":2: error: unterminated comment"},
      {deep.c_str(), ":2: error: groups nested too deeply"},
  };
  for (const Case& c : cases) {
    JsgfConversion result;
    EXPECT_EQ(convertJsgf(c.grammar, &words, &result, "e"), 0) << c.grammar;
    bool found = false;
    for (const std::string& m : result.messages) found = found || m.find(c.message) != std::string::npos;
    EXPECT_TRUE(found) << c.grammar << " expected " << c.message << " got "
                       << (result.messages.empty() ? "nothing" : result.messages[0]);
  }
  // The rules that converted are still written.
  JsgfConversion result;
  convertJsgf("#JSGF V1.0;\n<r> = yes <nosuch>;\n<s> = no;\n", &words, &result, "e");
  EXPECT_NE(result.rul.find("RULE s ( no ) ;"), std::string::npos) << result.rul;
}

TEST_F(JsgfTest, ToolWritesRulAndListsPublicRulesAndMissingWords) {
  const std::string binDir = vlmtest::binDir();
  const char* bin = binDir.c_str();
  std::string gram = scratch("tool.gram"), voc = scratch("tool.voc"), out = scratch("tool.rul"),
              err = scratch("tool.err");
  writeText(gram, "#JSGF V1.0;\ngrammar g;\npublic <r> = yes [no] <s>;\n<s> = one | zebra;\n");
  writeText(voc, "yes\tyes\nno\tnOw\none\twun\n");
  std::string command = std::string(bin) + "/jsgf2rul " + gram + " --voc " + voc + " > " + out + " 2> " + err;
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // a word is missing
  EXPECT_NE(readText(out).find("RULE r ( yes [ no ] &s ) ;"), std::string::npos) << readText(out);
  std::string messages = readText(err);
  EXPECT_NE(messages.find("public rules: r\n"), std::string::npos) << messages;
  EXPECT_NE(messages.find("words not in the dictionary (1): zebra"), std::string::npos) << messages;

  writeText(gram, "#JSGF V1.0;\ngrammar g;\npublic <r> = yes [no];\n");
  status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0);
  command = std::string(bin) + "/jsgf2rul " + gram + " > " + out + " 2> " + err;  // no dictionary
  status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

// The converter's faults: each ends with a reason and a failing status.
TEST_F(JsgfTest, ToolFaultsEndWithAReason) {
  const std::string bin = vlmtest::binDir() + "/jsgf2rul";
  const std::string gram = scratch("faults.gram"), voc = scratch("faults.voc"), err = scratch("faults.err");
  writeText(voc, "yes\tyes\nno\tnOw\n");
  // A grammar of more rules than the reader's first guess of a table: it must still read back.
  std::string many = "#JSGF V1.0;\ngrammar g;\npublic <top> = <r0>";
  for (int i = 1; i < 5000; i++) many += " | <r" + std::to_string(i) + ">";
  many += ";\n";
  for (int i = 0; i < 5000; i++) many += "<r" + std::to_string(i) + "> = yes [no];\n";
  struct Case {
    const char* what;
    std::string grammar, redirect;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"a full standard output", "#JSGF V1.0;\ngrammar g;\npublic <r> = yes;\n", " > /dev/full", 1,
       "jsgf2rul: cannot write standard output: No space left on device"},
      {"5000 rules", many, " > /dev/null", 0, "public rules: top\n"},
  };
  for (const Case& c : cases) {
    writeText(gram, c.grammar);
    const std::string command = bin + " " + gram + " --voc " + voc + c.redirect + " 2> " + err;
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.what;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.what << ": " << readText(err);
    EXPECT_NE(readText(err).find(c.message), std::string::npos) << c.what << ": " << readText(err);
  }
}

}  // namespace
