// The script language and runner of the GUI programs.
#include <gtest/gtest.h>

#include "apps/common/script.h"
#include "apps/common/transcript.h"

using namespace vlm;

TEST(ScriptLanguage, ParsesEachCommand) {
  struct Case {
    const char* line;
    const char* verb;
    const char* name;
    const char* text;
    int number;
  } cases[] = {
      {"mic", "mic", "", "", 0},
      {"  wait  ", "wait", "", "", ScriptRunner::kDefaultWaitSeconds},
      {"wait 5", "wait", "", "", 5},
      {"tap train", "tap", "train", "", 0},
      {"phrase 2", "phrase", "", "", 2},
      {"choice 1", "choice", "", "", 1},
      {"detail 3", "detail", "", "", 3},
      {"select user tester.usr", "select", "user", "tester.usr", 0},
      {"type prefix1 9 9", "type", "prefix1", "9 9", 0},
      {"type alarm", "type", "alarm", "", 0},
      {"sleep 250", "sleep", "", "", 250},
      {"shot docs/main.png", "shot", "docs/main.png", "", 0},
      {"done\r", "done", "", "", 0},
      {"# a comment", "", "", "", 0},
      {"", "", "", "", 0},
  };
  for (const Case& c : cases) {
    ScriptCommand command;
    std::string error;
    ASSERT_TRUE(parseScriptLine(c.line, &command, &error)) << c.line << ": " << error;
    EXPECT_EQ(command.verb, c.verb) << c.line;
    EXPECT_EQ(command.name, c.name) << c.line;
    EXPECT_EQ(command.text, c.text) << c.line;
    EXPECT_EQ(command.number, c.number) << c.line;
  }
}

TEST(ScriptLanguage, RejectsBadLines) {
  for (const char* line : {"jump", "mic now", "wait soon", "wait 0", "phrase", "phrase 0", "phrase -1", "tap",
                           "tap two words", "select user", "sleep", "choice 9999999999", "done twice"}) {
    ScriptCommand command;
    std::string error;
    EXPECT_FALSE(parseScriptLine(line, &command, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

namespace {

struct FakeHost : ScriptHost {
  std::vector<std::string> calls;
  bool busyNow = false;
  bool tap(const std::string& name) override {
    calls.push_back("tap " + name);
    return name != "missing";
  }
  bool select(const std::string& list, const std::string& item) override {
    calls.push_back("select " + list + " " + item);
    return true;
  }
  bool type(const std::string& edit, const std::string& text) override {
    calls.push_back("type " + edit + " " + text);
    return true;
  }
  bool shot(const std::string& path) override {
    calls.push_back("shot " + path);
    return true;
  }
  bool done() override {
    calls.push_back("done");
    return true;
  }
  bool busy() override { return busyNow; }
};

std::vector<ScriptCommand> parse(const std::vector<std::string>& lines) {
  std::vector<ScriptCommand> commands;
  for (const std::string& line : lines) {
    ScriptCommand c;
    std::string error;
    EXPECT_TRUE(parseScriptLine(line, &c, &error));
    commands.push_back(c);
  }
  return commands;
}

}  // namespace

TEST(ScriptRunner, RunsCommandsOneAtATimeAndWaitsWhileBusy) {
  FakeHost host;
  ScriptRunner runner(parse({"mic", "wait 2", "phrase 2", "tap missing", "sleep 100", "done"}));
  EXPECT_EQ(runner.step(host, 0), ScriptRunner::eRan);
  EXPECT_EQ(host.calls, std::vector<std::string>{"tap mic"});
  host.busyNow = true;
  EXPECT_EQ(runner.step(host, 10), ScriptRunner::eWaiting);   // wait starts
  EXPECT_EQ(runner.step(host, 500), ScriptRunner::eWaiting);  // still busy
  host.busyNow = false;
  EXPECT_EQ(runner.step(host, 600), ScriptRunner::eRan);      // the utterance was handled
  EXPECT_EQ(runner.step(host, 610), ScriptRunner::eRan);
  EXPECT_EQ(host.calls.back(), "select phrases 2");
  EXPECT_EQ(runner.failures(), 0);
  EXPECT_EQ(runner.step(host, 620), ScriptRunner::eRan);
  EXPECT_EQ(runner.failures(), 1);                            // no such control
  EXPECT_EQ(runner.step(host, 630), ScriptRunner::eWaiting);  // sleep 100
  EXPECT_EQ(runner.step(host, 700), ScriptRunner::eWaiting);
  EXPECT_EQ(runner.step(host, 730), ScriptRunner::eRan);
  EXPECT_FALSE(runner.finished());
  EXPECT_EQ(runner.step(host, 740), ScriptRunner::eRan);
  EXPECT_EQ(host.calls.back(), "done");
  EXPECT_TRUE(runner.finished());
  EXPECT_EQ(runner.step(host, 750), ScriptRunner::eFinished);
}

TEST(ScriptRunner, WaitGivesUpAtItsLimit) {
  FakeHost host;
  host.busyNow = true;
  ScriptRunner runner(parse({"wait 1", "done"}));
  EXPECT_EQ(runner.step(host, 0), ScriptRunner::eWaiting);
  EXPECT_EQ(runner.step(host, 999), ScriptRunner::eWaiting);
  EXPECT_EQ(runner.step(host, 1000), ScriptRunner::eRan);
  EXPECT_EQ(runner.failures(), 1);
  EXPECT_EQ(runner.step(host, 1001), ScriptRunner::eRan);
  EXPECT_EQ(host.calls, std::vector<std::string>{"done"});
}

TEST(Transcript, QuotesControlCharacters) {
  EXPECT_EQ(quoted("a \"b\"\\\n\t\x01"), "\"a \\\"b\\\"\\\\\\n\\t\\x01\"");
  EXPECT_STREQ(boxAnswerLabel(6), "Yes");
}
