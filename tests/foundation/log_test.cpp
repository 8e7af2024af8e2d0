// The speech log, the assertion box, the console message-box handler and the standard streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/filepath.h"
#include "foundation/log.h"
#include "foundation/stdiox.h"
#include "platform/msgbox.h"

extern char** environ;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs body with the descriptor fd written to a scratch file; returns what was written.
std::string captureFd(int fd, const std::function<void()>& body) {
  char path[] = "/tmp/vlm_capture_XXXXXX";
  int file = mkstemp(path);
  int saved = dup(fd);
  dup2(file, fd);
  body();
  dup2(saved, fd);
  close(saved);
  close(file);
  std::string text = readFile(path);
  unlink(path);
  return text;
}

// Each test runs in a scratch current directory of its own, so velmora.log lands there.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlm_log_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd = cwd;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    previousHandler = vlm::setMessageBoxHandler(nullptr);
  }
  void TearDown() override {
    vlm::setMessageBoxHandler(previousHandler);
    vlm::setConsoleProgram(false);
    EXPECT_EQ(chdir(oldCwd.c_str()), 0);
    std::filesystem::remove_all(dir);
  }
  std::string dir, oldCwd;
  vlm::MessageBoxHandler previousHandler = nullptr;
};

using SpeechLogTest = ScratchDirTest;

TEST_F(SpeechLogTest, ProcessesAppendAndTheTestResetStartsAnew) {
  { std::ofstream("velmora.log") << "from an earlier run"; }
  vlm::startSpeechLogAsNewProcessForTest();
  vlm::logError("first");
  EXPECT_EQ(readFile("velmora.log"), "from an earlier run\nfirst");
  vlm::logError("Cannot open ", "x.voc");
  vlm::logError(nullptr, "ignored without a first text");
  EXPECT_EQ(readFile("velmora.log"), "from an earlier run\nfirst\nCannot open x.voc");
  EXPECT_EQ(1, vlm::speechLogWrittenByThisProcess());
  vlm::resetSpeechLogForTest();
  EXPECT_EQ(0, vlm::speechLogWrittenByThisProcess());
  vlm::logError("third");
  EXPECT_EQ(readFile("velmora.log"), "\nthird");
}

TEST_F(SpeechLogTest, ALongLogIsKeptAsTheOldOneWhenAProcessStarts) {
  { std::ofstream("velmora.log") << std::string((1 << 20) + 10, 'x'); }
  vlm::startSpeechLogAsNewProcessForTest();
  vlm::logError("new run");
  EXPECT_EQ(readFile("velmora.log"), "\nnew run");
  EXPECT_EQ(readFile("velmora.log.1").size(), static_cast<size_t>((1 << 20) + 10));
}

// What the data-directory search reports while the log's place is being found reaches the
// observer at once and the log with the next message, once.
TEST_F(SpeechLogTest, MessagesOfTheSearchForTheLogsPlaceAreKept) {
  const std::string saved = std::getenv("VELMORA_LOG") ? std::getenv("VELMORA_LOG") : "";
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  unsetenv("VELMORA_LOG");
  setenv("HOME", dir.c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  setenv("VELMORA_DIR", (dir + "/missing").c_str(), 1);
  vlm::setMediaRootsForTest((dir + "/nomedia").c_str());
  vlm::resetVelmoraSearchForTest();
  vlm::resetSpeechLogLocationForTest();
  vlm::resetSpeechLogForTest();
  std::vector<std::string> seen;
  auto observe = [](const char* text, const char* second, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(std::string(text) + (second ? second : ""));
  };
  vlm::LogObserver old = vlm::setLogObserver(observe, &seen);
  ASSERT_NE(nullptr, vlm::speechLogPath());
  ASSERT_EQ(1u, seen.size());
  EXPECT_NE(std::string::npos, seen[0].find("VELMORA_DIR")) << seen[0];
  vlm::logError("next");
  EXPECT_EQ(2u, seen.size());  // the held-back message is not shown twice
  EXPECT_EQ("\n" + seen[0] + "\nnext", readFile(dir + "/state/velmora/velmora.log"));
  vlm::setLogObserver(old, nullptr);
  unsetenv("VELMORA_DIR");
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", savedHome.c_str(), 1);
  if (!saved.empty()) setenv("VELMORA_LOG", saved.c_str(), 1);
  vlm::setMediaRootsForTest(nullptr);
  vlm::resetVelmoraSearchForTest();
  vlm::resetSpeechLogLocationForTest();
}

// The log's place without $VELMORA_LOG: the data directory, else the state directory.
TEST_F(SpeechLogTest, LogGoesToTheDataDirectoryElseTheStateDirectory) {
  const std::string saved = std::getenv("VELMORA_LOG") ? std::getenv("VELMORA_LOG") : "";
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  unsetenv("VELMORA_LOG");
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", dir.c_str(), 1);
  ASSERT_EQ(mkdir("data", 0755), 0);
  vlm::setMediaRootsForTest((dir + "/nomedia").c_str());
  struct Case {
    const char* velmoraDir;
    const char* stateHome;
    std::string expected;
  } cases[] = {
      {"data", nullptr, dir + "/data/velmora.log"},
      {nullptr, "state", ""},  // a relative state home is not used: the default under HOME
      {nullptr, nullptr, dir + "/.local/state/velmora/velmora.log"},
  };
  cases[1].expected = dir + "/.local/state/velmora/velmora.log";
  for (const Case& c : cases) {
    if (c.velmoraDir) setenv("VELMORA_DIR", (dir + "/" + c.velmoraDir).c_str(), 1); else unsetenv("VELMORA_DIR");
    if (c.stateHome) setenv("XDG_STATE_HOME", c.stateHome, 1); else unsetenv("XDG_STATE_HOME");
    vlm::resetVelmoraSearchForTest();
    vlm::resetSpeechLogLocationForTest();
    vlm::resetSpeechLogForTest();
    vlm::logError("here");
    ASSERT_NE(nullptr, vlm::speechLogPath());
    EXPECT_EQ(c.expected, vlm::speechLogPath());
    EXPECT_EQ("\nhere", readFile(c.expected));
  }
  setenv("XDG_STATE_HOME", (dir + "/xdg").c_str(), 1);
  vlm::resetSpeechLogLocationForTest();
  EXPECT_EQ(dir + "/xdg/velmora/velmora.log", vlm::speechLogPath());
  EXPECT_FALSE(std::filesystem::exists("velmora.log"));  // never the current directory
  unsetenv("VELMORA_DIR");
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", savedHome.c_str(), 1);
  if (!saved.empty()) setenv("VELMORA_LOG", saved.c_str(), 1);
  vlm::setMediaRootsForTest(nullptr);
  vlm::resetVelmoraSearchForTest();
  vlm::resetSpeechLogLocationForTest();
}

TEST_F(SpeechLogTest, UnopenableLogLosesTheMessageQuietly) {
  ASSERT_EQ(mkdir("velmora.log", 0755), 0);
  vlm::resetSpeechLogForTest();
  vlm::logError("lost");
  struct stat st;
  ASSERT_EQ(stat("velmora.log", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(SpeechLogTest, ConsoleProgramEchoesToStandardOutput) {
  vlm::resetSpeechLogForTest();
  vlm::setConsoleProgram(true);
  std::string out = captureFd(1, [] {
    vlm::logError("Cannot open ", "names.lst");
    vlm::logError("done");
  });
  EXPECT_EQ(out, "Cannot open names.lst\ndone\n");
  EXPECT_EQ(readFile("velmora.log"), "\nCannot open names.lst\ndone");
  vlm::setConsoleProgram(false);
  out = captureFd(1, [] { vlm::logError("quiet"); });
  EXPECT_EQ(out, "");
}

// The assertion box as a recording handler sees it.
struct Box {
  std::string text, caption;
  vlm::BoxButtons buttons;
  vlm::BoxIcon icon;
  int defaultAnswer;
};
std::vector<Box> boxes;
int answerToGive = vlm::eAnswerIgnore;
int recordBox(const char* text, const char* caption, vlm::BoxButtons buttons, vlm::BoxIcon icon, int def) {
  boxes.push_back({text, caption, buttons, icon, def});
  return answerToGive;
}

using AssertTest = ScratchDirTest;

TEST_F(AssertTest, BoxTextAndIgnore) {
  boxes.clear();
  answerToGive = vlm::eAnswerIgnore;
  vlm::setMessageBoxHandler(recordBox);
  vlm::__assert("(unsigned )i < (unsigned )count()", "arrcoll", 48);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "(unsigned )i < (unsigned )count()\nFile=arrcoll\nLine=48\nExit?");
  EXPECT_EQ(boxes[0].caption, "Assertion Error!");
  EXPECT_EQ(boxes[0].buttons, vlm::eBoxAbortRetryIgnore);
  EXPECT_EQ(boxes[0].icon, vlm::eIconQuestion);
  EXPECT_EQ(boxes[0].defaultAnswer, vlm::eAnswerAbort);

  // The macro passes the unit name and the line; a % in the expression is not a conversion.
  int line = __LINE__ + 1;
  VLM_ASSERT(1 + 1 == 3, "100%d");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, std::string("100%d\nFile=") + VLM_UNIT + "\nLine=" + std::to_string(line) + "\nExit?");

  // The message is cut to its 512-character buffer.
  std::string longExpression(600, 'e');
  vlm::__assert(longExpression.c_str(), "unit", 1);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[2].text, std::string(511, 'e'));
  EXPECT_FALSE(std::filesystem::exists("velmora.log")) << "only Abort writes the speech log";
}

bool traced() {
  std::string status = readFile("/proc/self/status");
  size_t at = status.find("TracerPid:");
  return at != std::string::npos && std::atoi(status.c_str() + at + 10) != 0;
}

TEST_F(AssertTest, RetryWithoutDebuggerCarriesOn) {
  if (traced()) GTEST_SKIP() << "a debugger is attached";
  boxes.clear();
  answerToGive = vlm::eAnswerRetry;
  vlm::setMessageBoxHandler(recordBox);
  vlm::__assert("x", "unit", 1);  // would stop with SIGTRAP when traced
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(AssertTest, AbortExitsWithStatusOneAndLogs) {
  answerToGive = vlm::eAnswerAbort;
  vlm::setMessageBoxHandler(recordBox);
  EXPECT_EXIT(vlm::__assert("boom", "unit", 7), ::testing::ExitedWithCode(1), "");
  EXPECT_NE(readFile("velmora.log").find("\nboom\nFile=unit\nLine=7\nExit?"), std::string::npos);
}

TEST_F(AssertTest, ConsoleDefaultIsAbort) {
  EXPECT_EXIT(
      {
        unsetenv("VLM_BOX_ANSWERS");
        vlm::resetBoxScriptForTest();
        vlm::setMessageBoxHandler(nullptr);
        vlm::__assert("boom", "unit", 7);
      },
      ::testing::ExitedWithCode(1), "Assertion Error!: boom\nFile=unit\nLine=7\nExit\\?\n  -> Abort \\(default\\)");
}

TEST_F(AssertTest, ConsoleScriptedIgnoreReturns) {
  setenv("VLM_BOX_ANSWERS", "ignore", 1);
  vlm::resetBoxScriptForTest();
  std::string err = captureFd(2, [] { vlm::__assert("soft", "unit", 3); });
  unsetenv("VLM_BOX_ANSWERS");
  vlm::resetBoxScriptForTest();
  EXPECT_EQ(err, "Assertion Error!: soft\nFile=unit\nLine=3\nExit?\n  -> Ignore (VLM_BOX_ANSWERS)\n");
}

TEST(MessageBoxTest, ScriptedAnswersAreTakenOneBoxAtATime) {
  vlm::MessageBoxHandler previous = vlm::setMessageBoxHandler(nullptr);
  setenv("VLM_BOX_ANSWERS", "ignore, YES ,bogus,ok", 1);
  vlm::resetBoxScriptForTest();
  std::vector<int> answers;
  std::string err = captureFd(2, [&] {
    answers.push_back(vlm::messageBox("t1", "Cap1", vlm::eBoxAbortRetryIgnore, vlm::eIconQuestion, vlm::eAnswerAbort));
    setenv("VLM_BOX_ANSWERS", "abort", 1);  // read once: a later change is not seen
    answers.push_back(vlm::messageBox("t2", "Cap2", vlm::eBoxYesNo, vlm::eIconQuestion, vlm::eAnswerNo));
    answers.push_back(vlm::messageBox("t3", "Cap3", vlm::eBoxOkCancel, vlm::eIconWarning, vlm::eAnswerCancel));
    answers.push_back(vlm::messageBox("t4", "Cap4", vlm::eBoxYesNo, vlm::eIconNone, vlm::eAnswerNo));
    answers.push_back(vlm::messageBox("t5", "Cap5", vlm::eBoxRetryCancel, vlm::eIconError, 0));
  });
  unsetenv("VLM_BOX_ANSWERS");
  vlm::resetBoxScriptForTest();
  vlm::setMessageBoxHandler(previous);
  EXPECT_EQ(answers, (std::vector<int>{vlm::eAnswerIgnore, vlm::eAnswerYes, vlm::eAnswerCancel, vlm::eAnswerNo,
                                       vlm::eAnswerRetry}));
  EXPECT_EQ(err,
            "Cap1: t1\n  -> Ignore (VLM_BOX_ANSWERS)\n"
            "Cap2: t2\n  -> Yes (VLM_BOX_ANSWERS)\n"
            "Cap3: t3\n  VLM_BOX_ANSWERS: \"bogus\" does not answer this box\n  -> Cancel (default)\n"
            "Cap4: t4\n  VLM_BOX_ANSWERS: \"ok\" does not answer this box\n  -> No (default)\n"
            "Cap5: t5\n  -> Retry (default)\n");
}

TEST(MessageBoxTest, InstalledHandlerAnswers) {
  boxes.clear();
  answerToGive = vlm::eAnswerNo;
  vlm::MessageBoxHandler previous = vlm::setMessageBoxHandler(recordBox);
  EXPECT_EQ(vlm::messageBox("Delete?", "Contacts", vlm::eBoxYesNo, vlm::eIconQuestion, vlm::eAnswerYes), vlm::eAnswerNo);
  EXPECT_EQ(vlm::setMessageBoxHandler(previous), recordBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Contacts");
}

// Standard streams: this test program is started again with a standard descriptor closed; its
// InitStdIo must then put the stream into a log file, deleted at exit when nothing was written.
using StdIoTest = ScratchDirTest;

int runSelfWithClosedFd(int fd, const char* childMode) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  self[n] = 0;
  setenv("VLM_STDIO_CHILD", childMode, 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fd);
  if (fd != 1) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char filter[] = "--gtest_filter=StdIoChild.DISABLED_Write";
  char alsoDisabled[] = "--gtest_also_run_disabled_tests";
  char* argv[] = {self, filter, alsoDisabled, nullptr};
  pid_t pid;
  int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  unsetenv("VLM_STDIO_CHILD");
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StdIoChild, DISABLED_Write) {
  const char* mode = std::getenv("VLM_STDIO_CHILD");
  if (mode != nullptr && std::string(mode) == "write") vlm::fPrint(vlm::stdErrHandle(), "marker %d", 42);
}

TEST_F(StdIoTest, ClosedStandardErrorGoesToStdErrLog) {
  ASSERT_EQ(runSelfWithClosedFd(2, "write"), 0);
  EXPECT_EQ(readFile("stdErr.log"), "marker 42");
}

TEST_F(StdIoTest, EmptyStdErrLogIsDeletedAtExit) {
  ASSERT_EQ(runSelfWithClosedFd(2, "quiet"), 0);
  EXPECT_FALSE(std::filesystem::exists("stdErr.log"));
}

TEST_F(StdIoTest, ClosedStandardOutputGoesToStdOutLog) {
  ASSERT_EQ(runSelfWithClosedFd(1, "quiet"), 0);
  // The test framework's own report reaches the file through the standard descriptor.
  EXPECT_NE(readFile("stdOut.log").find("StdIoChild.DISABLED_Write"), std::string::npos);
}

}  // namespace
