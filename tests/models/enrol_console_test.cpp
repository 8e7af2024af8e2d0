// Enrollment from the console: record-prompts records the repetitions of a prompt file from the
// file microphone (VELMORA_MIC), with a redo, resumes where it stopped, and adapt --enrol reads
// the prompt file and finds the repetitions in the folder by the same names.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "testpaths.h"

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

struct ToolRun {
  int status;
  std::string out;
};

ToolRun run(const std::string& dir, const std::string& command) {
  const int rc = std::system(("cd " + dir + " && " + command + " >out.txt 2>&1").c_str());
  return ToolRun{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readAll(dir + "/out.txt")};
}

TEST(EnrolConsole, RecordPromptsThenAdaptFromThePromptFile) {
  if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0) GTEST_SKIP() << "espeak-ng is not installed";
  const std::string dir = std::string(::testing::TempDir()) + "enrol_console_" + std::to_string(getpid());
  ASSERT_EQ(0, std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()));
  const char* const spoken[][2] = {{"tea1", "tea"}, {"tea2", "tea"}, {"mail", "send mail"}, {"wrong", "sun"},
                                   {"moon", "moon"}};
  for (const auto& s : spoken)
    ASSERT_EQ(0, std::system(("espeak-ng -v en-us -w " + dir + "/" + s[0] + ".wav '" + s[1] + "'").c_str()));
  // the prompt file names a recording for three prompts (the calibration one twice), none for moon
  std::ofstream(dir + "/enrol.txt") << "cmd_start_calibrate\ntea\ttea.wav\n  tea\ttea.wav\ncmd_end_calibrate\n\n"
                                       "send mail\tmail.wav\nmoon\n";
  const std::string bin = vlmtest::binDir(), data = vlmtest::sourceDir() + "/data";
  const std::string mic = "VELMORA_MIC_FAST=1 VELMORA_MIC_GAP=1.5 VELMORA_MIC=";
  const std::string record = bin + "/record-prompts --prompts enrol.txt --out takes --no-play";

  // all four prompts; the fourth said wrong first and again after "r"
  ToolRun r = run(dir, "printf '\\n\\n\\nr\\n\\n' | " + mic + "tea1.wav,tea2.wav,mail.wav,wrong.wav,moon.wav " + record);
  ASSERT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("[1/4] (calibration) Say: tea\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("[3/4] Say: send mail\n")) << r.out;
  const size_t moon = r.out.find("[4/4] Say: moon\n");
  ASSERT_NE(std::string::npos, moon) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("[4/4] Say: moon\n", moon + 1)) << "no redo:\n" << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Recorded 4 of 4 prompt(s)")) << r.out;
  for (const char* take : {"tea.wav", "tea-2.wav", "mail.wav", "prompt-7.wav"})
    EXPECT_TRUE(exists(dir + "/takes/" + take)) << take << "\n" << r.out;

  // a take lost: --list says so, and a second run records only that one
  ASSERT_EQ(0, std::remove((dir + "/takes/mail.wav").c_str()));
  r = run(dir, record + " --list");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("3\tmail.wav\tmissing\t\tsend mail\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("1\ttea.wav\trecorded\tcalibration\ttea\n")) << r.out;
  r = run(dir, mic + "mail.wav " + record + " </dev/null");
  EXPECT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Recording 1 of 4 prompts")) << r.out;
  EXPECT_TRUE(exists(dir + "/takes/mail.wav"));
  // --redo by number or take name; an unknown one is a usage error
  r = run(dir, mic + "moon.wav " + record + " --redo prompt-7.wav </dev/null");
  EXPECT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Recording 1 of 4 prompts")) << r.out;
  r = run(dir, record + " --redo 9");
  EXPECT_EQ(2, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("--redo 9: no such prompt")) << r.out;
  // the microphone's input ending before the prompts do is a failure
  r = run(dir, mic + "tea1.wav " + record + " --all </dev/null");
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("the microphone input ended")) << r.out;

  // adapt reads the prompt file and the takes
  const std::string adapt = "VELMORA_DIR=" + data + " timeout 120 " + bin + "/adapt --usr " + data +
                            "/newuser.usr --voc " + data + "/enrol.voc --voc " + data + "/fulldict.voc --enrol enrol.txt ";
  r = run(dir, adapt + "--recordings takes --out me.usr --no-recognize");
  ASSERT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("phase 1: 2 recordings")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("phase 2: 2 of 2 prompts adapted")) << r.out;
  EXPECT_TRUE(exists(dir + "/me.usr"));
  // a missing take is skipped and named; a missing folder stops
  ASSERT_EQ(0, std::remove((dir + "/takes/prompt-7.wav").c_str()));
  r = run(dir, adapt + "--recordings takes --out me2.usr --no-recognize");
  EXPECT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("1 prompt(s) have no recording in takes (prompt-7.wav)")) << r.out;
  r = run(dir, adapt + "--recordings nowhere --out me3.usr");
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("the recordings folder nowhere does not exist")) << r.out;
  EXPECT_FALSE(exists(dir + "/me3.usr"));
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
