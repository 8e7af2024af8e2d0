// The adapt program on spoken prompts (espeak-ng): calibration on "tea", then a phase-2 prompt
// whose vowel calibration never heard. The contexts of that vowel the prompt did not reach must
// follow the ones it reached (spread from delta.usr), and a bad prompt list is refused.
#include <gtest/gtest.h>
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

int runAdapt(const std::string& args, const std::string& log) {
  const std::string command = "VELMORA_DIR=" + vlmtest::sourceDir() + "/data " + vlmtest::binDir() +
                              "/adapt " + args + " >" + log + " 2>&1";
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

}  // namespace
