// The speak tool: pronunciation strings and dictionary words to wave files, and its errors.
#include <gtest/gtest.h>

#include "testpaths.h"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "synth/synth.h"

namespace fs = std::filesystem;

namespace {

class Speak : public ::testing::Test {
 protected:
  void SetUp() override {
    tool = vlmtest::binDir() + "/speak";
    ASSERT_TRUE(fs::exists(tool)) << tool << " is not built";
    // One folder per test process: CTest may run the tests of this fixture side by side.
    dir = fs::absolute("speak_scratch_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream voc(dir / "test.voc");
    voc << "tarvell\ttarvel\t0\n";
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  // Runs speak with args; returns its exit status and leaves its output in out.
  int run(const std::string& args, const std::string& env = "") {
    const std::string log = (dir / "out.txt").string();
    const std::string cmd = env + " \"" + tool + "\" " + args + " > \"" + log + "\" 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream in(log);
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string path(const char* name) const { return (dir / name).string(); }

  static int samplesOf(const char* pron) {
    short* s = nullptr;
    const int n = vlm::synthesize(pron, &s);
    delete[] s;
    return n;
  }
  // Checks the RIFF header (11025 Hz, 16-bit mono) and returns the number of samples.
  static long riffSamples(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 8, "WAVEfmt ") != 0)
      return -1;
    uint32_t rate = 0;
    uint16_t bits = 0, channels = 0;
    std::memcpy(&channels, bytes.data() + 22, 2);
    std::memcpy(&rate, bytes.data() + 24, 4);
    std::memcpy(&bits, bytes.data() + 34, 2);
    if (rate != 11025 || bits != 16 || channels != 1) return -1;
    return static_cast<long>(bytes.size() - 44) / 2;
  }

  std::string tool;
  fs::path dir;
  std::string out;
};

TEST_F(Speak, PronunciationToWaveFile) {
  ASSERT_EQ(run("--pron kat -o " + path("kat.wav")), 0) << out;
  EXPECT_EQ(riffSamples(path("kat.wav")), samplesOf("kat"));
}

TEST_F(Speak, WordsFromTheDictionaryElseLetterToSound) {
  ASSERT_EQ(run("--voc " + path("test.voc") + " tarvell -o " + path("w.wav")), 0) << out;
  EXPECT_NE(out.find("tarvell\ttarvel\tdictionary"), std::string::npos) << out;
  EXPECT_EQ(riffSamples(path("w.wav")), samplesOf("tarvel"));

  // Not in the dictionary: letter-to-sound; two words are joined by a pause.
  ASSERT_EQ(run("--voc " + path("test.voc") + " tarvell cat -o " + path("two.wav")), 0) << out;
  EXPECT_NE(out.find("cat\t"), std::string::npos) << out;
  EXPECT_NE(out.find("letter-to-sound"), std::string::npos) << out;
  EXPECT_GT(riffSamples(path("two.wav")), samplesOf("tarvel"));
}

TEST_F(Speak, PlaysThroughTheAudioLayer) {
  EXPECT_EQ(run("--pron tUw --play", "VELMORA_SPEAKER=null"), 0) << out;
}

TEST_F(Speak, BadRequestsFailClearly) {
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"--pron kat", 2},                                      // no output chosen
      {"--pron kat -o " + path("a.wav") + " --play", 2},      // two outputs
      {"--pron kat word -o " + path("a.wav"), 2},             // a pronunciation and words
      {"--pron kxt -o " + path("a.wav"), 2},                  // x is not a phone code
      {"--bogus -o " + path("a.wav"), 2},
      {"--pron . -o " + path("a.wav"), 1},                    // nothing to say
      {"--voc " + path("missing.voc") + " word -o " + path("a.wav"), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.args), c.status) << c.args << "\n" << out;
    EXPECT_FALSE(out.empty()) << c.args;
    EXPECT_FALSE(fs::exists(path("a.wav"))) << c.args;
  }
  ASSERT_EQ(run("--pron kat -o " + path("nodir/a.wav")), 1);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
}

// Outputs that are not regular files are refused with the reason and left as they are; a link
// another process planted at the old temporary name is never written through.
TEST_F(Speak, OutputsThatAreNoRegularFilesAreRefused) {
  fs::create_directories(dir / "folder");
  std::ofstream(dir / "victim") << "keep";
  fs::create_symlink(dir / "victim", dir / "out.wav.tmp");
  const struct {
    std::string target;
    const char* reason;
  } cases[] = {{"/dev/null", "cannot write /dev/null: is not a regular file"},
               {path("folder"), "is a directory"}};
  for (const auto& c : cases) {
    EXPECT_EQ(run("--pron kat -o " + c.target), 1) << c.target;
    EXPECT_NE(out.find(c.reason), std::string::npos) << out;
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
  ASSERT_EQ(run("--pron kat -o " + path("out.wav")), 0) << out;
  EXPECT_GT(riffSamples(path("out.wav")), 0);
  std::ifstream victim(dir / "victim");
  std::string text((std::istreambuf_iterator<char>(victim)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "keep");
}

}  // namespace
