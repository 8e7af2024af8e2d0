// The data directory search, catFname2VlmDir, FindFilePath and FilenamePattern.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "foundation/filepath.h"
#include "platform/msgbox.h"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> getEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}
void restoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

std::vector<std::string> boxTexts;
int recordIgnore(const char* text, const char*, vlm::BoxButtons, vlm::BoxIcon, int) {
  boxTexts.push_back(text);
  return vlm::eAnswerIgnore;
}

// A scratch tree as the current directory; VELMORA_DIR, HOME and the removable-media folders
// point into it, so nothing outside is read or written.
class FilePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlm_path_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd = cwd;
    ASSERT_EQ(chdir(pattern), 0);
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    root = cwd;
    savedVelmoraDir = getEnv("VELMORA_DIR");
    savedHome = getEnv("HOME");
    unsetenv("VELMORA_DIR");
    setenv("HOME", (root + "/nohome").c_str(), 1);
    vlm::setMediaRootsForTest((root + "/nomedia").c_str());
    vlm::resetVelmoraSearchForTest();
    previousHandler = vlm::setMessageBoxHandler(recordIgnore);
    boxTexts.clear();
  }
  void TearDown() override {
    vlm::setMessageBoxHandler(previousHandler);
    restoreEnv("VELMORA_DIR", savedVelmoraDir);
    restoreEnv("HOME", savedHome);
    vlm::setMediaRootsForTest(nullptr);
    vlm::resetVelmoraSearchForTest();
    EXPECT_EQ(chdir(oldCwd.c_str()), 0);
    fs::remove_all(root);
  }
  void makeDirs(std::initializer_list<const char*> dirs) {
    for (const char* d : dirs) fs::create_directories(root + "/" + d);
  }
  void makeFiles(std::initializer_list<const char*> files) {
    for (const char* f : files) std::ofstream(root + "/" + f) << "x";
  }
  // The prefix a fresh search finds, checked against findVelmora's result.
  std::string searchedPrefix() {
    vlm::resetVelmoraSearchForTest();
    char* end = vlm::findVelmora();
    std::string prefix = vlm::catFname2VlmDir("");
    if (end == nullptr) {
      EXPECT_EQ(prefix, "./");
    } else {
      EXPECT_EQ(end, vlm::catFname2VlmDir("") + prefix.size());
    }
    return prefix;
  }

  std::string root, oldCwd;
  std::optional<std::string> savedVelmoraDir, savedHome;
  vlm::MessageBoxHandler previousHandler = nullptr;
};

TEST_F(FilePathTest, DataDirectoryFallbackChain) {
  makeDirs({"env", "home/velmora", "media/a", "media/c/velmora", "media/b/velmora", "run/d/velmora"});
  makeFiles({"plainfile"});
  vlm::setMediaRootsForTest((root + "/nomedia;" + root + "/media;" + root + "/run").c_str());

  setenv("VELMORA_DIR", (root + "/env").c_str(), 1);
  setenv("HOME", (root + "/home").c_str(), 1);
  EXPECT_EQ(searchedPrefix(), root + "/env/");

  setenv("VELMORA_DIR", "env", 1);  // relative: made absolute
  EXPECT_EQ(searchedPrefix(), root + "/env/");

  setenv("VELMORA_DIR", (root + "/plainfile").c_str(), 1);  // not a directory: next in line
  EXPECT_EQ(searchedPrefix(), root + "/home/velmora/");

  unsetenv("VELMORA_DIR");
  EXPECT_EQ(searchedPrefix(), root + "/home/velmora/");

  setenv("HOME", (root + "/env").c_str(), 1);  // no velmora folder in it
  EXPECT_EQ(searchedPrefix(), root + "/media/b/velmora/");  // first medium in name order

  vlm::setMediaRootsForTest((root + "/nomedia").c_str());
  EXPECT_EQ(searchedPrefix(), "./");
  vlm::resetVelmoraSearchForTest();
  EXPECT_STREQ(vlm::catFname2VlmDir("x.cfg"), "./x.cfg");
}

TEST_F(FilePathTest, SearchHappensOnceUntilReset) {
  makeDirs({"one", "two"});
  setenv("VELMORA_DIR", (root + "/one").c_str(), 1);
  EXPECT_EQ(std::string(vlm::catFname2VlmDir("a")), root + "/one/a");
  setenv("VELMORA_DIR", (root + "/two").c_str(), 1);
  EXPECT_EQ(std::string(vlm::catFname2VlmDir("a")), root + "/one/a");
  vlm::resetVelmoraSearchForTest();
  EXPECT_EQ(std::string(vlm::catFname2VlmDir("a")), root + "/two/a");
}

TEST_F(FilePathTest, CatFname2VlmDirNames) {
  makeDirs({"data", "abs"});
  setenv("VELMORA_DIR", (root + "/data").c_str(), 1);
  const std::string d = root + "/data/";
  struct Case {
    std::string name, expected;
  } cases[] = {
      {"x.cfg", d + "x.cfg"},
      {"/x.cfg", d + "x.cfg"},
      {"\\x.cfg", d + "x.cfg"},
      {"\\velmora\\sub\\y.rul", d + "sub/y.rul"},
      {"/velmora/y", d + "y"},
      {"\\Velmora\\y", d + "y"},
      {"\\velmora", d},
      {"/velmorax/y", d + "velmorax/y"},
      {"sub\\z.wav", d + "sub/z.wav"},
      {root + "/abs/x.wav", root + "/abs/x.wav"},  // an absolute path stands as it is
      {"/no_such_vlm_root/x", d + "no_such_vlm_root/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(std::string(vlm::catFname2VlmDir(c.name.c_str())), c.expected) << c.name;
  // The prefix survives an absolute name.
  EXPECT_EQ(std::string(vlm::catFname2VlmDir("after")), d + "after");

  std::string longName(400, 'n');
  std::string cut = vlm::catFname2VlmDir(longName.c_str());
  EXPECT_EQ(cut.size(), static_cast<size_t>(vlm::kVlmPathRoom - 1));
  EXPECT_EQ(cut.substr(0, d.size()), d);
}

std::vector<std::string> allMatches(vlm::FindFilePath& find, int room = 512) {
  std::vector<std::string> found;
  for (int more = find.findFirst(); more && found.size() < 50; more = find.findNext()) {
    char buffer[512];
    find.absoluteFilename(buffer, room);
    found.push_back(buffer);
  }
  return found;
}

using Names = std::vector<std::string>;

TEST_F(FilePathTest, FindFilePathOverDirectoryList) {
  makeDirs({"d0", "d1/sub", "d2"});
  makeFiles({"d1/a.wav", "d1/b.txt", "d1/Z.WAV", "d1/sub/s.dat", "d2/c.wav", "d2/notes", "r.txt"});
  struct Case {
    const char* pattern;
    const char* dirs;
    int flags;
    Names expected;
  } cases[] = {
      // The empty first directory and the missing one are passed over.
      {"*.wav", "d0;no_such_dir;d1;d2", vlm::FindFilePath::eFindFiles, {"d1/Z.WAV", "d1/a.wav", "d2/c.wav"}},
      {nullptr, "d1", vlm::FindFilePath::eFindAll, {"d1/Z.WAV", "d1/a.wav", "d1/b.txt", "d1/sub/"}},
      {"*.*", "d1;;d2;", vlm::FindFilePath::eFindDirectories, {"d1/sub/"}},
      {"*", "d2/", vlm::FindFilePath::eFindFiles, {"d2/c.wav", "d2/notes"}},
      {"?.txt", nullptr, vlm::FindFilePath::eFindAll, {"./r.txt"}},
      {"sub\\*.dat", "d1", vlm::FindFilePath::eFindFiles, {"d1/sub/s.dat"}},
      {"*.none", "d1;d2", vlm::FindFilePath::eFindAll, {}},
  };
  for (const Case& c : cases) {
    vlm::FindFilePath find(c.pattern, c.dirs, c.flags);
    EXPECT_EQ(allMatches(find), c.expected) << (c.pattern ? c.pattern : "(null)") << " in " << (c.dirs ? c.dirs : "");
    EXPECT_EQ(find.findNext(), 0) << "stays at the end";
  }
  // A second findFirst starts over; the absolute directory list gives absolute names.
  vlm::FindFilePath find("*.wav", (root + "/d2").c_str(), vlm::FindFilePath::eFindFiles);
  EXPECT_EQ(allMatches(find), Names{root + "/d2/c.wav"});
  EXPECT_EQ(allMatches(find), Names{root + "/d2/c.wav"});
  ASSERT_EQ(find.findFirst(), 1);
  EXPECT_STREQ(find.name(), "c.wav");
  EXPECT_FALSE(find.isDirectory());
  // At the end there is no current match any more.
  EXPECT_EQ(find.findNext(), 0);
  char buffer[64] = "old";
  find.absoluteFilename(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_STREQ(find.name(), "");
}

TEST_F(FilePathTest, AbsoluteFilenameRoom) {
  makeDirs({"d1/sub"});
  vlm::FindFilePath find("sub", "d1", vlm::FindFilePath::eFindDirectories);
  ASSERT_EQ(find.findFirst(), 1);
  EXPECT_TRUE(find.isDirectory());
  struct Case {
    int room;
    const char* expected;
  } cases[] = {{9, "d1/sub/"}, {8, "d1/sub"}, {4, "d1/"}, {1, ""}};  // "/" only with 3 left
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, 'X', sizeof buffer);
    char* end = find.absoluteFilename(buffer, c.room);
    EXPECT_STREQ(buffer, c.expected) << "room " << c.room;
    EXPECT_EQ(end, buffer + std::strlen(c.expected));
  }
}

TEST(FindFilePathBasename, Table) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {{"a/b/c.wav", "c.wav"}, {"\\velmora\\y.rul", "y.rul"}, {"c:x.voc", "x.voc"},
               {"dir/", "dir/"},       {"a/dir/", "dir/"},           {"x", "x"},
               {"", ""}};
  for (const Case& c : cases) EXPECT_STREQ(vlm::FindFilePath::basename(c.path), c.expected) << c.path;
}

TEST(FilenamePatternTest, NumberedNames) {
  vlm::FilenamePattern utt("utt.wav");
  std::string name;
  EXPECT_STREQ(utt.nextName(), "utt0.wav");
  for (int i = 1; i <= 12; i++) name = utt.nextName();
  EXPECT_EQ(name, "utt12.wav");
  EXPECT_EQ(utt.counter(), 13);

  struct Case {
    const char* pattern;
    const char* digits;  // null: the counter (0 at the first call)
    const char* expected;
  } cases[] = {
      {"recording.wav", "1", "recordi1.wav"},
      {"recording.wav", "1234567", "r1234567.wav"},
      {"recording.wav", nullptr, "recordi0.wav"},
      {"dir/utt.wav", nullptr, "dir/utt0.wav"},
      {"a.b/name", nullptr, "a.b/name0"},  // the "." of a directory is no extension
      {"x.long", nullptr, "x0.lon"},       // the extension keeps three characters
      {"noext", "42", "noext42"},
      {"\\velmora\\enrollmentprompt.wav", "7", "\\velmora\\enrollm7.wav"},
  };
  for (const Case& c : cases) {
    vlm::FilenamePattern pattern(c.pattern);
    EXPECT_STREQ(pattern.nextName(c.digits), c.expected) << c.pattern;
  }

  // Given digits count as well; resetName starts again at 0.
  vlm::FilenamePattern rec("recording.wav");
  rec.nextName("9");
  EXPECT_STREQ(rec.nextName(), "recordi1.wav");
  rec.resetName("take.wav");
  EXPECT_STREQ(rec.nextName(), "take0.wav");
}

TEST(FilenamePatternTest, EightDigitsAreAnAssertionFailure) {
  boxTexts.clear();
  vlm::MessageBoxHandler previous = vlm::setMessageBoxHandler(recordIgnore);
  vlm::FilenamePattern pattern("utt.wav");
  const char* name = pattern.nextName("12345678");
  vlm::setMessageBoxHandler(previous);
  ASSERT_EQ(boxTexts.size(), 1u);
  EXPECT_EQ(boxTexts[0].rfind("dlen < 8\nFile=filepath\nLine=", 0), 0u);
  EXPECT_LE(std::strlen(name), 12u) << "an ignored assertion still gives an 8.3 name";
}

}  // namespace
