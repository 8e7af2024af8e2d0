// The trained letter-to-sound model: the trainer on a small dictionary (what it learns, what it
// leaves out), reading model files (damaged ones refused), the decoder's alternatives, the shipped
// model, the choice of translator behind xlateString, and pronmerge with the model.
#include <gtest/gtest.h>

#include "testpaths.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/log.h"
#include "lexicon/ltsmodel.h"
#include "lexicon/phoneset.h"
#include "lexicon/xlate.h"

namespace {

using vlmtest::binDir;
using vlmtest::sourceDir;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string shippedModel() { return sourceDir() + "/data/ltsmodel.bin"; }

std::string xlate(const char* text) {
  char out[1024];
  vlm::xlateString(out, text, sizeof out, nullptr, 1);
  return out;
}

std::vector<vlm::LtsPronunciation> pronounce(vlm::LtsModel& model, const char* word, int max = 4) {
  std::vector<vlm::LtsPronunciation> out(max);
  out.resize(model.pronounce(word, static_cast<int>(std::strlen(word)), out.data(), max));
  return out;
}

// A scratch folder, the current directory while the test runs (velmora.log lands there).
class LtsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlm_lts_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldDir = cwd;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    vlm::resetSpeechLogForTest();
    unsetenv("VELMORA_LTS");
    vlm::resetLetterToSoundForTest();
  }
  void TearDown() override {
    vlm::resetLetterToSoundForTest();
    unsetenv("VELMORA_LTS");
    ASSERT_EQ(chdir(oldDir.c_str()), 0);
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void put(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  int train(const std::string& args) {
    const std::string command = "'" + binDir() + "/ltstrain' " + args + " > train.txt 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir, oldDir;
};

// A small regular dictionary: every letter has one sound, "sh" and "th" are one phone each, a
// final "e" is silent.
const char* const kTiny[][2] = {
    {"bat", "bat"},     {"tab", "tab"},   {"sat", "sat"},     {"mat", "mat"},     {"tam", "tam"},
    {"bash", "baS"},    {"mash", "maS"},  {"shat", "Sat"},    {"sham", "Sam"},    {"math", "maT"},
    {"bath", "baT"},    {"that", "Tat"},  {"than", "Tan"},    {"nab", "nab"},     {"snab", "snab"},
    {"bate", "bat"},    {"mate", "mat"},  {"sate", "sat"},    {"tabs", "tabs"},   {"mats", "mats"},
    {"bats", "bats"},   {"stab", "stab"}, {"stash", "staS"},  {"smash", "smaS"},  {"snath", "snaT"},
    {"ban", "ban"},     {"tan", "tan"},   {"man", "man"},     {"nat", "nat"},     {"sham", "Sam"},
};

std::string tinyVoc(const std::string& extra) {
  std::string voc;
  for (const auto& e : kTiny) voc += std::string(e[0]) + "\t" + e[1] + "\t0\n";
  return voc + extra;
}

TEST_F(LtsTest, TrainerLearnsTheSmallDictionaryAndLeavesHeldOutWordsOut) {
  // One word with a letter found nowhere else, named in a hold-out file, and one held out by
  // the fixed rule: the model must not know their letters.
  std::string ruleHeld;
  for (char c = 'a'; c <= 'z' && ruleHeld.empty(); ++c)
    for (char d = 'a'; d <= 'z' && ruleHeld.empty(); ++d) {
      const std::string name = std::string("qu") + c + d;
      if (vlm::isLtsHeldOutWord(name.c_str())) ruleHeld = name;
    }
  ASSERT_FALSE(ruleHeld.empty());
  put("tiny.voc", tinyVoc("zoom\tzUm\t0\n" + ruleHeld + "\tkwat\t0\n"));
  put("held.txt", "# names kept out\nZOOM\n");
  ASSERT_EQ(train("--order 3 --min-count 1 --min-graphone 0 --hold-out held.txt tiny.voc tiny.bin"), 0)
      << slurp(dir + "/train.txt");
  EXPECT_FALSE(std::ifstream(dir + "/tiny.bin.tmp").good());

  vlm::LtsModel model;
  ASSERT_EQ(model.readFile("tiny.bin"), 1);
  EXPECT_EQ(model.order(), 3);
  EXPECT_EQ(model.canPronounce("zoom", 4), 0);  // "z" and "o" came only with the held-out word
  EXPECT_EQ(model.canPronounce("q", 1), 0);
  EXPECT_EQ(model.canPronounce("bat", 3), 1);
  for (const auto& e : kTiny) {
    const auto found = pronounce(model, e[0]);
    ASSERT_FALSE(found.empty()) << e[0];
    EXPECT_STREQ(found[0].phones, e[1]) << e[0];
  }
  // A word it never saw, made of what it learnt.
  const auto found = pronounce(model, "tash");
  ASSERT_FALSE(found.empty());
  EXPECT_STREQ(found[0].phones, "taS");
}

TEST_F(LtsTest, TrainerRefusesBadArguments) {
  put("tiny.voc", tinyVoc(""));
  EXPECT_EQ(train("tiny.voc"), 2);
  EXPECT_EQ(train("--order 0 tiny.voc out.bin"), 2);
  EXPECT_EQ(train("--bogus tiny.voc out.bin"), 2);
  EXPECT_EQ(train("missing.voc out.bin"), 1);
  put("empty.voc", "# nothing\n");
  EXPECT_EQ(train("empty.voc out.bin"), 1);
  EXPECT_FALSE(std::ifstream(dir + "/out.bin").good());
}

TEST_F(LtsTest, DamagedModelFilesAreRefused) {
  put("tiny.voc", tinyVoc(""));
  ASSERT_EQ(train("--order 3 --min-count 1 --min-graphone 0 tiny.voc tiny.bin"), 0);
  const std::string image = slurp(dir + "/tiny.bin");
  ASSERT_GT(image.size(), 40u);
  vlm::LtsModel model;
  const auto bytes = reinterpret_cast<const unsigned char*>(image.data());
  ASSERT_EQ(model.readImage(bytes, static_cast<int64_t>(image.size())), 1);
  // Every shorter prefix, and a longer image, are refused; the object is then empty.
  for (size_t n = 0; n < image.size(); n += 1 + n / 8) {
    EXPECT_EQ(model.readImage(bytes, static_cast<int64_t>(n)), 0) << n;
    EXPECT_EQ(model.isLoaded(), 0);
  }
  std::string longer = image + '\0';
  EXPECT_EQ(model.readImage(reinterpret_cast<const unsigned char*>(longer.data()), longer.size()), 0);
  std::string badMagic = image;
  badMagic[0] = 'X';
  EXPECT_EQ(model.readImage(reinterpret_cast<const unsigned char*>(badMagic.data()), badMagic.size()), 0);
  EXPECT_EQ(model.pronounce("bat", 3, nullptr, 1), 0);

  EXPECT_EQ(model.readFile("missing.bin"), 0);
  EXPECT_NE(slurp(dir + "/velmora.log").find("letter-to-sound model unreadable: missing.bin"), std::string::npos);
}

TEST_F(LtsTest, ShippedModelGivesScoredDistinctAlternatives) {
  struct stat st;
  ASSERT_EQ(stat(shippedModel().c_str(), &st), 0) << shippedModel();
  EXPECT_LE(st.st_size, 3 * 1024 * 1024);
  vlm::LtsModel model;
  ASSERT_EQ(model.readFile(shippedModel().c_str()), 1);
  const struct {
    const char* word;
    const char* phones;
  } cases[] = {{"shop", "Sop"}, {"nation", "nASN"}, {"phone", "fOn"}, {"thinking", "Ti~k:~"}, {"quickly", "kwiklY"}};
  for (const auto& c : cases) {
    const auto found = pronounce(model, c.word);
    ASSERT_GE(found.size(), 2u) << c.word;
    EXPECT_STREQ(found[0].phones, c.phones) << c.word;
    float posteriors = 0;
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(vlm::isValidPron(found[i].phones), 1) << found[i].phones;
      posteriors += found[i].posterior;
      if (i == 0) continue;
      EXPECT_LE(found[i].score, found[i - 1].score);
      for (size_t j = 0; j < i; ++j) EXPECT_STRNE(found[i].phones, found[j].phones);
    }
    EXPECT_NEAR(posteriors, 1.0f, 1e-4);
  }
  // Letters outside the model's alphabet, and words past the length limit, are not for it.
  EXPECT_EQ(model.canPronounce("r2d2", 4), 0);
  EXPECT_EQ(model.canPronounce("Smith", 5), 0);
  const std::string longWord(vlm::kLtsMaxLetters + 1, 'a');
  EXPECT_EQ(model.canPronounce(longWord.c_str(), static_cast<int>(longWord.size())), 0);
  EXPECT_TRUE(pronounce(model, longWord.c_str()).empty());
}

TEST_F(LtsTest, XlateStringUsesTheChosenTranslator) {
  vlm::setLetterToSoundModel(nullptr);
  const std::string byRules = xlate("Thinking");
  vlm::setLetterToSoundModel(shippedModel().c_str());
  ASSERT_NE(vlm::letterToSoundModel(), nullptr);
  vlm::LtsModel model;
  ASSERT_EQ(model.readFile(shippedModel().c_str()), 1);
  const auto best = pronounce(model, "thinking");
  ASSERT_FALSE(best.empty());
  EXPECT_EQ(xlate("Thinking"), best[0].phones);
  EXPECT_NE(xlate("Thinking"), byRules);
  // Parts of a name are translated one by one and joined.
  EXPECT_EQ(xlate("Shop-Thinking"), std::string(pronounce(model, "shop")[0].phones) + best[0].phones);
  // Numbers, words in capitals and words with digits stay with the reader, speller and rules.
  const std::string number = xlate("42"), capitals = xlate("IBM"), mixed = xlate("b4u");
  vlm::setLetterToSoundModel(nullptr);
  EXPECT_EQ(vlm::letterToSoundModel(), nullptr);
  EXPECT_EQ(xlate("Thinking"), byRules);
  EXPECT_EQ(number, xlate("42"));
  EXPECT_EQ(capitals, xlate("IBM"));
  EXPECT_EQ(mixed, xlate("b4u"));
}

TEST_F(LtsTest, ThreadsTranslateAtOnce) {
  const char* const words[] = {"Thinking", "Zappolino", "Kowalczyk", "Siobhan", "quickly", "Nation"};
  vlm::setLetterToSoundModel(shippedModel().c_str());
  std::vector<std::string> expected;
  for (const char* w : words) expected.push_back(xlate(w));
  vlm::resetLetterToSoundForTest();
  vlm::setLetterToSoundModel(shippedModel().c_str());  // read again, by whichever thread is first
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round)
        for (size_t k = 0; k < expected.size(); ++k) wrong[t] += xlate(words[k]) != expected[k];
    });
  for (auto& t : threads) t.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << t;
}

TEST_F(LtsTest, ModelIsFoundByEnvironmentOrCurrentDirectoryElseRules) {
  // Nothing in the current directory: the rules, nothing logged.
  EXPECT_EQ(vlm::letterToSoundModel(), nullptr);
  EXPECT_FALSE(std::ifstream(dir + "/velmora.log").good());
  // A model in the current directory.
  put(vlm::kLtsModelFileName, slurp(shippedModel()));
  vlm::resetLetterToSoundForTest();
  EXPECT_NE(vlm::letterToSoundModel(), nullptr);
  // VELMORA_LTS=rules overrides it; a path names another file, which is logged when unreadable.
  setenv("VELMORA_LTS", "rules", 1);
  vlm::resetLetterToSoundForTest();
  EXPECT_EQ(vlm::letterToSoundModel(), nullptr);
  setenv("VELMORA_LTS", "nowhere.bin", 1);
  vlm::resetLetterToSoundForTest();
  EXPECT_EQ(vlm::letterToSoundModel(), nullptr);
  EXPECT_NE(slurp(dir + "/velmora.log").find("letter-to-sound model unreadable: nowhere.bin"), std::string::npos);
}

TEST_F(LtsTest, CloseAlternativeOnlyWhenNearlyAsLikely) {
  char out[256];
  vlm::setLetterToSoundModel(nullptr);
  EXPECT_EQ(vlm::xlateCloseAlternative(out, "nation", sizeof out), 0);
  EXPECT_STREQ(out, "");
  vlm::setLetterToSoundModel(shippedModel().c_str());
  vlm::LtsModel model;
  ASSERT_EQ(model.readFile(shippedModel().c_str()), 1);
  int offered = 0, withheld = 0;
  for (const char* word : {"nation", "smith", "read", "live", "lead", "wind", "tear", "bow", "kowalczyk", "nguyen",
                           "siobhan", "giuseppe", "aoife", "zeppelin", "quay", "route"}) {
    const auto found = pronounce(model, word, 2);
    ASSERT_FALSE(found.empty()) << word;
    const bool close = found.size() == 2 && std::exp(found[1].score - found[0].score) >= vlm::kLtsCloseRatio;
    ASSERT_EQ(vlm::xlateCloseAlternative(out, word, sizeof out), close ? 1 : 0) << word;
    if (close) {
      EXPECT_STREQ(out, found[1].phones) << word;
      ++offered;
    } else {
      EXPECT_STREQ(out, "") << word;
      ++withheld;
    }
  }
  EXPECT_GT(offered, 0);
  EXPECT_GT(withheld, 0);
  // A text of two words has no single alternative, nor has a word that is spelled.
  EXPECT_EQ(vlm::xlateCloseAlternative(out, "read lead", sizeof out), 0);
  // "read" has a close second guess; written in capitals it is spelled, and so has none.
  ASSERT_EQ(vlm::xlateCloseAlternative(out, "Read", sizeof out), 1);
  EXPECT_EQ(vlm::xlateCloseAlternative(out, "READ", sizeof out), 0);
}

TEST_F(LtsTest, PronmergeTakesUnknownWordsFromTheModelWithClassFour) {
  const std::string program = binDir() + "/pronmerge";
  ASSERT_EQ(access(program.c_str(), X_OK), 0) << program << " is not built";
  put("fulldict.voc", "call\tkol\t0\n");
  put("list.lst", "call Zappolino\ncall Nation\n");
  put(vlm::kLtsModelFileName, slurp(shippedModel()));
  ASSERT_EQ(std::system(("cd '" + dir + "' && '" + program + "' list.lst > stdout.txt 2>&1").c_str()), 0);
  vlm::LtsModel model;
  ASSERT_EQ(model.readFile(shippedModel().c_str()), 1);
  const std::string out = slurp(dir + "/out.voc");
  for (const char* word : {"zappolino", "nation"}) {
    const auto found = pronounce(model, word, 2);
    ASSERT_FALSE(found.empty());
    EXPECT_NE(out.find(std::string(word) + "\t" + found[0].phones + "\t4\n"), std::string::npos) << out;
    const bool close = found.size() == 2 && std::exp(found[1].score - found[0].score) >= vlm::kLtsCloseRatio;
    EXPECT_EQ(out.find(std::string(word) + "\t" + found[1].phones + "\t4\n") != std::string::npos, close) << out;
  }
  EXPECT_NE(out.find("call\tkol\t0\n"), std::string::npos);
  EXPECT_EQ(slurp(dir + "/unknown.lst"), "");
}

}  // namespace
