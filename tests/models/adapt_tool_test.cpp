// The adapt program on spoken prompts (espeak-ng): calibration on "tea", then a phase-2 prompt
// whose vowel calibration never heard. The contexts of that vowel the prompt did not reach must
// follow the ones it reached (spread from delta.usr), and a bad prompt list is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/wavefile.h"
#include "lexicon/phoneset.h"
#include "models/user.h"
#include "platform/audio/audiodevice.h"
#include "testpaths.h"

namespace {

using namespace vlm;

std::string scratchDir() {
  const std::string dir = std::string(::testing::TempDir()) + "adapt_tool_" + std::to_string(::getpid());
  std::system(("mkdir -p " + dir).c_str());
  return dir;
}

// Speaks text with espeak-ng and writes it at 11025 Hz with 0.4 s of quiet noise either side.
bool speak(const std::string& text, const std::string& path, unsigned seed) {
  const std::string raw = path + ".raw.wav";
  if (std::system(("espeak-ng -v en-us -w " + raw + " '" + text + "' 2>/dev/null").c_str()) != 0) return false;
  LoadedWave wave;
  char error[160];
  if (!loadWaveFile(raw.c_str(), &wave, error, sizeof error)) return false;
  uint32_t count = 0;
  std::unique_ptr<float[]> at11k(resampleMono(wave.samples, wave.count, wave.rate, 11025, &count));
  if (!at11k) return false;
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 15.0);
  std::vector<int16_t> out;
  for (int i = 0; i < 4410; i++) out.push_back(static_cast<int16_t>(noise(rng)));
  for (uint32_t i = 0; i < count; i++) out.push_back(static_cast<int16_t>(std::lround(at11k[i] * 16000.0 + noise(rng))));
  for (int i = 0; i < 4410; i++) out.push_back(static_cast<int16_t>(noise(rng)));
  return writeRiffFile(path.c_str(), out.data(), static_cast<uint32_t>(out.size()), kRiffSpeechFormat) == 1;
}

int runAdapt(const std::string& args, const std::string& log, const std::string& dataDir = "") {
  const std::string command = "VELMORA_DIR=" + (dataDir.empty() ? vlmtest::sourceDir() + "/data" : dataDir) +
                              " timeout 120 " + vlmtest::binDir() + "/adapt " + args + " >" + log + " 2>&1";
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

TEST(AdaptTool, PhaseTwoSpreadsToTheContextsThePromptsDidNotReach) {
  if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0) GTEST_SKIP() << "espeak-ng is not installed";
  const std::string dir = scratchDir();
  ASSERT_TRUE(speak("tea", dir + "/tea1.wav", 1));
  ASSERT_TRUE(speak("tea", dir + "/tea2.wav", 2));
  ASSERT_TRUE(speak("moon", dir + "/moon.wav", 3));
  std::ofstream(dir + "/prompts.lst") << "cmd_start_calibrate\ntea1.wav\ttea\ntea2.wav\ttea\ncmd_end_calibrate\n"
                                         "moon.wav\tmoon\n";
  const std::string data = vlmtest::sourceDir() + "/data";
  const std::string out = dir + "/speaker.usr";
  const int rc = runAdapt("--usr " + data + "/newuser.usr --voc " + data + "/enrol.voc --voc " + data +
                              "/fulldict.voc --prompts " + dir + "/prompts.lst --out " + out + " --no-recognize",
                          dir + "/adapt.log");
  std::ifstream logFile(dir + "/adapt.log");
  const std::string log((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
  ASSERT_EQ(0, rc) << log;
  EXPECT_NE(std::string::npos, log.find("phase 2: 1 of 1 prompts adapted")) << log;

  User reference, adapted;
  ASSERT_EQ(1, reference.readFile((data + "/delta.usr").c_str()));
  ASSERT_EQ(1, adapted.readFile(out.c_str()));
  // The first state of "U" in "moon" is heard after "m" only; "tea" has no "U". Every other
  // left context of that state must have moved by one common, non-zero shift.
  const int first = phoneBasePel('U');
  const int heard = first + phoneLeftClass('m');
  std::vector<int> shift;
  int others = 0;
  for (int c = 0; c < kContextClassCount; c++) {
    const int pel = first + c;
    if (pel == heard) continue;
    std::vector<int> d;
    for (int j = 0; j < kFrameFeatures; j++) d.push_back(adapted.models[pel][j] - reference.models[pel][j]);
    if (shift.empty()) shift = d;
    EXPECT_EQ(shift, d) << "context " << c;
    others++;
  }
  ASSERT_EQ(kContextClassCount - 1, others);
  bool moved = false;
  for (int v : shift) moved = moved || v != 0;
  EXPECT_TRUE(moved) << "the unheard contexts kept the starting templates";
}

TEST(AdaptTool, RefusesAMissingPromptList) {
  const std::string dir = scratchDir();
  const std::string data = vlmtest::sourceDir() + "/data";
  const int rc = runAdapt("--usr " + data + "/newuser.usr --voc " + data + "/enrol.voc --prompts " + dir +
                              "/none.lst --out " + dir + "/x.usr",
                          dir + "/missing.log");
  EXPECT_NE(0, rc);
  std::ifstream probe(dir + "/x.usr");
  EXPECT_FALSE(probe.good());
}

// Faults a user meets: each case is refused or warned about with a clear message, and an output
// model that is not written keeps its old text.
TEST(AdaptTool, FaultsAreRefusedAndTheOutputIsKept) {
  const std::string dir = scratchDir() + "/faults";
  std::system(("rm -rf " + dir + " && mkdir -p " + dir + "/nodelta " + dir + "/folder.usr").c_str());
  const std::string data = vlmtest::sourceDir() + "/data";
  // Two recordings of quiet noise: no speech in either.
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 10.0);
  std::vector<int16_t> quiet(22050);
  for (int16_t& v : quiet) v = static_cast<int16_t>(noise(rng));
  ASSERT_EQ(1, writeRiffFile((dir + "/q1.wav").c_str(), quiet.data(), static_cast<uint32_t>(quiet.size()), kRiffSpeechFormat));
  ASSERT_EQ(1, writeRiffFile((dir + "/q2.wav").c_str(), quiet.data(), static_cast<uint32_t>(quiet.size()), kRiffSpeechFormat));
  std::ofstream(dir + "/silence.lst") << "q1.wav\tmoon\nq2.wav\ttea\n";
  std::ofstream(dir + "/long.lst") << "q1.wav\t" << std::string(5000, 'x') << "\n";
  ASSERT_EQ(0, mkfifo((dir + "/fifo.lst").c_str(), 0666));
  struct Case {
    const char* what;
    std::string list, out, dataDir;
    const char* message;
  };
  const std::string old = dir + "/old.usr";
  const Case cases[] = {
      {"only silence", "silence.lst", old, "", "only 0 of 2 prompts adapted (at least 1 needed); "},
      {"output is a device", "silence.lst", "/dev/null", "", "cannot replace /dev/null: is not a regular file"},
      {"output is a folder", "silence.lst", dir + "/folder.usr", "", "is a directory"},
      {"list is a FIFO", "fifo.lst", old, "", "fifo.lst: is not a regular file"},
      {"overlong line", "long.lst", old, "", "long.lst:1: line longer than 4094 bytes, skipped"},
      {"no delta.usr", "silence.lst", old, dir + "/nodelta", "the contexts no prompt reaches keep their starting templates"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(old) << "old models\n";
    const std::string log = dir + "/run.log";
    const int rc = runAdapt("--usr " + data + "/newuser.usr --voc " + data + "/enrol.voc --voc " + data +
                                "/fulldict.voc --prompts " + dir + "/" + c.list + " --out " + c.out + " --no-recognize",
                            log, c.dataDir);
    std::ifstream logFile(log);
    const std::string text((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(1, rc) << text;
    EXPECT_NE(std::string::npos, text.find(c.message)) << text;
    std::ifstream kept(old);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ("old models", line);
  }
  struct stat st;
  ASSERT_EQ(0, stat("/dev/null", &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

}  // namespace
