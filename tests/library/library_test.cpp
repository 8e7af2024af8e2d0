// libvelmora through its public header only: loading, grammars from .rul and JSGF text,
// recognition of files, buffers and the (file-backed) microphone, n-best lists, adaptation and
// saving, and the errors of each.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "velmora/velmora.h"

namespace {

const std::string kData = std::string(VLM_TEST_SOURCE_DIR) + "/data/";
const char* kJsgf =
    "#JSGF V1.0;\ngrammar commands;\npublic <command> = <call> | <lookup>;\n"
    "<call> = call (home | work);\n<lookup> = look up (nadia | marcus | elena);\n";

std::string scratch() {
  static std::string dir;
  if (dir.empty()) {
    char name[] = "/tmp/velmora-library-XXXXXX";
    dir = mkdtemp(name) ? name : "/tmp";
  }
  return dir;
}

// A spoken command: espeak-ng en-us at its own rate (22050 Hz); "" when espeak-ng is missing.
std::string spoken(const std::string& text) {
  if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0) return "";
  std::string name = text;
  for (char& c : name)
    if (c == ' ') c = '-';
  const std::string wav = scratch() + "/" + name + ".wav";
  if (access(wav.c_str(), R_OK) == 0) return wav;
  const std::string cmd = "espeak-ng -v en-us -w '" + wav + "' '" + text + "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0 ? wav : "";
}

// The 16-bit samples and rate of a canonical RIFF file as espeak-ng writes it.
std::vector<int16_t> samplesOf(const std::string& wav, unsigned* rate) {
  std::ifstream in(wav, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  *rate = static_cast<unsigned char>(bytes[24]) | static_cast<unsigned char>(bytes[25]) << 8 |
          static_cast<unsigned char>(bytes[26]) << 16;
  const size_t data = bytes.find("data") + 8;
  std::vector<int16_t> samples((bytes.size() - data) / 2);
  for (size_t i = 0; i < samples.size(); i++)
    samples[i] = static_cast<int16_t>(static_cast<unsigned char>(bytes[data + 2 * i]) |
                                      static_cast<unsigned char>(bytes[data + 2 * i + 1]) << 8);
  return samples;
}

// A RIFF file of 16-bit mono samples at 11025 Hz.
void writeWave(const std::string& path, const std::vector<int16_t>& samples) {
  auto le = [](uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>((v >> (8 * i)) & 0xff);
    return s;
  };
  const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
  std::string out = "RIFF" + le(36 + bytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(11025, 4) +
                    le(22050, 4) + le(2, 2) + le(16, 2) + "data" + le(bytes, 4);
  for (int16_t v : samples) out += le(static_cast<uint16_t>(v), 2);
  std::ofstream(path, std::ios::binary) << out;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Library : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.loadUser(kData + "newuser.usr")) << engine.lastError();
    ASSERT_TRUE(engine.addDictionary(kData + "base.voc")) << engine.lastError();
    ASSERT_TRUE(engine.addDictionary(kData + "demo.voc")) << engine.lastError();
  }
  velmora::Engine engine;
};

TEST_F(Library, RecognisesASpokenCommandFromAFileWithItsNbestList) {
  const std::string wav = spoken("call work");
  if (wav.empty()) GTEST_SKIP() << "espeak-ng not available";
  ASSERT_TRUE(engine.setJsgfGrammar(kJsgf)) << engine.lastError();
  EXPECT_EQ(engine.activeRules(), std::vector<std::string>{"command"});
  const std::vector<velmora::Result> results = engine.recognizeFile(wav);
  ASSERT_EQ(results.size(), 1u) << engine.lastError();
  const velmora::Result& r = results[0];
  ASSERT_TRUE(r.recognized()) << r.reason;
  EXPECT_EQ(r.nbest[0].words, "call work");
  EXPECT_EQ(r.nbest[0].rules, (std::vector<std::string>{"command", "call"}));
  EXPECT_TRUE(r.reason.empty());
  EXPECT_GT(r.frames, 20);
  EXPECT_NE(r.phoneLoopScore, 0);
  for (size_t i = 1; i < r.nbest.size(); i++) {
    EXPECT_LE(r.nbest[i - 1].score, r.nbest[i].score);
    EXPECT_NE(r.nbest[i].words, r.nbest[0].words);
  }
  engine.setNbest(1);
  EXPECT_EQ(engine.recognizeFile(wav).at(0).nbest.size(), 1u);
}

TEST_F(Library, ABufferAtItsOwnRateIsHeardAsTheFileIs) {
  const std::string wav = spoken("look up nadia");
  if (wav.empty()) GTEST_SKIP() << "espeak-ng not available";
  ASSERT_TRUE(engine.setJsgfGrammar(kJsgf)) << engine.lastError();
  unsigned rate = 0;
  const std::vector<int16_t> samples = samplesOf(wav, &rate);
  ASSERT_EQ(rate, 22050u);
  const std::vector<velmora::Result> fromBuffer = engine.recognizeBuffer(samples, rate);
  const std::vector<velmora::Result> fromFile = engine.recognizeFile(wav);
  ASSERT_EQ(fromBuffer.size(), 1u);
  ASSERT_EQ(fromFile.size(), 1u);
  ASSERT_TRUE(fromBuffer[0].recognized());
  EXPECT_EQ(fromBuffer[0].nbest[0].words, "look up nadia");
  EXPECT_EQ(fromBuffer[0].nbest[0].score, fromFile[0].nbest[0].score);
  EXPECT_EQ(fromBuffer[0].phoneLoopScore, fromFile[0].phoneLoopScore);
}

TEST_F(Library, RulTextWithNamedActiveRules) {
  const std::string wav = spoken("call home");
  if (wav.empty()) GTEST_SKIP() << "espeak-ng not available";
  ASSERT_TRUE(engine.setRulGrammar("RULE calling ( call { home work } ) ;\nRULE looking ( look up nadia ) ;\n",
                                   {"calling"}))
      << engine.lastError();
  EXPECT_EQ(engine.activeRules(), std::vector<std::string>{"calling"});
  const std::vector<velmora::Result> results = engine.recognizeFile(wav);
  ASSERT_EQ(results.size(), 1u);
  ASSERT_TRUE(results[0].recognized());
  EXPECT_EQ(results[0].nbest[0].words, "call home");
}

TEST_F(Library, SilenceGivesAResultWithAReasonAndNoHypotheses) {
  ASSERT_TRUE(engine.setJsgfGrammar(kJsgf));
  const std::vector<int16_t> silence(11025, 0);
  const std::vector<velmora::Result> results = engine.recognizeBuffer(silence);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].recognized());
  EXPECT_FALSE(results[0].reason.empty());
}

TEST_F(Library, AGrammarWordNoDictionaryHasIsPronouncedWithAWarning) {
  ASSERT_TRUE(engine.setJsgfGrammar("#JSGF V1.0; grammar g; public <c> = call zorblat;")) << engine.lastError();
  bool warned = false;
  for (const std::string& m : engine.messages()) warned |= m.find("\"zorblat\" is in no dictionary") != std::string::npos;
  EXPECT_TRUE(warned);
}

// Each failure returns false (or no results) with a reason naming what went wrong.
TEST(LibraryErrors, EachFailureSaysWhy) {
  const std::string dir = scratch();
  std::ofstream(dir + "/bad.usr") << "not models\n";
  struct Case {
    const char* what;
    std::function<bool(velmora::Engine&)> run;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"missing models", [](velmora::Engine& e) { return e.loadUser("/nonexistent/x.usr"); }, "No such file"},
      {"models that are not", [&](velmora::Engine& e) { return e.loadUser(dir + "/bad.usr"); }, "cannot read speaker models"},
      {"a folder as dictionary", [&](velmora::Engine& e) { return e.addDictionary(dir); }, "is a directory"},
      {"a grammar before dictionaries", [](velmora::Engine& e) { return e.setJsgfGrammar(kJsgf); }, "addDictionary"},
      {"recognition without models",
       [](velmora::Engine& e) { return !e.recognizeFile(kData + "tea.wav").empty(); }, "loadUser"},
      {"recognition without a grammar",
       [](velmora::Engine& e) { return e.loadUser(kData + "newuser.usr") && !e.recognizeFile(kData + "tea.wav").empty(); },
       "no grammar"},
      {"a JSGF grammar that does not parse",
       [](velmora::Engine& e) { return e.addDictionary(kData + "base.voc") && e.setJsgfGrammar("#JSGF V1.0; grammar g; public <c> = ( call ;"); },
       ""},
      {"an unknown active rule",
       [](velmora::Engine& e) { return e.addDictionary(kData + "base.voc") && e.setJsgfGrammar(kJsgf, {"nosuchrule"}); },
       "no rule to recognise with"},
      {"a missing recording",
       [](velmora::Engine& e) {
         return e.loadUser(kData + "newuser.usr") && e.addDictionary(kData + "base.voc") &&
                e.addDictionary(kData + "demo.voc") && e.setJsgfGrammar(kJsgf) && !e.recognizeFile("/nonexistent.wav").empty();
       },
       "/nonexistent.wav: No such file"},
      {"a recording that is not one",
       [&](velmora::Engine& e) {
         return e.loadUser(kData + "newuser.usr") && e.addDictionary(kData + "base.voc") &&
                e.addDictionary(kData + "demo.voc") && e.setJsgfGrammar(kJsgf) && !e.recognizeFile(dir + "/bad.usr").empty();
       },
       "bad.usr"},
      {"a buffer at an impossible rate",
       [](velmora::Engine& e) {
         const std::vector<int16_t> s(100, 0);
         return e.loadUser(kData + "newuser.usr") && e.addDictionary(kData + "base.voc") &&
                e.addDictionary(kData + "demo.voc") && e.setJsgfGrammar(kJsgf) && !e.recognizeBuffer(s, 10).empty();
       },
       "sample rate 10 Hz"},
      {"saving without models", [&](velmora::Engine& e) { return e.saveUser(dir + "/x.usr"); }, "loadUser"},
      {"saving over a folder",
       [&](velmora::Engine& e) { return e.loadUser(kData + "newuser.usr") && e.saveUser(dir); }, dir.c_str()},
      {"listening without a grammar",
       [](velmora::Engine& e) { return e.loadUser(kData + "newuser.usr") && e.startListening(); }, "no grammar"},
  };
  for (const Case& c : cases) {
    velmora::Engine engine;
    EXPECT_FALSE(c.run(engine)) << c.what;
    EXPECT_FALSE(engine.lastError().empty()) << c.what;
    EXPECT_NE(engine.lastError().find(c.reason), std::string::npos) << c.what << ": " << engine.lastError();
  }
}

TEST_F(Library, TheMicrophoneHearsEachUtteranceAndThenTheEndOfInput) {
  const std::string first = spoken("call work"), second = spoken("look up marcus");
  if (first.empty() || second.empty()) GTEST_SKIP() << "espeak-ng not available";
  ASSERT_TRUE(engine.setJsgfGrammar(kJsgf));
  setenv("VELMORA_MIC", (first + "," + second).c_str(), 1);
  setenv("VELMORA_MIC_FAST", "1", 1);
  ASSERT_TRUE(engine.startListening()) << engine.lastError();
  EXPECT_TRUE(engine.listening());
  std::vector<std::string> heard;
  velmora::Result r;
  int got;
  while ((got = engine.nextUtterance(&r, 20000)) == 1) heard.push_back(r.recognized() ? r.nbest[0].words : "");
  EXPECT_EQ(got, -1);
  EXPECT_NE(engine.lastError().find("ended"), std::string::npos);
  engine.stopListening();
  EXPECT_FALSE(engine.listening());
  unsetenv("VELMORA_MIC");
  unsetenv("VELMORA_MIC_FAST");
  EXPECT_EQ(heard, (std::vector<std::string>{"call work", "look up marcus"}));
}

// Adaptation from (recording, text) pairs: the shipped enrollment recordings' calibration part and
// the first prompts after it adapt the models, which are saved and read back.
TEST_F(Library, AdaptsFromRecordingsAndSavesTheModels) {
  ASSERT_TRUE(engine.addDictionary(kData + "enrol.voc"));
  std::vector<velmora::Recording> recordings;
  std::ifstream prompts(kData + "enrol.txt");
  bool calibrating = false;
  int after = 0;
  for (std::string line; std::getline(prompts, line) && after < 8;) {
    if (line.rfind("cmd_start_calibrate", 0) == 0) calibrating = true;
    if (line.rfind("cmd_end_calibrate", 0) == 0) calibrating = false;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.rfind("cmd_", 0) == 0) continue;
    recordings.push_back({kData + line.substr(tab + 1), line.substr(0, tab), calibrating});
    if (!calibrating) after++;
  }
  ASSERT_EQ(after, 8);
  velmora::AdaptReport report;
  ASSERT_TRUE(engine.adapt(recordings, &report)) << engine.lastError();
  EXPECT_EQ(report.recordings, static_cast<int>(recordings.size()));
  EXPECT_GE(report.adapted, 2);
  const std::string saved = scratch() + "/adapted.usr";
  ASSERT_TRUE(engine.saveUser(saved)) << engine.lastError();
  EXPECT_NE(fileText(saved), fileText(kData + "newuser.usr"));
  velmora::Engine again;
  EXPECT_TRUE(again.loadUser(saved)) << again.lastError();
}

// Recordings without speech adapt nothing: adapt fails and the models stay as they were.
TEST_F(Library, AFailedAdaptationLeavesTheModelsUnchanged) {
  const std::string before = scratch() + "/before.usr", after = scratch() + "/after.usr";
  ASSERT_TRUE(engine.saveUser(before));
  const std::string quiet = scratch() + "/quiet.wav";
  writeWave(quiet, std::vector<int16_t>(22050, 0));
  std::vector<velmora::Recording> silent;
  for (int i = 0; i < 4; i++) silent.push_back({quiet, "call work", false});
  velmora::AdaptReport report;
  EXPECT_FALSE(engine.adapt(silent, &report));
  EXPECT_EQ(report.recordings, 4);
  EXPECT_EQ(report.adapted, 0);
  EXPECT_NE(engine.lastError().find("unchanged"), std::string::npos) << engine.lastError();
  ASSERT_TRUE(engine.saveUser(after));
  EXPECT_EQ(fileText(before), fileText(after));
  EXPECT_FALSE(engine.adapt({{"/nonexistent.wav", "call work", false}}));
  EXPECT_NE(engine.lastError().find("no recording could be read"), std::string::npos) << engine.lastError();
}

}  // namespace
