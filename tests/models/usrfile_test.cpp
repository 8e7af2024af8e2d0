// The speaker model file: writing, reading back, the warp bin line and the settings template,
// safe replacement, and rejection of damaged files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "models/user.h"

namespace {

using namespace vlm;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A template line as the system writes it.
std::string templateLine(const int16_t* m, char symbol) {
  std::string line;
  for (int i = 0; i < kFrameFeatures; ++i) line += std::to_string(m[i]) + " ";
  line += " // ";
  line += symbol;
  line += "\n";
  return line;
}

// Each test works in a scratch folder of its own, made current so that the speech log it
// inspects is its own too; the current speaker is put back afterwards.
class UsrFile : public ::testing::Test {
 protected:
  void SetUp() override {
    savedUsr = User::usr;
    char pattern[] = "models-scratch-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char* here = getcwd(nullptr, 0);
    oldDir = here;
    std::free(here);
    dir = oldDir + "/" + pattern;
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    User::usr = savedUsr;
    ASSERT_EQ(chdir(oldDir.c_str()), 0);
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string path(const char* name) const { return dir + "/" + name; }

  // A speaker with distinct values in every template (settings templates included).
  static std::unique_ptr<User> randomUser(unsigned seed) {
    auto user = std::make_unique<User>();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(-32768, 32767);
    for (auto& m : user->models)
      for (auto& v : m) v = static_cast<int16_t>(value(rng));
    user->vtln = 61;
    return user;
  }

  // The text of a valid file with the given number of templates (all 1378 by default).
  static std::string validFile(int templates = kPelCount, const char* vtlnLine = "vtln 59\n") {
    std::string text = vtlnLine;
    int16_t m[kFrameFeatures];
    for (int s = 0; s < templates; ++s) {
      for (int i = 0; i < kFrameFeatures; ++i) m[i] = static_cast<int16_t>((s * 7 + i * 13) % 500 - 250);
      text += templateLine(m, kGroupPhone[s / 13]);
    }
    return text;
  }

  std::string oldDir, dir;
  User* savedUsr = nullptr;
};

TEST_F(UsrFile, WriteAndReadBackReproducesEveryTemplate) {
  auto written = randomUser(11);
  const std::string file = path("speaker.usr");
  ASSERT_EQ(written->writeFile(file.c_str()), 1);
  // writeFile stamps the settings template before writing.
  EXPECT_EQ(written->models[kSettingsState][0], 32);
  EXPECT_EQ(written->models[kSettingsState][1], 61);

  auto read = std::make_unique<User>();
  ASSERT_EQ(read->readFile(file.c_str()), 1);
  EXPECT_EQ(std::memcmp(read->models, written->models, sizeof read->models), 0);
  EXPECT_EQ(read->vtln, 61);
  EXPECT_STREQ(read->name, file.c_str());
  EXPECT_EQ(User::usr, read.get());
  // The generic models were recomputed from what was read.
  auto expected = randomUser(11);
  std::memcpy(expected->models, read->models, sizeof expected->models);
  expected->initGenericModels();
  EXPECT_EQ(std::memcmp(read->genericModels, expected->genericModels, sizeof read->genericModels), 0);

  // Writing the user that was read, under its own name, gives the same bytes.
  const std::string before = readText(file);
  ASSERT_EQ(read->writeFile(nullptr), 1);
  EXPECT_EQ(readText(file), before);
  EXPECT_FALSE(std::ifstream(file + ".tmp").good());
}

TEST_F(UsrFile, WrittenFormatIsOneLinePerStateWithItsGroupSymbol) {
  auto user = std::make_unique<User>();
  user->vtln = 58;
  user->models[13][0] = -5;
  user->models[13][33] = 1234;
  const std::string file = path("format.usr");
  ASSERT_EQ(user->writeFile(file.c_str()), 1);
  const std::string text = readText(file);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + kPelCount);
  EXPECT_EQ(lines[0], "vtln 58");
  std::string settings = "32 58 ";
  for (int i = 2; i < kFrameFeatures; ++i) settings += "0 ";
  EXPECT_EQ(lines[1 + 1], settings + " // .");
  std::string state13 = "-5 ";
  for (int i = 1; i < 33; ++i) state13 += "0 ";
  EXPECT_EQ(lines[1 + 13], state13 + "1234  // E");
  EXPECT_EQ(lines[1 + 1377].substr(lines[1 + 1377].size() - 5), " // y");
  EXPECT_EQ(text.back(), '\n');
}

TEST_F(UsrFile, WarpBinComesFromItsLineOrElseFromTheSettingsTemplate) {
  auto user = std::make_unique<User>();
  // A "vtln" line anywhere before the last template.
  std::string moved = validFile(kPelCount, "");
  moved.insert(moved.rfind('\n', moved.size() - 2) + 1, "vtln 61\n");
  const std::string file = path("a.usr");
  writeText(file, moved);
  ASSERT_EQ(user->readFile(file.c_str()), 1);
  EXPECT_EQ(user->vtln, 61);

  // Without the line, state 1's second value.
  std::string noLine = validFile(kPelCount, "");
  writeText(file, noLine);
  ASSERT_EQ(user->readFile(file.c_str()), 1);
  EXPECT_EQ(user->vtln, user->models[kSettingsState][1]);
  EXPECT_NE(user->vtln, 0);

  // A line after the last template is never read.
  writeText(file, noLine + "vtln 70\n");
  ASSERT_EQ(user->readFile(file.c_str()), 1);
  EXPECT_EQ(user->vtln, user->models[kSettingsState][1]);
}

TEST_F(UsrFile, ToleratesWhatReadersHaveAlwaysSkipped) {
  // CR LF endings, leading blanks, blank and text lines, extra tokens after the 34 values,
  // and anything after the last template.
  std::string text = "# speaker model\r\n\r\n  vtln\t60\r\n";
  int16_t m[kFrameFeatures];
  for (int s = 0; s < kPelCount; ++s) {
    for (int i = 0; i < kFrameFeatures; ++i) m[i] = static_cast<int16_t>(s + i);
    std::string line = templateLine(m, kGroupPhone[s / 13]);
    line.insert(line.size() - 1, " trailing words");
    text += (s % 2 ? "\t " : "") + line.substr(0, line.size() - 1) + "\r\n";
    if (s == 700) text += "a comment line\n";
  }
  text += "1 2 3\nnot even a template\n";
  const std::string file = path("loose.usr");
  writeText(file, text);
  auto user = std::make_unique<User>();
  ASSERT_EQ(user->readFile(file.c_str()), 1);
  EXPECT_EQ(user->vtln, 60);
  EXPECT_EQ(user->models[0][0], 0);
  EXPECT_EQ(user->models[1377][33], 1377 + 33);
  EXPECT_EQ(user->models[701][5], 706);
}

TEST_F(UsrFile, DamagedFilesAreRejectedAndLeaveTheSpeakerUnchanged) {
  const std::string good = validFile();
  const size_t line10 = [&] {
    size_t at = 0;
    for (int i = 0; i < 10; ++i) at = good.find('\n', at) + 1;
    return at;   // the start of the 11th line (template 10)
  }();
  const size_t line10End = good.find('\n', line10);
  auto replaceLine10 = [&](const std::string& with) {
    return good.substr(0, line10) + with + good.substr(line10End);
  };
  std::string thirtyThree, thirtyFive, badToken, tooBig, longLine;
  for (int i = 0; i < 33; ++i) thirtyThree += "1 ";
  thirtyFive = thirtyThree + "1 1";
  badToken = thirtyThree + "1x";
  tooBig = thirtyThree + "32768";
  longLine = thirtyThree + "1 // " + std::string(2100, 'z');

  struct Case {
    const char* what;
    std::string text;
    const char* logged;   // part of the logged reason
  };
  const Case cases[] = {
      {"empty", "", "holds 0 templates instead of 1378"},
      {"1377 templates", validFile(kPelCount - 1), "holds 1377 templates instead of 1378"},
      {"cut in the middle of a line", good.substr(0, good.size() / 2), "template"},
      {"33 values", replaceLine10(thirtyThree), "line 11: a template line with 33 values"},
      {"35 values", replaceLine10(thirtyFive), "line 11: a template line with more than 34"},
      {"not a number", replaceLine10(badToken), "line 11: value 34 (\"1x\") is not a whole number"},
      {"beyond 16 bits", replaceLine10(tooBig), "line 11: value 34 (32768) is outside"},
      {"a line too long", replaceLine10(longLine), "line 11: the line is longer than 2047"},
      {"a warp bin that is not a number", validFile(kPelCount, "vtln sixty\n"),
       "line 1: the warp bin \"sixty\" is not a whole number"},
      {"binary", std::string("\x01\x02\xff\xfe\n", 5) + std::string(3000, '\x7f'),
       "line 2: the line is longer than 2047"},
  };

  auto user = randomUser(3);
  std::memcpy(user->name, "previous.usr", 13);
  user->initGenericModels();
  auto snapshot = randomUser(3);
  std::memcpy(snapshot->name, "previous.usr", 13);
  snapshot->initGenericModels();
  User::usr = snapshot.get();

  const std::string file = path("bad.usr");
  for (const Case& c : cases) {
    writeText(file, c.text);
    resetSpeechLogForTest();
    EXPECT_EQ(user->readFile(file.c_str()), 0) << c.what;
    EXPECT_EQ(std::memcmp(user->models, snapshot->models, sizeof user->models), 0) << c.what;
    EXPECT_EQ(std::memcmp(user->genericModels, snapshot->genericModels, sizeof user->genericModels), 0)
        << c.what;
    EXPECT_EQ(user->vtln, 61) << c.what;
    EXPECT_STREQ(user->name, "previous.usr") << c.what;
    EXPECT_EQ(User::usr, snapshot.get()) << c.what;
    const std::string log = readText("velmora.log");
    EXPECT_NE(log.find("Speaker model file " + file), std::string::npos) << c.what << ": " << log;
    EXPECT_NE(log.find(c.logged), std::string::npos) << c.what << ": " << log;
  }

  // A file that does not exist, or no name at all.
  resetSpeechLogForTest();
  EXPECT_EQ(user->readFile(path("missing.usr").c_str()), 0);
  EXPECT_NE(readText("velmora.log").find("cannot be opened"), std::string::npos);
  resetSpeechLogForTest();
  EXPECT_EQ(user->readFile(dir.c_str()), 0);
  EXPECT_NE(readText("velmora.log").find("is a directory"), std::string::npos);
  // A FIFO is refused at once instead of waiting for a writer.
  ASSERT_EQ(mkfifo(path("fifo.usr").c_str(), 0666), 0);
  resetSpeechLogForTest();
  EXPECT_EQ(user->readFile(path("fifo.usr").c_str()), 0);
  EXPECT_NE(readText("velmora.log").find("is not a regular file"), std::string::npos);
  EXPECT_EQ(user->readFile(nullptr), 0);
  EXPECT_EQ(user->readFile(""), 0);
  EXPECT_EQ(std::memcmp(user->models, snapshot->models, sizeof user->models), 0);
}

TEST_F(UsrFile, AFailedWriteKeepsThePreviousFile) {
  auto user = randomUser(5);
  const std::string file = path("keep.usr");
  ASSERT_EQ(user->writeFile(file.c_str()), 1);
  const std::string before = readText(file);

  // Whatever another process left at the old temporary name (here a link to a full device) is
  // neither followed nor in the way.
  if (access("/dev/full", W_OK) == 0) {
    ASSERT_EQ(symlink("/dev/full", (file + ".tmp").c_str()), 0);
  }
  user->models[100][0] = 1;
  ASSERT_EQ(user->writeFile(file.c_str()), 1);
  EXPECT_NE(readText(file), before);
  unlink((file + ".tmp").c_str());

  // A target that is no regular file is refused: nothing replaces it.
  struct Case {
    const char* what;
    const char* target;
    const char* logged;
  };
  const std::string folder = path("folder.usr");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const Case cases[] = {{"a directory", folder.c_str(), "is a directory"},
                        {"a device", "/dev/null", "is not a regular file"},
                        {"a missing folder", "/nonexistent/dir/x.usr", "No such file or directory"}};
  for (const Case& c : cases) {
    resetSpeechLogForTest();
    EXPECT_EQ(user->writeFile(c.target), 0) << c.what;
    EXPECT_NE(readText("velmora.log").find(c.logged), std::string::npos) << c.what << ": " << readText("velmora.log");
    EXPECT_NE(readText("velmora.log").find("the previous file is kept"), std::string::npos) << c.what;
  }
  struct stat st;
  EXPECT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // No name: nothing is written.
  auto unnamed = std::make_unique<User>();
  EXPECT_EQ(unnamed->writeFile(nullptr), 0);
  EXPECT_EQ(unnamed->writeFile(""), 0);
}

}  // namespace
